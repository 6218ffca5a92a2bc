// The frame decoder on arbitrary bytes: it must return, never read beyond the
// given size and never write beyond the coded-size planes.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "codec/kvq1_decoder.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // Planes of the larger size class, allocated once; the decoder writes only
    // within the coded size of the class it reads from the header.
    static std::vector<uint8_t> luma(3840 * 2160), cb(1920 * 1080), cr(1920 * 1080);
    // Copy into a buffer of exactly `size` bytes so that any read beyond it
    // is caught.
    std::vector<uint8_t> frame(data, data + size);
    rk::KVQ1Decoder decoder;
    const bool ok = decoder.Decode(frame.data(), frame.size(), luma.data(), cb.data(), cr.data());
    if (ok && decoder.LastError() != rk::KVQ1DecodeError::None) __builtin_trap();
    return 0;
}
