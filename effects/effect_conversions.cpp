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
#include <vector>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif
extern "C" {
#include <libavutil/opt.h>
#include <libswscale/swscale.h>
}

#include "base/fd_io.h"
#include "base/log.h"
#include "base/path_util.h"
#include "base/run_aside.h"
#include "base/safe_open.h"
#include "codec/kvq1_format.h"
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
    uint8_t head[kPngHeadBytes];
    PngHeader h;
    if (ReadWholeAt(file.fd, 0, head, sizeof head) != 1 || !ReadPngHeader(head, sizeof head, h)) return false;
    return h.width == uint32_t(kEffectWidth) && h.height == uint32_t(kEffectHeight) && h.depth == 8 &&
           (h.colourType == 2 || h.colourType == 6) && h.compression == 0 && h.filter == 0 && h.interlace <= 1;
}

CEffectPictureStream::CEffectPictureStream(const std::vector<std::string>& files) : files_(files) {}

CEffectPictureStream::~CEffectPictureStream() {
    // The read or decode under way ends with its picture (or the stall
    // limit) before the pipe and the pictures go.
    if (ahead_.valid()) ahead_.wait();
    if (decoded_.valid()) decoded_.wait();
    for (SwsContext* scaler : scalers_) sws_freeContext(scaler);
}

bool CEffectPictureStream::Start() {
    started_ = true;
    if (files_.empty()) return pipe_.Fail("no pictures");
    convertsHere_ = std::all_of(files_.begin(), files_.end(), IsFrameSizedRgbPng);
    if (convertsHere_) {
        std::string why;
        if (!rgb_.Create(kEffectWidth, kEffectHeight) || !alpha_.Allocate(kFramePixels) ||
            !preview_.Allocate(kPreviewBytes))
            return pipe_.Fail("out of memory");
        if (!converter_.Prepare(kEffectWidth, kEffectHeight, true, &why)) return pipe_.Fail(why);
        LogMessage(2, "CEffectPictureStream: %zu pictures, decoded and converted here", files_.size());
        return true;
    }
    if (!stack_[0].Allocate(kStackBytes) || !stack_[1].Allocate(kStackBytes)) return pipe_.Fail("out of memory");
    if (!pipe_.MakeFolder()) return false;
    std::vector<std::string> input;
    std::string why;
    if (!LinkPictureRun(pipe_.Folder(), files_, input, why)) return pipe_.Fail(why);
    if (pipe_.OpenPipe(kStreamPipe).empty()) return false;
    std::vector<std::string> args = {"-v", "error", "-nostdin", "-xerror"};
    args.insert(args.end(), input.begin(), input.end());
    args.insert(args.end(), {"-filter_complex", EffectStreamGraph(), "-an", "-fps_mode", "passthrough", "-frames:v",
                             std::to_string(files_.size()), "-f", "rawvideo", "-y", kStreamPipe});
    if (!pipe_.StartTool(kToolFfmpeg, args)) return false;
    LogMessage(2, "CEffectPictureStream: %zu pictures, frame planes made by the tool", files_.size());
    return true;
}

