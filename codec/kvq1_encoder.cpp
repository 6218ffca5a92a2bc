// The KVQ1 frame encoder: transform once, search the quantiser on a sample of
// macroblocks, then code the frame, one quantiser higher each time it does not
// fit.
#include "codec/kvq1_encoder.h"

#include <cstring>

#include "codec/block_coder.h"
#include "codec/kvq1_tables.h"

namespace rk {

KVQ1Encoder::KVQ1Encoder(int sizeClass, int budgetSectors_, int frameRateCode_)
    : geometry(KVQ1GeometryFor(sizeClass)), frameRateCode(frameRateCode_), budgetSectors(budgetSectors_) {
    // The header holds the budget in 16 bits; anything else makes an encoder that encodes nothing.
    budgetBytes = (budgetSectors > 0 && budgetSectors <= 0xFFFF) ? budgetSectors * 512 : 0;
    if (geometry.Valid()) {
        const size_t macroblocks = size_t(geometry.rows) * size_t(geometry.columns);
        coefficients.reset(new int16_t[macroblocks * 6 * 64]);
        transformedIn.reset(new uint32_t[macroblocks]());
    }
}

KVQ1Encoder::~KVQ1Encoder() = default;

bool KVQ1Encoder::UseKernels(TransformVariant variant) {
    const TransformKernels* k = KernelsFor(variant);
    if (!k) return false;
    kernels = k;
    return true;
}

void KVQ1Encoder::TransformMacroblock(int macroblock) {
    const int w = geometry.width, cw = w / 2;
    const int r = macroblock / geometry.columns, m = macroblock % geometry.columns;
    const ForwardPixelsPairFn forward = kernels->forwardPixelsPair;
    int16_t* out = coefficients.get() + size_t(macroblock) * 6 * 64;
    const uint8_t* y0 = planes[0] + size_t(r) * 16 * w + m * 16;
    const uint8_t* b0 = planes[1] + size_t(r) * 8 * cw + m * 8;
    const uint8_t* c0 = planes[2] + size_t(r) * 8 * cw + m * 8;
    // The final pass goes along each row: at every fourth macroblock, ask
    // for the cache lines of the next four (64 bytes of each luma line, 32
    // of each chroma line), so that their rows arrive while these are
    // transformed instead of stalling each load. A hint only: nothing read
    // or written changes.
    if ((m & 3) == 0 && m + 4 < geometry.columns) {
        for (int k = 0; k < 16; ++k) __builtin_prefetch(y0 + 64 + size_t(k) * w);
        for (int k = 0; k < 8; ++k) {
            __builtin_prefetch(b0 + 32 + size_t(k) * cw);
            __builtin_prefetch(c0 + 32 + size_t(k) * cw);
        }
    }
    // Blocks in pairs: the upper luma two, Cb with Cr, the lower luma two.
    forward(y0, y0 + 8, w, out);
    forward(b0, c0, cw, out + 128);
    forward(y0 + 8 * w, y0 + 8 * w + 8, w, out + 256);
    transformedIn[macroblock] = epoch;
}

inline const int16_t* KVQ1Encoder::Coefficients(int macroblock) {
    if (transformedIn[macroblock] != epoch) TransformMacroblock(macroblock);
    return coefficients.get() + size_t(macroblock) * 6 * 64;
}

void KVQ1Encoder::SetMultipliers() {
    for (int i = 0; i < 64; ++i) {
        // The coefficient store is in natural order (8 v + u).
        multipliers[0][i] = QuantiseMultiplier(kLumaWeights[kZigzagInverse[i]] * quantiser);
        multipliers[1][i] = QuantiseMultiplier(kChromaWeights[kZigzagInverse[i]] * quantiser);
    }
}

inline void KVQ1Encoder::QuantiseMacroblock(int macroblock, MacroblockLevels& out) {
    const int16_t* mb = Coefficients(macroblock);
    for (int b = 0; b < 6; ++b) {
        const int16_t* coef = mb + b * 64;
        const int c = kKVQ1BlockPlane[b];
        out.dc[b] = coef[0] - dcPredictor[c];
        dcPredictor[c] = coef[0];
        out.mask[b] = kernels->quantiseToScan(coef, multipliers[c == 0 ? 0 : 1], out.levels[b]);
    }
}

template <class Writer>
void KVQ1Encoder::CodeMacroblock(Writer& w, int macroblock) {
    MacroblockLevels q;
    QuantiseMacroblock(macroblock, q);
    // A local copy, which no store through the writer can reach: the
    // compiler keeps the pointers in registers.
    const BlockCodeTables tables = codeTables;
    if (w.HasRoomFor(kMaxMacroblockBits)) {
        // Away from the end of the budget no symbol can overflow: the
        // macroblock is coded without the writer's test of every symbol,
        // through a copy that the compiler keeps in registers.
        Writer local = w;
        local.Put(uint32_t(quantiser - 1), 6);
        for (int b = 0; b < 6; ++b) WriteBlock<false, true>(local, tables, q.dc[b], q.levels[b], q.mask[b]);
        w = local;
    } else {
        w.WriteBits(uint32_t(quantiser - 1), 6);
        for (int b = 0; b < 6; ++b) WriteBlock<false, false>(w, tables, q.dc[b], q.levels[b], q.mask[b]);
    }
}

int KVQ1Encoder::MacroblockBits(int macroblock) {
    MacroblockLevels q;
    QuantiseMacroblock(macroblock, q);
    int bits = 6;
    for (int b = 0; b < 6; ++b) bits += BlockBits(codeTables, q.dc[b], q.levels[b], q.mask[b]);
    return bits;
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

bool KVQ1Encoder::CountTrial() {
    // CodeTrial with the bits counted: a writer over the whole budget
    // overflows at the macroblock that brings its count to 8 x budgetBytes,
    // and counts 0 from then on (so the sample passes); the later
    // macroblocks still move the predictors on.
    const int total = geometry.rows * geometry.columns;
    const int64_t budgetBits = (int64_t(budgetBytes) * 8) / geometry.rows;
    const int64_t capacityBits = int64_t(budgetBytes) * 8;
    int64_t bits = 0;
    bool overflow = false;
    int k = 0;
    for (int i = 0; i < geometry.columns; ++i) {
        const int b = MacroblockBits(k);
        k = (k + 1291) % total;
        if (overflow) continue;
        bits += b;
        if (bits >= capacityBits) overflow = true;
        else if (bits > budgetBits) return false;
    }
    return true;
}

void KVQ1Encoder::WriteHeader(uint32_t frameNumber, uint8_t* frame) const {
    std::memset(frame, 0, kKVQ1HeaderBytes);
    std::memcpy(frame, kKVQ1Magic, 4);
    frame[4] = uint8_t(geometry.sizeClass);
    frame[5] = uint8_t(frameRateCode);
    WriteBE16(frame + 6, uint32_t(budgetSectors));
    WriteBE32(frame + 8, frameNumber);
}

void KVQ1Encoder::SetRowEndPredictors(int row) {
    const int16_t* last = Coefficients((row + 1) * geometry.columns - 1);
    dcPredictor[0] = last[5 * 64];
    dcPredictor[1] = last[2 * 64];
    dcPredictor[2] = last[3 * 64];
}

template <class Writer>
bool KVQ1Encoder::CodeRow(uint8_t* frame, int& used, int row) {
    uint8_t* header = frame + used;
    std::memset(header, 0, kKVQ1SliceHeaderBytes);
    used += kKVQ1SliceHeaderBytes;
    Writer w(frame + used, budgetBytes - used);
    if (quantiser < kKVQ1EmptyQuantiser) {
        dcPredictor[0] = dcPredictor[1] = dcPredictor[2] = 0;
        const int begin = row * geometry.columns, end = begin + geometry.columns;
        for (int m = begin; m < end && !w.Overflowed(); ++m) CodeMacroblock(w, m);
        if (w.Overflowed()) {
            // The rest of the row would only move the predictors on; leave
            // them as coding the whole row would have.
            SetRowEndPredictors(row);
            return false;
        }
        w.PadToWord();
        if (w.Overflowed()) return false;
    }
    const int data = w.TotalBits() / 8;
    header[0] = uint8_t(row);
    WriteBE16(header + 2, uint32_t(data / 4 + 1));
    used += data;
    return true;
}

template <class Writer>
int KVQ1Encoder::CodeFrame(uint32_t frameNumber, uint8_t* output) {
    passes = 0;
    for (;;) {
        ++passes;
        WriteHeader(frameNumber, output);
        SetMultipliers();
        int used = kKVQ1HeaderBytes;
        bool fits = true;
        for (int r = 0; r < geometry.rows && fits; ++r) fits = CodeRow<Writer>(output, used, r);
        if (fits) return used;
        ++quantiser;
    }
}

int KVQ1Encoder::Encode(uint32_t frameNumber, const uint8_t* luma, const uint8_t* cb, const uint8_t* cr,
                        uint8_t* output) {
    // budgetBytes is 0 when the budget does not fit the header's 16 bits.
    if (!geometry.Valid() || budgetBytes < kKVQ1HeaderBytes + kKVQ1SliceHeaderBytes * geometry.rows + 4) return 0;
    InitTransforms();
    if (!kernels) kernels = &ActiveKernels();

    // Every macroblock is transformed once per frame, when first needed.
    planes[0] = luma;
    planes[1] = cb;
    planes[2] = cr;
    if (++epoch == 0) {
        std::memset(transformedIn.get(), 0, sizeof(uint32_t) * size_t(geometry.rows) * size_t(geometry.columns));
        epoch = 1;
    }

    // Bisection over a sample of one row's worth of macroblocks.
    quantiser = 1;
    int lo = 1, hi = kKVQ1MaxQuantiser;
    while (lo != hi) {
        SetMultipliers();
        const bool ok = referenceWriter ? CodeTrial<CReferenceWriter>(output) : CountTrial();
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
