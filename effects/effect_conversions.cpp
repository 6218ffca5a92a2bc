#include "effects/effect_conversions.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <filesystem>
#include <system_error>
#include <vector>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "base/fd_io.h"
#include "codec/kvq1_format.h"
#include "base/log.h"
#include "base/path_util.h"
#include "base/safe_open.h"
#include "convert/app_launch.h"
#include "convert/picture_filter.h"
#include "convert/picture_run.h"
#include "convert/tool_folder.h"
#include "effects/effect_format.h"
#include "effects/stinger.h"

namespace rk {

namespace {

constexpr size_t kPreviewBytes = size_t(kPreviewWidth) * kPreviewHeight * 4;
constexpr size_t kFramePixels = size_t(kEffectWidth) * kEffectHeight;

// The stacked grey picture of one frame (see EffectStreamGraph).
constexpr size_t kStackWidth = kEffectWidth;
constexpr size_t kStackRows = 1080 + 1080 + 540 + 360 + 360;
constexpr size_t kStackBytes = kStackWidth * kStackRows;
constexpr size_t kAlphaRow = 1080, kChromaRow = 2160, kPreviewRow = 2700, kPreviewAlphaRow = 3060;
constexpr const char* kStreamPipe = "frames.raw";

// The stacked RGBA picture of one frame (see EffectRgbaStreamGraph): the
// preview cut into bands of 120 rows, side by side below the frame.
constexpr size_t kPreviewBands = 3;
constexpr size_t kBandRows = size_t(kPreviewHeight) / kPreviewBands;
static_assert(kPreviewBands * size_t(kPreviewWidth) == size_t(kEffectWidth));
constexpr size_t kRgbaStackBytes = size_t(kEffectWidth) * (size_t(kEffectHeight) + kBandRows) * 4;
// The tool sends that picture as bands of the preview bands' height, one
// output frame each: the same bytes in the same order, in packets the
// tool's allocator reuses rather than maps afresh for every picture.
constexpr size_t kRgbaTiles = (size_t(kEffectHeight) + kBandRows) / kBandRows;
static_assert(kRgbaTiles * kBandRows == size_t(kEffectHeight) + kBandRows);

bool Aligned64(const void* p) { return reinterpret_cast<uintptr_t>(p) % 64 == 0; }

// Luma 2 where the frame's alpha is below 128.
void KeyLuma(uint8_t* y, const uint8_t* alpha) {
    size_t i = 0;
#if defined(__SSE2__)
    // Below 128 is what a signed byte sees as not negative.
    const __m128i two = _mm_set1_epi8(2);
    for (; i + 16 <= kFramePixels; i += 16) {
        const __m128i opaque = _mm_cmplt_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(alpha + i)),
                                              _mm_setzero_si128());
        __m128i* at = reinterpret_cast<__m128i*>(y + i);
        _mm_storeu_si128(at, _mm_or_si128(_mm_and_si128(opaque, _mm_loadu_si128(at)), _mm_andnot_si128(opaque, two)));
    }
#endif
    for (; i < kFramePixels; ++i)
        if (alpha[i] < 128) y[i] = 2;
}

// Runs ffmpeg in the work folder; true when it ran and exited with 0.
bool RunFfmpeg(const std::vector<std::string>& args, const CEffectWorkFolder& work) {
    std::vector<std::string> all = {"-v", "error", "-nostdin"};
    all.insert(all.end(), args.begin(), args.end());
    CAppLaunch tool(kToolFfmpeg, all, false, work.Path());
    if (!tool.started) return false;
    if (!tool.Wait(-1)) return false;
    return tool.exitCode == 0;
}

// Reads exactly `bytes` of a file of the work folder; removes it afterwards.
bool ReadBack(const std::string& path, uint8_t* data, size_t bytes) {
    bool ok = false;
    {
        CFileHandle file(OpenInputFile(path));
        if (file.fd >= 0) ok = ReadWholeAt(file.fd, 0, data, bytes) == 1;
    }
    return ok;
}

