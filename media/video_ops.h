#pragma once
// Videos on the card: adding one (a KAVQ1 file copied slot by slot, any other
// source through the import encoder) and reading one back (a KAVQ1 file equal
// to the card's slots, or a ProRes ".mov" through the export converter).
//
// These are the core of the window's video Add and Read buttons and of the
// CLI's add-video and read-video. They run on the caller's thread, talk to the
// person only through IOperator (messages, file choice, progress, Stop) and
// work on the one open card, whose directory must be valid.
//
// Writes are ordered: every frame slot and the thumbnail block go to the card
// first, then the card is flushed and only then the directory is written
// (CSDCard::WriteDirectory flushes before and after). A Stop, a failure or a
// crash at any point therefore leaves a directory that references only
// complete items.
#include <cstdint>
#include <string>

#include "base/op_result.h"

namespace rk {

class CSDCard;
class CardDirectory;
class IOperator;

// The import options of the video page. Both reach only the import encoder;
// KAVQ1 files are copied unchanged.
struct ImportOptions {
    bool limitedRange = false;  // "YUV Range": index 0 "Full" (false), 1 "Limited" (true)
    bool deinterlace = true;    // "Deinterlace": index 0 "On" (true), 1 "Off" (false)
    // A numbered run of pictures imported as a video: pictures a second
    // (0: one picture a frame of the card) and a sound file played with
    // them (empty: silence). A single file ignores both.
    double pictureRate = 0;
    std::string sound;
};

// kRefused: file dialog cancelled, duration question answered No,
// allocation declined, or no free slot (nothing changed, no message).
// `slot` is the video entry written (kDone / kKeptPartial).
struct AddVideoOutcome : OpOutcome {
    int framesWritten = 0;
    int frameCount = 0;            // frames the source was expected to give
    bool thumbnailFromFrame = false;  // false: the black default thumbnail was stored
};

struct ReadVideoOutcome : OpOutcome {
    int framesRead = 0;
};

// The lowest-numbered free video entry (0..98), or -1 when all 99 are used.
int LowestFreeVideoSlot(const CardDirectory& dir);

// The entry name for a source path: the file name without folder and
// extension, cut to its first 127 characters (UTF-16 code units; a
// character is never split).
std::string VideoNameFromPath(const std::string& path);
// A name cut to its first 127 UTF-16 code units, never splitting a character.
std::string CutVideoName(std::string name);
// True when the extension is ".kavq1", compared without regard to case.
bool IsKAVQ1Path(const std::string& path);
// True when the extension is ".mov", compared without regard to case.
bool IsMovPath(const std::string& path);

// The video Add button: shows the open-file dialog (initial name
// `rememberedPath`, which is updated to the chosen path), then adds the
// source into entry `slot` (the caller picks LowestFreeVideoSlot; -1 does
// nothing). On success the front-end is asked to refresh its lists and card
// line; AddVideoOutcome::slot names the entry to select.
AddVideoOutcome AddVideo(IOperator& op, CSDCard& card, int slot, std::string& rememberedPath,
                         const ImportOptions& options);

// The same without the dialog: adds `source` into entry `slot`. `name`, when
// not empty, replaces the name taken from the source path (cut the same way).
// A source that is a numbered run of pictures (a printf-style pattern, or a
// numbered picture whose run the person takes) is imported as one video
// named after its first picture (media/picture_sequence.h).
AddVideoOutcome AddVideoFromPath(IOperator& op, CSDCard& card, int slot, const std::string& source,
                                 const ImportOptions& options, const std::string& name = std::string());

// The video Read button: reads the video at list position `listPosition`
// (the n-th used entry) after asking for the output file (".kavq1" default;
// a ".mov" name, in any case, exports ProRes). Does nothing for -1 or a free
// entry.
ReadVideoOutcome ReadVideo(IOperator& op, CSDCard& card, int listPosition);

// The same without the dialog, by entry number, to `outputPath`. A ".mov"
// export waits until the tool has finished the file before "Read completed.".
ReadVideoOutcome ReadVideoToFile(IOperator& op, CSDCard& card, int slot, const std::string& outputPath);

}  // namespace rk
