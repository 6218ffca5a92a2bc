#include "effects/logo_source.h"

#include <unistd.h>

#include <cctype>
#include <cstdio>
#include <cstring>
#include <new>
#include <vector>

#include "base/log.h"
#include "base/path_util.h"
#include "card/card_directory.h"
#include "codec/kavq1_slot.h"
#include "codec/kvq1_decoder.h"
#include "codec/kvq1_encoder.h"
#include "codec/kvq1_format.h"
#include "convert/picture_filter.h"
#include "convert/picture_run.h"
#include "convert/tool_folder.h"
#include "effects/logo_file.h"
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

}  // namespace

std::string LogoFilterGraph(bool toYCbCr, bool limitedRange) {
    // The picture at its own size as RGBA, extended with transparent black to
    // at least 960 x 540 and cut to its top-left 960 x 540; then its colour
    // without the alpha beside its alpha as grey, on black 1920 x 1080. The
    // planes are moved, never converted, so no sample is rounded on the way.
    std::string g =
        "scale,format=rgba,pad='max(960,iw)':'max(540,ih)':0:0:color=black@0,crop=960:540:0:0,split[c][a];"
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

CLogoPictureSource::~CLogoPictureSource() = default;

bool CLogoPictureSource::Start() {
    started_ = true;
    const size_t m = pictures_.paths.size();
    if (m == 0) return pipe_.Fail("no pictures");
    planes_.reset(new (std::nothrow) uint8_t[kCodedLuma + 2 * kCodedChroma]);
    encoder_.reset(new (std::nothrow) KVQ1Encoder(1, kLogoBudgetSectors, kLogoRateCode));
    if (!planes_ || !encoder_) return pipe_.Fail("out of memory");
    // The filler lines below the picture: luma black, chroma neutral.
    std::memset(planes_.get() + kLuma, 0, kCodedLuma - kLuma);
    std::memset(planes_.get() + kCodedLuma + kChroma, 128, kCodedChroma - kChroma);
    std::memset(planes_.get() + kCodedLuma + kCodedChroma + kChroma, 128, kCodedChroma - kChroma);

    if (!pipe_.MakeFolder()) return false;
    const std::string fifo = pipe_.OpenPipe(kPipeName);
    if (fifo.empty()) return false;

    std::vector<std::string> args = {"-nostdin", "-xerror"};
    if (pictures_.numbered && m > 1) {
        // One image reader over the run the sequence rule found, and only
        // over it: one picture a frame, in order, up to the first gap.
        std::vector<std::string> input;
        std::string why;
        if (!LinkPictureRun(pipe_.Folder(), pictures_.paths, input, why)) return pipe_.Fail(why);
        args.insert(args.end(), input.begin(), input.end());
    } else {
        const std::string source = pipe_.Folder().LiteralName("source", pictures_.paths[0]);
        if (source.empty()) return pipe_.Fail("cannot link the picture");
        args.insert(args.end(), {"-i", source});
    }
    args.insert(args.end(), {"-filter_complex", LogoFilterGraph(true, limitedRange_), "-an", "-fps_mode", "passthrough",
                             "-frames:v", std::to_string(m), "-f", "rawvideo", "-y", fifo});
    if (!pipe_.StartTool(kToolFfmpeg, args)) return false;
    LogMessage(2, "CLogoPictureSource: %zu pictures, %d frames each", m, repeat_);
    return true;
}

// One whole picture from the pipe into the planes: the tool's planes are
// contiguous, ours have filler lines behind the luma and each chroma plane.
bool CLogoPictureSource::ReadPicture() {
    const FramePart parts[3] = {{planes_.get(), 0, kLuma},
                                {planes_.get() + kCodedLuma, kLuma, kLuma + kChroma},
                                {planes_.get() + kCodedLuma + kCodedChroma, kLuma + kChroma, kLuma + 2 * kChroma}};
    switch (pipe_.ReadFrame(parts, 3)) {
    case CToolFramePipe::Frame::kRead:
        return true;
    case CToolFramePipe::Frame::kToolEnded:
        return pipe_.Fail("the picture tool ended before the last picture (exit code " +
                          std::to_string(pipe_.ExitCode()) + ")");
    case CToolFramePipe::Frame::kFailed:
        break;
    }
    return false;
}

bool CLogoPictureSource::EncodeInto(uint8_t* slot, size_t bytes) {
    std::memset(slot, 0, bytes);
    FillAudioChunk(slot, 0, kLogoRateCode, nullptr, 0);
    const uint8_t* y = planes_.get();
    const uint8_t* cb = y + kCodedLuma;
    const uint8_t* cr = cb + kCodedChroma;
    if (encoder_->Encode(0, y, cb, cr, slot + kClusterSize) <= 0) return pipe_.Fail("the picture could not be coded");
    lastSlot_ = slot;
    return true;
}

int CLogoPictureSource::Next(uint8_t* slot, size_t bytes) {
    if (pipe_.Failed()) return -1;
    if (produced_ >= frames_) return 0;
    if (bytes < size_t(kLogoSlotClusters) * kClusterSize) return pipe_.Fail("slot too small"), -1;
    if (!started_ && !Start()) return -1;
    const uint64_t picture = produced_ / uint64_t(repeat_);
    if (produced_ % uint64_t(repeat_) == 0) {
        if (!ReadPicture() || !EncodeInto(slot, bytes)) return -1;
        if (picture == pictures_.paths.size() / 2) MakeThumbnail(slot);
        // Every picture is in: the tool must end, and end well.
        if (picture + 1 == pictures_.paths.size() && !pipe_.Finish()) return -1;
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
// to 120 pixels wide.
void CLogoPictureSource::MakeThumbnail(const uint8_t* slot) {
    if (!thumbnailBlock_) return;
    std::unique_ptr<uint8_t[]> planes(new (std::nothrow) uint8_t[kCodedLuma * 3]);
    if (!planes) return;
    uint8_t* y = planes.get();
    uint8_t* cb = y + kCodedLuma;
    uint8_t* cr = cb + kCodedLuma;
    KVQ1Decoder decoder;
    if (!decoder.Decode(slot + kClusterSize, size_t(kLogoSlotClusters - 1) * kClusterSize, y, cb, cr)) return;
    CPicture full, quarter;
    FramePlanes frame{y, cb, cr, kWidth, kHeight};
    if (!FrameToPicture(frame, full) || !quarter.Create(kWidth / 2, kHeight / 2)) return;
    quarter.Composite(full, kWidth / 2, kHeight / 2, 0);
    while (quarter.Width() > kThumbWidth) quarter.Halve();
    std::memset(thumbnailBlock_, 0, kThumbBlockBytes);
    quarter.ToUYVY(thumbnailBlock_);
    thumbnailMade_ = true;
}

}  // namespace rk
