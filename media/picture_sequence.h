#pragma once
// Numbered runs of pictures where an operation takes pictures: a video
// imported from a run ("shot_%04d.png", or a numbered picture whose run the
// person chooses), and the warning every run gives when something that is
// not a picture file (a FIFO, a folder) ends it early, for effects, logos
// and videos alike. The run itself follows the one sequence rule
// (convert/picture_run.h).
#include <cstdint>
#include <string>
#include <vector>

#include "convert/picture_run.h"

namespace rk {

class CSDCard;
class IOperator;
struct ImportOptions;

// Says that a run of `pictures` pictures stopped at `end` (the window: a
// message and the log; the command line: standard error). Nothing when
// the run ended at a gap or at its limit.
void WarnPictureRunEnd(IOperator& op, const PictureRunEnd& end, size_t pictures);

// What a video add takes from `source`.
enum class VideoPicturesFrom {
    kFile,     // the source as one file (a video, or one picture)
    kRun,      // the pictures of `pictures`, as one video
    kFailed,   // a pattern that names no picture: `cause` says why
    kCancelled // the person cancelled the question
};
struct VideoPictures {
    VideoPicturesFrom from = VideoPicturesFrom::kFile;
    std::vector<std::string> pictures;
    std::string cause;
};

// A source that is no file but whose name holds a printf-style number is a
// run by that pattern. A numbered picture file that begins a run of two or
// more asks the person (ChoosePictureSequence) whether to take the whole
// run. A run that ended early is warned about once it is taken.
VideoPictures FindVideoPictures(IOperator& op, const CSDCard& card, const std::string& source,
                                const ImportOptions& options);

// Whether the name ends in the extension of a picture format a run may hold
// (PNG, TIFF, DPX, JPEG, BMP, TGA), in any case.
bool IsRunPictureName(const std::string& path);

}  // namespace rk
