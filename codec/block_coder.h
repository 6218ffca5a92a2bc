#pragma once
// The block coder of the KVQ1 encoder and the writers it codes through. Kept
// in a header of its own so that tests can check single blocks bit by bit.
#include <cstdint>
#include <cstring>

#include "codec/bitstream.h"
#include "codec/kvq1_tables.h"

namespace rk {

// The writer of the coding passes: the same bits, overflow rule and bit count
// as CBitstream, but it takes whole symbols (up to 32 bits) in one call.
//
// CBitstream refuses the byte that would bring its stored count up to the
// capacity, which happens exactly when the bits accepted reach 8 x capacity
// (8 bits for a capacity of 0 or 1: the first byte is refused);
// WriteBits applies the same test to every call, so Overflowed() and
// TotalBits() agree with CBitstream after every call, and it stores only
// complete bytes below the capacity.
//
// Put, for the bits HasRoomFor vouched for, has no branch: it stores the
// pending bits as one 8-byte word after every symbol and moves on by the
// whole bytes among them. The word reaches up to 8 bytes past the last
// complete byte (zeros behind the pending bits), which HasRoomFor keeps
// below the capacity; whatever comes next is written over them.
class CWordWriter {
public:
    CWordWriter(uint8_t* buffer, int capacityBytes)
        : begin(buffer), out(buffer), capacityBits(int64_t(capacityBytes > 1 ? capacityBytes : 1) * 8) {}

