#pragma once
// The nine video modes a card can be formatted for. The mode number is what
// the directory stores; it fixes the picture size, the frame rate and the
// number of Clusters per frame slot, and with it every region of the card.
#include <cstdint>

namespace rk {

struct VideoMode {
    const char* name;      // "HD 1080p50" ... shown in the format dialog and the card line
    int width;             // picture width in pixels
    int height;            // picture height in pixels
    int sizeClass;         // 1 = 1920 x 1080, 2 = 3840 x 2160
    int frameRate;         // frame rate code: 25, 30, 50, 60, or 59 / 29 for 59.94 / 29.97
    int clustersPerFrame;  // X: 33 for 1920 x 1080, 65 for 3840 x 2160
    int displayRate;       // whole-number rate for duration texts (59.94 shows as 60)
};

inline constexpr int kVideoModeCount = 9;

// The mode table in mode order (0 to 8).
const VideoMode& VideoModeAt(int mode);
// True for 0 to 8.
bool IsValidVideoMode(int64_t mode);
// True for the 1920 x 1080 modes: the cards effects exist on.
bool IsHdMode(int mode);
// Clusters per frame slot of `mode`; 33 for any number outside 0 to 8.
int ClustersPerFrameOfMode(int mode);
// Display rate of `mode`; 50 for any number outside 0 to 8.
int DisplayRateOfMode(int mode);
// The mode's name; empty for any number outside 0 to 8.
const char* VideoModeName(int mode);

}  // namespace rk
