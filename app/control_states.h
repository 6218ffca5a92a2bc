#pragma once
// Which controls of the main window show and which take input, decided from
// the facts of the moment alone (no widgets), so every row of the rules can
// be checked directly.
#include <map>

#include "app/control_ids.h"

namespace rk {

struct WindowFacts {
    bool cardOpen = false;
    bool formatted = false;  // the open card holds a valid directory
    bool busy = false;
    bool accessDenied = false;
    int page = 0;  // 0 videos and playlists, 1 stills, 2 effects, 3 logos
    int videos = 0, stills = 0, effects = 0, logos = 0;  // used entries
    bool videoSelected = false;          // a row of the video list
    bool selectedStillUsed = false;      // the selected row's slot is in use
    bool selectedEffectUsed = false;
    bool selectedLogoUsed = false;
    bool playlistSelected = false;       // a current playlist
    int playlistClips = 0;               // clips of the current playlist
    bool playlistLoops = false;          // its loop flag
    bool clipSelected = false;           // a row of the clips list
};

struct ControlState {
    bool shown = false;
    bool enabled = true;
    bool operator==(const ControlState&) const = default;
};

// Every control the rules speak of, by id. Controls absent from the map keep
// whatever state they have (the progress controls follow the progress calls).
std::map<int, ControlState> DecideControlStates(const WindowFacts& f);

// The ids of the buttons that start operations (all hidden while busy).
inline constexpr int kOperationButtons[] = {
    IDC_VIDEO_ADD,  IDC_VIDEO_DELETE,  IDC_VIDEO_READ,  IDC_STILL_ADD, IDC_STILL_DELETE,   IDC_STILL_READ,
    IDC_EFFECT_ADD, IDC_EFFECT_DELETE, IDC_EFFECT_READ, IDC_LOGO_ADD,  IDC_LOGO_DELETE,    IDC_LOGO_READ,
    IDC_CLEAR_PLAYLIST, IDC_REMOVE_CLIP};

}  // namespace rk