struct RemoveAtEnd {
    std::vector<std::string> paths;
    ~RemoveAtEnd() {
        for (const auto& p : paths) ::unlink(p.c_str());
    }
};

}  // namespace

bool AddPicture(CStinger& stinger, const std::string& picturePath, const CEffectWorkFolder& work) {
    if (work.Path().empty() || !CheckInputPath(picturePath)) return false;
    const std::string source = work.LiteralName("source", picturePath);
    RemoveAtEnd cleanup{{work.File("1.rgb")}};
    if (source.empty() || !RunFfmpeg({"-i", source, "-vf", "scale=640:360", "-an", "-pix_fmt", "bgra", "-q:v", "1",
                    "-f", "rawvideo", "-y", "1.rgb"},
                   work))
        return false;
    auto picture = std::make_unique<CPicture>();
    if (!picture->Create(kPreviewWidth, kPreviewHeight)) return false;
    if (!ReadBack(work.File("1.rgb"), picture->Bits(), kPreviewBytes)) return false;
    uint8_t* px = picture->Bits();
    for (size_t i = 0; i < kPreviewBytes; i += 4) px[i + 3] = px[i + 3] < 128 ? 255 : 0;
    stinger.Pictures().Add(std::move(picture));
    return true;
}

bool ConvertFrame(const std::string& picturePath, const EffectPlanes& p, const CEffectWorkFolder& work) {
    if (work.Path().empty() || !CheckInputPath(picturePath)) return false;
    const std::string source = work.LiteralName("source", picturePath);
    RemoveAtEnd cleanup{{work.File("1.rgb"), work.File("1.yuv")}};
    // One decode, two outputs, each with the filters of its own run.
    if (source.empty() || !RunFfmpeg({"-i", source, "-an", "-vf", "scale=1920:1080", "-pix_fmt", "rgba", "-f",
                    "rawvideo", "-y", "1.rgb", "-an", "-vf", EffectFrameSteps(), "-pix_fmt", "yuv420p", "-f",
                    "rawvideo", "-y", "1.yuv"},
                   work))
        return false;
    if (!ReadBack(work.File("1.rgb"), p.rgba, kFramePixels * 4)) return false;
    const size_t chroma = kFramePixels / 4;
    CFileHandle yuv(OpenInputFile(work.File("1.yuv")));
    if (yuv.fd < 0) return false;
    if (ReadWholeAt(yuv.fd, 0, p.y, kFramePixels) != 1 || ReadWholeAt(yuv.fd, kFramePixels, p.cb, chroma) != 1 ||
        ReadWholeAt(yuv.fd, kFramePixels + chroma, p.cr, chroma) != 1)
        return false;
    for (size_t i = 0; i < kFramePixels; ++i)
        if (p.rgba[i * 4 + 3] < 128) p.y[i] = 2;
    return true;
}

std::string EffectFrameSteps() { return RgbToFrameSteps(kEffectWidth, kEffectHeight, true); }

std::string EffectStreamGraph() {
    // The three chains are AddPicture's and ConvertFrame's own filters; what
    // follows them only moves planes, so no sample is rounded on the way.
    // extractplanes names its outputs in r, g, b, a order whatever the layout.
    return "[0:v]split=3[p][f][y];"
           "[p]scale=640:360,format=bgra,extractplanes=r+g+b+a[pr][pg][pb][pa];"
           "[f]scale=1920:1080,format=rgba,extractplanes=a[fa];"
           "[y]" + EffectFrameSteps() + ",extractplanes=y+u+v[yy][yu][yv];"
           "[yu][yv]hstack[uv];[pb][pg][pr]hstack=3[pbgr];[pa]pad=1920:360[pal];"
           "[yy][fa][uv][pbgr][pal]vstack=5,format=gray";
}

