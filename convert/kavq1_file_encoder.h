#pragma once
// KAVQ1FileEncoder turns any source that ffmpeg reads (a video file or a
// still picture) into KAVQ1 frame slots for one video mode, one slot per call.
//
// It probes the source with ffprobe, lets two ffmpeg processes decode the
// pictures and the sound into FIFOs in a private per-process folder, and
// spreads the encoding of pictures over worker threads, each with its own
// KVQ1Encoder. Frames come out strictly in order. A video's two decodes
// start together with its probe, the picture decode with the filter of a
// card-size BT.709 source; it is replaced when the probe finds otherwise.
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
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "codec/kvq1_format.h"
#include "convert/picture_filter.h"
#include "convert/pipe_folder.h"

namespace rk {

class CAppLaunch;

// A numbered run of pictures played as one video: the pictures in frame
// order (the sequence rule has chosen them; the tools see them through
// contiguous links, never a pattern of the person's), shown `rate` pictures
// a second and brought to the card's rate as any video is (a picture is
// repeated, or skipped, by the same rate step), with the sound of `sound`.
// Pictures have no fields and no sound: nothing is deinterlaced, and the
// frames are silent unless a sound file is given.
struct PictureRun {
    std::vector<std::string> pictures;
    double rate = 0;     // pictures a second; 0: one picture a frame of the card
    std::string sound;   // a sound file of any kind ffmpeg reads; empty: silence
    PictureFit fit = PictureFit::kStretch;
};

// How a picture of another shape is laid on the frame, decided once the
// probe has found it: `decide`, when set, is asked with the picture before
// any tool starts, may change `fit`, and gives up with false.
struct PictureFitting {
    PictureFit fit = PictureFit::kStretch;
    std::function<bool(const SourcePicture& picture, PictureFit& fit)> decide;
};

// The frames a run of `pictures` pictures at `rate` a second (0: one a
// frame) makes on a card of rate code `frameRateCode`: its length in
// seconds at the card's rate, rounded, at least one.
int RunFrameCount(int pictures, double rate, int frameRateCode);

// The one slot of a picture that is already in the frame's coded planes
// (luma, Cb and Cr one after the other, each with its filler lines), as
// KAVQ1FileEncoder gives a silent still picture's only frame: frame 0 of a
// fresh KVQ1Encoder behind a chunk head without sound. `slot` holds `bytes`
// (the card's clusters of a frame); false when the frame does not fit.
bool EncodeStillPlanes(const uint8_t* planes, int sizeClass, int budgetSectors, int frameRateCode, uint8_t* slot,
                       size_t bytes);

class KAVQ1FileEncoder {
public:
    // sizeClass 1 (1920x1080) or 2 (3840x2160); budgetSectors = (clusters per
    // frame - 1) x 24; frameRateCode 25, 29, 30, 50, 59 or 60 (anything else
    // is taken as 50). `processors` is the number of cores to encode on (0:
    // every processor of the machine); one worker more than that holds the
    // picture being read, and there are never more workers than frames.
    KAVQ1FileEncoder(const std::string& source, int sizeClass, int budgetSectors, int frameRateCode,
                     bool limitedRange, bool deinterlace, int processors = 0);
    // The same with the picture's fitting (a still picture of another shape).
    KAVQ1FileEncoder(const std::string& source, int sizeClass, int budgetSectors, int frameRateCode,
                     bool limitedRange, bool deinterlace, const PictureFitting& fitting);
    // A numbered run of pictures as a video. Its frame count is the run's
    // length at the card's rate: N pictures at r a second give N x R / r
    // frames (rounded) on a card of R frames a second.
    KAVQ1FileEncoder(const PictureRun& run, int sizeClass, int budgetSectors, int frameRateCode, bool limitedRange);
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
    // The fitting's `decide` gave up: nothing was started.
    bool Cancelled() const { return cancelled_; }
    // Frames the source is expected to give (from the probe).
    int FrameCount() const { return frameCount_; }
    // The source's picture as the probe found it.
    const SourcePicture& Picture() const { return sourcePicture_; }
    // Why the pictures ended before the first one came ("x.png: ffmpeg could
    // not decode it (exit code 1)"); empty otherwise.
    const std::string& EndCause() const { return endCause_; }
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
              bool limitedRange, bool deinterlace, int processors, const SourcePicture* ownStill,
              const PictureRun* run = nullptr, const PictureFitting* fitting = nullptr);
    bool OpenRun(const PictureRun& run);
    bool Probe(const std::string& source);
    bool ProbeSound();
    bool ReadPaddedPicture();
    bool PictureReadFailed(Worker& w, ssize_t got);
    bool StartVideo(bool limitedRange, bool deinterlace);  // from toolSource_
    bool StartVideoTool(const std::string& filter);
    bool StartAudio();
    void StartToolsEarly(bool limitedRange, bool deinterlace);
    void StopEarlyTools(bool pictureToo, bool soundToo);
    void StartWorkers();
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
    bool cancelled_ = false;
    std::string failure_;
    std::string endCause_;
    std::string sourceName_;  // the source as the caller named it, for causes
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
    std::string soundSource_;  // where the sound comes from (the source, or a run's sound file)
    // A run of pictures: their count, the image reader's input words and
    // the pictures' rate as the tool reads it.
    int runPictures_ = 0;
    std::vector<std::string> runInput_;
    std::string runRate_;
    // A picture fitted inside the frame: its size and place, and the
    // picture as the tool gives it, placed on black once whole.
    bool padded_ = false;
    int fitWidth_ = 0, fitHeight_ = 0, fitX_ = 0, fitY_ = 0;
    std::vector<uint8_t> staging_;
    std::string videoPipePath_, audioPipePath_;
    // The filter of the picture decode started beside the probe.
    std::string earlyFilter_;

    std::unique_ptr<CAppLaunch> videoTool_;
    int videoPipe_ = -1;
    int videoPipeCapacity_ = 0;  // bytes, once opened
    int lumaBytes_ = 0;
    int codedLumaBytes_ = 0;
    int pictureBytes_ = 0;
    int codedPictureBytes_ = 0;
    std::vector<std::unique_ptr<Worker>> workers_;
    int workerCount_ = 0;
    int cores_ = 1;  // the cores the workers and the picture decode share
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