    inline void WriteBits(uint32_t value, int count) {
        if (overflow) return;
        if (TotalBits() + count >= capacityBits) {
            overflow = true;
            return;
        }
        acc = (acc << count) | (uint64_t(value) & ((uint64_t(1) << count) - 1));
        pending += unsigned(count);
        for (; pending >= 8; pending -= 8) *out++ = uint8_t(acc >> (pending - 8));
    }
    // True when `bits` more bits are sure to be accepted: then Put may
    // replace WriteBits for them.
    bool HasRoomFor(int bits) const { return !overflow && TotalBits() + bits + 64 < capacityBits; }
    // WriteBits without the overflow test, for the bits HasRoomFor vouched
    // for; 1 <= count <= 32, and `value` has no bits set above `count`.
    inline void Put(uint32_t value, unsigned count) {
        acc = (acc << count) | value;
        pending += count;  // at most 7 + 32: the word holds them all
        const uint64_t word = __builtin_bswap64(acc << (64 - pending));  // most significant byte first
        std::memcpy(out, &word, 8);
        out += pending >> 3;
        pending &= 7;
    }
    int TotalBits() const { return overflow ? 0 : int((out - begin) * 8 + int64_t(pending)); }
    bool Overflowed() const { return overflow; }
    // Pads with zero bits to the next multiple of 32 bits (a whole word).
    void PadToWord() {
        if (overflow) return;
        if (pending) WriteBits(0, int(8 - pending));
        while (!overflow && TotalBits() % 32) WriteBits(0, 8);
    }
    static constexpr int kMaxBits = 32;

private:
    uint8_t* begin;
    uint8_t* out;
    uint64_t acc = 0;  // the pending bits are its low `pending` bits
    uint64_t pending = 0;  // below 8 between calls
    int64_t capacityBits;
    bool overflow = false;
};

// CBitstream behind the same interface, for checking the word writer.
class CReferenceWriter {
public:
    CReferenceWriter(uint8_t* buffer, int capacityBytes) : bs(buffer, capacityBytes) {}
    void WriteBits(uint32_t value, int count) {
        while (count > 16) {
            count -= 16;
            bs.WriteBits(value >> count, 16);
        }
        bs.WriteBits(value, count);
    }
    // Every bit goes through CBitstream's own test, so the frames coded
    // through this writer check the word writer's unchecked path too.
    bool HasRoomFor(int) const { return false; }
    void Put(uint32_t value, int count) { WriteBits(value, count); }
    int TotalBits() const { return bs.TotalBits(); }
    bool Overflowed() const { return bs.Overflowed(); }
    void PadToWord() {
        if (bs.PendingBits() > 0) bs.WriteBits(0, 8 - bs.PendingBits());
        while (bs.TotalBits() % 32 != 0) bs.WriteBits(0, 8);
    }

private:
    CBitstream bs;
};

// The size of a DC difference (the significant bits of its magnitude) and
// its value bits (a negative d as d + 2^s - 1), without a branch on its sign
// or on zero: the signs of the differences follow no pattern a predictor
// could learn.
inline int DcSize(int d) {
    const uint32_t a = uint32_t(d < 0 ? -d : d);
    return 31 - __builtin_clz((a << 1) | 1u);  // 0 for 0
}
inline uint32_t DcBits(int d, int s) {
    const uint32_t low = (1u << s) - 1u;
    return (uint32_t(d) + (uint32_t(d >> 31) & low)) & low;
}

// The most bits one block can take (the DC size code and 11 bits, 63 levels
// of at most 31 bits with their runs, end of block) and one macroblock (its
// quantiser and six blocks).
inline constexpr int kMaxBlockBits = 6 + 11 + 63 * 31 + 3;
inline constexpr int kMaxMacroblockBits = 6 + 6 * kMaxBlockBits;

// The code tables a block is coded with, fetched once by a caller that codes
// many blocks.
struct BlockCodeTables {
    const LevelCode* levels = LevelCodes() + kMaxLevel;  // by level, or level + 2 kMaxLevel + 1 after a run
    const VlcCode* runs = RunCodes();
};

// Writes one block: the DC difference d, then every nonzero level whose scan
// position is set in `mask` (bit 0 is ignored), then end of block. The levels
// are indexed by scan position, or by natural index (8 v + u) when Natural.
// Unchecked: the caller made sure of room for kMaxBlockBits (HasRoomFor).
template <bool Natural = false, bool Unchecked = false, class Writer>
inline void WriteBlock(Writer& w, const BlockCodeTables& t, int d, const int16_t* levels, uint64_t mask) {
    auto putCode = [&w](uint32_t value, unsigned count) {
        if constexpr (Unchecked)
            w.Put(value, count);
        else
            w.WriteBits(value, int(count));
    };
    mask &= ~uint64_t(1);
    const int s = DcSize(d);
    const VlcCode dcCode = kDcSizeCodes[s];
    putCode((uint32_t(dcCode.code) << s) | DcBits(d, s), dcCode.length + s);

    // Positions, runs and table offsets as 64-bit numbers: no widening in
    // the loop.
    const LevelCode* const levelCodes = t.levels;
    const VlcCode* const runCodes = t.runs;
    uint64_t previous = 0;
    while (mask) {
        const uint64_t i = uint64_t(__builtin_ctzll(mask));
        mask &= mask - 1;
        const uint64_t run = i - previous - 1;
        previous = i;
        // Code, sign and escape (at most 21 bits), then the run code (at
        // most 10). Without a run the level has codes of its own and the run
        // code is the empty one (RunCodes()[0]): no branch to mispredict.
        const int64_t level = levels[Natural ? kZigzag[i] : i];
        const LevelCode c = levelCodes[int64_t(run ? 2 * kMaxLevel + 1 : 0) + level];
        const VlcCode rc = runCodes[run];
        putCode((c.bits << rc.length) | rc.code, c.length + rc.length);
    }
    putCode(0b101, 3);
}

template <bool Natural = false, class Writer>
inline void WriteBlock(Writer& w, int d, const int16_t* levels, uint64_t mask) {
    WriteBlock<Natural>(w, BlockCodeTables{}, d, levels, mask);
}

// The number of bits WriteBlock writes for the same block (levels by scan
// position), without writing them.
inline int BlockBits(const BlockCodeTables& t, int d, const int16_t* levels, uint64_t mask) {
    mask &= ~uint64_t(1);
    const int s = DcSize(d);
    int bits = kDcSizeCodes[s].length + s + 3;
    int previous = 0;
    while (mask) {
        const int i = __builtin_ctzll(mask);
        mask &= mask - 1;
        const int run = i - previous - 1;
        previous = i;
        bits += int(t.levels[(run ? 2 * kMaxLevel + 1 : 0) + levels[i]].length) + t.runs[run].length;
    }
    return bits;
}

}  // namespace rk
