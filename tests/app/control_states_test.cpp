// The visibility and enabled rules of the main window, row by row.
#include <gtest/gtest.h>

#include "app/control_states.h"

namespace rk {
namespace {

WindowFacts Ready(int page) {
    WindowFacts f;
    f.cardOpen = true;
    f.formatted = true;
    f.page = page;
    return f;
}

bool Shown(const WindowFacts& f, int id) { return DecideControlStates(f).at(id).shown; }
bool Enabled(const WindowFacts& f, int id) { return DecideControlStates(f).at(id).enabled; }

TEST(ControlStates, NoCardShowsOnlyTheMediaControls) {
    WindowFacts f;
    auto s = DecideControlStates(f);
    EXPECT_TRUE(s.at(1004).shown);
    EXPECT_FALSE(s.at(2032).shown);
    EXPECT_FALSE(s.at(2002).shown) << "Format needs an open card";
    EXPECT_TRUE(s.at(2021).shown);
    for (int id : {2018, 2019, 2025, 2027, 2014, 1020, 1010, 1012, 1011, 1013, 1014, 1015, 2006, 2008, 2010, 2036,
                   2024, 2028, 2039, 1016, 1033})
        EXPECT_FALSE(s.at(id).shown) << id;
}

TEST(ControlStates, UnformattedCardOffersFormatOnly) {
    WindowFacts f;
    f.cardOpen = true;
    auto s = DecideControlStates(f);
    EXPECT_TRUE(s.at(2002).shown);
    EXPECT_FALSE(s.at(2018).shown);
    EXPECT_FALSE(s.at(2006).shown);
}

TEST(ControlStates, EachPageShowsItsOwnControlsAndMarker) {
    const int markers[] = {1020, 1021, 1022, 1023};
    const int lists[] = {1010, 1013, 1014, 1015};
    const int adds[] = {2006, 2008, 2010, 2036};
    for (int page = 0; page < 4; ++page) {
        auto s = DecideControlStates(Ready(page));
        for (int other = 0; other < 4; ++other) {
            EXPECT_EQ(s.at(markers[other]).shown, other == page) << page << "/" << other;
            EXPECT_EQ(s.at(lists[other]).shown, other == page) << page << "/" << other;
            EXPECT_EQ(s.at(adds[other]).shown, other == page) << page << "/" << other;
        }
        EXPECT_EQ(s.at(1012).shown, page == 0);
        EXPECT_EQ(s.at(1016).shown, page <= 1) << "Deinterlace on pages 0 and 1";
        EXPECT_EQ(s.at(1033).shown, page != 2) << "YUV Range everywhere but effects";
        EXPECT_EQ(s.at(2024).shown, page == 1);
        EXPECT_EQ(s.at(2028).shown, page == 2);
        EXPECT_EQ(s.at(2039).shown, page == 3);
    }
}

TEST(ControlStates, FullTablesHideAddAndItsHint) {
    WindowFacts f = Ready(0);
    f.videos = 99;
    EXPECT_FALSE(Shown(f, 2006));
    f.videos = 98;
    EXPECT_TRUE(Shown(f, 2006));
    f = Ready(1);
    f.stills = 32;
    EXPECT_FALSE(Shown(f, 2008));
    EXPECT_FALSE(Shown(f, 2024));
    f = Ready(2);
    f.effects = 16;
    EXPECT_FALSE(Shown(f, 2010));
    EXPECT_FALSE(Shown(f, 2028));
    f = Ready(3);
    f.logos = 8;
    EXPECT_FALSE(Shown(f, 2036));
    EXPECT_FALSE(Shown(f, 2039));
}

TEST(ControlStates, DeleteAndReadNeedASelectionOfAUsedSlot) {
    WindowFacts f = Ready(0);
    EXPECT_FALSE(Shown(f, 2005));
    f.videoSelected = true;
    EXPECT_TRUE(Shown(f, 2005));
    EXPECT_TRUE(Shown(f, 2007));
    f = Ready(1);
    EXPECT_FALSE(Shown(f, 2009));
    f.selectedStillUsed = true;
    EXPECT_TRUE(Shown(f, 2009));
    EXPECT_TRUE(Shown(f, 2033));
    f = Ready(2);
    f.selectedEffectUsed = true;
    EXPECT_TRUE(Shown(f, 2011));
    EXPECT_TRUE(Shown(f, 2041));
    f = Ready(3);
    f.selectedLogoUsed = true;
    EXPECT_TRUE(Shown(f, 2037));
    EXPECT_TRUE(Shown(f, 2042));
}

TEST(ControlStates, PlaylistControlsFollowTheCurrentPlaylist) {
    WindowFacts f = Ready(0);
    EXPECT_FALSE(Shown(f, 1011));
    f.playlistSelected = true;
    EXPECT_TRUE(Shown(f, 1011));
    EXPECT_FALSE(Shown(f, 2023)) << "an empty playlist cannot be cleared";
    EXPECT_FALSE(Shown(f, 2030));
    f.playlistClips = 1;
    EXPECT_TRUE(Shown(f, 2023));
    EXPECT_TRUE(Shown(f, 2030));
    EXPECT_TRUE(Shown(f, 2031));
    EXPECT_TRUE(Shown(f, 1025));
    EXPECT_FALSE(Shown(f, 1026));
    EXPECT_FALSE(Shown(f, 2016)) << "rearranging needs two clips";
    f.playlistLoops = true;
    EXPECT_FALSE(Shown(f, 1025));
    EXPECT_TRUE(Shown(f, 1026));
    f.playlistClips = 2;
    EXPECT_TRUE(Shown(f, 2016));
    EXPECT_FALSE(Shown(f, 2022));
    f.clipSelected = true;
    EXPECT_TRUE(Shown(f, 2022));
}

TEST(ControlStates, BusyHidesOperationsAndDisablesInput) {
    WindowFacts f = Ready(0);
    f.videoSelected = true;
    f.playlistSelected = true;
    f.playlistClips = 3;
    f.clipSelected = true;
    f.busy = true;
    auto s = DecideControlStates(f);
    for (int id : kOperationButtons) EXPECT_FALSE(s.at(id).shown) << id;
    EXPECT_FALSE(s.at(1004).shown);
    EXPECT_FALSE(s.at(1004).enabled);
    EXPECT_TRUE(s.at(2032).shown);
    for (int id : {2018, 2019, 2025, 2027, 1016, 1033, 1010, 1011, 1012, 2002, 2021, 1025, 1026, 2030, 2031})
        EXPECT_FALSE(s.at(id).enabled) << id;
    EXPECT_TRUE(s.at(2018).shown) << "page labels stay visible, disabled";
    for (int page = 1; page < 4; ++page) {
        WindowFacts g = Ready(page);
        g.busy = true;
        auto t = DecideControlStates(g);
        const int list = page == 1 ? 1013 : page == 2 ? 1014 : 1015;
        EXPECT_EQ(t.at(list).enabled, page == 3) << "only the logo list stays enabled: " << list;
    }
}

TEST(ControlStates, AccessDeniedHidesRefresh) {
    WindowFacts f;
    f.accessDenied = true;
    EXPECT_FALSE(Shown(f, 2021));
    f.accessDenied = false;
    EXPECT_TRUE(Shown(f, 2021));
    EXPECT_TRUE(Enabled(f, 2021));
}

TEST(ControlStates, CheckCardNeedsAnOpenCardAndAboutIsAlwaysThere) {
    WindowFacts none;
    EXPECT_FALSE(Shown(none, IDC_CHECK_CARD));
    EXPECT_TRUE(Shown(none, IDC_ABOUT));
    WindowFacts blank;
    blank.cardOpen = true;  // not formatted: a check tells why
    EXPECT_TRUE(Shown(blank, IDC_CHECK_CARD));
    EXPECT_TRUE(Enabled(blank, IDC_CHECK_CARD));
    WindowFacts busy = Ready(2);
    busy.busy = true;
    EXPECT_TRUE(Shown(busy, IDC_CHECK_CARD));
    EXPECT_FALSE(Enabled(busy, IDC_CHECK_CARD)) << "one operation at a time";
    EXPECT_FALSE(Enabled(busy, IDC_ABOUT));
}

}  // namespace
}  // namespace rk
