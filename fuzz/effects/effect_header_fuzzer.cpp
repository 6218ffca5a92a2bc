// A hostile ".effect" header: the reader never reads past what it is given,
// and a header it accepts describes an HD effect whose file length matches.
// The last eight input bytes (when there are more than 32) give the length
// the file claims to have.
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "effects/effect_format.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    uint64_t fileBytes = size;
    size_t headerBytes = size;
    if (size > 40) {
        std::memcpy(&fileBytes, data + size - 8, 8);
        headerBytes = size - 8;
    }
    rk::EffectFileHeader h;
    rk::EffectHeaderCheck check = rk::ReadEffectFileHeader(data, headerBytes, fileBytes, 33, h);
    if (check == rk::EffectHeaderCheck::kOk) {
        if (h.width != 1920 || h.height != 1080 || h.clustersPerFrame != 33 || h.frames == 0) __builtin_trap();
        if (fileBytes != 0 && fileBytes != rk::EffectFileBytes(h.frames, 33)) __builtin_trap();
        uint8_t raw[32];
        rk::WriteEffectFileHeader(h, raw);
        rk::EffectFileHeader back;
        if (rk::ReadEffectFileHeader(raw, 32, fileBytes, 33, back) != check) __builtin_trap();
    }
    // Slots of any content are checked without reading past them.
    if (size >= rk::kVideoAreaOffset + 32) rk::IsEffectFrameSlot(data, size, data[0], 1u + data[1]);
    return 0;
}
