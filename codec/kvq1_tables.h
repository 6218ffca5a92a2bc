#pragma once
// The fixed tables of the KVQ1 format: scan order, weight matrices and the
// variable-length codes with their decoding tables. Each lives in a data file
// of its own (zigzag.cpp, weights.cpp, vlc_tables.cpp).
#include <array>
#include <cstdint>

namespace rk {

// Natural index (8 * v + u) of each scan position, the zigzag sequence.
extern const uint8_t kZigzag[64];
// Scan position of each natural index.
extern const uint8_t kZigzagInverse[64];

// A set of natural indices (bit k = natural index k) as the set of their scan
// positions: one table entry per byte of the set (inline, since the encoder
// asks it for every block it codes).
extern const std::array<uint64_t, 8 * 256> kNaturalToScanMasks;
inline uint64_t NaturalMaskToScanMask(uint64_t natural) {
    uint64_t m = 0;
    for (int j = 0; j < 8; ++j) m |= kNaturalToScanMasks[j * 256 + ((natural >> (8 * j)) & 0xFF)];
    return m;
}

// Weight matrices indexed by scan position (entry 0 is never used).
extern const uint8_t kLumaWeights[64];
extern const uint8_t kChromaWeights[64];

// ---- variable-length codes ----
struct VlcCode {
    uint16_t code;   // right-aligned
    uint8_t length;  // bits
};

// AC symbols: 0..255 = (base - 1) + 64 * escape + 128 * run; 256 = end of block.
inline constexpr int kAcEndOfBlock = 256;
inline constexpr int kAcSymbolCount = 257;
inline constexpr int AcSymbol(int base, bool escape, bool run) {
    return (base - 1) + (escape ? 64 : 0) + (run ? 128 : 0);
}

// Encoding tables.
extern const VlcCode kDcSizeCodes[12];
const VlcCode* AcCodes();    // kAcSymbolCount entries, by symbol
const VlcCode* RunCodes();   // 64 entries, by run (1..62 used; entry 0 is the empty code)

// Encoding of a whole level: the AC code, the sign bit and the escape bits as
// one field, for levels -1024..1024 (index level + 1024) without and with a
// run (second half, index 2049 + level + 1024). Entry 1024 (level 0) is unused.
struct LevelCode {
    uint32_t bits;
    uint32_t length;
};
inline constexpr int kMaxLevel = 1024;
const LevelCode* LevelCodes();

// Decoding tables (peek-then-skip).
struct DcDecodeEntry {
    uint8_t size;
    uint8_t length;
};
struct AcDecodeEntry {
    uint16_t symbol;  // kAcSymbolCount..: see below
    uint8_t length;   // 0 = no code owns this entry
};
inline constexpr uint16_t kAcLongPrefix = 0xFFFF;  // AcDecode8 entry: peek 16 bits
struct RunDecodeEntry {
    uint8_t run;      // 0 = long prefix (7-bit table) or unowned
    uint8_t length;
};
// A whole coefficient in one look-up: its AC code, sign bit and run code,
// when they all lie within the next kCoefficientPeekBits bits (no code with
// escape bits is that short, so magnitudes stay below 256).
// The length comes first: the decoder loads an entry as one 32-bit word and
// shifts its bit window by the low byte as it is (a 64-bit shift uses only
// the count's low 6 bits), so the look-ups' chain has no step to take the
// length out.
struct CoefficientDecodeEntry {
    uint8_t length;   // bits taken; 0 = longer than the peek: read it piece by piece
    uint8_t magnitude;
    int8_t sign;      // 0, or -1 for a negative level
    uint8_t advance;  // scan positions from the previous coefficient: run + 1;
                      // kEndOfBlockAdvance for the end of block, and
                      // kEndOfBlockAdvance + run + 1 for a coefficient with
                      // the end of block after it (both within the peek,
                      // the length counting both). With length 0:
                      // the bits of the level's code and sign when only its run
                      // code lies beyond the peek (magnitude and sign hold the
                      // level), else 0
};
inline constexpr int kCoefficientPeekBits = 12;
// The same for the coefficients of up to 16 bits, read when the 12-bit
// entry is empty: most coefficients longer than its peek are 13 to 16 bits.
// Entries are 0 where the coefficient is longer or its magnitude above 255,
// and never keep a level alone.
inline constexpr int kLongCoefficientPeekBits = 16;
// Larger than any position plus any run, so that one test after the advance
// finds both the end of block and a run past the block's end.
inline constexpr int kEndOfBlockAdvance = 128;
// The DC difference of a block in one look-up: its size code and value bits,
// when both lie within the next kDcPeekBits bits.
struct DcDifferenceEntry {
    uint8_t length;  // bits taken; 0 = longer than the peek (first, as above)
    int16_t difference;
};
inline constexpr int kDcPeekBits = 12;

const DcDecodeEntry* DcDecode6();     // 64 entries by 6-bit peek
const AcDecodeEntry* AcDecode8();     // 256 entries by 8-bit peek
const AcDecodeEntry* AcDecode16();    // 2048 entries by the low 11 bits of a 16-bit peek
const RunDecodeEntry* RunDecode7();   // 128 entries by 7-bit peek
const RunDecodeEntry* RunDecode10();  // 64 entries by the low 6 bits of a 10-bit peek
const CoefficientDecodeEntry* CoefficientDecode();  // 1 << kCoefficientPeekBits entries by peek
const DcDifferenceEntry* DcDifferenceDecode();      // 1 << kDcPeekBits entries by peek
const CoefficientDecodeEntry* LongCoefficientDecode();  // 1 << kLongCoefficientPeekBits entries by peek

// The canonical code lists as the format defines them: symbols in code order
// with their lengths (for tests and the table builders).
struct CanonicalGroup {
    uint8_t length;
    uint8_t count;
};
extern const CanonicalGroup kAcGroups[15];
const uint16_t* AcSymbolsInCodeOrder();  // kAcSymbolCount entries
extern const CanonicalGroup kRunGroups[9];
const uint8_t* RunsInCodeOrder();         // 62 entries

}  // namespace rk