bool IsFrameSizedRgbPng(const std::string& path) {
    // The tool chooses its decoder by the name, so the name must say PNG.
    if (!ExtensionIs(path, ".png")) return false;
    CFileHandle file(OpenInputFile(path));
    if (file.fd < 0) return false;
    // The signature, then the header chunk, which must come first: length
    // 13, "IHDR", width, height, depth, colour type, compression, filter,
    // interlace.
    uint8_t h[29];
    if (ReadWholeAt(file.fd, 0, h, sizeof h) != 1) return false;
    static const uint8_t kSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};
    if (std::memcmp(h, kSignature, 8) != 0 || ReadBE32(h + 8) != 13 || std::memcmp(h + 12, "IHDR", 4) != 0)
        return false;
    const uint8_t depth = h[24], colourType = h[25];
    return ReadBE32(h + 16) == uint32_t(kEffectWidth) && ReadBE32(h + 20) == uint32_t(kEffectHeight) &&
           depth == 8 && (colourType == 2 || colourType == 6) && h[26] == 0 && h[27] == 0 && h[28] <= 1;
}

std::string EffectRgbaStreamGraph() {
    // The frame's chain is ConvertFrame's RGBA one: for an 8-bit RGB or RGBA
    // picture of the frame's size it only moves samples. The preview is
    // AddPicture's chain; the swap to RGBA order and the bands only move
    // samples too.
    const std::string band = std::to_string(kBandRows);
    std::string g = "[0:v]split=2[p][f];"
                    "[p]scale=640:360,format=bgra,scale,format=rgba,split=3[p0][p1][p2];";
    for (size_t b = 0; b < kPreviewBands; ++b)
        g += "[p" + std::to_string(b) + "]crop=640:" + band + ":0:" + std::to_string(b * kBandRows) + "[q" +
             std::to_string(b) + "];";
    return g + "[q0][q1][q2]hstack=3[pq];[f]scale=1920:1080,format=rgba[fq];[fq][pq]vstack,untile=1x" +
           std::to_string(kRgbaTiles);
}

CEffectPictureStream::CEffectPictureStream(const std::vector<std::string>& files) : files_(files) {}

CEffectPictureStream::~CEffectPictureStream() {
    // The read under way ends with its picture (or the stall limit) before
    // the pipe goes.
    if (ahead_.valid()) ahead_.wait();
}

bool CEffectPictureStream::Start() {
    started_ = true;
    if (files_.empty()) return pipe_.Fail("no pictures");
    convertsHere_ = std::all_of(files_.begin(), files_.end(), IsFrameSizedRgbPng);
    stackBytes_ = convertsHere_ ? kRgbaStackBytes : kStackBytes;
    if (!stack_[0].Allocate(stackBytes_) || !stack_[1].Allocate(stackBytes_)) return pipe_.Fail("out of memory");
    if (convertsHere_) {
        std::string why;
        if (!rgb_.Create(kEffectWidth, kEffectHeight) || !alpha_.Allocate(kFramePixels))
            return pipe_.Fail("out of memory");
        if (!converter_.Prepare(kEffectWidth, kEffectHeight, true, &why)) return pipe_.Fail(why);
    }
    if (!pipe_.MakeFolder()) return false;
    std::vector<std::string> input;
    std::string why;
    if (!LinkPictureRun(pipe_.Folder(), files_, input, why)) return pipe_.Fail(why);
    if (pipe_.OpenPipe(kStreamPipe).empty()) return false;
    std::vector<std::string> args = {"-v", "error", "-nostdin", "-xerror"};
    args.insert(args.end(), input.begin(), input.end());
    const size_t framesOut = files_.size() * (convertsHere_ ? kRgbaTiles : 1);
    args.insert(args.end(), {"-filter_complex", convertsHere_ ? EffectRgbaStreamGraph() : EffectStreamGraph(), "-an",
                             "-fps_mode", "passthrough", "-frames:v", std::to_string(framesOut)});
    // The RGBA pictures are larger: each band goes into the FIFO in one
    // write, not copied through the tool's output buffer first.
    if (convertsHere_) args.insert(args.end(), {"-avioflags", "direct"});
    args.insert(args.end(), {"-f", "rawvideo", "-y", kStreamPipe});
    if (!pipe_.StartTool(kToolFfmpeg, args)) return false;
    LogMessage(2, "CEffectPictureStream: %zu pictures, frame planes made %s", files_.size(),
               convertsHere_ ? "here" : "by the tool");
    return true;
}

