#pragma once
// Logo frames from pictures. Every logo frame is a 1920 x 1080 KVQ1 frame
// (size class 1, 768 sectors, rate code 50) whatever the card: the picture's
// colour in the top-left quarter, its alpha as grey in the top-right quarter,
// black elsewhere, each picture first extended with transparent black to
// 960 x 540 and cut to that.
//
// One ffmpeg run over the whole sequence does what three tool runs a picture
// would (the RGBA picture, its alpha, the composed frame picture) and the
// import encoder's own conversion to Y'CbCr 4:2:0 after them, with the same
// filters, so the frames come out as those steps make them; the pictures
// arrive through a FIFO in a private folder (0700) that is also the tool's
// working directory, and are coded here. A picture repeated for a slower
// speed is converted and coded once: its repeats differ only in the frame
// index in the head cluster and the frame header.
#include <sys/types.h>

#include <cstdint>
#include <memory>
#include <string>

#include "convert/tool_frame_pipe.h"
#include "effects/logo_sequence.h"
#include "media/slot_stream.h"

namespace rk {

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
    // Ends the tool and removes the FIFO and the folder.
    ~CLogoPictureSource() override;
    CLogoPictureSource(const CLogoPictureSource&) = delete;
    CLogoPictureSource& operator=(const CLogoPictureSource&) = delete;

    // Slots need at least 33 Clusters; the rest behind them stays zero.
    int Next(uint8_t* slot, size_t bytes) override;
    std::string Cause() const override { return pipe_.Cause(); }

    uint64_t Frames() const { return frames_; }
    bool ThumbnailMade() const { return thumbnailMade_; }
    // The tool's pipe: its stall limit, and for tests its process and folder.
    CToolFramePipe& Pipe() { return pipe_; }

private:
    bool Start();
    bool ReadPicture();
    bool EncodeInto(uint8_t* slot, size_t bytes);
    void MakeThumbnail(const uint8_t* slot);

    LogoPictures pictures_;
    int repeat_ = 1;
    bool limitedRange_ = false;
    uint8_t* thumbnailBlock_ = nullptr;
    bool thumbnailMade_ = false;
    uint64_t frames_ = 0;
    uint64_t produced_ = 0;
    bool started_ = false;

    CToolFramePipe pipe_{"CLogoPictureSource"};
    std::unique_ptr<uint8_t[]> planes_;  // luma 1920 x 1088, Cb and Cr 960 x 544
    std::unique_ptr<KVQ1Encoder> encoder_;
    const uint8_t* lastSlot_ = nullptr;
};

}  // namespace rk
