#pragma once
// CFramePrefetcher: reads an item's frames ahead on one thread into a small
// bounded queue — each entry the frame number, its picture, its sound and
// whether it was damaged — so a player takes them in order without waiting
// on the card. Seek empties the queue and starts again from another frame;
// frames read for the old position never come out after a seek.
//
// No allocation once warmed: the queue's entries are made once and their
// storage is swapped with the taker's, never copied.
//
// While the thread runs it alone uses the CItemFrames (and so the card).
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <thread>
#include <vector>

#include "media/item_frames.h"

namespace rk {

struct PrefetchedFrame {
    int64_t number = -1;
    FrameStatus status = FrameStatus::kOk;
    RgbaFrame picture;
    std::vector<int32_t> sound;  // as CItemFrames::ReadSound gives it
    size_t soundFrames = 0;

    void swap(PrefetchedFrame& other) noexcept {
        std::swap(number, other.number);
        std::swap(status, other.status);
        picture.swap(other.picture);
        sound.swap(other.sound);
        std::swap(soundFrames, other.soundFrames);
    }
};

class CFramePrefetcher {
public:
    // Reads from `frames`, up to `depth` frames ahead (at least 1). Nothing
    // is read until Start.
    explicit CFramePrefetcher(CItemFrames& frames, size_t depth = 4);
    // Stops the thread.
    ~CFramePrefetcher();
    CFramePrefetcher(const CFramePrefetcher&) = delete;
    CFramePrefetcher& operator=(const CFramePrefetcher&) = delete;

    // Starts (or restarts) reading from frame `from`: the queue is emptied.
    void Start(int64_t from);
    // The same as Start: the queue holds frames from `from` on.
    void Seek(int64_t from) { Start(from); }
    // Ends the thread; the queue is emptied. Start may follow.
    void Stop();
    // After the last frame go on from frame 0 (a loop, a repeating
    // playlist) instead of ending. May change while running.
    void SetWrap(bool wrap);

    // The next frame in order, swapped into `into` (whose old storage goes
    // back to the queue for reuse). Waits up to `timeoutMs` (-1: until one
    // comes or the end); false when none came: at the end, stopped, or
    // the time ran out (the thread is still reading).
    bool Take(PrefetchedFrame& into, int timeoutMs);
    // True when the thread has read the last frame (without wrap) and the
    // queue is empty: nothing more will come until a Seek.
    bool AtEnd() const;
    // Frames waiting in the queue.
    size_t Queued() const;
    // Frames read since the last Start (tests of the bound).
    int64_t FramesRead() const;

private:
    void Run(int64_t from);

    CItemFrames& frames_;
    const size_t depth_;
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    // A ring of depth_ entries: head_ is the next to take, the count_ after
    // it are ready, and the one behind them is the thread's to fill.
    std::vector<PrefetchedFrame> ring_;
    size_t head_ = 0;
    size_t count_ = 0;
    std::thread thread_;
    bool stopping_ = true;  // no thread runs
    bool wrap_ = false;
    bool ended_ = false;
    int64_t read_ = 0;
};

}  // namespace rk
