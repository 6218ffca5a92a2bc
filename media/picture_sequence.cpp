#include "media/picture_sequence.h"

#include <sys/stat.h>

#include "base/log.h"
#include "base/path_util.h"
#include "base/string_ids.h"
#include "base/texts.h"
#include "card/card_directory.h"
#include "card/card_item.h"
#include "card/sd_card.h"
#include "card/video_modes.h"
#include "convert/kavq1_file_encoder.h"
#include "media/video_ops.h"
#include "ui/operator.h"

namespace rk {

void WarnPictureRunEnd(IOperator& op, const PictureRunEnd& end, size_t pictures) {
    if (end.path.empty()) return;
    const std::string name = end.path.substr(end.path.rfind('/') + 1);
    const std::string text = FormatText(IDS_SEQUENCE_ENDS_EARLY, static_cast<int>(pictures), name.c_str());
    const std::string detail = end.path + ": " + end.what;
    LogMessage(2, "%s (%s)", text.c_str(), detail.c_str());
    op.ShowMessage(Message{kMsgNotice, kIconWarning, text, detail});
}

bool IsRunPictureName(const std::string& path) {
    const std::string ext = AsciiLower(ExtensionOf(path));
    for (const char* e : {".png", ".tif", ".tiff", ".dpx", ".jpg", ".jpeg", ".bmp", ".tga"})
        if (ext == e) return true;
    return false;
}

VideoPictures FindVideoPictures(IOperator& op, const CSDCard& card, const std::string& source,
                                const ImportOptions& options) {
    VideoPictures out;
    PictureRunEnd end;
    struct stat st {};
    const bool there = ::lstat(source.c_str(), &st) == 0;
    if (!there && IsPicturePattern(source)) {
        if (!PatternPictures(source, kMaxEntryFrames, out.pictures, &end, out.cause)) {
            out.from = VideoPicturesFrom::kFailed;
            return out;
        }
        out.from = VideoPicturesFrom::kRun;
        WarnPictureRunEnd(op, end, out.pictures.size());
        return out;
    }
    if (!there || !S_ISREG(st.st_mode) || !IsRunPictureName(source)) return out;
    std::vector<std::string> run = NumberedPictures(source, kMaxEntryFrames, &end);
    // A picture alone, or the last of its run, is one picture: nothing to ask.
    if (run.size() < 2) return out;
    PictureSequenceChoice choice;
    choice.firstPicture = source;
    choice.pictures = static_cast<int>(run.size());
    const VideoMode& mode = VideoModeAt(card.VideoMode());
    choice.frames = RunFrameCount(choice.pictures, options.pictureRate, mode.frameRate);
    choice.duration = FramesDurationText(choice.frames, card.DisplayRate());
    if (!op.ChoosePictureSequence(choice)) {
        out.from = VideoPicturesFrom::kCancelled;
        return out;
    }
    if (!choice.whole) return out;
    out.from = VideoPicturesFrom::kRun;
    out.pictures = std::move(run);
    WarnPictureRunEnd(op, end, out.pictures.size());
    return out;
}

}  // namespace rk
