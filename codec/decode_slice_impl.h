#pragma once
// The slice decoder, compiled once per kernel variant (each transforms_*.cpp
// includes this inside its own flags) so that adding basis images is inlined
// and, with AVX, a block's accumulator stays in registers. Everything here
// has internal linkage: no variant's code can stand in for another's.
#include <bit>
#include <cstddef>
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

    // True when at least n (1 to 32) bits can be peeked.
    inline bool Need(int n) {
        if (avail >= n) return true;
        Fill();
        return avail >= n;
    }
    // Tops the window up to 56 bits or more while eight more bytes lie in
    // the data, with one load and no test of how many bits it held (the
    // bits the load brings beyond the whole bytes taken are the data's next
    // bits, so OR-ing them in again later changes nothing); byte by byte
    // near the end.
    inline void Fill() {
        if (bytePos + 8 <= bytes) [[likely]] {
            uint64_t v;
            std::memcpy(&v, data + bytePos, 8);
            v = __builtin_bswap64(v);
            window |= v >> avail;
            bytePos += size_t((63 - avail) >> 3);
            avail |= 56;
        } else {
            FillTail();
        }
    }
    inline int Available() const { return avail; }
    inline uint32_t Peek(int n) const { return uint32_t(window >> (64 - n)); }
    inline void Skip(int n) {
        window <<= n;
        avail -= n;
    }

