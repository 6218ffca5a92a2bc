#include "media/picture.h"

#include "media/frame_rgb.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <new>

namespace rk {

namespace {

inline int ClampInt(int v, int lo, int hi) { return v < lo ? lo : (v > hi ? hi : v); }

inline int RoundDouble(double x) { return static_cast<int>(std::floor(x + 0.5)); }

// Keeps n of 8 bits: min(2^n - 1, floor(v / 2^(8 - n) + 0.5)).
inline int Reduce(int v, int bits) {
    if (bits >= 8) return v;
    if (bits <= 0) return 0;
    int top = (1 << bits) - 1;
    int r = (v + (1 << (7 - bits))) >> (8 - bits);  // floor(v / 2^(8-n) + 1/2) for v >= 0
    return std::min(top, r);
}

// Back from n bits: 0 stays 0, the top value and above become 255, anything
// else is shifted up.
inline int Widen(int v, int bits) {
    if (bits >= 8) return v;
    if (bits <= 0) return 0;
    int top = (1 << bits) - 1;
    if (v == 0) return 0;
    if (v >= top) return 255;
    return ClampInt(v << (8 - bits), 0, 255);
}

}  // namespace

bool CPicture::Create(int width, int height) {
    if (width < 0 || height < 0) {
        Destroy();
        return false;
    }
    size_t need = static_cast<size_t>(width) * static_cast<size_t>(height);
    if (need > capacity_ || !pixels_) {
        pixels_.reset(new (std::nothrow) uint8_t[need ? need * 4 : 4]);
        if (!pixels_) {
            width_ = height_ = 0;
            capacity_ = 0;
            return false;
        }
        capacity_ = need;
    }
    width_ = width;
    height_ = height;
    return true;
}

void CPicture::Destroy() {
    pixels_.reset();
    width_ = height_ = 0;
    capacity_ = 0;
}

void CPicture::Clear() {
    if (pixels_) std::memset(pixels_.get(), 0, ByteSize());
}

void CPicture::Checkerboard() {
    for (int y = 0; y < height_; ++y) {
        uint8_t* p = Row(y);
        for (int x = 0; x < width_; ++x, p += 4) {
            uint8_t v = (((x >> 3) ^ (y >> 3)) & 1) == 0 ? 255 : 160;
            p[0] = p[1] = p[2] = v;
            p[3] = 0;
        }
    }
}

void CPicture::Halve() {
    const int w2 = width_ / 2;
    const int h2 = height_ / 2;
    const size_t srcStride = static_cast<size_t>(width_) * 4;
    uint8_t* base = pixels_.get();
    // Output pixel (x, y) lands at or before its first source byte, and every
    // source byte it reads lies at or after it: the in-place pass is safe.
    for (int y = 0; y < h2; ++y) {
        const uint8_t* s0 = base + static_cast<size_t>(2 * y) * srcStride;
        const uint8_t* s1 = s0 + srcStride;
        uint8_t* d = base + static_cast<size_t>(y) * static_cast<size_t>(w2) * 4;
        for (int x = 0; x < w2; ++x) {
            for (int k = 0; k < 4; ++k) {
                int sum = s0[8 * x + k] + s0[8 * x + 4 + k] + s1[8 * x + k] + s1[8 * x + 4 + k];
                d[4 * x + k] = static_cast<uint8_t>(sum >> 2);
            }
        }
    }
    width_ = w2;
    height_ = h2;
}

void CPicture::Composite(const CPicture& source, int maxWidth, int maxHeight, int mode) {
    const int w = std::min({width_, source.width_, maxWidth});
    const int h = std::min({height_, source.height_, maxHeight});
    if (w <= 0 || h <= 0) return;
    for (int y = 0; y < h; ++y) {
        uint8_t* d = Row(y);
        const uint8_t* s = source.Row(y);
        if (mode == 0) {
            std::memmove(d, s, static_cast<size_t>(w) * 4);
            continue;
        }
        for (int x = 0; x < w; ++x, d += 4, s += 4) {
            const int t = s[3];
            if (t >= 240) continue;
            const int dt = d[3];
            const int l = std::min(t, 255 - dt);
            const int m = 255 - t;
            for (int k = 0; k < 3; ++k) d[k] = static_cast<uint8_t>((s[k] * m + d[k] * l) / 255);
            d[3] = static_cast<uint8_t>(std::min(dt, t));
        }
    }
}

uint32_t CPicture::Pixel(int x, int y) const {
    const uint8_t* p = Row(y) + static_cast<size_t>(x) * 4;
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 | static_cast<uint32_t>(p[2]) << 16 |
           static_cast<uint32_t>(p[3]) << 24;
}

void CPicture::SetPixel(int x, int y, uint32_t v) {
    uint8_t* p = Row(y) + static_cast<size_t>(x) * 4;
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
    p[2] = static_cast<uint8_t>(v >> 16);
    p[3] = static_cast<uint8_t>(v >> 24);
}

void PairToUYVY(const uint8_t* p0, const uint8_t* p1, const UYVYDepth& depth, uint8_t* uyvy, uint8_t* key0,
                uint8_t* key1) {
    const double b0 = p0[0], g0 = p0[1], r0 = p0[2];
    const double b1 = p1[0], g1 = p1[1], r1 = p1[2];
    const int y0 = ClampInt(RoundDouble(16.0 + 0.183 * r0 + 0.614 * g0 + 0.062 * b0), 16, 235);
    const int y1 = ClampInt(RoundDouble(16.0 + 0.183 * r1 + 0.614 * g1 + 0.062 * b1), 16, 235);
    const double cbSum = (-0.101 * r0 - 0.338 * g0 + 0.439 * b0) + (-0.101 * r1 - 0.338 * g1 + 0.439 * b1);
    const double crSum = (0.439 * r0 - 0.399 * g0 - 0.040 * b0) + (0.439 * r1 - 0.399 * g1 - 0.040 * b1);
    const int cb = ClampInt(128 + RoundDouble(cbSum / 2.0), 16, 240);
    const int cr = ClampInt(128 + RoundDouble(crSum / 2.0), 16, 240);
    uyvy[0] = static_cast<uint8_t>(Reduce(cb, depth.chroma));
    uyvy[1] = static_cast<uint8_t>(Reduce(y0, depth.luma));
    uyvy[2] = static_cast<uint8_t>(Reduce(cr, depth.chroma));
    uyvy[3] = static_cast<uint8_t>(Reduce(y1, depth.luma));
    if (key0) *key0 = static_cast<uint8_t>(Reduce(255 - p0[3], depth.key));
    if (key1) *key1 = static_cast<uint8_t>(Reduce(255 - p1[3], depth.key));
}

void UYVYToPair(const uint8_t* uyvy, const UYVYDepth& depth, uint8_t key0, uint8_t key1, uint8_t* p0,
                uint8_t* p1) {
    const int cb = Widen(uyvy[0], depth.chroma);
    const int y0 = Widen(uyvy[1], depth.luma);
    const int cr = Widen(uyvy[2], depth.chroma);
    const int y1 = Widen(uyvy[3], depth.luma);
    const double rc = 1.793 * (cr - 128);
    const double gc = -0.534 * (cr - 128) - 0.213 * (cb - 128);
    const double bc = 2.115 * (cb - 128);
    auto put = [&](int yv, uint8_t* p, uint8_t key) {
        const double yy = 1.164 * (yv - 16);
        p[2] = static_cast<uint8_t>(ClampInt(RoundDouble(yy + rc), 0, 255));
        p[1] = static_cast<uint8_t>(ClampInt(RoundDouble(yy + gc), 0, 255));
        p[0] = static_cast<uint8_t>(ClampInt(RoundDouble(yy + bc), 0, 255));
        p[3] = static_cast<uint8_t>(255 - Widen(key, depth.key));
    };
    put(y0, p0, key0);
    put(y1, p1, key1);
}

void CPicture::ToUYVY(uint8_t* uyvy, const UYVYDepth& depth, uint8_t* key) const {
    const int pairs = width_ / 2;
    for (int y = 0; y < height_; ++y) {
        const uint8_t* s = Row(y);
        uint8_t* d = uyvy + static_cast<size_t>(y) * static_cast<size_t>(width_) * 2;
        uint8_t* k = key ? key + static_cast<size_t>(y) * static_cast<size_t>(width_) : nullptr;
        for (int i = 0; i < pairs; ++i) {
            PairToUYVY(s + 8 * i, s + 8 * i + 4, depth, d + 4 * i, k ? k + 2 * i : nullptr,
                       k ? k + 2 * i + 1 : nullptr);
        }
    }
}

void CPicture::FromUYVY(const uint8_t* uyvy, const UYVYDepth& depth, const uint8_t* key) {
    const int pairs = width_ / 2;
    for (int y = 0; y < height_; ++y) {
        uint8_t* d = Row(y);
        const uint8_t* s = uyvy + static_cast<size_t>(y) * static_cast<size_t>(width_) * 2;
        const uint8_t* k = key ? key + static_cast<size_t>(y) * static_cast<size_t>(width_) : nullptr;
        for (int i = 0; i < pairs; ++i) {
            UYVYToPair(s + 4 * i, depth, k ? k[2 * i] : 0, k ? k[2 * i + 1] : 0, d + 8 * i, d + 8 * i + 4);
        }
    }
}

void FrameToRGB24(const FramePlanes& frame, uint8_t* rgb) {
    const size_t stride = static_cast<size_t>(frame.width) * 3;
    const size_t cw = static_cast<size_t>(frame.width / 2);
    for (int row = 0; row < frame.height; ++row)
        YCbCrRowToRgb(frame.y + static_cast<size_t>(row) * static_cast<size_t>(frame.width),
                      frame.cb + static_cast<size_t>(row / 2) * cw, frame.cr + static_cast<size_t>(row / 2) * cw,
                      frame.width, rgb + static_cast<size_t>(row) * stride, RgbLayout::kRgb24);
}

bool FrameToPicture(const FramePlanes& frame, CPicture& picture) {
    if (picture.Width() != frame.width || picture.Height() != frame.height) {
        if (!picture.Create(frame.width, frame.height)) return false;
    }
    const size_t cw = static_cast<size_t>(frame.width / 2);
    for (int row = 0; row < frame.height; ++row)
        YCbCrRowToRgb(frame.y + static_cast<size_t>(row) * static_cast<size_t>(frame.width),
                      frame.cb + static_cast<size_t>(row / 2) * cw, frame.cr + static_cast<size_t>(row / 2) * cw,
                      frame.width, picture.Row(row), RgbLayout::kBgrt);
    return true;
}

}  // namespace rk
