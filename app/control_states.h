#pragma once
// Which controls of the main window show and which take input, decided from
// the facts of the moment alone (no widgets), so every row of the rules can
// be checked directly.
#include <map>

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
inline constexpr int kOperationButtons[] = {2006, 2005, 2007, 2008, 2009, 2033, 2010, 2011,
                                            2041, 2036, 2037, 2042, 2023, 2022};

}  // namespace rk
