#pragma once
// The slice decoder, compiled once per kernel variant (each transforms_*.cpp
// includes this inside its own flags) so that adding basis images is inlined
// and, with AVX, a block's accumulator stays in registers. Everything here
// has internal linkage: no variant's code can stand in for another's.
#include <cstring>

#include "codec/kvq1_format.h"
#include "codec/kvq1_tables.h"
#include "codec/transforms_internal.h"

namespace rk::detail {
namespace {

// The bit reader of the decoder: the bits CBitstream would give, fetched
// eight bytes at a time. A peek of n bits needs n bits left in the data, as
// CBitstream's refill does; when they are not there the caller fails the
// block at once, which is where CBitstream's zero bits would lead it anyway
// (zero bits never form an end of block). Nothing beyond `bytes` is read.
class CSliceReader {
public:
    CSliceReader(const uint8_t* d, size_t n) : data(d), bytes(n) {}

    // True when at least n (1 to 16) bits can be peeked.
    inline bool Need(int n) {
        if (avail >= n) return true;
        Refill();
        return avail >= n;
    }
    inline uint32_t Peek(int n) const { return uint32_t(window >> (64 - n)); }
    inline void Skip(int n) {
        window <<= n;
        avail -= n;
    }

private:
    void Refill() {
        if (bytePos + 8 <= bytes) {
            uint64_t v;
            std::memcpy(&v, data + bytePos, 8);
            v = __builtin_bswap64(v);
            window |= v >> avail;
            const int take = (63 - avail) >> 3;
            bytePos += size_t(take);
            avail += take * 8;
        } else {
            while (avail <= 56 && bytePos < bytes) {
                window |= uint64_t(data[bytePos++]) << (56 - avail);
                avail += 8;
            }
        }
    }

    const uint8_t* data;
    size_t bytes;
    size_t bytePos = 0;
    uint64_t window = 0;  // the next bits, left-aligned
    int avail = 0;        // valid bits in window
};

// The block accumulator of the variants that keep it in memory: their
// AddBasisImage and StoreBlock kernels work on it as it is.
template <AddBasisImageFn AddImage, StoreBlockFn Store>
struct MemorySlice {
    struct Acc {
        alignas(32) float v[64];
    };
    static void Fill(Acc& a, float value) {
        for (float& f : a.v) f = value;
    }
    static void Add(Acc& a, int position, int value) { AddImage(a.v, position, value); }
    static void Save(const Acc& a, float* out) { std::memcpy(out, a.v, sizeof a.v); }
    static void StoreBlock(const float* acc, uint8_t* dst, int stride) { Store(acc, dst, stride); }
};

// K provides: struct Acc; Fill(Acc&, float); Add(Acc&, position, value);
// Save(const Acc&, float* 64); and StoreBlock(const float*, dst, stride).
template <class K>
bool DecodeSliceWith(const SliceJob& job) {
    CSliceReader r(job.data, job.bytes);
    const DcDecodeEntry* dc6 = DcDecode6();
    const AcDecodeEntry* ac8 = AcDecode8();
    const AcDecodeEntry* ac16 = AcDecode16();
    const RunDecodeEntry* run7 = RunDecode7();
    const RunDecodeEntry* run10 = RunDecode10();
    const int w = job.width, cw = w / 2;
    const float dcBasis = g_tables.basis[0][0];
    int32_t dcPredictor[3] = {0, 0, 0};
    uint8_t* lumaOut = job.luma;
    uint8_t* cbOut = job.cb;
    uint8_t* crOut = job.cr;
    alignas(32) float blocks[6][64];

    for (int m = 0; m < job.columns; ++m) {
        if (!r.Need(6)) return false;
        const int quantiser = int(r.Peek(6)) + 1;
        r.Skip(6);
        for (int b = 0; b < 6; ++b) {
            const int c = kKVQ1BlockPlane[b];
            const uint8_t* weights = c == 0 ? kLumaWeights : kChromaWeights;

            if (!r.Need(6)) return false;
            const DcDecodeEntry dce = dc6[r.Peek(6)];
            r.Skip(dce.length);
            int d = 0;
            if (dce.size > 0) {
                const int s = dce.size;
                if (!r.Need(s)) return false;
                const int v = int(r.Peek(s));
                r.Skip(s);
                d = v >= (1 << (s - 1)) ? v : v - (1 << s) + 1;
            }
            const int dcValue = dcPredictor[c] + d;
            dcPredictor[c] = dcValue;
            // 128 plus the DC times basis image 0, whose 64 elements are all
            // the same value: the sum AddBasisImage would give, in one go.
            typename K::Acc acc;
            K::Fill(acc, 128.0f + float(dcValue) * dcBasis);

            int position = 1;
            for (;;) {
                if (!r.Need(8)) return false;
                AcDecodeEntry e = ac8[r.Peek(8)];
                if (e.symbol == kAcLongPrefix) {
                    if (!r.Need(16)) return false;
                    e = ac16[r.Peek(16) & 0x7FF];
                    if (e.length == 0) return false;
                }
                r.Skip(e.length);
                if (e.symbol == kAcEndOfBlock) break;
                if (position > 63) return false;
                if (!r.Need(1)) return false;
                const bool negative = r.Peek(1) != 0;
                r.Skip(1);
                int level = (e.symbol & 63) + 1;
                if (e.symbol & 64) {
                    if (!r.Need(4)) return false;
                    level += 64 * int(r.Peek(4));
                    r.Skip(4);
                }
                if (e.symbol & 128) {
                    if (!r.Need(7)) return false;
                    RunDecodeEntry re = run7[r.Peek(7)];
                    if (re.run == 0) {
                        if (!r.Need(10)) return false;
                        re = run10[r.Peek(10) & 0x3F];
                    }
                    r.Skip(re.length);
                    position += re.run;
                    if (position > 63) return false;
                }
                const int weight = weights[position];
                const int step = quantiser * weight;
                const int magnitude = (step * level + step / 2 + (weight != 32 ? 16 : 0)) / 32;
                K::Add(acc, position, negative ? -magnitude : magnitude);
                ++position;
            }
            K::Save(acc, blocks[b]);
        }
        // The whole macroblock decoded: only now does it reach the picture.
        K::StoreBlock(blocks[0], lumaOut, w);
        K::StoreBlock(blocks[1], lumaOut + 8, w);
        K::StoreBlock(blocks[2], cbOut, cw);
        K::StoreBlock(blocks[3], crOut, cw);
        K::StoreBlock(blocks[4], lumaOut + 8 * w, w);
        K::StoreBlock(blocks[5], lumaOut + 8 * w + 8, w);
        lumaOut += 16;
        cbOut += 8;
        crOut += 8;
    }
    return true;
}

}  // namespace
}  // namespace rk::detail
