#pragma once
// KAVQ1FileConverter turns a stream of KVQ1 frame slots into a ProRes ".mov"
// file: ffmpeg reads the pictures from a FIFO (video.yuv, in a private
// per-process folder) and the sound from a temporary file that is complete
// before the first picture is sent.
//
//   KAVQ1FileConverter conv(firstSlot, bytes);     // the first two clusters will do
//   if (!conv.IsValid()) -> "Invalid video file format!"
//   conv.Open(path);
//   if (conv.AudioOn()) for every frame: conv.PushAudio(headCluster);
//   for every frame: conv.PushFrame(slot);
//   bool ok = conv.Finish();   // ffmpeg has written the file
#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "codec/kvq1_format.h"
#include "convert/fifo_writer.h"
#include "convert/pipe_folder.h"

namespace rk {

class CAppLaunch;

class KAVQ1FileConverter {
public:
    // Reads the frame header at kSlotFrameOffset of the first slot; `bytes` must
    // be at least 12296 (fewer leaves the converter invalid).
    KAVQ1FileConverter(const uint8_t* firstSlot, size_t bytes);
    // Finishes the export if Finish was not called (closes the FIFO, waits
    // for ffmpeg), deletes the audio file and the FIFO folder.
    virtual ~KAVQ1FileConverter();

    KAVQ1FileConverter(const KAVQ1FileConverter&) = delete;
    KAVQ1FileConverter& operator=(const KAVQ1FileConverter&) = delete;

    bool IsValid() const { return valid_; }
    int SizeClass() const { return sizeClass_; }
    int FrameRate() const { return frameRate_; }        // 25, 29, 30, 50, 59, 60
    int FrameBytes() const { return frameBytes_; }      // the KVQ1 budget in bytes
    int SlotBytes() const { return SlotBytesForBudget(frameBytes_); }
    bool AudioOn() const { return audioOn_; }
    bool IsStarted() const { return started_; }

    // Starts ffmpeg writing `outputPath`. False when not valid, when the FIFO
    // cannot be made or ffmpeg cannot be started.
    bool Open(const std::string& outputPath);
    // Appends the sound of one head cluster (kSlotHeadBytes). True with nothing
    // written when the chunk holds no audio. Only before the first frame.
    bool PushAudio(const uint8_t* headCluster);
    // Decodes one slot (SlotBytes() bytes) and sends its picture to ffmpeg.
    // False on a decode failure or when ffmpeg no longer reads.
    bool PushFrame(const uint8_t* slot);
    // Closes the picture FIFO so that ffmpeg finishes the file, and waits for
    // it. True when ffmpeg ended with exit code 0.
    bool Finish();
    // Why the last Open, PushFrame or Finish failed, when it knows ("a frame
    // does not decode (row 3)"); empty otherwise.
    const std::string& Cause() const { return cause_; }

    // For tests: ffmpeg's process id (-1 when not running) and the audio file.
    pid_t ToolPid() const;
    const std::string& AudioPath() const { return audioPath_; }

    // How long ffmpeg may take neither connecting nor reading before a frame
    // fails (default 120 s).
    void SetStallLimitMs(int ms) { stallLimitMs_ = ms; }

private:
    bool OpenPipe();
    bool WriteFrame();
    void CloseAudioFile();

    bool valid_ = false;
    int sizeClass_ = 0;
    int frameRate_ = 50;
    int frameBytes_ = 0;
    int lumaBytes_ = 0;
    int width_ = 0, height_ = 0, codedHeight_ = 0;

    bool started_ = false;
    bool audioOn_ = false;
    bool finished_ = false;
    bool failed_ = false;
    std::string cause_;
    int stallLimitMs_ = 120000;
    std::vector<uint8_t> luma_, cb_, cr_;
    std::vector<uint8_t> audioConversion_;
    CPipeFolder pipes_;
    std::string pipePath_;
    CFifoWriter pipe_;
    std::string audioPath_;
    FILE* audioFile_ = nullptr;
    std::unique_ptr<CAppLaunch> tool_;
};

}  // namespace rk
