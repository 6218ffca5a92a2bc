#include "media/frame_prefetch.h"

#include <algorithm>
#include <chrono>
#include <cstring>

namespace rk {

namespace {

// Pictures whose decode times the reader's estimate is taken from.
constexpr int kTimedPictures = 5;

}  // namespace

void WarmPicture(PrefetchedFrame& frame, int width, int height) {
    if (frame.picture.Resize(width, height)) std::memset(frame.picture.Bits(), 0, frame.picture.ByteSize());
}

CFramePrefetcher::CFramePrefetcher(IFrameSource& frames, size_t depth)
    : frames_(frames), depth_(std::max<size_t>(depth, 1)), ring_(depth_) {
    for (PrefetchedFrame& e : ring_) WarmPicture(e, frames_.Width(), frames_.Height());
}

CFramePrefetcher::~CFramePrefetcher() { Stop(); }

void CFramePrefetcher::Stop() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
    }
    changed_.notify_all();
    if (thread_.joinable()) thread_.join();
    std::lock_guard<std::mutex> lock(mutex_);
    head_ = count_ = 0;
}

void CFramePrefetcher::Start(int64_t from, const ReadRun& run) {
    Stop();
    run_ = run;
    if (run_.step != -1) run_.step = 1;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = false;
        ended_ = false;
        read_ = 0;
        if (from < 0 || from >= frames_.FrameCount()) from = 0;
    }
    thread_ = std::thread(&CFramePrefetcher::Run, this, from, run_);
}

void CFramePrefetcher::SetWrap(bool wrap) {
    std::lock_guard<std::mutex> lock(mutex_);
    wrap_ = wrap;
}

void CFramePrefetcher::Run(int64_t n, ReadRun run) {
    const int64_t count = frames_.FrameCount();
    const int rateNum = frames_.RateNum(), rateDen = frames_.RateDen();
    const int64_t leadUs = kPictureLeadFrames * FrameMicros(rateNum, rateDen);
    // What a picture takes: the median of the last few, so a stall (the
    // thread descheduled on a busy machine, a slow read) costs the frames
    // it lasted and no more. Neither the first picture of a run nor one
    // given new storage is timed: they pay for cold memory.
    int64_t pictureUs = 0;
    int64_t times[kTimedPictures] = {};
    int timed = -1;
    for (int64_t tick = 0;; ++tick) {
        size_t slot;
        bool last;
        {
            std::unique_lock<std::mutex> lock(mutex_);
            changed_.wait(lock, [&] { return stopping_ || count_ < depth_; });
            if (stopping_) return;
            slot = (head_ + count_) % depth_;
            last = !wrap_ && n == (run.step > 0 ? count - 1 : 0);
        }
        // The entry behind the ready ones is this thread's alone until counted.
        PrefetchedFrame& e = ring_[slot];
        e.number = n;
        e.tick = tick;
        const int64_t now = run.clock ? run.clock->NowUs() : -1;
        // Shown in time means ready before the frame behind it is due; the
        // last frame of a run that ends is always shown.
        e.skipped = now >= 0 && !last && DueMicros(tick + 1, rateNum, rateDen) - leadUs <= now + pictureUs;
        if (e.skipped) {
            e.status = FrameStatus::kOk;
        } else {
            // Timed while the clock waits to start too: the first decisions
            // then know the pace.
            const int64_t began = run.clock ? run.clock->StopwatchUs() : 0;
            const size_t held = e.picture.Capacity();
            e.status = frames_.ReadFrame(n, e.picture);
            // A picture that had to grow its storage paid for fresh memory.
            if (run.clock && e.picture.Capacity() == held && ++timed > 0) {
                times[(timed - 1) % kTimedPictures] = std::max<int64_t>(0, run.clock->StopwatchUs() - began);
                const int have = std::min(timed, kTimedPictures);
                int64_t sorted[kTimedPictures];
                std::copy(times, times + have, sorted);
                std::nth_element(sorted, sorted + have / 2, sorted + have);
                pictureUs = sorted[have / 2];
            }
        }
        e.soundFrames = frames_.ReadSound(n, e.sound);
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (stopping_) return;
            ++count_;
            ++read_;
            n += run.step;
            if (n >= count || n < 0) {
                if (wrap_) {
                    n = run.step > 0 ? 0 : count - 1;
                } else {
                    ended_ = true;
                    changed_.notify_all();
                    return;
                }
            }
        }
        changed_.notify_all();
    }
}

bool CFramePrefetcher::Take(PrefetchedFrame& into, int timeoutMs) {
    std::unique_lock<std::mutex> lock(mutex_);
    auto ready = [&] { return count_ > 0 || ended_ || stopping_; };
    if (timeoutMs < 0)
        changed_.wait(lock, ready);
    else
        changed_.wait_for(lock, std::chrono::milliseconds(timeoutMs), ready);
    if (count_ == 0) return false;
    ring_[head_].swap(into);
    head_ = (head_ + 1) % depth_;
    --count_;
    lock.unlock();
    changed_.notify_all();
    return true;
}

bool CFramePrefetcher::AtEnd() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return ended_ && count_ == 0;
}

size_t CFramePrefetcher::Queued() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return count_;
}

int64_t CFramePrefetcher::FramesRead() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return read_;
}

}  // namespace rk
