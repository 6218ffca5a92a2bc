#pragma once
// Logo frames from pictures. Every logo frame is a 1920 x 1080 KVQ1 frame
// (size class 1, 768 sectors, rate code 50) whatever the card: the picture's
// colour in the top-left quarter, its alpha as grey in the top-right quarter,
// black elsewhere, each picture first extended with transparent black to
// 960 x 540 and cut to that.
//
// One ffmpeg run over the whole sequence does what three tool runs a picture
// would (the RGBA picture, its alpha, the composed frame picture) with the
// same filters; the pictures arrive through a FIFO in a private folder
// (0700) that is also the tool's working directory, and are coded here. The
// tool sends each 960 x 540 RGBA picture, and the frame's 4:2:0 planes are
// made here with the import encoder's conversion (the same zimg steps on
// the same slices) of the part of the frame a picture can change; the next
// picture is read while this one is converted and coded. PNG pictures of
// 960 x 540 and 8-bit RGB or RGBA, which that graph only moves, are decoded
// here instead, and the tool starts only at the first picture that is not
// one. Where the conversion cannot be readied, the tool converts the whole
// frame as the import encoder would (LogoFilterGraph). A picture repeated
// for a slower speed is converted and coded once: its repeats differ only
// in the frame index in the head cluster and the frame header.
#include <sys/types.h>

#include <cstdint>
#include <future>
#include <memory>
#include <string>

#include "convert/plane_memory.h"
#include "convert/rgb_to_frame.h"
#include "convert/tool_frame_pipe.h"
#include "effects/logo_sequence.h"
#include "media/slot_stream.h"

namespace rk {

class CFramePngDecoder;
class KVQ1Encoder;

// The ffmpeg filter graph of the logo frame pictures: with `toYCbCr` the
// import encoder's conversion at the end (full or limited range), without it
// the frame picture as 24-bit RGB.
std::string LogoFilterGraph(bool toYCbCr, bool limitedRange);

class CLogoPictureSource : public ISlotSource {
public:
    // `repeat` 1..5 slots per picture. `thumbnailBlock` (24576 bytes), when
    // given, receives the logo thumbnail of picture m / 2 once that is coded.
    CLogoPictureSource(const LogoPictures& pictures, int repeat, bool limitedRange, uint8_t* thumbnailBlock);
    // Ends the tool and removes the FIFO and the folder (a read under way
    // ends first, with its picture or the stall limit).
    ~CLogoPictureSource() override;
    CLogoPictureSource(const CLogoPictureSource&) = delete;
    CLogoPictureSource& operator=(const CLogoPictureSource&) = delete;

    // Slots need at least 33 Clusters; the rest behind them stays zero.
    int Next(uint8_t* slot, size_t bytes) override;
    std::string Cause() const override { return pipe_.Cause(); }

    uint64_t Frames() const { return frames_; }
    bool ThumbnailMade() const { return thumbnailMade_; }
    // Before the first Next: false has the tool convert whole frames
    // (LogoFilterGraph), as when the conversion here cannot be readied.
    void SetConvertHere(bool here) { convertHere_ = here; }
    // Once started: true when the frames' planes are made here.
    bool ConvertsHere() const { return convertHere_; }
    // The tool's pipe: its stall limit, and for tests its process and folder.
    CToolFramePipe& Pipe() { return pipe_; }

private:
    bool Start();
    bool StartTool(size_t first);
    bool PrepareConversion();
    bool FillTransparentFrame();
    bool ReadPicture();
    bool Taken(CToolFramePipe::Frame got);
    void ReadAhead();
    bool TakePicture();
    void ConvertPicture();
    bool EncodeInto(uint8_t* slot, size_t bytes);
    void MakeThumbnail(const uint8_t* slot);
    bool Fail(const std::string& why);

    LogoPictures pictures_;
    int repeat_ = 1;
    bool limitedRange_ = false;
    uint8_t* thumbnailBlock_ = nullptr;
    bool thumbnailMade_ = false;
    uint64_t frames_ = 0;
    uint64_t produced_ = 0;
    bool started_ = false;

    CToolFramePipe pipe_{"CLogoPictureSource"};
    CPlaneMemory planes_;  // luma 1920 x 1088, Cb and Cr 960 x 544
    std::unique_ptr<KVQ1Encoder> encoder_;

    // With the conversion here: two RGBA pictures, the one being converted
    // and the next, read from the tool or decoded here meanwhile (`ahead_`;
    // the pipe and the decoder are not touched otherwise while that runs).
    bool convertHere_ = true;
    CPlaneMemory rgba_[2];
    int current_ = 0;
    std::future<CToolFramePipe::Frame> ahead_;
    // Pictures decoded here (until one is not of that form) rather than by
    // the tool; the next picture ReadAhead takes; whether the tool runs.
    bool decodeHere_ = false;
    bool notHere_ = false;  // set by the read ahead
    size_t nextRead_ = 0;
    bool toolStarted_ = false;
    std::string fifo_;
    std::unique_ptr<CFramePngDecoder> decoder_;
    CRgbPlanes band_;  // the frame's left columns as R, G and B
    CRgbFrameConverter converter_;
    uint8_t lumaOfAlpha_[256] = {};
    uint8_t neutralChroma_ = 128;
    bool alphaIsLuma_ = false;  // the table is the identity
    const uint8_t* lastSlot_ = nullptr;
};

}  // namespace rk
