#include "app/control_states.h"

namespace rk {

std::map<int, ControlState> DecideControlStates(const WindowFacts& f) {
    std::map<int, ControlState> s;
    const bool ready = f.cardOpen && f.formatted;
    const bool idle = !f.busy;
    const int page = f.page;
    auto set = [&s](int id, bool shown, bool enabled = true) { s[id] = ControlState{shown, enabled}; };

    // The card and its commands.
    set(1004, idle, idle);
    set(2032, f.busy);
    set(2002, f.cardOpen, idle);
    set(2021, !f.accessDenied, idle);

    // Page labels and markers.
    for (int id : {2018, 2019, 2025, 2027, 2014}) set(id, ready, idle);
    set(1020, ready && page == 0);
    set(1021, ready && page == 1);
    set(1022, ready && page == 2);
    set(1023, ready && page == 3);

    // The two option lists.
    set(2029, ready && (page == 0 || page == 1));
    set(1016, ready && (page == 0 || page == 1), idle);
    set(2034, ready && page != 2);
    set(1033, ready && page != 2, idle);

    // Page 0: videos and playlists.
    const bool p0 = ready && page == 0;
    for (int id : {2035, 2013, 1007, 2015, 2017}) set(id, p0);
    set(1010, p0, idle);
    set(1012, p0, idle);
    set(2006, p0 && idle && f.videos < 99);
    set(2005, p0 && idle && f.videoSelected);
    set(2007, p0 && idle && f.videoSelected);
    set(1011, page == 0 && ready && f.playlistSelected, idle);
    set(2023, page == 0 && ready && idle && f.playlistSelected && f.playlistClips >= 1);
    set(2022, page == 0 && ready && idle && f.clipSelected);
    const bool loopShown = page == 0 && ready && f.playlistSelected && f.playlistClips >= 1;
    set(2030, loopShown, idle);
    set(2031, loopShown, idle);
    set(1025, loopShown && !f.playlistLoops, idle);
    set(1026, loopShown && f.playlistLoops, idle);
    set(2016, page == 0 && ready && f.playlistSelected && f.playlistClips >= 2);

    // Page 1: stills.
    const bool p1 = ready && page == 1;
    set(2020, p1);
    set(1013, p1, idle);
    set(2008, p1 && idle && f.stills < 32);
    set(2009, p1 && idle && f.selectedStillUsed);
    set(2033, p1 && idle && f.selectedStillUsed);
    set(2024, p1 && f.stills < 32);

    // Page 2: effects.
    const bool p2 = ready && page == 2;
    set(2026, p2);
    set(1014, p2, idle);
    set(2010, p2 && idle && f.effects < 16);
    set(2011, p2 && idle && f.selectedEffectUsed);
    set(2041, p2 && idle && f.selectedEffectUsed);
    set(2028, p2 && f.effects < 16);

    // Page 3: logos. The logo list stays enabled while busy.
    const bool p3 = ready && page == 3;
    set(2040, p3);
    set(1015, p3);
    set(2036, p3 && idle && f.logos < 8);
    set(2037, p3 && idle && f.selectedLogoUsed);
    set(2042, p3 && idle && f.selectedLogoUsed);
    set(2039, p3 && f.logos < 8);
    return s;
}

}  // namespace rk
