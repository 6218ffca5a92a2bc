#include "media/play_clock.h"

namespace rk {

int64_t FrameMicros(int rateNum, int rateDen) {
    if (rateNum <= 0 || rateDen <= 0) return 20000;
    return int64_t(rateDen) * 1000000 / rateNum;
}

int64_t DueMicros(int64_t tick, int rateNum, int rateDen) {
    if (rateNum <= 0 || rateDen <= 0) return tick * 20000;
    return tick * 1000000 * rateDen / rateNum;
}

int64_t CPlayClock::NowUs() const {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!running_) return -1;
    return base_ + std::chrono::duration_cast<std::chrono::microseconds>(Steady::now() - at_).count();
}

int64_t CPlayClock::StopwatchUs() const {
    return std::chrono::duration_cast<std::chrono::microseconds>(Steady::now().time_since_epoch()).count();
}

void CPlayClock::Set(int64_t us) {
    std::lock_guard<std::mutex> lock(mutex_);
    running_ = true;
    base_ = us;
    at_ = Steady::now();
}

void CPlayClock::Stop() {
    std::lock_guard<std::mutex> lock(mutex_);
    running_ = false;
}

}  // namespace rk
