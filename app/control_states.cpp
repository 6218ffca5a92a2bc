#include "app/control_states.h"

#include "card/card_directory.h"

namespace rk {

namespace {

// The controls of a page that lists one kind of item, and the facts its rules
// read. The logo list stays enabled while busy.
struct ItemPageControls {
    int page;
    int label, list, add, remove, read, hint;
    int capacity;
    int WindowFacts::*used;
    bool WindowFacts::*selectedUsed;
    bool listEnabledWhileBusy;
};

constexpr ItemPageControls kItemPages[] = {
    {1, IDC_STILLS_LABEL, IDC_STILL_LIST, IDC_STILL_ADD, IDC_STILL_DELETE, IDC_STILL_READ, IDC_STILL_HINT,
     kStillCount, &WindowFacts::stills, &WindowFacts::selectedStillUsed, false},
    {2, IDC_EFFECTS_LABEL, IDC_EFFECT_LIST, IDC_EFFECT_ADD, IDC_EFFECT_DELETE, IDC_EFFECT_READ, IDC_EFFECT_HINT,
     kEffectCount, &WindowFacts::effects, &WindowFacts::selectedEffectUsed, false},
    {3, IDC_LOGOS_LABEL, IDC_LOGO_LIST, IDC_LOGO_ADD, IDC_LOGO_DELETE, IDC_LOGO_READ, IDC_LOGO_HINT,
     kLogoCount, &WindowFacts::logos, &WindowFacts::selectedLogoUsed, true},
};

}  // namespace

std::map<int, ControlState> DecideControlStates(const WindowFacts& f) {
    std::map<int, ControlState> s;
    const bool ready = f.cardOpen && f.formatted;
    const bool idle = !f.busy;
    const int page = f.page;
    auto set = [&s](int id, bool shown, bool enabled = true) { s[id] = ControlState{shown, enabled}; };

    // The card and its commands.
    set(IDC_MEDIA_LIST, idle, idle);
    set(IDC_MEDIA_BUSY, f.busy);
    set(IDC_FORMAT, f.cardOpen, idle);
    set(IDC_REFRESH, !f.accessDenied, idle);
    set(IDC_CHECK_CARD, f.cardOpen, idle);
    set(IDC_ABOUT, true, idle);

    // Page labels and markers.
    for (int id : {IDC_PAGE_VIDEOS, IDC_PAGE_STILLS, IDC_PAGE_EFFECTS, IDC_PAGE_LOGOS, IDC_ON_MEDIA_LABEL})
        set(id, ready, idle);
    set(IDC_MARKER_VIDEOS, ready && page == 0);
    set(IDC_MARKER_STILLS, ready && page == 1);
    set(IDC_MARKER_EFFECTS, ready && page == 2);
    set(IDC_MARKER_LOGOS, ready && page == 3);

    // The two option lists.
    set(IDC_DEINTERLACE_LABEL, ready && (page == 0 || page == 1));
    set(IDC_DEINTERLACE, ready && (page == 0 || page == 1), idle);
    set(IDC_YUV_RANGE_LABEL, ready && page != 2);
    set(IDC_YUV_RANGE, ready && page != 2, idle);

    // Page 0: videos and playlists.
    const bool p0 = ready && page == 0;
    for (int id : {IDC_VIDEOS_LABEL, IDC_PLAYLISTS_LABEL, IDC_PLAYLIST_STATUS, IDC_VIDEO_HINT, IDC_PLAYLIST_HINT})
        set(id, p0);
    set(IDC_VIDEO_LIST, p0, idle);
    set(IDC_PLAYLIST_LIST, p0, idle);
    set(IDC_VIDEO_ADD, p0 && idle && f.videos < kVideoCount);
    set(IDC_VIDEO_DELETE, p0 && idle && f.videoSelected);
    set(IDC_VIDEO_READ, p0 && idle && f.videoSelected);
    set(IDC_CLIP_LIST, page == 0 && ready && f.playlistSelected, idle);
    set(IDC_CLEAR_PLAYLIST, page == 0 && ready && idle && f.playlistSelected && f.playlistClips >= 1);
    set(IDC_REMOVE_CLIP, page == 0 && ready && idle && f.clipSelected);
    const bool loopShown = page == 0 && ready && f.playlistSelected && f.playlistClips >= 1;
    set(IDC_STOP_ON_LAST, loopShown, idle);
    set(IDC_REPEAT_PLAYLIST, loopShown, idle);
    set(IDC_STOP_MARKER, loopShown && !f.playlistLoops, idle);
    set(IDC_REPEAT_MARKER, loopShown && f.playlistLoops, idle);
    set(IDC_CLIP_HINT, page == 0 && ready && f.playlistSelected && f.playlistClips >= 2);

    // Pages 1 to 3: one list of items each, with the same controls.
    for (const ItemPageControls& p : kItemPages) {
        const bool shown = ready && page == p.page;
        const bool room = f.*p.used < p.capacity;
        const bool selectedUsed = f.*p.selectedUsed;
        set(p.label, shown);
        set(p.list, shown, idle || p.listEnabledWhileBusy);
        set(p.add, shown && idle && room);
        set(p.remove, shown && idle && selectedUsed);
        set(p.read, shown && idle && selectedUsed);
        set(p.hint, shown && room);
    }
    return s;
}

}  // namespace rk
