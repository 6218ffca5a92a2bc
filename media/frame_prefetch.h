#pragma once
// CFramePrefetcher: reads an item's frames ahead on one thread into a small
// bounded queue — each entry the frame number, its picture, its sound and
// whether it was damaged — so a player takes them in order without waiting
// on the card. Seek empties the queue and starts again from another frame;
// frames read for the old position never come out after a seek. A run reads
// forwards or backwards.
//
// Given the play's clock, the thread reads every frame's sound but decodes
// only the pictures that can be shown in time: a picture that would be
// ready (at the pace pictures have lately taken) only after the frame
// behind it is due, less a lead of kPictureLeadFrames, is skipped — its
// entry carries the sound and `skipped`. A reader slower than the rate so
// drops single pictures spread evenly (while it takes less than two frames'
// time a picture, never two in a row) and stays with its clock, and the
// sound it hands on never falls behind; the lead keeps that sound a little
// ahead of the clock, for the sink.
//
// No allocation while playing: the queue's entries get their storage, written
// once, when the prefetcher is made, and it is swapped with the taker's,
// never copied.
//
// While the thread runs it alone uses the frame source (and so the card).
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <thread>
#include <vector>

#include "media/item_frames.h"
#include "media/play_clock.h"

namespace rk {

// How far ahead of its due time a picture is aimed to be ready.
inline constexpr int kPictureLeadFrames = 2;

struct PrefetchedFrame {
    int64_t number = -1;
    int64_t tick = 0;      // frames read before it since the run started
    bool skipped = false;  // its picture was not decoded (too late): `picture` is stale
    FrameStatus status = FrameStatus::kOk;
    RgbaFrame picture;
    std::vector<int32_t> sound;  // as CItemFrames::ReadSound gives it
    size_t soundFrames = 0;

    void swap(PrefetchedFrame& other) noexcept {
        std::swap(number, other.number);
        std::swap(tick, other.tick);
        std::swap(skipped, other.skipped);
        std::swap(status, other.status);
        picture.swap(other.picture);
        sound.swap(other.sound);
        std::swap(soundFrames, other.soundFrames);
    }
};

// Gives `frame` storage for a width x height picture and writes it once:
// memory first written in the middle of a play would stall the reader for
// as many frames as it took.
void WarmPicture(PrefetchedFrame& frame, int width, int height);

// How a run reads.
struct ReadRun {
    int step = 1;  // 1 forwards, -1 backwards
    // The play's clock (tick 0 due at 0): pictures that would be late are
    // not decoded. None: every picture is.
    const CPlayClock* clock = nullptr;
};

class CFramePrefetcher {
public:
    // Reads from `frames`, up to `depth` frames ahead (at least 1). Nothing
    // is read until Start. The entries' pictures are made and written here,
    // so no play stalls on fresh memory (see WarmPicture).
    explicit CFramePrefetcher(IFrameSource& frames, size_t depth = 4);
    // Stops the thread.
    ~CFramePrefetcher();
    CFramePrefetcher(const CFramePrefetcher&) = delete;
    CFramePrefetcher& operator=(const CFramePrefetcher&) = delete;

    // Starts (or restarts) reading from frame `from`: the queue is emptied.
    // The clock, when given, must outlive the run.
    void Start(int64_t from, const ReadRun& run = {});
    // Start again from `from` the way the last run read.
    void Seek(int64_t from) { Start(from, run_); }
    // Ends the thread; the queue is emptied. Start may follow.
    void Stop();
    // After the last frame go on from frame 0 (a loop, a repeating
    // playlist; backwards: from the last after frame 0) instead of ending.
    // May change while running.
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
    void Run(int64_t from, ReadRun run);

    IFrameSource& frames_;
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
    ReadRun run_;
};

}  // namespace rk
