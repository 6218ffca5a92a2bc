#include "card/video_modes.h"

namespace rk {

namespace {

constexpr VideoMode kModes[kVideoModeCount] = {
    {"HD 1080p50", 1920, 1080, 1, 50, 33, 50},
    {"4K 2160p50", 3840, 2160, 2, 50, 65, 50},
    {"4K 2160p25", 3840, 2160, 2, 25, 65, 25},
    {"HD 1080p60", 1920, 1080, 1, 60, 33, 60},
    {"4K 2160p60", 3840, 2160, 2, 60, 65, 60},
    {"4K 2160p30", 3840, 2160, 2, 30, 65, 30},
    {"HD 1080p59.94", 1920, 1080, 1, 59, 33, 60},
    {"4K 2160p59.94", 3840, 2160, 2, 59, 65, 60},
    {"4K 2160p29.97", 3840, 2160, 2, 29, 65, 30},
};

// What a number outside the table answers: never part of a valid directory.
constexpr VideoMode kUnknownMode = {"", 1920, 1080, 1, 50, 33, 50};

}  // namespace

bool IsValidVideoMode(int64_t mode) { return mode >= 0 && mode < kVideoModeCount; }

const VideoMode& VideoModeAt(int mode) { return IsValidVideoMode(mode) ? kModes[mode] : kUnknownMode; }

int ClustersPerFrameOfMode(int mode) { return VideoModeAt(mode).clustersPerFrame; }

bool IsHdMode(int mode) { return VideoModeAt(mode).sizeClass == 1; }

int DisplayRateOfMode(int mode) { return VideoModeAt(mode).displayRate; }

const char* VideoModeName(int mode) { return VideoModeAt(mode).name; }

}  // namespace rk
