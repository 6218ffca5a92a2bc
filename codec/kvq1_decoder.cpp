// The KVQ1 frame decoder. Samples are rebuilt by adding one basis image per
// nonzero coefficient, in bitstream order, in single precision.
#include "codec/kvq1_decoder.h"

#include <cstring>

#include "codec/kvq1_tables.h"

namespace rk {

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

constexpr int kBlockComponent[6] = {0, 0, 1, 2, 0, 0};

struct alignas(32) BlockAccumulators {
    float acc[6][64];
};

}  // namespace

bool KVQ1Decoder::UseKernels(TransformVariant variant) {
    const TransformKernels* k = KernelsFor(variant);
    if (!k) return false;
    kernels = k;
    return true;
}

bool KVQ1Decoder::Decode(const uint8_t* frame, size_t size, uint8_t* luma, uint8_t* cb, uint8_t* cr) {
    failedRow = -1;
    if (frame == nullptr || size < size_t(kKVQ1HeaderBytes)) {
        lastError = KVQ1DecodeError::TooShort;
        return false;
    }
    if (std::memcmp(frame, kKVQ1Magic, 4) != 0) {
        lastError = KVQ1DecodeError::BadMagic;
        return false;
    }
    const KVQ1Geometry g = KVQ1GeometryFor(frame[4]);
    if (!g.Valid()) {
        lastError = KVQ1DecodeError::BadSizeClass;
        return false;
    }
    geometry = g;
    InitTransforms();
    if (!kernels) kernels = &ActiveKernels();

    const int w = g.width, cw = w / 2;
    size_t p = kKVQ1HeaderBytes;
    for (int row = 0; row < g.rows; ++row) {
        if (p > size || size - p < size_t(kKVQ1SliceHeaderBytes)) {
            lastError = KVQ1DecodeError::TooShort;
            failedRow = row;
            return false;
        }
        if (frame[p] != row) {
            lastError = KVQ1DecodeError::SliceMismatch;
            failedRow = row;
            return false;
        }
        const size_t length = size_t(ReadBE16(frame + p + 2)) * 4;
        if (length > 4) {
            const size_t start = p + kKVQ1SliceHeaderBytes;
            if (!DecodeSlice(frame + start, size - start, luma + size_t(row) * w * 16,
                             cb + size_t(row) * cw * 8, cr + size_t(row) * cw * 8)) {
                lastError = KVQ1DecodeError::BadBlock;
                failedRow = row;
                return false;
            }
        }
        p += length;
    }
    lastError = KVQ1DecodeError::None;
    return true;
}

bool KVQ1Decoder::DecodeSlice(const uint8_t* data, size_t bytes, uint8_t* lumaOut, uint8_t* cbOut,
                              uint8_t* crOut) {
    CSliceReader r(data, bytes);
    const DcDecodeEntry* dc6 = DcDecode6();
    const AcDecodeEntry* ac8 = AcDecode8();
    const AcDecodeEntry* ac16 = AcDecode16();
    const RunDecodeEntry* run7 = RunDecode7();
    const RunDecodeEntry* run10 = RunDecode10();
    const AddBasisImageFn addBasis = kernels->addBasisImage;
    const StoreBlockFn store = kernels->storeBlock;
    const float dcBasis = BasisImages()[0];
    const int w = geometry.width, cw = w / 2;

    dcPredictor[0] = dcPredictor[1] = dcPredictor[2] = 0;
    BlockAccumulators blocks;

    for (int m = 0; m < geometry.columns; ++m) {
        if (!r.Need(6)) return false;
        quantiser = int(r.Peek(6)) + 1;
        r.Skip(6);
        for (int b = 0; b < 6; ++b) {
            float* acc = blocks.acc[b];
            const int c = kBlockComponent[b];
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
            const float start = 128.0f + float(dcValue) * dcBasis;
            for (int i = 0; i < 64; ++i) acc[i] = start;

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
                addBasis(acc, position, negative ? -magnitude : magnitude);
                ++position;
            }
        }
        // The whole macroblock decoded: only now does it reach the picture.
        store(blocks.acc[0], lumaOut, w);
        store(blocks.acc[1], lumaOut + 8, w);
        store(blocks.acc[2], cbOut, cw);
        store(blocks.acc[3], crOut, cw);
        store(blocks.acc[4], lumaOut + 8 * w, w);
        store(blocks.acc[5], lumaOut + 8 * w + 8, w);
        lumaOut += 16;
        cbOut += 8;
        crOut += 8;
    }
    return true;
}

}  // namespace rk