// The next stacked picture read into the other stack, on a thread of its
// own, so that the tool can go on while this one is converted and coded.
void CEffectPictureStream::ReadAhead() {
    uint8_t* into = stack_[current_ ^ 1].Data();
    auto read = [this, into] { return pipe_.ReadFrame(into, stackBytes_); };
    try {
        ahead_ = std::async(std::launch::async, read);
    } catch (const std::system_error&) {
        ahead_ = std::async(std::launch::deferred, read);  // no thread to be had: read when taken
    }
}

// The picture read ahead, whole, as the current stack.
bool CEffectPictureStream::TakeStack() {
    const CToolFramePipe::Frame got = ahead_.valid() ? ahead_.get() : CToolFramePipe::Frame::kFailed;
    current_ ^= 1;
    switch (got) {
    case CToolFramePipe::Frame::kRead:
        return true;
    case CToolFramePipe::Frame::kToolEnded:
        // The picture it stopped at is the one it could not read.
        return pipe_.Fail(files_[std::min(next_, files_.size() - 1)] +
                          ": the picture tool could not read it (picture " + std::to_string(next_ + 1) + " of " +
                          std::to_string(files_.size()) + ", exit code " + std::to_string(pipe_.ExitCode()) + ")");
    case CToolFramePipe::Frame::kFailed:
        break;
    }
    return pipe_.Fail("the picture tool's pipe failed");
}

// The frame planes out of the grey stack, luma 2 where the alpha is below 128.
void CEffectPictureStream::UnstackPlanes(const EffectPlanes& p) const {
    const uint8_t* s = Stack();
    const uint8_t* alpha = s + kAlphaRow * kStackWidth;
    std::memcpy(p.y, s, kFramePixels);
    KeyLuma(p.y, alpha);
    const size_t cw = kEffectWidth / 2;
    for (size_t r = 0; r < kEffectHeight / 2; ++r) {
        const uint8_t* row = s + (kChromaRow + r) * kStackWidth;
        std::memcpy(p.cb + r * cw, row, cw);
        std::memcpy(p.cr + r * cw, row + cw, cw);
    }
}

// The frame planes made here from the RGBA frame, with the conversion the
// tool's chain makes (zimg, the same slices), luma 2 where the alpha is
// below 128.
bool CEffectPictureStream::ConvertRgba(const EffectPlanes& p, std::string& why) {
    uint8_t* alpha = alpha_.Data();
    rgb_.PutRgba(Stack(), 0, kFramePixels, alpha);
    const size_t chroma = kFramePixels / 4;
    // zimg wants its planes on 64-byte boundaries; the caller's may not be.
    const bool direct = Aligned64(p.y) && Aligned64(p.cb) && Aligned64(p.cr);
    if (!direct && !planes_.Data() && !planes_.Allocate(kFramePixels + 2 * chroma)) {
        why = "out of memory";
        return false;
    }
    uint8_t* y = direct ? p.y : planes_.Data();
    uint8_t* cb = direct ? p.cb : y + kFramePixels;
    uint8_t* cr = direct ? p.cr : cb + chroma;
    if (!converter_.Convert(rgb_, y, cb, cr, &why)) return false;
    if (!direct) {
        std::memcpy(p.y, y, kFramePixels);
        std::memcpy(p.cb, cb, chroma);
        std::memcpy(p.cr, cr, chroma);
    }
    KeyLuma(p.y, alpha);
    return true;
}

