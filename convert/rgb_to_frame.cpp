#include "convert/rgb_to_frame.h"

#include <sched.h>
#include <unistd.h>
#include <zimg.h>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <system_error>
#include <thread>
#include <vector>

namespace rk {

namespace {

constexpr size_t kAlign = 64;
// The fewest lines a slice is cut to: the chroma filter's reach past them.
constexpr int kShortestCut = 16;

bool Aligned(const void* p) { return reinterpret_cast<uintptr_t>(p) % kAlign == 0; }

bool Refuse(std::string* why, const std::string& text) {
    if (why) *why = text;
    return false;
}

std::string ZimgError() {
    char text[256] = {};
    zimg_get_last_error(text, sizeof text);
    return std::string("zimg: ") + text;
}

struct GraphOwner {
    zimg_filter_graph* graph = nullptr;
    ~GraphOwner() { zimg_filter_graph_free(graph); }
};

// The part of [firstPixel, firstPixel + pixels) inside planes of `plane`
// pixels each, and where it begins in each.
struct PlaneSpan {
    uint8_t *r = nullptr, *g = nullptr, *b = nullptr;
    size_t pixels = 0;
};
PlaneSpan SpanOf(uint8_t* planes, size_t plane, size_t firstPixel, size_t pixels) {
    if (firstPixel >= plane) return {};
    uint8_t* r = planes + firstPixel;
    return {r, r + plane, r + 2 * plane, std::min(pixels, plane - firstPixel)};
}

// The colour of packed pixels of `kStride` bytes (R, G, B first) into the planes.
template <size_t kStride>
void SplitColour(const uint8_t* in, const PlaneSpan& s) {
    for (size_t i = 0; i < s.pixels; ++i) {
        s.r[i] = in[kStride * i];
        s.g[i] = in[kStride * i + 1];
        s.b[i] = in[kStride * i + 2];
    }
}

}  // namespace

bool CRgbPlanes::Create(int width, int height) {
    if (width <= 0 || height <= 0 || width % 128 != 0 || height % 2 != 0) return false;
    width_ = width;
    height_ = height;
    return memory_.Allocate(size_t(width) * size_t(height) * 3);
}

void CRgbPlanes::PutRgba(const uint8_t* rgba, size_t firstPixel, size_t pixels) {
    PutRgba(rgba, firstPixel, pixels, nullptr);
}

void CRgbPlanes::PutRgb(const uint8_t* rgb, size_t firstPixel, size_t pixels) {
    SplitColour<3>(rgb, SpanOf(memory_.Data(), size_t(width_) * size_t(height_), firstPixel, pixels));
}

void CRgbPlanes::PutRgba(const uint8_t* rgba, size_t firstPixel, size_t pixels, uint8_t* alpha) {
    const PlaneSpan span = SpanOf(memory_.Data(), size_t(width_) * size_t(height_), firstPixel, pixels);
    if (!alpha) return SplitColour<4>(rgba, span);
    uint8_t *r = span.r, *g = span.g, *b = span.b;
    pixels = span.pixels;
    size_t i = 0;
#if defined(__SSE2__)
    // Sixteen pixels at a time: each byte of the words shifted down, masked
    // and packed (the values fit, so the saturating packs change nothing).
    const __m128i low = _mm_set1_epi32(0xff);
    auto byteOf = [&](const __m128i* w, int shift) {
        const __m128i w0 = _mm_and_si128(_mm_srli_epi32(w[0], shift), low);
        const __m128i w1 = _mm_and_si128(_mm_srli_epi32(w[1], shift), low);
        const __m128i w2 = _mm_and_si128(_mm_srli_epi32(w[2], shift), low);
        const __m128i w3 = _mm_and_si128(_mm_srli_epi32(w[3], shift), low);
        return _mm_packus_epi16(_mm_packs_epi32(w0, w1), _mm_packs_epi32(w2, w3));
    };
    for (; i + 16 <= pixels; i += 16) {
        const __m128i* in = reinterpret_cast<const __m128i*>(rgba + 4 * i);
        const __m128i w[4] = {_mm_loadu_si128(in), _mm_loadu_si128(in + 1), _mm_loadu_si128(in + 2),
                              _mm_loadu_si128(in + 3)};
        _mm_storeu_si128(reinterpret_cast<__m128i*>(r + i), byteOf(w, 0));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(g + i), byteOf(w, 8));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(b + i), byteOf(w, 16));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(alpha + i), byteOf(w, 24));
    }
#endif
    for (; i < pixels; ++i) {
        r[i] = rgba[4 * i];
        g[i] = rgba[4 * i + 1];
        b[i] = rgba[4 * i + 2];
        alpha[i] = rgba[4 * i + 3];
    }
}

