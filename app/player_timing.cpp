#include "app/player_timing.h"

namespace rk {

FrameCall DecideFrame(int64_t dueUs, int64_t clockUs, int64_t nextDueUs) {
    if (clockUs < dueUs) return FrameCall::kWait;
    // Once the next picture is due as well and there, this one is skipped
    // rather than pushing every later one back.
    if (nextDueUs >= 0 && clockUs >= nextDueUs) return FrameCall::kDrop;
    return FrameCall::kShow;
}

}  // namespace rk
