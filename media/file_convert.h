#pragma once
// Conversions between files, without a card: any source the import encoder
// reads to a KAVQ1 file for a video mode, and a KAVQ1 file to a ProRes
// ".mov" through the export converter. They pump the same slot sources and
// sinks as adding and reading a video, with the same progress, Stop and
// closing messages; the card is simply not there.
#include <cstdint>
#include <functional>
#include <string>

#include "base/op_result.h"
#include "media/video_ops.h"

namespace rk {

class IOperator;

struct FileConvertOutcome : OpOutcome {
    uint64_t frames = 0;       // frames of the source
    uint64_t framesMoved = 0;  // frames written before the end (or the Stop)
};

// Told once the source is open and before the first frame moves: its frame
// count and whether it carries sound (encode), for a front-end's notice.
using ConvertStarted = std::function<void(uint64_t frames, bool withSound)>;

// Encodes `source` to the KAVQ1 file `output` for video mode `mode`. The
// caller has decided that `output` may be written. A source that stops
// giving frames leaves no output behind; "Write completed." at the end.
FileConvertOutcome EncodeToKAVQ1File(IOperator& op, const std::string& source, const std::string& output, int mode,
                                     const ImportOptions& options, const ConvertStarted& started = {});

// Exports the KAVQ1 file `input` to the ProRes file `output` (sound first,
// then the pictures); "Read completed." once the tool has finished the file.
FileConvertOutcome ExportKAVQ1ToProRes(IOperator& op, const std::string& input, const std::string& output,
                                       const ConvertStarted& started = {});

}  // namespace rk
