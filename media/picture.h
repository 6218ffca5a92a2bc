#pragma once
// CPicture: a 32-bit picture used for thumbnails and previews, with the
// conversions between decoded KVQ1 frames, 32-bit pixels and UYVY 4:2:2.
//
// Pixels are four bytes B, G, R, T, rows top to bottom with no padding.
// T is transparency: 0 opaque, 255 fully transparent. Read as a native
// little-endian uint32_t a pixel is 0xTTRRGGBB.
#include <cstddef>
#include <cstdint>
#include <memory>

namespace rk {

// Bits kept per channel when a picture goes to UYVY, and the bits the UYVY
// samples carry when they come back. 8 everywhere for thumbnails.
struct UYVYDepth {
    int luma = 8;
    int chroma = 8;
    int key = 8;
};

class CPicture {
public:
    CPicture() = default;
    CPicture(const CPicture&) = delete;
    CPicture& operator=(const CPicture&) = delete;
    CPicture(CPicture&&) noexcept = default;
    CPicture& operator=(CPicture&&) noexcept = default;
    ~CPicture() = default;

    // Allocates width x height pixels; the contents are undefined. The buffer
    // is kept when it is already large enough. False for negative sizes or
    // when the memory cannot be had (the picture is then empty).
    bool Create(int width, int height);
    // Frees the pixels; the picture becomes 0 x 0.
    void Destroy();

    // Every byte to 0: black and opaque.
    void Clear();
    // 8 x 8 squares: white where the square's column and row have the same
    // parity, grey (160) elsewhere, opaque.
    void Checkerboard();
    // Replaces the picture by its width/2 x height/2 average of 2 x 2 blocks,
    // byte by byte ((a + b + c + d) >> 2); an odd last column or row is
    // dropped. Works in place: no allocation.
    void Halve();
    // Draws `source` at the top-left over min(widths, maxWidth) x
    // min(heights, maxHeight). Mode 0 copies; mode 1 blends by the source's
    // transparency (skipped at 240 and above).
    void Composite(const CPicture& source, int maxWidth, int maxHeight, int mode);

    // Whole-picture conversions to and from UYVY (Cb, Y0, Cr, Y1 per pixel
    // pair, rows of width x 2 bytes). The width must be even; an odd last
    // column is left out. `key`, when given, receives 255 - T per pixel,
    // reduced to depth.key bits, width x height bytes.
    void ToUYVY(uint8_t* uyvy, const UYVYDepth& depth = {}, uint8_t* key = nullptr) const;
    // Reads width x height pixels of UYVY. T = 255 - the widened key byte of
    // `key`, or 255 - 0 = 255 when no key is given (thumbnails pass none;
    // their transparency is never looked at).
    void FromUYVY(const uint8_t* uyvy, const UYVYDepth& depth = {}, const uint8_t* key = nullptr);

    int Width() const { return width_; }
    int Height() const { return height_; }
    size_t ByteSize() const { return static_cast<size_t>(width_) * static_cast<size_t>(height_) * 4; }
    uint8_t* Bits() { return pixels_.get(); }
    const uint8_t* Bits() const { return pixels_.get(); }
    uint8_t* Row(int y) { return pixels_.get() + static_cast<size_t>(y) * static_cast<size_t>(width_) * 4; }
    const uint8_t* Row(int y) const { return pixels_.get() + static_cast<size_t>(y) * static_cast<size_t>(width_) * 4; }
    // The pixel as 0xTTRRGGBB.
    uint32_t Pixel(int x, int y) const;
    void SetPixel(int x, int y, uint32_t ttrrggbb);

private:
    int width_ = 0;
    int height_ = 0;
    size_t capacity_ = 0;  // pixels
    std::unique_ptr<uint8_t[]> pixels_;
};

// A decoded KVQ1 frame: planar 8-bit 4:2:0, luma stride `width`, chroma
// stride width / 2, each chroma row serving two luma rows.
struct FramePlanes {
    const uint8_t* y = nullptr;
    const uint8_t* cb = nullptr;
    const uint8_t* cr = nullptr;
    int width = 0;
    int height = 0;
};

// Studio-range Y'CbCr to 24-bit RGB (bytes R, G, B per pixel, rows of
// width x 3 bytes), for PNG output and title cards.
void FrameToRGB24(const FramePlanes& frame, uint8_t* rgb);
// The same conversion into a picture of the frame's size (B, G, R, T = 0).
// The picture is (re)created when its size differs; false when that fails.
bool FrameToPicture(const FramePlanes& frame, CPicture& picture);

// The studio-range conversions of one pixel pair, exposed for tests and for
// the effect conversions. `p0`/`p1` are B, G, R, T pixels; `uyvy` is the
// pair's four bytes Cb, Y0, Cr, Y1; key0/key1 may be null.
void PairToUYVY(const uint8_t* p0, const uint8_t* p1, const UYVYDepth& depth, uint8_t* uyvy, uint8_t* key0,
                uint8_t* key1);
void UYVYToPair(const uint8_t* uyvy, const UYVYDepth& depth, uint8_t key0, uint8_t key1, uint8_t* p0, uint8_t* p1);

}  // namespace rk
