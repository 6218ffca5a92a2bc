#pragma once
// CBitstream: the bit writer and reader of the KVQ1 codec on a caller's byte
// buffer. Bits go most significant first; the first bit written becomes bit 7
// of the first byte. It never allocates.
//
// Writer: stores at most capacity - 1 bytes. The byte that would bring the
// stored count up to capacity is refused: the overflow flag is set, TotalBits()
// reads 0 from then on and later writes are ignored. Fewer than 8 pending bits
// are never flushed by the stream; its user pads.
// Reader: may load all capacity bytes. A refill that needs a byte beyond the
// buffer sets the exhausted flag; from then on every peek and read yields 0.
#include <cstdint>

namespace rk {

class CBitstream {
public:
    CBitstream(uint8_t* buffer, int capacityBytes) : cursor(buffer), capacity(capacityBytes) {}
    // Readers over const data (the stream never writes through a reader).
    CBitstream(const uint8_t* buffer, int capacityBytes)
        : cursor(const_cast<uint8_t*>(buffer)), capacity(capacityBytes) {}
    virtual ~CBitstream() = default;

    // ---- writer ----
    // Appends the low `count` bits (0 to 16) of value.
    void WriteBits(uint32_t value, int count) {
        if (overflow) return;
        pendingBits += count;
        totalBits += count;
        accumulator = int32_t((uint32_t(accumulator) << count) | (value & ((1u << count) - 1u)));
        while (pendingBits >= 8) {
            ++byteCount;
            if (byteCount >= capacity) {
                overflow = 1;
                totalBits = 0;
                pendingBits = 0;
                return;
            }
            *cursor++ = uint8_t(uint32_t(accumulator) >> (pendingBits - 8));
            pendingBits -= 8;
        }
    }
    int TotalBits() const { return totalBits; }
    bool Overflowed() const { return overflow != 0; }

    // ---- reader ----
    void EnsureBits(int n) {
        if (exhausted) return;
        while (pendingBits < n) {
            ++byteCount;
            if (byteCount > capacity) {
                exhausted = 1;
                accumulator = 0;
                pendingBits = 0;
                return;
            }
            accumulator = int32_t((uint32_t(accumulator) << 8) | *cursor++);
            pendingBits += 8;
        }
    }
    uint32_t PeekBits(int n) {
        EnsureBits(n);
        if (exhausted) return 0;
        return (uint32_t(accumulator) >> (pendingBits - n)) & ((1u << n) - 1u);
    }
    void SkipBits(int n) {
        if (exhausted) return;
        pendingBits -= n;
        accumulator = int32_t(uint32_t(accumulator) & ((1u << pendingBits) - 1u));
    }
    uint32_t ReadBits(int n) {
        uint32_t v = PeekBits(n);
        SkipBits(n);
        return v;
    }
    bool Exhausted() const { return exhausted != 0; }

    // Bytes stored (writer) or loaded (reader) so far.
    int ByteCount() const { return byteCount; }
    int PendingBits() const { return pendingBits; }

private:
    uint8_t* cursor;
    int32_t accumulator = 0;
    int32_t pendingBits = 0;
    int32_t totalBits = 0;
    int32_t capacity;
    uint8_t overflow = 0;
    uint8_t exhausted = 0;
    int32_t byteCount = 0;
};

}  // namespace rk
