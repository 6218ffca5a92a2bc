// The KVQ1 frame encoder: transform once, search the quantiser on a sample of
// macroblocks, then code the frame, one quantiser higher each time it does not
// fit.
#include "codec/kvq1_encoder.h"

#include <cstring>

#include "codec/bitstream.h"
#include "codec/kvq1_tables.h"

namespace rk {

namespace {

// The writer of the coding passes: the same bits, overflow rule and bit count
// as CBitstream, but it gathers up to 32 bits before storing them as one word
// and takes whole symbols (up to 32 bits) in one call.
//
// CBitstream refuses the byte that would bring its stored count up to the
// capacity, which happens exactly when the bits accepted reach 8 x capacity;
// this writer applies the same test to every call, so Overflowed() and
// TotalBits() agree with CBitstream after every call. Only complete bytes
// below the capacity are ever stored.
class CWordWriter {
public:
    CWordWriter(uint8_t* buffer, int capacityBytes)
        : out(buffer), capacityBits(capacityBytes > 0 ? int64_t(capacityBytes) * 8 : 0) {}

    inline void WriteBits(uint32_t value, int count) {
        if (overflow) return;
        total += count;
        if (total >= capacityBits) {
            overflow = true;
            total = 0;
            pending = 0;
            return;
        }
        acc = (acc << count) | (uint64_t(value) & ((uint64_t(1) << count) - 1));
        pending += count;
        if (pending >= 32) {
            pending -= 32;
            const uint32_t word = uint32_t(acc >> pending);
            out[0] = uint8_t(word >> 24);
            out[1] = uint8_t(word >> 16);
            out[2] = uint8_t(word >> 8);
            out[3] = uint8_t(word);
            out += 4;
        }
    }
    int TotalBits() const { return int(total); }
    bool Overflowed() const { return overflow; }
    // Pads with zero bits to the next multiple of 32 bits (a whole word).
    void PadToWord() {
        if (overflow) return;
        if (total % 8) WriteBits(0, int(8 - total % 8));
        while (!overflow && total % 32) WriteBits(0, 8);
    }
    static constexpr int kMaxBits = 32;

private:
    uint8_t* out;
    uint64_t acc = 0;
    int pending = 0;
    int64_t total = 0;
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
    int TotalBits() const { return bs.TotalBits(); }
    bool Overflowed() const { return bs.Overflowed(); }
    void PadToWord() {
        if (bs.PendingBits() > 0) bs.WriteBits(0, 8 - bs.PendingBits());
        while (bs.TotalBits() % 32 != 0) bs.WriteBits(0, 8);
    }

private:
    CBitstream bs;
};

constexpr int kBlockComponent[6] = {0, 0, 1, 2, 0, 0};

inline int SignificantBits(uint32_t v) { return v == 0 ? 0 : 32 - __builtin_clz(v); }

}  // namespace

KVQ1Encoder::KVQ1Encoder(int sizeClass, int budgetSectors_, int frameRateCode_)
    : geometry(KVQ1GeometryFor(sizeClass)), frameRateCode(frameRateCode_), budgetSectors(budgetSectors_) {
    budgetBytes = budgetSectors * 512;
    if (geometry.Valid())
        coefficients.reset(new int32_t[size_t(geometry.rows) * size_t(geometry.columns) * 6 * 64]);
}

KVQ1Encoder::~KVQ1Encoder() = default;

bool KVQ1Encoder::UseKernels(TransformVariant variant) {
    const TransformKernels* k = KernelsFor(variant);
    if (!k) return false;
    kernels = k;
    return true;
}

void KVQ1Encoder::Transform(const uint8_t* luma, const uint8_t* cb, const uint8_t* cr) {
    const int w = geometry.width, cw = w / 2;
    const ForwardPixelsFn forward = kernels->forwardPixels;
    int32_t* out = coefficients.get();
    for (int r = 0; r < geometry.rows; ++r) {
        const uint8_t* y0 = luma + size_t(r) * 16 * w;
        const uint8_t* b0 = cb + size_t(r) * 8 * cw;
        const uint8_t* c0 = cr + size_t(r) * 8 * cw;
        for (int m = 0; m < geometry.columns; ++m, out += 6 * 64) {
            forward(y0 + m * 16, w, out);
            forward(y0 + m * 16 + 8, w, out + 64);
            forward(b0 + m * 8, cw, out + 128);
            forward(c0 + m * 8, cw, out + 192);
            forward(y0 + 8 * w + m * 16, w, out + 256);
            forward(y0 + 8 * w + m * 16 + 8, w, out + 320);
        }
    }
}

void KVQ1Encoder::SetDivisors() {
    for (int i = 0; i < 64; ++i) {
        divisors[0][i] = float(kLumaWeights[i] * quantiser);
        divisors[1][i] = float(kChromaWeights[i] * quantiser);
    }
}

template <class Writer>
void KVQ1Encoder::CodeMacroblock(Writer& w, int macroblock) {
    w.WriteBits(uint32_t(quantiser - 1), 6);
    const int32_t* mb = coefficients.get() + size_t(macroblock) * 6 * 64;
    const VlcCode* acCodes = AcCodes();
    const VlcCode* runCodes = RunCodes();
    alignas(32) int16_t levels[64];
    for (int b = 0; b < 6; ++b) {
        const int32_t* coef = mb + b * 64;
        const int c = kBlockComponent[b];
        const int d = coef[0] - dcPredictor[c];
        dcPredictor[c] = coef[0];
        uint64_t mask = kernels->quantise(coef, divisors[c == 0 ? 0 : 1], levels) & ~uint64_t(1);

        const int s = SignificantBits(uint32_t(d < 0 ? -d : d));
        const VlcCode dcCode = kDcSizeCodes[s];
        const uint32_t dcBits = uint32_t(d >= 0 ? d : d + (1 << s) - 1) & ((1u << s) - 1u);
        w.WriteBits((uint32_t(dcCode.code) << s) | dcBits, dcCode.length + s);

        int previous = 0;
        while (mask) {
            const int i = __builtin_ctzll(mask);
            mask &= mask - 1;
            const int run = i - previous - 1;
            previous = i;
            const int level = levels[i];
            const int a = level < 0 ? -level : level;
            int base = a, n = 0;
            if (a > 64) {
                n = (a - 1) >> 6;
                base = a - 64 * n;
            }
            const VlcCode code = acCodes[AcSymbol(base, n > 0, run > 0)];
            uint32_t bits = (uint32_t(code.code) << 1) | (level < 0 ? 1u : 0u);
            int length = code.length + 1;
            if (n > 0) {
                bits = (bits << 4) | uint32_t(n);
                length += 4;
            }
            if (run > 0) {
                const VlcCode rc = runCodes[run];
                bits = (bits << rc.length) | rc.code;
                length += rc.length;
            }
            w.WriteBits(bits, length);
        }
        w.WriteBits(0b101, 3);
    }
}

template <class Writer>
bool KVQ1Encoder::CodeTrial(uint8_t* output) {
    const int total = geometry.rows * geometry.columns;
    const int budgetBits = int((int64_t(budgetBytes) * 8) / geometry.rows);
    Writer w(output, budgetBytes);
    int k = 0;
    for (int i = 0; i < geometry.columns; ++i) {
        CodeMacroblock(w, k);
        k = (k + 1291) % total;
        if (w.TotalBits() > budgetBits) return false;
    }
    return true;
}

template <class Writer>
int KVQ1Encoder::CodeFrame(uint32_t frameNumber, uint8_t* output) {
    for (;;) {
        std::memset(output, 0, kKVQ1HeaderBytes);
        std::memcpy(output, kKVQ1Magic, 4);
        output[4] = uint8_t(geometry.sizeClass);
        output[5] = uint8_t(frameRateCode);
        WriteBE16(output + 6, uint32_t(budgetSectors));
        WriteBE32(output + 8, frameNumber);
        int used = kKVQ1HeaderBytes;
        bool fits = true;
        int macroblock = 0;
        SetDivisors();
        for (int r = 0; r < geometry.rows && fits; ++r) {
            uint8_t* header = output + used;
            std::memset(header, 0, kKVQ1SliceHeaderBytes);
            used += kKVQ1SliceHeaderBytes;
            Writer w(output + used, budgetBytes - used);
            if (quantiser < kKVQ1EmptyQuantiser) {
                dcPredictor[0] = dcPredictor[1] = dcPredictor[2] = 0;
                const int end = macroblock + geometry.columns;
                for (; macroblock < end; ++macroblock) {
                    CodeMacroblock(w, macroblock);
                    if (w.Overflowed()) break;
                }
                if (w.Overflowed()) {
                    // The rest of the row would only move the predictors on;
                    // leave them as coding the whole row would have.
                    const int32_t* last = coefficients.get() + size_t(end - 1) * 6 * 64;
                    dcPredictor[0] = last[5 * 64];
                    dcPredictor[1] = last[2 * 64];
                    dcPredictor[2] = last[3 * 64];
                    macroblock = end;
                } else {
                    w.PadToWord();
                }
            }
            if (w.Overflowed()) {
                fits = false;
                break;
            }
            const int data = w.TotalBits() / 8;
            header[0] = uint8_t(r);
            header[1] = 0;
            WriteBE16(header + 2, uint32_t(data / 4 + 1));
            used += data;
        }
        if (fits) return used;
        ++quantiser;
    }
}

int KVQ1Encoder::Encode(uint32_t frameNumber, const uint8_t* luma, const uint8_t* cb, const uint8_t* cr,
                        uint8_t* output) {
    if (!geometry.Valid() || budgetSectors <= 0 || budgetSectors > 0xFFFF ||
        budgetBytes < kKVQ1HeaderBytes + kKVQ1SliceHeaderBytes * geometry.rows + 4)
        return 0;
    InitTransforms();
    if (!kernels) kernels = &ActiveKernels();

    Transform(luma, cb, cr);

    // Bisection over a sample of one row's worth of macroblocks.
    quantiser = 1;
    int lo = 1, hi = kKVQ1MaxQuantiser;
    while (lo != hi) {
        SetDivisors();
        const bool ok = referenceWriter ? CodeTrial<CReferenceWriter>(output) : CodeTrial<CWordWriter>(output);
        if (ok) {
            hi = quantiser;
            quantiser = lo + (quantiser - lo) / 2;
        } else {
            lo = quantiser + 1;
            quantiser = quantiser + (hi - quantiser) / 2;
        }
    }

    const int used = referenceWriter ? CodeFrame<CReferenceWriter>(frameNumber, output)
                                     : CodeFrame<CWordWriter>(frameNumber, output);
    std::memset(output + used, 0, size_t(budgetBytes - used));
    return used;
}

}  // namespace rk
