#pragma once
// An RGB picture at the card's frame size made into the frame's 4:2:0
// planes in our own process, sample for sample as the picture process's
// chain for RGB pictures (RgbToFrameSteps) makes them: the same zimg steps
// (BT.709, spline36, no dither), on the same horizontal slices as the tool's
// filter threads cut the picture into, with the same kernels. It spares a
// one-picture conversion the tool's start-up and its pipe.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "convert/plane_memory.h"

namespace rk {

// A frame-sized RGB picture as zimg takes it: R, G and B planes, filled a
// piece of packed RGBA rows at a time (the alpha is dropped), so that a
// picture read from a file needs no packed copy of its own.
class CRgbPlanes {
public:
    // False when width is not a multiple of 128, height is odd, or the
    // memory cannot be had.
    bool Create(int width, int height);
    // `pixels` packed RGBA pixels, the first of them at `firstPixel`.
    void PutRgba(const uint8_t* rgba, size_t firstPixel, size_t pixels);
    // The same, and the alpha of those pixels into `alpha` (one byte each,
    // the first pixel's at alpha[0]), in the same pass over the pixels.
    void PutRgba(const uint8_t* rgba, size_t firstPixel, size_t pixels, uint8_t* alpha);
    // `pixels` packed RGB pixels (3 bytes each), the first at `firstPixel`.
    void PutRgb(const uint8_t* rgb, size_t firstPixel, size_t pixels);
    int Width() const { return width_; }
    int Height() const { return height_; }
    const uint8_t* Plane(int i) const { return memory_.Data() + size_t(i) * size_t(width_) * size_t(height_); }

private:
    CPlaneMemory memory_;
    int width_ = 0, height_ = 0;
};

// Writes `height` rows of luma (stride width) and height / 2 rows of Cb and
// Cr (stride width / 2) of the picture in `rgb`; filler lines behind them
// are not touched. The planes must start on 64-byte boundaries. False, with
// `why` set, when zimg refuses or memory runs out.
bool RgbPlanesToFramePlanes(const CRgbPlanes& rgb, bool limitedRange, uint8_t* luma, uint8_t* cb, uint8_t* cr,
                            std::string* why = nullptr);

// RgbPlanesToFramePlanes kept ready for a run of pictures of one size: the
// zimg graphs of the slices and their scratch memory are made once, so a
// picture costs only its conversion.
class CRgbFrameConverter {
public:
    CRgbFrameConverter();
    ~CRgbFrameConverter();
    CRgbFrameConverter(const CRgbFrameConverter&) = delete;
    CRgbFrameConverter& operator=(const CRgbFrameConverter&) = delete;
    // False, with `why` set, when the size is not a frame's (as
    // CRgbPlanes::Create), zimg refuses or memory runs out.
    bool Prepare(int width, int height, bool limitedRange, std::string* why = nullptr);
    // As RgbPlanesToFramePlanes, for a picture of the prepared size.
    bool Convert(const CRgbPlanes& rgb, uint8_t* luma, uint8_t* cb, uint8_t* cr, std::string* why = nullptr);

    // Only the top of a frame `frameHeight` lines high: the slices the tool
    // cuts that frame into which begin above line `rows` (even), and of those
    // only the left `width` columns (a multiple of 128). A slice running
    // past `rows` is converted as if it ended there (or a few lines lower
    // when it would be too short to filter), so near that end its chroma
    // is the tool's only where the lines about the end are all alike, as
    // in a frame that is black from some lines above `rows` down. Convert
    // takes pictures `width` x `frameHeight` and writes ConvertedLines()
    // lines; for the rest of such a frame, convert one such picture whole.
    bool PrepareTop(int width, int frameHeight, int rows, bool limitedRange, std::string* why = nullptr);
    // The lines Convert writes, from the top (0 when nothing is prepared).
    int ConvertedLines() const;
    // As Convert, into planes whose lines are `lumaStride` and
    // `chromaStride` bytes apart (multiples of 64, at least the width and
    // half of it), as when converting into the left columns of a wider frame.
    bool Convert(const CRgbPlanes& rgb, uint8_t* luma, size_t lumaStride, uint8_t* cb, uint8_t* cr,
                 size_t chromaStride, std::string* why = nullptr);

private:
    struct Slices;
    std::unique_ptr<Slices> slices_;
};

// The slices the tool's zimg filter cuts a picture of `height` lines into:
// its filter threads (the processors this process may run on, plus one when
// there are several), at most one per 64 lines.
int ToolZimgSlices(int height);

// `rgba`: width x height pixels of 4 bytes (R, G, B and an alpha that is
// not looked at), rows packed. Writes `height` rows of luma (stride width)
// and height / 2 rows of Cb and Cr (stride width / 2); filler lines behind
// them are not touched. The planes must start on 64-byte boundaries, and
// width must be a multiple of 128 (the frame sizes are). False, with `why`
// set, when zimg refuses or memory runs out.
bool RgbaToFramePlanes(const uint8_t* rgba, int width, int height, bool limitedRange, uint8_t* luma, uint8_t* cb,
                       uint8_t* cr, std::string* why = nullptr);

}  // namespace rk
