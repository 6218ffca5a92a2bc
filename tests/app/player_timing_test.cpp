// The player's timing rules without a window: when a frame is shown, waited
// for or dropped; exact due times at fractional rates; a player too slow for
// the rate drops frames evenly and keeps up with its clock; the level meter
// and the null sink.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <vector>

#include "app/player_sound.h"
#include "app/player_timing.h"

namespace rk {
namespace {

TEST(PlayerTiming, EachFrameIsWaitedForShownOrDroppedByItsLatenessAndTheNextPicture) {
    struct Row {
        int64_t due, clock, nextDue;
        FrameCall call;
    } rows[] = {
        {40000, 39999, 60000, FrameCall::kWait},   // early by a microsecond
        {40000, 40000, 60000, FrameCall::kShow},   // due now
        {40000, 59999, 60000, FrameCall::kShow},   // late, but the next is not due
        {40000, 60000, 60000, FrameCall::kDrop},   // a whole frame late: the next is due too
        {40000, 60000, 80000, FrameCall::kShow},   // the next picture taken was skipped: show this
        {40000, 80000, 80000, FrameCall::kDrop},   // ... until the one after is due
        {40000, 60000, -1, FrameCall::kShow},      // nothing ready behind it: shown late
        {40000, 900000, -1, FrameCall::kShow},     // the last frame is never dropped
    };
    for (const Row& r : rows)
        EXPECT_EQ(DecideFrame(r.due, r.clock, r.nextDue), r.call) << r.due << " at " << r.clock;
}

TEST(PlayerTiming, DueTimesAtFractionalRatesDoNotDrift) {
    EXPECT_EQ(FrameMicros(50, 1), 20000);
    EXPECT_EQ(FrameMicros(60000, 1001), 16683);
    // 60000 frames at 59.94 take 1001 s exactly, as their sound does; an
    // hour's frames summed from rounded durations would be 72 ms short.
    EXPECT_EQ(DueMicros(60000, 60000, 1001), 1001000000);
    EXPECT_EQ(DueMicros(215784, 60000, 1001), 3599996400);
    EXPECT_EQ(215784 * FrameMicros(60000, 1001), 3599924472);
    EXPECT_EQ(DueMicros(7, 0, 0), 140000);  // an unknown rate counts as 50
}

// A player whose every shown frame costs `showUs` of a 50 frames a second
// item, with the queue always full: what it shows and drops.
std::vector<bool> Simulate(int64_t showUs, int frames) {
    std::vector<bool> shown;
    int64_t clock = 0;
    for (int tick = 0; tick < frames; ++tick) {
        const int64_t due = DueMicros(tick, 50, 1);
        FrameCall call = DecideFrame(due, clock, tick + 1 < frames ? DueMicros(tick + 1, 50, 1) : -1);
        if (call == FrameCall::kWait) {
            clock = due;
            call = FrameCall::kShow;
        }
        shown.push_back(call == FrameCall::kShow);
        if (call == FrameCall::kShow) clock += showUs;
    }
    return shown;
}

TEST(PlayerTiming, APlayerTooSlowForTheRateDropsEvenlyAndKeepsUp) {
    // Fast enough: nothing dropped.
    for (bool s : Simulate(15000, 200)) EXPECT_TRUE(s);
    // 30 ms a frame (33 a second of 50): about a third dropped, never two
    // in a row, and the last frame shown no later than one frame behind.
    const std::vector<bool> shown = Simulate(30000, 300);
    int dropped = 0;
    for (size_t i = 0; i < shown.size(); ++i) {
        if (shown[i]) continue;
        ++dropped;
        ASSERT_TRUE(i == 0 || shown[i - 1]) << "two drops in a row at " << i;
    }
    EXPECT_NEAR(dropped, 100, 3);
    EXPECT_TRUE(shown.back());
}

TEST(PlayerSound, PeaksAreTakenPerChannelOfFullScale) {
    const int32_t samples[] = {0, 0, INT32_MIN, 1 << 30, 1 << 29, -(1 << 30), 12, 0};
    const SoundPeaks p = PeakLevels(samples, 8);
    EXPECT_FLOAT_EQ(p.left, 1.0f);
    EXPECT_FLOAT_EQ(p.right, 0.5f);
    const SoundPeaks none = PeakLevels(samples, 0);
    EXPECT_EQ(none.left, 0.0f);
    EXPECT_EQ(none.right, 0.0f);
}

TEST(PlayerSound, TheNullSinkKeepsWhatItIsGivenOnlyWhenCapturing) {
    const int32_t samples[] = {1, -2, 0x7fffff00, -256};
    CNullSound capture(true), drop;
    capture.Write(samples, 4);
    capture.Write(samples, 2);
    drop.Write(samples, 4);
    EXPECT_FALSE(capture.HasDevice());
    ASSERT_EQ(capture.Captured().size(), qsizetype(6 * sizeof(int32_t)));
    EXPECT_EQ(std::memcmp(capture.Captured().constData(), samples, sizeof samples), 0);
    EXPECT_TRUE(drop.Captured().isEmpty());
}

}  // namespace
}  // namespace rk
