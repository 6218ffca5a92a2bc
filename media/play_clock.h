#pragma once
// The play's timeline, shared by the player (which runs it) and the
// read-ahead thread (which reads it to tell which pictures would be shown
// too late to be worth decoding). Tick t of a play — the t-th frame taken
// since it started — is due DueMicros(t) after tick 0 was.
//
// The player sets the clock from whatever leads (the sound heard so far, or
// nothing: it then runs on the system's steady clock from where it was set);
// between settings it runs on at the system's pace, so a reader on another
// thread sees it move without asking the sound device. Until the player
// first sets it, it is not running and reads -1.
#include <chrono>
#include <cstdint>
#include <mutex>

namespace rk {

// One frame's duration in microseconds at rate num/den (50/1, 60000/1001).
int64_t FrameMicros(int rateNum, int rateDen);
// When tick `tick` of a play is due, exactly (no rounding that adds up).
int64_t DueMicros(int64_t tick, int rateNum, int rateDen);

class CPlayClock {
public:
    virtual ~CPlayClock() = default;
    // Microseconds of the timeline now; -1 while not running. Any thread.
    virtual int64_t NowUs() const;
    // A stopwatch at the system's pace, never set: how long work takes
    // (the timeline itself may be set back or on between two readings).
    virtual int64_t StopwatchUs() const;
    // The timeline is at `us` now and runs on from there.
    void Set(int64_t us);
    // Not running until set again.
    void Stop();

private:
    using Steady = std::chrono::steady_clock;
    mutable std::mutex mutex_;
    bool running_ = false;
    int64_t base_ = 0;
    Steady::time_point at_;
};

}  // namespace rk
