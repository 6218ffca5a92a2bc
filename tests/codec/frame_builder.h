#pragma once
// Hand-made KVQ1 frames for decoder tests: a header, then slices whose data
// the test writes bit by bit.
#include <cstring>
#include <functional>
#include <vector>

#include "codec/block_coder.h"
#include "codec/kvq1_format.h"

namespace rk::test {

// One macroblock of six flat blocks (DC difference 0, no AC) at quantiser q.
inline void FlatMacroblock(CReferenceWriter& w, int q = 1) {
    w.WriteBits(uint32_t(q - 1), 6);
    alignas(32) int16_t levels[64] = {};
    for (int b = 0; b < 6; ++b) WriteBlock(w, 0, levels, 0);
}

class FrameBuilder {
public:
    FrameBuilder(int sizeClass, size_t budget, int rate = 50, uint32_t frameNumber = 0)
        : buf(budget, 0), g(KVQ1GeometryFor(sizeClass)) {
        std::memcpy(buf.data(), "KVQ1", 4);
        buf[4] = uint8_t(sizeClass);
        buf[5] = uint8_t(rate);
        WriteBE16(&buf[6], uint32_t(budget / 512));
        WriteBE32(&buf[8], frameNumber);
        used = 32;
    }
    void EmptySlice(int number) {
        buf[used] = uint8_t(number);
        buf[used + 1] = 0;
        WriteBE16(&buf[used + 2], 1);
        used += 4;
    }
    // A slice whose data `body` writes; padded to whole words.
    void Slice(int number, const std::function<void(CReferenceWriter&)>& body) {
        const size_t header = used;
        used += 4;
        CReferenceWriter w(&buf[used], int(buf.size() - used));
        body(w);
        w.PadToWord();
        const int data = w.TotalBits() / 8;
        buf[header] = uint8_t(number);
        buf[header + 1] = 0;
        WriteBE16(&buf[header + 2], uint32_t(data / 4 + 1));
        used += size_t(data);
    }
    // A slice of flat macroblocks at quantiser 1 across the whole row.
    void FlatSlice(int number) {
        Slice(number, [this](CReferenceWriter& w) {
            for (int m = 0; m < g.columns; ++m) FlatMacroblock(w);
        });
    }
    // Every remaining row empty.
    void EmptyRowsFrom(int row) {
        for (int r = row; r < g.rows; ++r) EmptySlice(r);
    }
    size_t Length() const { return used; }

    std::vector<uint8_t> buf;
    KVQ1Geometry g;
    size_t used = 0;
};

}  // namespace rk::test