int ToolZimgSlices(int height) {
    // The processors as the tool counts them: those this process (and so the
    // tool it starts) may run on.
    int cpus = 0;
    cpu_set_t set;
    CPU_ZERO(&set);
    if (sched_getaffinity(0, sizeof set, &set) == 0) cpus = CPU_COUNT(&set);
    if (cpus < 1) cpus = static_cast<int>(sysconf(_SC_NPROCESSORS_ONLN));
    const int threads = cpus > 1 ? cpus + 1 : 1;
    return std::clamp(std::min(threads, height / 64), 1, 64);
}

bool RgbaToFramePlanes(const uint8_t* rgba, int width, int height, bool limitedRange, uint8_t* luma, uint8_t* cb,
                       uint8_t* cr, std::string* why) {
    CRgbPlanes rgb;
    if (!rgba || !rgb.Create(width, height)) return Refuse(why, "not a frame-sized picture, or out of memory");
    rgb.PutRgba(rgba, 0, size_t(width) * size_t(height));
    return RgbPlanesToFramePlanes(rgb, limitedRange, luma, cb, cr, why);
}

struct CRgbFrameConverter::Slices {
    struct Slice {
        GraphOwner graph;
        int top = 0, rows = 0;
        CPlaneMemory tmp;
    };
    int width = 0, height = 0;
    int lines = 0;  // the lines the slices cover, from the top
    std::vector<std::unique_ptr<Slice>> slices;
};

CRgbFrameConverter::CRgbFrameConverter() = default;
CRgbFrameConverter::~CRgbFrameConverter() = default;

bool CRgbFrameConverter::Prepare(int width, int height, bool limitedRange, std::string* why) {
    return PrepareTop(width, height, height, limitedRange, why);
}

bool CRgbFrameConverter::PrepareTop(int width, int height, int rows, bool limitedRange, std::string* why) {
    slices_.reset();
    if (width <= 0 || height <= 0 || width % 128 != 0 || height % 2 != 0 || rows <= 0)
        return Refuse(why, "not a frame-sized picture");
    zimg_image_format src, dst;
    zimg_image_format_default(&src, ZIMG_API_VERSION);
    zimg_image_format_default(&dst, ZIMG_API_VERSION);
    src.width = dst.width = static_cast<unsigned>(width);
    src.height = dst.height = static_cast<unsigned>(height);
    src.pixel_type = dst.pixel_type = ZIMG_PIXEL_BYTE;
    src.depth = dst.depth = 8;
    src.color_family = ZIMG_COLOR_RGB;
    src.matrix_coefficients = ZIMG_MATRIX_RGB;
    src.pixel_range = ZIMG_RANGE_FULL;
    dst.color_family = ZIMG_COLOR_YUV;
    dst.matrix_coefficients = ZIMG_MATRIX_709;
    dst.pixel_range = limitedRange ? ZIMG_RANGE_LIMITED : ZIMG_RANGE_FULL;
    dst.subsample_w = dst.subsample_h = 1;
    // The tool's pictures say nothing of these: left-sited chroma, and no
    // transfer or primaries to convert between.
    src.chroma_location = dst.chroma_location = ZIMG_CHROMA_LEFT;
    src.transfer_characteristics = dst.transfer_characteristics = ZIMG_TRANSFER_UNSPECIFIED;
    src.color_primaries = dst.color_primaries = ZIMG_PRIMARIES_UNSPECIFIED;
    src.field_parity = dst.field_parity = ZIMG_FIELD_PROGRESSIVE;

    zimg_graph_builder_params params;
    zimg_graph_builder_params_default(&params, ZIMG_API_VERSION);
    params.resample_filter = params.resample_filter_uv = ZIMG_RESIZE_SPLINE36;
    params.dither_type = ZIMG_DITHER_NONE;
    params.cpu_type = ZIMG_CPU_AUTO_64B;

    // The tool's slices: even boundaries, each slice converted as a picture
    // of its own whose source is that band of the whole (its chroma filter
    // sees the band's edges, so the slicing shows in the samples).
    auto made = std::make_unique<Slices>();
    made->width = width;
    made->height = height;
    const int count = ToolZimgSlices(height);
    for (int s = 0; s < count; ++s) {
        auto slice = std::make_unique<Slices::Slice>();
        slice->top = s ? (height * s / count + 1) & ~1 : 0;
        if (slice->top >= rows) break;
        int end = s + 1 < count ? (height * (s + 1) / count + 1) & ~1 : height;
        // A slice running past `rows` is cut there, but left tall enough
        // for the chroma filter.
        if (end > rows) end = std::min(end, std::max(rows, slice->top + kShortestCut) & ~1);
        slice->rows = end - slice->top;
        made->lines = end;
        zimg_image_format sliceSrc = src, sliceDst = dst;
        sliceSrc.active_region.left = 0;
        sliceSrc.active_region.top = slice->top;
        sliceSrc.active_region.width = width;
        sliceSrc.active_region.height = slice->rows;
        sliceDst.height = static_cast<unsigned>(slice->rows);
        slice->graph.graph = zimg_filter_graph_build(&sliceSrc, &sliceDst, &params);
        size_t tmpBytes = 0;
        if (!slice->graph.graph || zimg_filter_graph_get_tmp_size(slice->graph.graph, &tmpBytes))
            return Refuse(why, ZimgError());
        if (!slice->tmp.Allocate(tmpBytes)) return Refuse(why, "out of memory");
        made->slices.push_back(std::move(slice));
    }
    slices_ = std::move(made);
    return true;
}

