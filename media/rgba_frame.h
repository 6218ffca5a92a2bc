#pragma once
// RgbaFrame: one picture as 8-bit R, G, B, A bytes a pixel (the byte order
// of QImage::Format_RGBA8888), rows `Stride()` bytes apart. The storage is
// kept when a later picture needs no more, so a frame reused for every
// picture of a playback allocates once.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <new>

namespace rk {

class RgbaFrame {
public:
    RgbaFrame() = default;
    RgbaFrame(RgbaFrame&&) noexcept = default;
    RgbaFrame& operator=(RgbaFrame&&) noexcept = default;
    RgbaFrame(const RgbaFrame&) = delete;
    RgbaFrame& operator=(const RgbaFrame&) = delete;

    // Makes the frame width x height (rows of width x 4 bytes); the contents
    // are undefined. False (and 0 x 0) when the memory cannot be had.
    bool Resize(int width, int height) {
        if (width < 0 || height < 0) return false;
        const size_t need = size_t(width) * size_t(height) * 4;
        if (need > capacity_) {
            bytes_.reset(new (std::nothrow) uint8_t[need]);
            capacity_ = bytes_ ? need : 0;
            if (!bytes_) {
                width_ = height_ = 0;
                return false;
            }
        }
        width_ = width;
        height_ = height;
        return true;
    }

    int Width() const { return width_; }
    int Height() const { return height_; }
    size_t Stride() const { return size_t(width_) * 4; }
    size_t ByteSize() const { return Stride() * size_t(height_); }
    uint8_t* Bits() { return bytes_.get(); }
    const uint8_t* Bits() const { return bytes_.get(); }
    uint8_t* Row(int y) { return bytes_.get() + size_t(y) * Stride(); }
    const uint8_t* Row(int y) const { return bytes_.get() + size_t(y) * Stride(); }
    // Bytes held, for tests of the reuse.
    size_t Capacity() const { return capacity_; }

    void swap(RgbaFrame& other) noexcept {
        std::swap(width_, other.width_);
        std::swap(height_, other.height_);
        std::swap(capacity_, other.capacity_);
        bytes_.swap(other.bytes_);
    }

private:
    int width_ = 0;
    int height_ = 0;
    size_t capacity_ = 0;
    std::unique_ptr<uint8_t[]> bytes_;
};

}  // namespace rk