private:
    void FillTail() {
        while (avail <= 56 && bytePos < bytes) {
            window |= uint64_t(data[bytePos++]) << (56 - avail);
            avail += 8;
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
    static void Add(Acc& a, const float*, int position, int value) { AddImage(a.v, position, value); }
    using Block = Acc;  // a decoded block until its macroblock is whole
    static void Save(const Acc& a, Block& out) { out = a; }
    static void StoreBlock(const Block& b, uint8_t* dst, int stride) { Store(b.v, dst, stride); }
};

// The coefficient entry read as one little-endian word: length, magnitude,
// sign, advance from the low byte up.
static_assert(sizeof(CoefficientDecodeEntry) == 4 && offsetof(CoefficientDecodeEntry, length) == 0 &&
              offsetof(CoefficientDecodeEntry, magnitude) == 1 && offsetof(CoefficientDecodeEntry, sign) == 2 &&
              offsetof(CoefficientDecodeEntry, advance) == 3 && std::endian::native == std::endian::little);

// What a coefficient's bits say, read either way.
struct Coefficient {
    int magnitude;
    int sign;     // 0 or -1
    int advance;  // run + 1, or kEndOfBlockAdvance

    // From a coefficient table entry taken as one word: length, magnitude,
    // sign and advance from the low byte up.
    static Coefficient FromEntry(uint32_t e) { return {int((e >> 8) & 0xFF), int(int8_t(e >> 16)), int(e >> 24)}; }
};

// The peek tables a slice reads, fetched once: their accessors live in
// another file, so every use would otherwise be a call (and, around a call,
// the vector registers' upper halves cleared and the reader's registers
// saved).
struct DecodeTables {
    const CoefficientDecodeEntry* coefficient = CoefficientDecode();
    const CoefficientDecodeEntry* longCoefficient = LongCoefficientDecode();
    const DcDifferenceEntry* dcDifference = DcDifferenceDecode();
    const DcDecodeEntry* dc6 = DcDecode6();
    const AcDecodeEntry* ac8 = AcDecode8();
    const AcDecodeEntry* ac16 = AcDecode16();
    const RunDecodeEntry* run7 = RunDecode7();
    const RunDecodeEntry* run10 = RunDecode10();
    const float* basis = &g_tables.basis[0][0];
};

// One coefficient read piece by piece (AC code, sign, escape bits, run
// code). Checked, each piece is tested for its bits: the road of the last
// bits of a slice, false when the data ends. Unchecked, the caller has made
// sure of 32 bits (a coefficient takes at most 31), so no piece can run
// out: the road of the codes longer than the one-look-up table's peek, on
// the reader itself. Every bit pattern begins an AC code and a run code (the
// codes fill their code spaces), so an unchecked read always gives a
// coefficient.
template <bool Checked>
[[gnu::always_inline]] inline bool ReadCoefficientPieces(CSliceReader& r, const DecodeTables& t, Coefficient& out) {
    const auto need = [&r](int n) { return !Checked || r.Need(n); };
    if (!need(8)) return false;
    AcDecodeEntry e = t.ac8[r.Peek(8)];
    if (e.symbol == kAcLongPrefix) {
        if (!need(16)) return false;
        e = t.ac16[r.Peek(16) & 0x7FF];
        if (Checked && e.length == 0) return false;
    }
    r.Skip(e.length);
    if (e.symbol == kAcEndOfBlock) {
        out = Coefficient{0, 0, kEndOfBlockAdvance};
        return true;
    }
    if (!need(1)) return false;
    out.sign = -int(r.Peek(1));
    r.Skip(1);
    out.magnitude = (e.symbol & 63) + 1;
    if (e.symbol & 64) {
        if (!need(4)) return false;
        out.magnitude += 64 * int(r.Peek(4));
        r.Skip(4);
    }
    out.advance = 1;
    if (e.symbol & 128) {
        if (!need(7)) return false;
        RunDecodeEntry re = t.run7[r.Peek(7)];
        if (re.run == 0) {
            if (!need(10)) return false;
            re = t.run10[r.Peek(10) & 0x3F];
        }
        r.Skip(re.length);
        out.advance += re.run;
    }
    return true;
}

// A DC difference piece by piece (size code, then its value bits).
[[gnu::always_inline]] inline bool ReadDcDifferencePieces(CSliceReader& r, const DecodeTables& t, int& d) {
    if (!r.Need(6)) return false;
    const DcDecodeEntry dce = t.dc6[r.Peek(6)];
    r.Skip(dce.length);
    d = 0;
    if (dce.size > 0) {
        const int s = dce.size;
        if (!r.Need(s)) return false;
        const int v = int(r.Peek(s));
        r.Skip(s);
        d = v >= (1 << (s - 1)) ? v : v - (1 << s) + 1;
    }
    return true;
}

// A level's magnitude at each scan position is (step x level + bias) / 32,
// step being quantiser x weight.
struct Dequantiser {
    int32_t step, bias;
};

// The coefficient c at the position whose basis image lies `at` bytes into
// the images: byte offsets, so that each address is one addition.
template <class K>
[[gnu::always_inline]] inline void AddCoefficient(typename K::Acc& acc, const DecodeTables& tables,
                                                  const Dequantiser* dequantisers, int at, const Coefficient& c) {
    Dequantiser dq;
    static_assert(sizeof(Dequantiser) == 8);
    std::memcpy(&dq, reinterpret_cast<const char*>(dequantisers) + (at >> 5), sizeof dq);
    const int magnitude = (dq.step * c.magnitude + dq.bias) >> 5;
    K::Add(acc, reinterpret_cast<const float*>(reinterpret_cast<const char*>(tables.basis) + at), at >> 8,
           (magnitude ^ c.sign) - c.sign);
}

// One block into acc: the DC difference (added to the plane's predictor)
// and the coefficients up to the end of block. False when the block fails.
//
// A coefficient takes at most 31 bits (a 16-bit code, the sign, 4 escape
// bits, a 10-bit run code) and a DC difference 17, so with 32 bits in the
// window the 16-bit table, or else the unchecked pieces road, reads a code
// longer than the peek without testing each piece; with fewer (the end of the slice) the checked pieces
// road does, so a slice fails at the same place either way. A coefficient
// table entry needs only its own bits, all within the peek, so it is taken
// whenever the peek's 12 bits are there. The checked road works on a copy of
// the reader, so that the reader never has its address taken and stays in
// registers.
template <class K>
[[gnu::always_inline]] inline bool DecodeBlock(CSliceReader& r, const DecodeTables& tables,
                                               const Dequantiser* dequantisers, int32_t& predictor,
                                               typename K::Acc& acc) {
    int d;
    DcDifferenceEntry de{};
    // The peek is taken before the fill, which only adds bits below the
    // window's valid ones: the look-up need not wait for the fill, so after
    // an end of block the next block's chain starts one step sooner. With
    // fewer than the peek's bits before the fill, the pieces road reads the
    // difference instead, to the same effect.
    const bool dcPeeked = r.Available() >= kDcPeekBits;
    const DcDifferenceEntry* dcEntry = &tables.dcDifference[r.Peek(kDcPeekBits)];
    r.Fill();
    if (dcPeeked && (de = *dcEntry).length != 0) [[likely]] {
        r.Skip(de.length);
        d = de.difference;
    } else {
        CSliceReader slow = r;
        if (!ReadDcDifferencePieces(slow, tables, d)) return false;
        r = slow;
        r.Fill();
    }
    predictor += d;
    // 128 plus the DC times basis image 0, whose 64 elements are all the
    // same value: the sum AddBasisImage would give, in one go.
    K::Fill(acc, 128.0f + float(predictor) * g_tables.basis[0][0]);

    const CoefficientDecodeEntry* table = tables.coefficient;
    // The position of the previous coefficient times 256, the byte offset of
    // its basis image: the image's address needs no step of its own.
    int at = 0;
    // A look-up takes at most 12 bits; the window is filled (to 56 bits or
    // more) before the last look-up of each four. The DC difference above
    // took at most 12 bits of a full window, so the block's first three
    // look-ups need no fill of their own, and its first look-up waits for
    // one fill, not two (after a mispredicted end of block, the next
    // block's chain starts from nothing). The long roads fill before and
    // after themselves: the 16-bit table and the unchecked pieces want 32
    // bits, else the checked pieces. A window short of the peek's bits only
    // sends a look-up down the long roads, which read the same coefficient,
    // so where the fills fall never changes what is read.
    for (;;) {
#pragma GCC unroll 4
        for (int k = 0; k < 4; ++k) {
            // Peeked before the fill, as the DC difference is, so that the
            // fill is not a link of the look-up chain. Four look-ups since
            // the last fill may have left fewer than 12 bits (more than 44
            // taken, which few runs of four do): the long roads then read
            // the coefficient.
            const bool peeked = r.Available() >= kCoefficientPeekBits;
            const CoefficientDecodeEntry* entry = &table[r.Peek(kCoefficientPeekBits)];
            if (k == 3) r.Fill();
            Coefficient c;
            // The entry as one word, its length in the low byte.
            uint32_t e = 0;
            if (peeked) [[likely]]
                std::memcpy(&e, entry, sizeof e);
            if ((e & 0xFF) != 0) [[likely]] {
                r.Skip(int(e & 63));
                c = Coefficient::FromEntry(e);
            } else {
                r.Fill();
                if (r.Available() >= 32) {
                    // Most longer coefficients are within 16 bits: one more
                    // look-up (an entry's 16 neighbours by the last four bits
                    // share a cache line) instead of the pieces.
                    uint32_t l;
                    std::memcpy(&l, &tables.longCoefficient[r.Peek(kLongCoefficientPeekBits)], sizeof l);
                    if ((l & 0xFF) != 0) [[likely]] {
                        r.Skip(int(l & 63));
                        c = Coefficient::FromEntry(l);
                    } else if (const int before = int(e >> 24); before != 0) {
                        // The level known, its run code after it.
                        r.Skip(before);
                        RunDecodeEntry re = tables.run7[r.Peek(7)];
                        if (re.run == 0) re = tables.run10[r.Peek(10) & 0x3F];
                        r.Skip(re.length);
                        c = Coefficient{int((e >> 8) & 0xFF), int(int8_t(e >> 16)), 1 + re.run};
                    } else {
                        ReadCoefficientPieces<false>(r, tables, c);
                    }
                } else {
                    CSliceReader slow = r;
                    if (!ReadCoefficientPieces<true>(slow, tables, c)) return false;
                    r = slow;
                }
                r.Fill();
            }
            // The end of block, alone or after the block's last coefficient
            // (advance kEndOfBlockAdvance + run + 1, which saves the block's
            // last look-up): told by the entry's top bit, so that the branch
            // no predictor knows is decided as soon as the entry is there.
            if (c.advance >= kEndOfBlockAdvance) [[unlikely]] {
                if (c.magnitude == 0) return true;
                at += (c.advance - kEndOfBlockAdvance) << 8;
                if (at > 63 << 8) return false;
                AddCoefficient<K>(acc, tables, dequantisers, at, c);
                return true;
            }
            at += c.advance << 8;
            if (at > 63 << 8) [[unlikely]] return false;  // a run past the block's end
            AddCoefficient<K>(acc, tables, dequantisers, at, c);
        }
    }
}

// K provides: struct Acc; Fill(Acc&, float); Add(Acc&, basis image,
// position, value);
// struct Block; Save(const Acc&, Block&); and StoreBlock(const Block&, dst,
// stride).
template <class K>
bool DecodeSliceWith(const SliceJob& job) {
    CSliceReader r(job.data, job.bytes);
    const DecodeTables tables;
    const int w = job.width, cw = w / 2;
    int32_t predictorY = 0, predictorCb = 0, predictorCr = 0;
    uint8_t* lumaOut = job.luma;
    uint8_t* cbOut = job.cb;
    uint8_t* crOut = job.cr;
    typename K::Block blocks[6];
    // The pairs of the last quantiser seen, luma then chroma (the encoder
    // gives most macroblocks of a frame the same quantiser).
    alignas(64) Dequantiser dequantiser[2][64];
    int tableQuantiser = 0;

    for (int m = 0; m < job.columns; ++m) {
        if (!r.Need(6)) return false;
        const int quantiser = int(r.Peek(6)) + 1;
        r.Skip(6);
        if (quantiser != tableQuantiser) {
            tableQuantiser = quantiser;
            for (int plane = 0; plane < 2; ++plane)
                for (int p = 0; p < 64; ++p) {
                    const int weight = (plane == 0 ? kLumaWeights : kChromaWeights)[p];
                    const int step = quantiser * weight;
                    dequantiser[plane][p] = Dequantiser{step, step / 2 + (weight != 32 ? 16 : 0)};
                }
        }
        // At every fourth macroblock, the cache lines the next four will
        // write (64 bytes of each luma line, 32 of each chroma line) are
        // asked for ahead, so that the block stores do not wait for them.
        if ((m & 3) == 0 && m + 4 < job.columns) {
            for (int k = 0; k < 16; ++k) __builtin_prefetch(lumaOut + 64 + size_t(k) * w, 1);
            for (int k = 0; k < 8; ++k) {
                __builtin_prefetch(cbOut + 32 + size_t(k) * cw, 1);
                __builtin_prefetch(crOut + 32 + size_t(k) * cw, 1);
            }
        }
        // Blocks in stream order: two upper luma, Cb, Cr, two lower luma.
        // Each block has its own copy of the decoding steps, so that each
        // has its own branches: where a block ends is data no predictor can
        // know, but how long a luma block runs against a chroma one, or the
        // first against the second, it partly learns.
        int32_t* predictors[6] = {&predictorY, &predictorY, &predictorCb, &predictorCr, &predictorY, &predictorY};
#pragma GCC unroll 6
        for (int b = 0; b < 6; ++b) {
            typename K::Acc acc;
            if (!DecodeBlock<K>(r, tables, dequantiser[kKVQ1BlockPlane[b] == 0 ? 0 : 1], *predictors[b], acc))
                return false;
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
