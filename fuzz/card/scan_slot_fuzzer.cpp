// The scan's reader of slot heads, fed what lies on a card that lost its
// directory: any bytes must read as a slot of some kind or as none, for
// every mode and for a mode still to be learnt, never out of bounds.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "card/card_directory.h"
#include "media/recover.h"
#include "card/video_modes.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // Short inputs are read as they are (refused); longer ones are the start
    // of a two-Cluster head, padded so that the sound chunk and the frame
    // header the fuzzer makes land on their places.
    rk::ReadScanSlotHead(data, size, -1);
    std::vector<uint8_t> head(2 * rk::kClusterSize, 0);
    const size_t half = size / 2 < rk::kClusterSize ? size / 2 : rk::kClusterSize;
    for (size_t i = 0; i < half; ++i) head[i] = data[i];
    for (size_t i = 0; i + half < size && i < rk::kClusterSize; ++i) head[rk::kClusterSize + i] = data[half + i];
    for (int mode = -1; mode < rk::kVideoModeCount; ++mode) {
        const rk::ScanSlotHead h = rk::ReadScanSlotHead(head.data(), head.size(), mode);
        if (h.valid && (h.mode < 0 || h.mode >= rk::kVideoModeCount)) __builtin_trap();
        if (h.valid && mode >= 0 && h.mode != mode) __builtin_trap();
    }
    return 0;
}
