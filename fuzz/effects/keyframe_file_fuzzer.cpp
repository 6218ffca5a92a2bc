// A hostile keyframe file: every key read back lies in its range, the keys
// stay inside the effect, and interpolation answers within range for every
// frame. The first input byte picks the frame count (1..256).
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "effects/stinger.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    int frames = 1 + data[0];
    rk::CStinger s("fuzz_0001.png");
    s.SetFrameCount(frames);
    s.SetTransitionKind(data[0] & 1);
    s.ParseKeyframes(std::string_view(reinterpret_cast<const char*>(data + 1), size - 1));
    for (auto [f, v] : s.PositionKeys())
        if (f < 0 || f >= frames || v < 0 || v > rk::kMaxPosition) __builtin_trap();
    for (auto [f, v] : s.FadeKeys())
        if (f < 0 || f >= frames || v < 0 || v > rk::kMaxFade) __builtin_trap();
    for (int f = 0; f < frames; ++f) {
        int p = s.PositionAt(f, true), fd = s.FadeAt(f);
        if (p < 0 || p > rk::kLastFramePosition || fd < 0 || fd > rk::kMaxFade) __builtin_trap();
    }
    // What is written reads back as the same keys.
    rk::CStinger again("fuzz_0001.png");
    again.SetFrameCount(frames);
    again.ParseKeyframes(s.KeyframeText());
    if (again.PositionKeys() != s.PositionKeys() || again.FadeKeys() != s.FadeKeys()) __builtin_trap();
    s.SetDefaultCut();
    return 0;
}
