#pragma once
// Small helpers shared by the import encoder and the export converter: the
// clock their stall limits are measured on, and the frame rate as ffmpeg
// takes it on its command line.
#include <chrono>
#include <cstdint>

#include "codec/kvq1_format.h"

namespace rk {

inline int64_t NowMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// The rate code (25, 29, 30, 50, 59, 60; 0 and anything else mean 50) as
// ffmpeg's rate text; 29.97 and 59.94 as exact fractions.
inline const char* RateText(int code) { return FrameRateOrDefault(code).toolText; }

}  // namespace rk
