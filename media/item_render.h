#pragma once
// A review copy of anything on the card — a video, a playlist (its clips
// once, in order), a still, a title card, an effect or a logo — as a file
// any player opens: H.264 and AAC in an ".mp4", or ProRes 422 HQ with PCM
// in a ".mov". The frames are the player's (media/item_frames.h), passed to
// ffmpeg as the decoder gives them, studio-range BT.709 Y'CbCr 4:2:0 (no
// RGB round trip), and tagged so; the sound is the card's 24-bit samples.
//
// Effects and logos go over black in an ".mp4"; in a ".mov" they keep
// their transparency as ProRes 4444 with alpha.
//
// Like every export: the output is never the card being read, the frames
// reach ffmpeg through a FIFO in the operation's private folder (the sound
// through a file there, complete before the first picture), with progress
// and Stop; a Stop lets ffmpeg close a shorter file. Damaged frames go out
// black and are counted.
#include <cstdint>
#include <string>
#include <vector>

#include "base/op_result.h"
#include "media/item_frames.h"

namespace rk {

class CSDCard;
class IOperator;

struct RenderOptions {
    std::string outputPath;
    bool prores = false;
};

// kDone ("Read completed."), kStopped ("Operation aborted.") or kFailed.
struct RenderOutcome : OpOutcome {
    int64_t frames = 0;   // frames sent to ffmpeg
    int64_t damaged = 0;  // of them, damaged (sent black)
};

// Renders `target` of `card` (open, directory read) to options.outputPath.
// The caller has settled the overwrite question.
RenderOutcome RenderItem(IOperator& op, CSDCard& card, const PlayTarget& target, const RenderOptions& options);

// ffmpeg's words for a render: pictures from "video.yuv" (yuv420p, or
// yuva420p with `alpha`), the sound (when `sound`) from `soundFile` as
// 48 kHz stereo s32le, written to `output`.
std::vector<std::string> RenderToolWords(int width, int height, int rateNum, int rateDen, bool alpha, bool prores,
                                         bool sound, const std::string& soundFile, const std::string& output);

// An item with alpha over black, in place: luma and chroma weighed by the
// alpha (chroma by the mean of its four pixels'); the alpha plane goes.
void OverBlack(YCbCrFrame& frame);

}  // namespace rk
