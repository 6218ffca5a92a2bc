#pragma once
// KVQ1Decoder: one KVQ1 frame back to planar 8-bit 4:2:0 samples, bit-exact
// with every other decoder of the format. Holds no heap memory; one instance
// per thread, for any number of frames of either size class.
#include <cstddef>
#include <cstdint>

#include "codec/kvq1_format.h"
#include "codec/transforms.h"

namespace rk {

enum class KVQ1DecodeError : int {
    None = 0,
    TooShort,        // fewer than 32 bytes, or a slice header beyond `size`
    BadMagic,        // not "KVQ1": outputs untouched
    BadSizeClass,    // not 1 or 2: outputs untouched
    SliceMismatch,   // a slice number differs from its row: rows before it written
    BadBlock,        // a coefficient beyond position 63 or data ending inside a block
};

class KVQ1Decoder {
public:
    KVQ1Decoder() = default;
    virtual ~KVQ1Decoder() = default;

    // Decodes the frame at `frame`, reading nothing beyond `size` bytes from
    // it (callers pass the slot size minus 12288, the frame budget). Output
    // planes: luma width x codedHeight (stride width), Cb and Cr width/2 x
    // codedHeight/2 (stride width/2): 1920 x 1088 and 960 x 544 for size
    // class 1, 3840 x 2160 and 1920 x 1080 for size class 2. Size class 1
    // writes the filler lines too, so reserve the coded height. Rows of empty
    // slices keep what they held. True when every slice decoded.
    bool Decode(const uint8_t* frame, size_t size, uint8_t* luma, uint8_t* cb, uint8_t* cr);

    // Geometry of the last frame whose header was accepted.
    const KVQ1Geometry& Geometry() const { return geometry; }
    KVQ1DecodeError LastError() const { return lastError; }
    int FailedRow() const { return failedRow; }  // -1 when none

    // Tests and benchmarks: use another variant's kernels (false when the
    // processor cannot run it). Every variant gives the same samples.
    bool UseKernels(TransformVariant variant);

private:
    bool DecodeSlice(const uint8_t* data, size_t bytes, uint8_t* luma, uint8_t* cb, uint8_t* cr);

    KVQ1Geometry geometry;
    const TransformKernels* kernels = nullptr;
    KVQ1DecodeError lastError = KVQ1DecodeError::None;
    int failedRow = -1;
};

}  // namespace rk
