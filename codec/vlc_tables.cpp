// The variable-length codes of the KVQ1 format: DC sizes (a fixed table), AC
// symbols and runs (canonical codes built from the symbol order and the code
// lengths), and the peek tables the decoder looks them up in. Everything is
// built at compile time.
#include <array>
#include <cstddef>

#include "codec/kvq1_tables.h"

namespace rk {

// The exported tables, defined constexpr (they keep the external linkage of
// their declarations) so that the builders below read them at compile time.
constexpr VlcCode kDcSizeCodes[12] = {
    {0b000, 3}, {0b1100, 4}, {0b1101, 4}, {0b001, 3}, {0b010, 3}, {0b011, 3},
    {0b100, 3}, {0b101, 3}, {0b1110, 4}, {0b11110, 5}, {0b111110, 6}, {0b111111, 6},
};

constexpr CanonicalGroup kAcGroups[15] = {
    {2, 2}, {3, 2}, {4, 1}, {5, 2}, {6, 4}, {7, 2}, {8, 5}, {9, 5},
    {10, 6}, {11, 8}, {12, 10}, {13, 11}, {14, 16}, {15, 17}, {16, 166},
};
constexpr CanonicalGroup kRunGroups[9] = {
    {1, 1}, {3, 1}, {4, 2}, {5, 3}, {6, 5}, {7, 2}, {8, 1}, {9, 13}, {10, 34},
};

namespace {

constexpr uint16_t L(int k) { return uint16_t(AcSymbol(k, false, false)); }
constexpr uint16_t R(int k) { return uint16_t(AcSymbol(k, false, true)); }
constexpr uint16_t E(int k) { return uint16_t(AcSymbol(k, true, false)); }
constexpr uint16_t RE(int k) { return uint16_t(AcSymbol(k, true, true)); }

constexpr std::array<uint16_t, kAcSymbolCount> BuildAcOrder() {
    std::array<uint16_t, kAcSymbolCount> s{};
    int n = 0;
    auto put = [&](uint16_t v) { s[n++] = v; };
    auto range = [&](uint16_t (*f)(int), int a, int b) {
        for (int k = a; k <= b; ++k) put(f(k));
    };
    put(L(1)); put(R(1));                                   // 2
    put(L(2)); put(kAcEndOfBlock);                          // 3
    put(L(3));                                              // 4
    put(L(4)); put(R(2));                                   // 5
    range(L, 5, 7); put(R(3));                              // 6
    put(L(8)); put(L(9));                                   // 7
    range(L, 10, 12); put(R(4)); put(R(5));                 // 8
    range(L, 13, 16); put(R(6));                            // 9
    range(L, 17, 21); put(R(7));                            // 10
    range(L, 22, 27); put(R(8)); put(R(9));                 // 11
    range(L, 28, 34); range(R, 10, 12);                     // 12
    range(L, 35, 41); range(R, 13, 16);                     // 13
    range(L, 42, 52); range(R, 17, 21);                     // 14
    range(L, 53, 61); put(L(64)); put(E(1)); range(R, 22, 27);  // 15
    put(L(62)); put(L(63)); range(E, 2, 64); range(R, 28, 64); range(RE, 1, 64);  // 16
    return s;
}

constexpr std::array<uint8_t, 62> BuildRunOrder() {
    std::array<uint8_t, 62> s{};
    int n = 0;
    auto range = [&](int a, int b) {
        for (int k = a; k <= b; ++k) s[n++] = uint8_t(k);
    };
    range(1, 1); range(2, 2); range(3, 4); range(5, 7); range(8, 12); range(13, 14); range(15, 15);
    range(16, 21); range(53, 53); range(57, 62);
    range(22, 52); range(54, 56);
    return s;
}

constexpr auto kAcOrder = BuildAcOrder();
constexpr auto kRunOrder = BuildRunOrder();

// Canonical assignment: the first code is all zeros; each next code is the
// previous plus one, shifted left by the growth in length.
template <std::size_t N, std::size_t G, class Sym>
constexpr void AssignCanonical(const CanonicalGroup (&groups)[G], const std::array<Sym, N>& order,
                               VlcCode* bySymbol) {
    uint32_t code = 0;
    int prevLength = groups[0].length;
    std::size_t n = 0;
    bool first = true;
    for (std::size_t g = 0; g < G; ++g) {
        for (int i = 0; i < groups[g].count; ++i) {
            const int length = groups[g].length;
            if (!first) code = (code + 1) << (length - prevLength);
            first = false;
            prevLength = length;
            bySymbol[order[n++]] = VlcCode{uint16_t(code), uint8_t(length)};
        }
    }
}

struct Tables {
    VlcCode ac[kAcSymbolCount]{};
    VlcCode run[64]{};
    DcDecodeEntry dc6[64]{};
    AcDecodeEntry ac8[256]{};
    AcDecodeEntry ac16[2048]{};
    RunDecodeEntry run7[128]{};
    RunDecodeEntry run10[64]{};
};

constexpr Tables BuildTables() {
    Tables t{};
    AssignCanonical(kAcGroups, kAcOrder, t.ac);
    AssignCanonical(kRunGroups, kRunOrder, t.run);

    for (int s = 0; s < 12; ++s) {
        const VlcCode c = kDcSizeCodes[s];
        const int shift = 6 - c.length;
        for (int low = 0; low < (1 << shift); ++low)
            t.dc6[(c.code << shift) | low] = DcDecodeEntry{uint8_t(s), c.length};
    }
    for (int p = 0xF9; p <= 0xFF; ++p) t.ac8[p] = AcDecodeEntry{kAcLongPrefix, 0};
    for (int s = 0; s < kAcSymbolCount; ++s) {
        const VlcCode c = t.ac[s];
        if (c.length <= 8) {
            const int shift = 8 - c.length;
            for (int low = 0; low < (1 << shift); ++low)
                t.ac8[(c.code << shift) | low] = AcDecodeEntry{uint16_t(s), c.length};
        } else {
            const int shift = 16 - c.length;
            for (int low = 0; low < (1 << shift); ++low)
                t.ac16[((c.code << shift) | low) & 0x7FF] = AcDecodeEntry{uint16_t(s), c.length};
        }
    }
    for (int r = 1; r <= 62; ++r) {
        const VlcCode c = t.run[r];
        if (c.length <= 7) {
            const int shift = 7 - c.length;
            for (int low = 0; low < (1 << shift); ++low)
                t.run7[(c.code << shift) | low] = RunDecodeEntry{uint8_t(r), c.length};
        } else {
            const int shift = 10 - c.length;
            for (int low = 0; low < (1 << shift); ++low)
                t.run10[((c.code << shift) | low) & 0x3F] = RunDecodeEntry{uint8_t(r), c.length};
        }
    }
    return t;
}

constexpr Tables kTables = BuildTables();
// The block coder writes a level without a run with the run code of entry 0.
static_assert(kTables.run[0].code == 0 && kTables.run[0].length == 0);

// Every entry of a peek table whose first `length` bits are `bits`.
template <class Entry, std::size_t N>
constexpr void FillPrefix(Entry (&table)[N], int peekBits, uint32_t bits, int length, Entry e) {
    const int shift = peekBits - length;
    for (uint32_t low = 0; low < (1u << shift); ++low) table[(bits << shift) | low] = e;
}

// The bits of a coefficient as the block coder writes them: AC code, sign,
// four escape bits when the symbol has them, the run code when it has one,
// into a table of 1 << N entries by an N-bit peek. With keepLevels, a level
// with a run whose code and sign lie within the peek but not its run code
// keeps them in its entry (length 0, advance the bits before the run code).
template <std::size_t Size>
constexpr void FillCoefficientTable(CoefficientDecodeEntry (&table)[Size], int N, bool keepLevels) {
    for (int s = 0; s < kAcSymbolCount; ++s) {
        const VlcCode c = kTables.ac[s];
        if (c.length > N) continue;
        if (s == kAcEndOfBlock) {
            FillPrefix(table, N, c.code, c.length, CoefficientDecodeEntry{c.length, 0, 0, kEndOfBlockAdvance});
            continue;
        }
        const bool escape = (s & 64) != 0, hasRun = (s & 128) != 0;
        for (int sign = 0; sign < 2; ++sign)
            for (int n = 0; n < (escape ? 16 : 1); ++n) {
                uint32_t bits = (uint32_t(c.code) << 1) | uint32_t(sign);
                int length = c.length + 1;
                if (escape) {
                    bits = (bits << 4) | uint32_t(n);
                    length += 4;
                }
                const int magnitude = (s & 63) + 1 + 64 * n;
                if (magnitude > 255 || length > N) continue;
                const auto entry = [&](int run, int total) {
                    return CoefficientDecodeEntry{uint8_t(total), uint8_t(magnitude), int8_t(-sign), uint8_t(run + 1)};
                };
                if (!hasRun) {
                    FillPrefix(table, N, bits, length, entry(0, length));
                    continue;
                }
                // Where only the run code does not fit, the entry keeps the
                // level and the bits before the run code.
                if (keepLevels)
                    FillPrefix(table, N, bits, length,
                               CoefficientDecodeEntry{0, uint8_t(magnitude), int8_t(-sign), uint8_t(length)});
                for (int run = 1; run <= 62; ++run) {
                    const VlcCode rc = kTables.run[run];
                    if (length + rc.length > N) continue;
                    FillPrefix(table, N, (bits << rc.length) | rc.code, length + rc.length,
                               entry(run, length + rc.length));
                }
            }
    }
    // A coefficient with the end of block right after it, both within the
    // peek: one entry, its advance raised by kEndOfBlockAdvance.
    const VlcCode eob = kTables.ac[kAcEndOfBlock];
    for (uint32_t v = 0; v < (1u << N); ++v) {
        CoefficientDecodeEntry& e = table[v];
        if (e.length == 0 || e.advance >= kEndOfBlockAdvance || e.length + eob.length > N) continue;
        if (((v >> (N - e.length - eob.length)) & ((1u << eob.length) - 1)) != eob.code) continue;
        e.length = uint8_t(e.length + eob.length);
        e.advance = uint8_t(e.advance + kEndOfBlockAdvance);
    }
}

struct CoefficientTable {
    CoefficientDecodeEntry entries[1 << kCoefficientPeekBits]{};
};

constexpr CoefficientTable BuildCoefficientTable() {
    CoefficientTable t{};
    FillCoefficientTable(t.entries, kCoefficientPeekBits, true);
    return t;
}

constexpr CoefficientTable kCoefficientTable = BuildCoefficientTable();


struct DcDifferenceTable {
    DcDifferenceEntry entries[1 << kDcPeekBits]{};
};

// A size code, then `size` bits: values below half the range are negative.
constexpr DcDifferenceTable BuildDcDifferenceTable() {
    DcDifferenceTable t{};
    constexpr int N = kDcPeekBits;
    for (int size = 0; size < 12; ++size) {
        const VlcCode c = kDcSizeCodes[size];
        const int length = c.length + size;
        if (length > N) continue;
        for (int v = 0; v < (1 << size); ++v) {
            const int d = size == 0 ? 0 : v >= (1 << (size - 1)) ? v : v - (1 << size) + 1;
            FillPrefix(t.entries, N, (uint32_t(c.code) << size) | uint32_t(v), length,
                       DcDifferenceEntry{uint8_t(length), int16_t(d)});
        }
    }
    return t;
}

constexpr DcDifferenceTable kDcDifferenceTable = BuildDcDifferenceTable();

struct LevelTable {
    LevelCode entries[2 * (2 * kMaxLevel + 1)]{};
};

constexpr LevelTable BuildLevelTable() {
    LevelTable t{};
    for (int run = 0; run < 2; ++run)
        for (int level = -kMaxLevel; level <= kMaxLevel; ++level) {
            if (level == 0) continue;
            const int a = level < 0 ? -level : level;
            int base = a, n = 0;
            if (a > 64) {
                n = (a - 1) / 64;
                base = a - 64 * n;
            }
            const VlcCode c = kTables.ac[AcSymbol(base, n > 0, run > 0)];
            uint32_t bits = (uint32_t(c.code) << 1) | (level < 0 ? 1u : 0u);
            uint32_t length = uint32_t(c.length) + 1;
            if (n > 0) {
                bits = (bits << 4) | uint32_t(n);
                length += 4;
            }
            t.entries[run * (2 * kMaxLevel + 1) + level + kMaxLevel] = LevelCode{bits, length};
        }
    return t;
}

constexpr LevelTable kLevelTable = BuildLevelTable();

}  // namespace

const uint16_t* AcSymbolsInCodeOrder() { return kAcOrder.data(); }
const uint8_t* RunsInCodeOrder() { return kRunOrder.data(); }

const VlcCode* AcCodes() { return kTables.ac; }
const LevelCode* LevelCodes() { return kLevelTable.entries; }
const VlcCode* RunCodes() { return kTables.run; }
const DcDecodeEntry* DcDecode6() { return kTables.dc6; }
const AcDecodeEntry* AcDecode8() { return kTables.ac8; }
const AcDecodeEntry* AcDecode16() { return kTables.ac16; }
const RunDecodeEntry* RunDecode7() { return kTables.run7; }
const RunDecodeEntry* RunDecode10() { return kTables.run10; }
const CoefficientDecodeEntry* CoefficientDecode() { return kCoefficientTable.entries; }
const DcDifferenceEntry* DcDifferenceDecode() { return kDcDifferenceTable.entries; }
// Built once at first use rather than at compile time: 256 KB that the
// library's file need not carry.
const CoefficientDecodeEntry* LongCoefficientDecode() {
    alignas(64) static CoefficientDecodeEntry entries[1 << kLongCoefficientPeekBits];
    [[maybe_unused]] static const bool built = (FillCoefficientTable(entries, kLongCoefficientPeekBits, false), true);
    return entries;
}

}  // namespace rk
