#include "effects/logo_source.h"

#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <new>
#include <vector>

#include "base/log.h"
#include "base/path_util.h"
#include "base/run_aside.h"
#include "card/card_directory.h"
#include "codec/kavq1_slot.h"
#include "codec/kvq1_decoder.h"
#include "codec/kvq1_encoder.h"
#include "codec/kvq1_format.h"
#include "convert/picture_filter.h"
#include "convert/picture_run.h"
#include "convert/tool_folder.h"
#include "effects/effect_picture_decoder.h"
#include "effects/logo_file.h"
#include "media/frame_rgb.h"
#include "media/picture.h"
#include "media/thumbnail.h"

namespace rk {

namespace {

constexpr int kWidth = 1920, kHeight = 1080, kCodedHeight = 1088;
constexpr size_t kLuma = size_t(kWidth) * kHeight;            // from the tool
constexpr size_t kChroma = kLuma / 4;
constexpr size_t kCodedLuma = size_t(kWidth) * kCodedHeight;  // to the encoder
constexpr size_t kCodedChroma = kCodedLuma / 4;
constexpr int kLogoBudgetSectors = kHdBudgetSectors;
constexpr const char* kPipeName = "logo.yuv";

// The picture as the tool sends it when the frame is converted here.
constexpr int kPictureWidth = kWidth / 2, kPictureHeight = kHeight / 2;
constexpr size_t kPicturePixels = size_t(kPictureWidth) * kPictureHeight;
// The left columns of the frame converted for every picture: the colour and
// the start of the alpha beside it, as far as the chroma filter at the seam
// reaches and a width the converter takes. Right of them the frame is grey
// (the alpha) above black, whose chroma is neutral: the luma there is a
// table of the alpha, made once by the same conversion.
constexpr int kBandWidth = 1024;
constexpr int kGreyInBand = kBandWidth - kPictureWidth;
// The lines converted for every picture: the picture's, and below them as
// many black lines as the chroma filter reaches (6 each way) and again, so
// that the lines whose chroma the cut could change see only black.
constexpr int kBandLines = kPictureHeight + 20;

std::string LogoPictureGraph() {
    // The picture at its own size as RGBA, extended with transparent black to
    // at least 960 x 540 and cut to its top-left 960 x 540.
    return "scale,format=rgba,pad='max(960,iw)':'max(540,ih)':0:0:color=black@0,crop=960:540:0:0";
}

}  // namespace

std::string LogoFilterGraph(bool toYCbCr, bool limitedRange) {
    // The picture's colour without the alpha beside its alpha as grey, on
    // black 1920 x 1080. The planes are moved, never converted, so no sample
    // is rounded on the way.
    std::string g = LogoPictureGraph() +
                    ",split[c][a];"
                    "[c]extractplanes=r+g+b[r][g][b];[a]extractplanes=a,split=3[a1][a2][a3];"
                    "[g][b][r]mergeplanes=0x001020:gbrp[col];[a1][a2][a3]mergeplanes=0x001020:gbrp[alp];"
                    "[col][alp]hstack,pad=1920:1080:0:0:black,format=rgb24";
    // The import encoder's conversion of a 24-bit picture.
    if (toYCbCr) g += "," + RgbToFrameSteps(kWidth, kHeight, limitedRange);
    return g;
}

CLogoPictureSource::CLogoPictureSource(const LogoPictures& pictures, int repeat, bool limitedRange,
                                       uint8_t* thumbnailBlock)
    : pictures_(pictures), repeat_(repeat < 1 ? 1 : repeat), limitedRange_(limitedRange),
      thumbnailBlock_(thumbnailBlock) {
    frames_ = uint64_t(pictures_.paths.size()) * uint64_t(repeat_);
}

CLogoPictureSource::~CLogoPictureSource() {
    if (ahead_.valid()) ahead_.wait();
}

// The converter of the left columns' slices, and from the same conversion
// of a picture of every grey the luma of each alpha and the chroma of grey,
// which must be one value (neutral) for all of them, black included: the
// frame of a wholly transparent picture is then that luma of 0 and that
// chroma throughout (FillTransparentFrame), and the grey right of the
// converted columns has that chroma too. False when any of it cannot be
// had or the chroma differs.
bool CLogoPictureSource::PrepareConversion() {
    std::string why;
    constexpr int kRampWidth = 256, kRampHeight = 16;
    CRgbPlanes ramp;
    CRgbFrameConverter rampConverter;
    CPlaneMemory out;
    if (!ramp.Create(kRampWidth, kRampHeight) || !out.Allocate(size_t(kRampWidth) * kRampHeight * 2)) return false;
    uint8_t greys[kRampWidth * 4];
    for (int v = 0; v < kRampWidth; ++v) std::memset(greys + v * 4, v, 4);
    for (size_t r = 0; r < size_t(kRampHeight); ++r) ramp.PutRgba(greys, r * kRampWidth, kRampWidth);
    uint8_t* rampY = out.Data();
    uint8_t* rampCb = rampY + size_t(kRampWidth) * kRampHeight;
    uint8_t* rampCr = rampCb + size_t(kRampWidth) * kRampHeight / 4;
    if (!rampConverter.Prepare(kRampWidth, kRampHeight, limitedRange_, &why) ||
        !rampConverter.Convert(ramp, rampY, rampCb, rampCr, &why) ||
        !converter_.PrepareTop(kBandWidth, kHeight, kBandLines, limitedRange_, &why)) {
        LogMessage(1, "CLogoPictureSource: %s", why.c_str());
        return false;
    }
    std::memcpy(lumaOfAlpha_, rampY, sizeof lumaOfAlpha_);
    alphaIsLuma_ = true;  // in full range, as a rule
    for (int v = 0; v < kRampWidth; ++v) alphaIsLuma_ = alphaIsLuma_ && lumaOfAlpha_[v] == v;
    neutralChroma_ = rampCb[0];
    for (size_t i = 0; i < size_t(kRampWidth) * kRampHeight / 4; ++i)
        if (rampCb[i] != neutralChroma_ || rampCr[i] != neutralChroma_) return false;
    return true;
}

// The transparent frame into the planes, and black into the converted
// lines' source, which the pictures then overwrite where they reach.
bool CLogoPictureSource::FillTransparentFrame() {
    if (!band_.Create(kBandWidth, kHeight) || !rgba_[0].Allocate(kPicturePixels * 4) ||
        !rgba_[1].Allocate(kPicturePixels * 4))
        return false;
    uint8_t* const y = planes_.Data();
    std::memset(y, lumaOfAlpha_[0], kLuma);
    std::memset(y + kCodedLuma, neutralChroma_, kChroma);
    std::memset(y + kCodedLuma + kCodedChroma, neutralChroma_, kChroma);
    const std::vector<uint8_t> black(size_t(kBandWidth) * 4, 0);
    for (size_t r = 0; r < size_t(converter_.ConvertedLines()); ++r)
        band_.PutRgba(black.data(), r * kBandWidth, kBandWidth);
    return true;
}

bool CLogoPictureSource::Start() {
    started_ = true;
    const size_t m = pictures_.paths.size();
    if (m == 0) return pipe_.Fail("no pictures");
    if (convertHere_) convertHere_ = PrepareConversion();
    // PNG pictures (by their names, as the tool chooses its decoder) are
    // decoded here while they are 960 x 540 of 8-bit RGB or RGBA: the
    // samples the tool's graph would send, since that graph only moves
    // them at that size.
    decodeHere_ = convertHere_ && std::all_of(pictures_.paths.begin(), pictures_.paths.end(),
                                              [](const std::string& p) { return ExtensionIs(p, ".png"); });
    if (!pipe_.MakeFolder()) return false;
    fifo_ = pipe_.OpenPipe(kPipeName);
    if (fifo_.empty()) return false;
    if (!decodeHere_ && !StartTool(0)) return false;

    // The memory, while the tool starts.
    encoder_.reset(new (std::nothrow) KVQ1Encoder(1, kLogoBudgetSectors, kLogoRateCode));
    if (!encoder_ || !planes_.Allocate(kCodedLuma + 2 * kCodedChroma)) return pipe_.Fail("out of memory");
    // The filler lines below the picture: luma black, chroma neutral.
    uint8_t* const y = planes_.Data();
    std::memset(y + kLuma, 0, kCodedLuma - kLuma);
    std::memset(y + kCodedLuma + kChroma, 128, kCodedChroma - kChroma);
    std::memset(y + kCodedLuma + kCodedChroma + kChroma, 128, kCodedChroma - kChroma);
    if (convertHere_ && !FillTransparentFrame()) return pipe_.Fail("out of memory");
    if (decodeHere_) decoder_ = std::make_unique<CFramePngDecoder>();
    return true;
}

// The tool over the pictures from `first` on, sending them into the FIFO.
bool CLogoPictureSource::StartTool(size_t first) {
    const size_t m = pictures_.paths.size() - first;
    std::vector<std::string> args = {"-nostdin", "-xerror"};
    // One decoding thread: this process's conversion and coding take the
    // other processor, and the decoder's threads would only add their
    // hand-overs to the work (a PNG's samples are the same either way).
    if (convertHere_) args.insert(args.end(), {"-threads", "1"});
    if (pictures_.numbered && m > 1) {
        // One image reader over the run the sequence rule found, and only
        // over it: one picture a frame, in order, up to the first gap.
        std::vector<std::string> input;
        std::string why;
        const std::vector<std::string> run(pictures_.paths.begin() + std::ptrdiff_t(first), pictures_.paths.end());
        if (!LinkPictureRun(pipe_.Folder(), run, input, why)) return pipe_.Fail(why);
        args.insert(args.end(), input.begin(), input.end());
    } else {
        const std::string source = pipe_.Folder().LiteralName("source", pictures_.paths[first]);
        if (source.empty()) return pipe_.Fail("cannot link the picture");
        args.insert(args.end(), {"-i", source});
    }
    args.insert(args.end(), {"-filter_complex", convertHere_ ? LogoPictureGraph() : LogoFilterGraph(true, limitedRange_),
                             "-an", "-fps_mode", "passthrough", "-frames:v", std::to_string(m)});
    // Each picture goes into the FIFO in one write, not through the tool's
    // output buffer.
    if (convertHere_) args.insert(args.end(), {"-pix_fmt", "rgba", "-avioflags", "direct"});
    args.insert(args.end(), {"-f", "rawvideo", "-y", fifo_});
    if (!pipe_.StartTool(kToolFfmpeg, args)) return false;
    toolStarted_ = true;
    LogMessage(2, "CLogoPictureSource: %zu pictures from picture %zu, %d frames each, frames converted %s", m,
               first + 1, repeat_, convertHere_ ? "here" : "by the tool");
    return true;
}

// One whole frame from the tool into the planes: the tool's planes are
// contiguous, ours have filler lines behind the luma and each chroma plane.
bool CLogoPictureSource::ReadPicture() {
    uint8_t* const y = planes_.Data();
    const FramePart parts[3] = {{y, 0, kLuma},
                                {y + kCodedLuma, kLuma, kLuma + kChroma},
                                {y + kCodedLuma + kCodedChroma, kLuma + kChroma, kLuma + 2 * kChroma}};
    return Taken(pipe_.ReadFrame(parts, 3));
}

// What a read came to: true for a whole picture; otherwise the pipe has
// failed, with the tool's exit code when it ended before the last picture.
bool CLogoPictureSource::Taken(CToolFramePipe::Frame got) {
    switch (got) {
    case CToolFramePipe::Frame::kRead:
        return true;
    case CToolFramePipe::Frame::kToolEnded:
        return pipe_.Fail("the picture tool ended before the last picture (exit code " +
                          std::to_string(pipe_.ExitCode()) + ")");
    case CToolFramePipe::Frame::kFailed:
        break;
    }
    // A failed read has failed the pipe with its cause; a picture that never
    // came has not.
    return pipe_.Failed() ? false : pipe_.Fail("the picture tool's pipe failed");
}

// The next RGBA picture, decoded here or read from the tool, into the
// other buffer on a thread of its own, so that the tool can go on while
// this one is converted and coded.
void CLogoPictureSource::ReadAhead() {
    uint8_t* into = rgba_[current_ ^ 1].Data();
    const size_t picture = nextRead_++;
    auto read = [this, into, picture] {
        if (!decodeHere_) return pipe_.ReadFrame(into, kPicturePixels * 4);
        std::string why;
        if (!decoder_->Decode(pictures_.paths[picture], kPictureWidth, kPictureHeight, why)) {
            LogMessage(2, "CLogoPictureSource: picture %zu to the tool: %s", picture + 1, why.c_str());
            notHere_ = true;
            return CToolFramePipe::Frame::kFailed;
        }
        const uint8_t* in = decoder_->Pixels();
        for (size_t r = 0; r < size_t(kPictureHeight); ++r, in += decoder_->RowBytes()) {
            uint8_t* out = into + r * kPictureWidth * 4;
            if (decoder_->HasAlpha()) {
                std::memcpy(out, in, size_t(kPictureWidth) * 4);
                continue;
            }
            // 24-bit RGB made RGBA as the tool's format step makes it: opaque.
            for (size_t x = 0; x < size_t(kPictureWidth); ++x) {
                std::memcpy(out + 4 * x, in + 3 * x, 3);
                out[4 * x + 3] = 255;
            }
        }
        return CToolFramePipe::Frame::kRead;
    };
    ahead_ = RunAside(read);
}

// The picture read ahead, whole, as the current one. A picture that is not
// of the form decoded here, and every one after it, comes from the tool.
bool CLogoPictureSource::TakePicture() {
    CToolFramePipe::Frame got = ahead_.valid() ? ahead_.get() : CToolFramePipe::Frame::kFailed;
    current_ ^= 1;
    if (notHere_) {
        notHere_ = false;
        decodeHere_ = false;
        if (!StartTool(nextRead_ - 1)) return false;
        got = pipe_.ReadFrame(rgba_[current_].Data(), kPicturePixels * 4);
    }
    return Taken(got);
}

// The current picture into the frame's planes: its colour and the first
// columns of its alpha as grey through the conversion of the left columns,
// the rest of the alpha's luma from the table. The rest of the frame is
// the transparent frame's, filled at the start.
void CLogoPictureSource::ConvertPicture() {
    const uint8_t* in = rgba_[current_].Data();
    uint8_t* const y = planes_.Data();
    uint8_t alpha[kPictureWidth];
    uint8_t grey[kGreyInBand * 4];
    for (size_t r = 0; r < size_t(kPictureHeight); ++r) {
        band_.PutRgba(in + r * kPictureWidth * 4, r * kBandWidth, kPictureWidth, alpha);
        for (int x = 0; x < kGreyInBand; ++x) std::memset(grey + 4 * x, alpha[x], 4);
        band_.PutRgba(grey, r * kBandWidth + kPictureWidth, kGreyInBand);
        uint8_t* row = y + r * kWidth + kBandWidth;
        if (alphaIsLuma_) {
            std::memcpy(row, alpha + kGreyInBand, kPictureWidth - kGreyInBand);
            continue;
        }
        for (int x = kGreyInBand; x < kPictureWidth; ++x) row[x - kGreyInBand] = lumaOfAlpha_[alpha[x]];
    }
}

bool CLogoPictureSource::Fail(const std::string& why) {
    // No read may be under way when the pipe stops, nor be taken after.
    if (ahead_.valid()) ahead_.get();
    return pipe_.Fail(why);
}

bool CLogoPictureSource::EncodeInto(uint8_t* slot, size_t bytes) {
    std::memset(slot, 0, bytes);
    FillAudioChunk(slot, 0, kLogoRateCode, nullptr, 0);
    const uint8_t* y = planes_.Data();
    const uint8_t* cb = y + kCodedLuma;
    const uint8_t* cr = cb + kCodedChroma;
    if (encoder_->Encode(0, y, cb, cr, slot + kClusterSize) <= 0) return Fail("the picture could not be coded");
    lastSlot_ = slot;
    return true;
}

int CLogoPictureSource::Next(uint8_t* slot, size_t bytes) {
    // A failure of the read under way shows when its picture is taken.
    if (!ahead_.valid() && pipe_.Failed()) return -1;
    if (produced_ >= frames_) return 0;
    if (bytes < size_t(kLogoSlotClusters) * kClusterSize) return Fail("slot too small"), -1;
    if (!started_) {
        if (!Start()) return -1;
        if (convertHere_) ReadAhead();
    }
    const uint64_t picture = produced_ / uint64_t(repeat_);
    const bool last = picture + 1 == pictures_.paths.size();
    if (produced_ % uint64_t(repeat_) == 0) {
        if (convertHere_) {
            if (!TakePicture()) return -1;
            if (!last) ReadAhead();
            ConvertPicture();
            std::string why;
            uint8_t* y = planes_.Data();
            if (!converter_.Convert(band_, y, kWidth, y + kCodedLuma, y + kCodedLuma + kCodedChroma, kWidth / 2, &why))
                return Fail(why), -1;
        } else if (!ReadPicture()) {
            return -1;
        }
        if (!EncodeInto(slot, bytes)) return -1;
        if (picture == pictures_.paths.size() / 2) MakeThumbnail(slot);
        // Every picture is in: the tool must end, and end well.
        if (last && toolStarted_ && !pipe_.Finish()) return -1;
        if (last && !toolStarted_) pipe_.Stop();  // no tool ran: the folder goes
    } else if (slot != lastSlot_) {
        // A repeat into another buffer than the last: code the planes again.
        if (!EncodeInto(slot, bytes)) return -1;
    }
    // The frame index, big-endian, in the head cluster and the frame header.
    WriteBE32(slot + 8, static_cast<uint32_t>(produced_));
    WriteBE32(slot + kClusterSize + 8, static_cast<uint32_t>(produced_));
    ++produced_;
    return 1;
}

// The logo thumbnail: the coded frame's top-left (colour) quarter, halved
// to 120 pixels wide. Only that quarter is made RGB (each pixel's colours
// are its own samples').
void CLogoPictureSource::MakeThumbnail(const uint8_t* slot) {
    if (!thumbnailBlock_) return;
    CPlaneMemory planes;
    if (!planes.Allocate(kCodedLuma * 3)) return;
    uint8_t* y = planes.Data();
    uint8_t* cb = y + kCodedLuma;
    uint8_t* cr = cb + kCodedLuma;
    KVQ1Decoder decoder;
    if (!decoder.Decode(slot + kClusterSize, size_t(kLogoSlotClusters - 1) * kClusterSize, y, cb, cr)) return;
    CPicture quarter;
    if (!quarter.Create(kWidth / 2, kHeight / 2)) return;
    for (int r = 0; r < kHeight / 2; ++r)
        YCbCrRowToRgb(y + size_t(r) * kWidth, cb + size_t(r / 2) * (kWidth / 2), cr + size_t(r / 2) * (kWidth / 2),
                      kWidth / 2, quarter.Row(r), RgbLayout::kBgrt);
    while (quarter.Width() > kThumbWidth) quarter.Halve();
    std::memset(thumbnailBlock_, 0, kThumbBlockBytes);
    quarter.ToUYVY(thumbnailBlock_);
    thumbnailMade_ = true;
}

}  // namespace rk
