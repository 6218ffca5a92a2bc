// The KVQ1 frame decoder. Samples are rebuilt by adding one basis image per
// nonzero coefficient, in bitstream order, in single precision.
#include "codec/kvq1_decoder.h"

#include <cstring>

namespace rk {

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
    SliceJob job{data, bytes, lumaOut, cbOut, crOut, geometry.width, geometry.columns};
    return kernels->decodeSlice(job);
}

}  // namespace rk
