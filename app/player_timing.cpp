#include "app/player_timing.h"

namespace rk {

FrameCall DecideFrame(int64_t dueUs, int64_t clockUs, int64_t frameUs, bool nextReady) {
    if (clockUs < dueUs) return FrameCall::kWait;
    // A whole frame late means the next frame is due as well: when it is
    // there, this one is skipped rather than pushing every later one back.
    if (nextReady && clockUs >= dueUs + frameUs) return FrameCall::kDrop;
    return FrameCall::kShow;
}

int64_t CatchUpSkip(int64_t dueUs, int64_t clockUs, int64_t frameUs) {
    if (frameUs <= 0 || clockUs - dueUs <= kCatchUpFrames * frameUs) return 0;
    return (clockUs - dueUs) / frameUs + 1 + kCatchUpFrames;
}

int64_t FrameMicros(int rateNum, int rateDen) {
    if (rateNum <= 0 || rateDen <= 0) return 20000;
    return int64_t(rateDen) * 1000000 / rateNum;
}

int64_t DueMicros(int64_t tick, int rateNum, int rateDen) {
    if (rateNum <= 0 || rateDen <= 0) return tick * 20000;
    return tick * 1000000 * rateDen / rateNum;
}

}  // namespace rk