int CRgbFrameConverter::ConvertedLines() const { return slices_ ? slices_->lines : 0; }

bool CRgbFrameConverter::Convert(const CRgbPlanes& rgb, uint8_t* luma, uint8_t* cb, uint8_t* cr, std::string* why) {
    return Convert(rgb, luma, size_t(rgb.Width()), cb, cr, size_t(rgb.Width()) / 2, why);
}

bool CRgbFrameConverter::Convert(const CRgbPlanes& rgb, uint8_t* luma, size_t lumaStride, uint8_t* cb, uint8_t* cr,
                                 size_t chromaStride, std::string* why) {
    if (!slices_ || rgb.Width() != slices_->width || rgb.Height() != slices_->height)
        return Refuse(why, "not the prepared size");
    if (!Aligned(luma) || !Aligned(cb) || !Aligned(cr)) return Refuse(why, "planes not aligned");
    const int width = rgb.Width();
    if (lumaStride < size_t(width) || chromaStride < size_t(width) / 2 || lumaStride % kAlign || chromaStride % kAlign)
        return Refuse(why, "planes' lines too short or not aligned");
    const uint8_t* const in[3] = {rgb.Plane(0), rgb.Plane(1), rgb.Plane(2)};
    uint8_t* const out[3] = {luma, cb, cr};
    // Each slice on a thread of its own, as the tool's filter threads take
    // them: a slice's samples do not depend on who converts it. The error
    // text of zimg is its thread's own, so each slice keeps its own.
    const size_t count = slices_->slices.size();
    std::vector<std::string> errors(count);
    auto convert = [&](size_t s) {
        Slices::Slice& slice = *slices_->slices[s];
        zimg_image_buffer_const srcBuf = {ZIMG_API_VERSION};
        zimg_image_buffer dstBuf = {ZIMG_API_VERSION};
        for (int p = 0; p < 3; ++p) {
            srcBuf.plane[p].data = in[p];
            srcBuf.plane[p].stride = width;
            srcBuf.plane[p].mask = ZIMG_BUFFER_MAX;
            const ptrdiff_t stride = ptrdiff_t(p ? chromaStride : lumaStride);
            dstBuf.plane[p].data = out[p] + stride * (p ? slice.top / 2 : slice.top);
            dstBuf.plane[p].stride = stride;
            dstBuf.plane[p].mask = ZIMG_BUFFER_MAX;
        }
        if (zimg_filter_graph_process(slice.graph.graph, &srcBuf, &dstBuf, slice.tmp.Data(), nullptr, nullptr, nullptr,
                                      nullptr))
            errors[s] = ZimgError();
    };
    std::vector<std::thread> helpers;
    for (size_t s = 1; s < count; ++s) {
        try {
            helpers.emplace_back(convert, s);
        } catch (const std::system_error&) {
            convert(s);  // no thread to be had: this one does it
        }
    }
    convert(0);
    for (std::thread& t : helpers) t.join();
    for (const std::string& e : errors)
        if (!e.empty()) return Refuse(why, e);
    return true;
}

bool RgbPlanesToFramePlanes(const CRgbPlanes& rgb, bool limitedRange, uint8_t* luma, uint8_t* cb, uint8_t* cr,
                            std::string* why) {
    if (rgb.Width() <= 0) return Refuse(why, "no picture");
    if (!Aligned(luma) || !Aligned(cb) || !Aligned(cr)) return Refuse(why, "planes not aligned");
    CRgbFrameConverter converter;
    return converter.Prepare(rgb.Width(), rgb.Height(), limitedRange, why) && converter.Convert(rgb, luma, cb, cr, why);
}

}  // namespace rk
