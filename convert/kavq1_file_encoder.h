#pragma once
// KAVQ1FileEncoder turns any source that ffmpeg reads (a video file or a
// still picture) into KAVQ1 frame slots for one video mode, one slot per call.
//
// It probes the source with ffprobe, lets two ffmpeg processes decode the
// pictures and the sound into FIFOs in a private per-process folder, and
// spreads the encoding of pictures over worker threads, each with its own
// KVQ1Encoder. Frames come out strictly in order.
//
//   KAVQ1FileEncoder enc(path, sizeClass, (clustersPerFrame - 1) * 24, rateCode,
//                        limitedRange, deinterlace);
//   if (!enc.IsOpened()) -> "Can't open video file!"
//   std::vector<uint8_t> slot(enc.SlotBytes());
//   for (i = 0; i < enc.FrameCount(); ++i) {
//       std::fill(slot.begin(), slot.end(), 0);
//       if (!enc.GetNextFrame(slot.data())) break;  // no frame left
//       ... write the slot ...
//   }
#include <sys/types.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "codec/kvq1_format.h"
#include "convert/picture_filter.h"
#include "convert/pipe_folder.h"

namespace rk {

class CAppLaunch;

class KAVQ1FileEncoder {
public:
    // sizeClass 1 (1920x1080) or 2 (3840x2160); budgetSectors = (clusters per
    // frame - 1) x 24; frameRateCode 25, 29, 30, 50, 59 or 60 (anything else
    // is taken as 50). `processors` is the number of cores to encode on (0:
    // every processor of the machine); one worker more than that holds the
    // picture being read, and there are never more workers than frames.
    KAVQ1FileEncoder(const std::string& source, int sizeClass, int budgetSectors, int frameRateCode,
                     bool limitedRange, bool deinterlace, int processors = 0);
    // A still picture this program has just written itself (a title card):
    // its size and pixel layout are known and it has no sound, so nothing is
    // probed and no sound process runs. The picture command is the one the
    // probe would have led to, so the frame is the same. With pixelFormat
    // "rgba" the file holds the bare 8-bit RGBA rows (ffmpeg reads it as raw
    // video at 25 pictures a second, as it reads a picture file).
    KAVQ1FileEncoder(const std::string& source, const SourcePicture& ownStill, int sizeClass, int budgetSectors,
                     int frameRateCode, bool limitedRange, bool deinterlace);
    // Stops and joins the workers, ends and reaps both decode tools and
    // removes the FIFOs and their folder.
    virtual ~KAVQ1FileEncoder();

    KAVQ1FileEncoder(const KAVQ1FileEncoder&) = delete;
    KAVQ1FileEncoder& operator=(const KAVQ1FileEncoder&) = delete;

    // The probe succeeded and the source will give at least one frame.
    bool IsOpened() const { return opened_; }
    // Why it did not open, in words ("ffprobe finds no picture in it");
    // empty once opened.
    const std::string& FailureCause() const { return failure_; }
    // Frames the source is expected to give (from the probe).
    int FrameCount() const { return frameCount_; }
    // The source has at least one sound channel.
    bool HasAudio() const { return hasAudio_; }
    int WorkerCount() const { return workerCount_; }
    // Bytes of one frame slot: the head cluster + budgetSectors x 512.
    int SlotBytes() const { return SlotBytesForBudget(budgetBytes_); }

    // Fills one frame slot that the caller has cleared to zero: the audio
    // chunk at offset 0, the KVQ1 frame at kSlotFrameOffset. False when no frame
    // is left (the source ended, or the decode tool failed or was killed).
    // Never blocks for ever: a tool that stops producing while still alive
    // is given up on after the stall limit.
    bool GetNextFrame(uint8_t* slot);

    // How long a live decode tool may produce nothing before the stream is
    // taken as ended (default 60 s). For tests and unattended runs.
    void SetStallLimitMs(int ms) { stallLimitMs_ = ms; }

    // For tests: the decode tools' process ids (-1 when not running) and the
    // private folder that holds the FIFOs (empty when none was made).
    pid_t VideoToolPid() const;
    pid_t AudioToolPid() const;
    const std::string& PipeFolder() const { return pipes_.Path(); }

private:
    struct Worker;

    void Open(const std::string& sourcePath, int sizeClass, int budgetSectors, int frameRateCode,
              bool limitedRange, bool deinterlace, int processors, const SourcePicture* ownStill);
    bool Probe(const std::string& source);
    bool StartVideo(bool limitedRange, bool deinterlace);  // from toolSource_
    bool StartAudio();
    void StartWorkers(int processors);
    void WaitForInput(bool wantVideo, bool wantAudio);
    bool ReadPicture();
    bool ReadSound();
    void PictureComplete();
    void EndVideo(const char* why);
    void EndAudio(const char* why);
    void Deliver(uint8_t* slot);
    void Shutdown();

    int sizeClass_ = 1;
    int frameCount_ = 0;
    bool opened_ = false;
    std::string failure_;
    bool hasAudio_ = false;
    bool stillPicture_ = false;
    bool rawRgba_ = false;  // our own still as bare RGBA rows
    bool expandRange_ = false;  // limited-range pictures expanded by us as they are read
    SourcePicture sourcePicture_;
    int frameRateCode_ = 50;
    int budgetSectors_ = 0;
    int budgetBytes_ = 0;
    int stallLimitMs_ = 60000;

    CPipeFolder pipes_;
    std::string toolSource_;  // the source's plain name in pipes_, for the tools
    std::string videoPipePath_, audioPipePath_;

    std::unique_ptr<CAppLaunch> videoTool_;
    int videoPipe_ = -1;
    int lumaBytes_ = 0;
    int codedLumaBytes_ = 0;
    int pictureBytes_ = 0;
    int codedPictureBytes_ = 0;
    std::vector<std::unique_ptr<Worker>> workers_;
    int workerCount_ = 0;
    int fillIndex_ = -1;
    int deliverIndex_ = -1;
    int nextAssign_ = 0;
    int nextDeliver_ = 0;
    bool videoEnded_ = false;
    int64_t videoLastMs_ = 0;  // when the picture stream last moved

    std::unique_ptr<CAppLaunch> audioTool_;
    int audioPipe_ = -1;
    uint8_t chunkHeader_[32] = {};
    int audioShare_ = 0;
    int audioShareMax_ = 0;
    std::vector<uint8_t> audioBuffer_;
    int audioBuffered_ = 0;
    bool audioReady_ = false;
    bool audioEnded_ = false;
    int64_t audioLastMs_ = 0;
};

}  // namespace rk