// The next stacked picture read into the other stack, on a thread of its
// own, so that the tool can go on while this one is unstacked and coded.
void CEffectPictureStream::ReadAhead() {
    uint8_t* into = stack_[current_ ^ 1].Data();
    auto read = [this, into] { return pipe_.ReadFrame(into, kStackBytes); };
    ahead_ = RunAside(read);
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

// The next picture decoded by the other decoder, on a thread of its own,
// while this one is converted and coded.
void CEffectPictureStream::DecodeAhead(size_t index) {
    const int slot = current_ ^ 1;
    auto decode = [this, slot, index] {
        return decoders_[slot].Decode(files_[index], kEffectWidth, kEffectHeight, decodeWhy_[slot]);
    };
    decoded_ = RunAside(decode);
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

// The frame planes made here from the decoded picture, with the conversion
// the tool's chain makes (zimg, the same slices), luma 2 where the alpha is
// below 128.
bool CEffectPictureStream::ConvertDecoded(const CFramePngDecoder& picture, const EffectPlanes& p, std::string& why) {
    uint8_t* alpha = alpha_.Data();
    if (picture.HasAlpha()) rgb_.PutRgba(picture.Pixels(), 0, kFramePixels, alpha);
    else rgb_.PutRgb(picture.Pixels(), 0, kFramePixels);
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
    if (picture.HasAlpha()) KeyLuma(p.y, alpha);
    return true;
}

// The preview as AddPicture's scale filter makes it from the decoded
// picture: the same library's bicubic scaler, from the decoded format
// straight to BGRA with the filter's options, then the transparency.
bool CEffectPictureStream::ScalePreview(const CFramePngDecoder& picture, uint8_t* px, std::string& why) {
    const int kind = picture.HasAlpha() ? 1 : 0;
    if (!scalers_[kind]) {
        SwsContext* scaler = sws_alloc_context();
        if (scaler) {
            av_opt_set_int(scaler, "srcw", kEffectWidth, 0);
            av_opt_set_int(scaler, "srch", kEffectHeight, 0);
            av_opt_set_int(scaler, "src_format", kind ? AV_PIX_FMT_RGBA : AV_PIX_FMT_RGB24, 0);
            av_opt_set_int(scaler, "dstw", kPreviewWidth, 0);
            av_opt_set_int(scaler, "dsth", kPreviewHeight, 0);
            av_opt_set_int(scaler, "dst_format", AV_PIX_FMT_BGRA, 0);
            av_opt_set_int(scaler, "sws_flags", SWS_BICUBIC, 0);
            if (sws_init_context(scaler, nullptr, nullptr) < 0) {
                sws_freeContext(scaler);
                scaler = nullptr;
            }
        }
        if (!scaler) {
            why = "the preview's scaler cannot be made";
            return false;
        }
        scalers_[kind] = scaler;
    }
    const uint8_t* const in[4] = {picture.Pixels(), nullptr, nullptr, nullptr};
    const int inStride[4] = {int(picture.RowBytes()), 0, 0, 0};
    uint8_t* const out[4] = {preview_.Data(), nullptr, nullptr, nullptr};
    const int outStride[4] = {kPreviewWidth * 4, 0, 0, 0};
    if (sws_scale(scalers_[kind], in, inStride, 0, kEffectHeight, out, outStride) != kPreviewHeight) {
        why = "the preview cannot be scaled";
        return false;
    }
    // Whole pixels as words (B lowest): the alpha becomes the transparency.
    const uint8_t* bgra = preview_.Data();
    for (size_t i = 0; i < kPreviewBytes; i += 4) {
        uint32_t v;
        std::memcpy(&v, bgra + i, 4);
        v = (v & 0x00ffffffu) | ((v >> 24) < 128 ? 0xff000000u : 0u);
        std::memcpy(px + i, &v, 4);
    }
    return true;
}

// A picture this process does not decode goes through each conversion's
// own tool run, as AddPicture and ConvertFrame make them.
bool CEffectPictureStream::ConvertByTool(CStinger& stinger, const EffectPlanes& p, std::string& why) {
    const std::string& file = files_[next_];
    if (work_.Path().empty() && !work_.Create()) {
        why = work_.Cause();
        return false;
    }
    if (rgba_.empty()) rgba_.resize(kFramePixels * 4);
    if (!AddPicture(stinger, file, work_) || !ConvertFrame(file, EffectPlanes{p.y, p.cb, p.cr, rgba_.data()}, work_)) {
        why = file + ": the picture tool could not read it (picture " + std::to_string(next_ + 1) + " of " +
              std::to_string(files_.size()) + ")";
        return false;
    }
    return true;
}

bool CEffectPictureStream::NextDecodedHere(CStinger& stinger, const EffectPlanes& p) {
    // A failure ends the stream with no decode under way (and none after it).
    if (!decoded_.valid()) return false;
    const bool decoded = decoded_.get();
    current_ ^= 1;
    const CFramePngDecoder& picture = decoders_[current_];
    if (next_ + 1 < files_.size()) DecodeAhead(next_ + 1);
    std::string why;
    if (decoded) {
        // The preview is scaled on a thread of its own while the frame is
        // converted: both only read the decoded picture.
        auto preview = std::make_unique<CPicture>();
        if (!preview->Create(kPreviewWidth, kPreviewHeight)) {
            why = "out of memory";
        } else {
            std::string previewWhy;
            auto scale = [this, &picture, &preview, &previewWhy] {
                return ScalePreview(picture, preview->Bits(), previewWhy);
            };
            std::future<bool> scaled = RunAside(scale);
            const bool converted = ConvertDecoded(picture, p, why);
            if (!scaled.get() && why.empty()) why = previewWhy;
            if (converted && why.empty()) stinger.Pictures().Add(std::move(preview));
            else if (why.empty()) why = "the frame cannot be converted";
        }
    } else {
        LogMessage(2, "CEffectPictureStream: %s: %s; the tool reads it", files_[next_].c_str(),
                   decodeWhy_[current_].c_str());
        ConvertByTool(stinger, p, why);
    }
    if (!why.empty()) {
        if (decoded_.valid()) decoded_.get();
        return pipe_.Fail(why);
    }
    ++next_;
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

bool CEffectPictureStream::Next(CStinger& stinger, const EffectPlanes& p) {
    if (next_ >= files_.size()) return false;
    if (!started_) {
        if (!Start()) return false;
        if (convertsHere_) DecodeAhead(0);
        else ReadAhead();
    }
    if (convertsHere_) return NextDecodedHere(stinger, p);
    // A failure stops the tool and ends the stream, with no read under way
    // (and none after it).
    if (!ahead_.valid() || !TakeStack()) return false;
    if (next_ + 1 < files_.size()) ReadAhead();
    auto picture = std::make_unique<CPicture>();
    if (!picture->Create(kPreviewWidth, kPreviewHeight)) {
        if (ahead_.valid()) ahead_.get();
        return pipe_.Fail("out of memory");
    }
    UnstackPlanes(p);
    UnstackPreview(picture->Bits());
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
