#pragma once
// The player's timing, without Qt: which clock leads, when a frame is due,
// and whether a frame taken late is shown or dropped.
//
// Every frame taken from the read-ahead queue gets the next tick of the
// play's timeline (a loop goes on counting), and is due at tick x the frame
// duration after the timeline's start. The clock is the sound heard so far
// when a device plays it (the sound leads; pictures follow it), else the
// system clock. A frame is shown when due; one that is already a whole frame
// late while the frame behind it is ready too is dropped, so a player that
// cannot keep up drops frames evenly instead of drifting behind its sound.
#include <cstdint>

namespace rk {

enum class FrameCall : int {
    kWait = 0,  // not due yet: wait and ask again
    kShow,      // due: show it now
    kDrop,      // too late and the next is ready: skip it
};

// `dueUs` and `clockUs` on the timeline; `frameUs` one frame's duration.
FrameCall DecideFrame(int64_t dueUs, int64_t clockUs, int64_t frameUs, bool nextReady);

// On the system clock a reader slower than the rate falls further behind
// with every frame, and dropping only frames already read cannot catch up:
// once the next frame is more than kCatchUpFrames late the player jumps the
// reader ahead. The frames to jump over (counted as dropped): those behind,
// the one due now, and kCatchUpFrames more, the time a restarted reader
// has to give its first frame; 0 while the frame is less late than that.
inline constexpr int kCatchUpFrames = 4;
int64_t CatchUpSkip(int64_t dueUs, int64_t clockUs, int64_t frameUs);

// One frame's duration in microseconds at rate num/den (50/1, 60000/1001).
int64_t FrameMicros(int rateNum, int rateDen);
// When tick `tick` of a play is due, exactly (no rounding that adds up).
int64_t DueMicros(int64_t tick, int rateNum, int rateDen);

}  // namespace rk
