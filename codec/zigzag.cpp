// The zigzag scan sequence of ISO/IEC 10918-1.
#include <array>
#include <cstddef>

#include "codec/kvq1_tables.h"

namespace rk {

const uint8_t kZigzag[64] = {
    0,  1,  8,  16, 9,  2,  3,  10, 17, 24, 32, 25, 18, 11, 4,  5,
    12, 19, 26, 33, 40, 48, 41, 34, 27, 20, 13, 6,  7,  14, 21, 28,
    35, 42, 49, 56, 57, 50, 43, 36, 29, 22, 15, 23, 30, 37, 44, 51,
    58, 59, 52, 45, 38, 31, 39, 46, 53, 60, 61, 54, 47, 55, 62, 63,
};

// Defined constexpr (keeping the external linkage of its declaration) so that
// the mask table below is built from it at compile time.
constexpr uint8_t kZigzagInverse[64] = {
    0,  1,  5,  6,  14, 15, 27, 28, 2,  4,  7,  13, 16, 26, 29, 42,
    3,  8,  12, 17, 25, 30, 41, 43, 9,  11, 18, 24, 31, 40, 44, 53,
    10, 19, 23, 32, 39, 45, 52, 54, 20, 22, 33, 38, 46, 51, 55, 60,
    21, 34, 37, 47, 50, 56, 59, 61, 35, 36, 48, 49, 57, 58, 62, 63,
};

namespace {

constexpr std::array<uint64_t, 8 * 256> BuildMaskTable() {
    std::array<uint64_t, 8 * 256> t{};
    for (int j = 0; j < 8; ++j)
        for (int b = 0; b < 256; ++b) {
            uint64_t m = 0;
            for (int bit = 0; bit < 8; ++bit)
                if (b & (1 << bit)) m |= uint64_t(1) << kZigzagInverse[8 * j + bit];
            t[std::size_t(j * 256 + b)] = m;
        }
    return t;
}

}  // namespace

// constexpr keeps the external linkage of the header's declaration.
constexpr std::array<uint64_t, 8 * 256> kNaturalToScanMasks = BuildMaskTable();

}  // namespace rk
