#pragma once
// The player's timing, without Qt: whether a frame taken is waited for,
// shown or dropped.
//
// Every frame taken from the read-ahead queue carries its tick on the play's
// timeline (media/play_clock.h; a loop goes on counting) and is due at that
// tick's time. The clock is the sound heard so far when a device plays it
// (the sound leads; pictures follow it), else the system clock. A picture is
// shown when due; one whose successor picture is ready and due as well is
// dropped instead. The reader already skips the pictures it could not
// decode in time (media/frame_prefetch.h), so a player that cannot keep up
// drops single frames evenly instead of drifting behind its sound.
#include <cstdint>

#include "media/play_clock.h"

namespace rk {

enum class FrameCall : int {
    kWait = 0,  // not due yet: wait and ask again
    kShow,      // due: show it now
    kDrop,      // a later picture is due too and ready: skip this one
};

// `dueUs` and `clockUs` on the timeline; `nextDueUs` when the next picture
// taken is due, -1 when none is ready yet.
FrameCall DecideFrame(int64_t dueUs, int64_t clockUs, int64_t nextDueUs);

}  // namespace rk