// The preview as AddPicture makes it: B, G, R and the transparency.
void CEffectPictureStream::UnstackPreview(uint8_t* px) const {
    const uint8_t* s = Stack();
    for (size_t r = 0; r < size_t(kPreviewHeight); ++r) {
        const uint8_t* bgr = s + (kPreviewRow + r) * kStackWidth;
        const uint8_t* a = s + (kPreviewAlphaRow + r) * kStackWidth;
        uint8_t* out = px + r * size_t(kPreviewWidth) * 4;
        for (size_t x = 0; x < size_t(kPreviewWidth); ++x) {
            out[4 * x] = bgr[x];
            out[4 * x + 1] = bgr[kPreviewWidth + x];
            out[4 * x + 2] = bgr[2 * kPreviewWidth + x];
            out[4 * x + 3] = a[x] < 128 ? 255 : 0;
        }
    }
}

// The same preview from the bands below the RGBA frame.
void CEffectPictureStream::UnstackRgbaPreview(uint8_t* px) const {
    const uint8_t* bands = Stack() + kFramePixels * 4;
    const size_t rowBytes = size_t(kPreviewWidth) * 4;
    for (size_t r = 0; r < size_t(kPreviewHeight); ++r) {
        const uint8_t* in = bands + (r % kBandRows) * size_t(kEffectWidth) * 4 + (r / kBandRows) * rowBytes;
        uint8_t* out = px + r * rowBytes;
        // Whole pixels as words (R lowest): R and B change places, the
        // alpha becomes the transparency.
        for (size_t x = 0; x < rowBytes; x += 4) {
            uint32_t v;
            std::memcpy(&v, in + x, 4);
            const uint32_t clear = (v >> 24) < 128 ? 0xff000000u : 0u;
            v = (v & 0x0000ff00u) | (v >> 16 & 0xffu) | (v & 0xffu) << 16 | clear;
            std::memcpy(out + x, &v, 4);
        }
    }
}

bool CEffectPictureStream::Next(CStinger& stinger, const EffectPlanes& p) {
    if (next_ >= files_.size()) return false;
    if (!started_) {
        if (!Start()) return false;
        ReadAhead();
    }
    // A failure stops the tool and ends the stream, with no read under way
    // (and none after it).
    if (!ahead_.valid() || !TakeStack()) return false;
    if (next_ + 1 < files_.size()) ReadAhead();
    std::string why;
    auto picture = std::make_unique<CPicture>();
    if (convertsHere_) {
        if (!ConvertRgba(p, why)) why = why.empty() ? "the frame cannot be converted" : why;
    } else {
        UnstackPlanes(p);
    }
    if (why.empty() && !picture->Create(kPreviewWidth, kPreviewHeight)) why = "out of memory";
    if (!why.empty()) {
        if (ahead_.valid()) ahead_.get();
        return pipe_.Fail(why);
    }
    if (convertsHere_) UnstackRgbaPreview(picture->Bits());
    else UnstackPreview(picture->Bits());
    stinger.Pictures().Add(std::move(picture));
    ++next_;
    // Every picture is in: the tool must end, and end well.
    if (next_ == files_.size()) return pipe_.Finish();
    return true;
}

bool ConvertSound(const std::string& soundPath, uint8_t* buffer, size_t bytes, const CEffectWorkFolder& work) {
    if (work.Path().empty() || !CheckInputPath(soundPath)) return false;
    const std::string source = work.LiteralName("sound", soundPath);
    RemoveAtEnd cleanup{{work.File("1.raw")}};
    if (source.empty() || !RunFfmpeg({"-i", source, "-t", "00:00:05", "-f", "s24le", "-ar", "48000", "-ac", "2",
                    "-acodec", "pcm_s24le", "-y", "1.raw"},
                   work))
        return false;
    CFileHandle file(OpenInputFile(work.File("1.raw")));
    if (file.fd < 0) return false;
    size_t got = 0;
    while (got < bytes) {
        ssize_t r = ::read(file.fd, buffer + got, bytes - got);
        if (r < 0 && errno == EINTR) continue;
        if (r < 0) return false;
        if (r == 0) break;
        got += size_t(r);
    }
    return true;
}

}  // namespace rk
