#include "media/frame_prefetch.h"

#include <algorithm>
#include <chrono>

namespace rk {

CFramePrefetcher::CFramePrefetcher(CItemFrames& frames, size_t depth)
    : frames_(frames), depth_(std::max<size_t>(depth, 1)), ring_(depth_) {}

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

void CFramePrefetcher::Start(int64_t from) {
    Stop();
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = false;
        ended_ = false;
        read_ = 0;
        if (from < 0 || from >= frames_.FrameCount()) from = 0;
    }
    thread_ = std::thread(&CFramePrefetcher::Run, this, from);
}

void CFramePrefetcher::SetWrap(bool wrap) {
    std::lock_guard<std::mutex> lock(mutex_);
    wrap_ = wrap;
}

void CFramePrefetcher::Run(int64_t n) {
    const int64_t count = frames_.FrameCount();
    for (;;) {
        size_t slot;
        {
            std::unique_lock<std::mutex> lock(mutex_);
            changed_.wait(lock, [&] { return stopping_ || count_ < depth_; });
            if (stopping_) return;
            slot = (head_ + count_) % depth_;
        }
        // The entry behind the ready ones is this thread's alone until counted.
        PrefetchedFrame& e = ring_[slot];
        e.number = n;
        e.status = frames_.ReadFrame(n, e.picture);
        e.soundFrames = frames_.ReadSound(n, e.sound);
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (stopping_) return;
            ++count_;
            ++read_;
            if (++n >= count) {
                if (wrap_) {
                    n = 0;
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
