#include "convert/kavq1_file_converter.h"

#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/uio.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <thread>

#include "base/log.h"
#include "codec/kavq1_slot.h"
#include "codec/kvq1_decoder.h"
#include "codec/kvq1_format.h"
#include "convert/app_launch.h"
#include "convert/fifo_writer.h"
#include "convert/pipe_folder.h"
#include "convert/tool_folder.h"
#include "convert/tool_timing.h"

namespace rk {

namespace {
constexpr const char* kSoundFileName = "audio.pcm";
}  // namespace


KAVQ1FileConverter::KAVQ1FileConverter(const uint8_t* firstSlot, size_t bytes) {
    KAVQ1StreamInfo info;
    if (!firstSlot || !ReadKAVQ1StreamInfo(firstSlot, bytes, info)) return;
    sizeClass_ = info.sizeClass;
    frameRate_ = info.rateCode;
    frameBytes_ = info.budgetBytes;
    const KVQ1Geometry g = KVQ1GeometryFor(sizeClass_);
    if (!g.Valid() || frameBytes_ <= 0) return;
    width_ = g.width;
    height_ = g.height;
    codedHeight_ = g.codedHeight;
    lumaBytes_ = width_ * height_;
    valid_ = true;
}

bool KAVQ1FileConverter::Open(const std::string& outputPathIn) {
    if (!valid_ || started_) return false;
    LogMessage(1, "KAVQ1FileConverter::Open(%s)", outputPathIn.c_str());
    started_ = true;
    audioOn_ = true;
    const KVQ1Geometry g = KVQ1GeometryFor(sizeClass_);
    luma_.assign(g.LumaBytes(), 0);
    cb_.assign(g.ChromaBytes(), 128);
    cr_.assign(g.ChromaBytes(), 128);

    if (!pipes_.Create() || (pipePath_ = pipes_.MakeFifo(kVideoPipeName)).empty()) {
        LogMessage(2, "KAVQ1FileConverter::Open(): cannot make the picture pipe");
        cause_ = pipes_.Cause().empty() ? "cannot make the picture pipe" : pipes_.Cause();
        failed_ = true;
        return false;
    }

    // The sound waits in the same working folder as the picture pipe.
    const std::string name = pipes_.AddFile(kSoundFileName);
    int fd = ::open(name.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd >= 0) {
        audioFile_ = fdopen(fd, "wb+");
        if (!audioFile_) {
            close(fd);
            unlink(name.c_str());
        } else {
            audioPath_ = name;
        }
    }
    if (!audioFile_) {
        LogMessage(2, "KAVQ1FileConverter::Open(): no audio file, exporting without sound");
        audioOn_ = false;
    } else {
        audioConversion_.assign(kClusterBytes, 0);
    }

    // ffmpeg works in our folder and writes through a link of a plain name
    // there, so the output is exactly the file named ("%d" included).
    const std::string outputPath = pipes_.LiteralName("output", outputPathIn);
    if (outputPath.empty()) {
        LogMessage(2, "KAVQ1FileConverter::Open(): cannot name the output in the working folder");
        failed_ = true;
        return false;
    }
    const std::string size = sizeClass_ == 1 ? "1920x1080" : "3840x2160";
    const std::string rate = RateText(frameRate_);
    if (audioOn_)
        tool_ = std::make_unique<CAppLaunch>(
            kToolFfmpeg,
            "-f rawvideo -pix_fmt yuv420p -s %s -r %s -i %s -f s24le -ar 48000 -ac 2 -acodec pcm_s24le -i %s "
            "-r %s -c:v prores_ks -profile:v 3 -acodec copy -y \"%s\"",
            std::initializer_list<std::string>{size, rate, kVideoPipeName, kSoundFileName, rate, outputPath}, false,
            pipes_.Path());
    else
        tool_ = std::make_unique<CAppLaunch>(
            kToolFfmpeg, "-f rawvideo -pix_fmt yuv420p -s %s -r %s -i %s -r %s -c:v prores_ks -profile:v 3 -an -y \"%s\"",
            std::initializer_list<std::string>{size, rate, kVideoPipeName, rate, outputPath}, false, pipes_.Path());
    if (!tool_->started) {
        LogMessage(2, "KAVQ1FileConverter::Open(): ffmpeg not started");
        cause_ = "ffmpeg could not be started";
        failed_ = true;
        return false;
    }
    return true;
}

bool KAVQ1FileConverter::PushAudio(const uint8_t* head) {
    if (!valid_ || !started_ || !audioOn_ || !audioFile_ || !head) return false;
    const int bytes = AudioChunkBytes(head);  // never beyond the head cluster
    if (bytes <= 0) return true;
    size_t whole = RegroupAudioToInterleaved(head + kAudioChunkHeaderBytes, audioConversion_.data(),
                                             static_cast<size_t>(bytes));
    if (whole < static_cast<size_t>(bytes)) {
        // A chunk that ends inside a group: the group is completed with zeros
        // rather than read past the head cluster.
        uint8_t group[kAudioGroupBytes] = {};
        uint8_t out[kAudioGroupBytes];
        std::memcpy(group, head + kAudioChunkHeaderBytes + whole, static_cast<size_t>(bytes) - whole);
        RegroupAudioToInterleaved(group, out, kAudioGroupBytes);
        std::memcpy(audioConversion_.data() + whole, out, static_cast<size_t>(bytes) - whole);
    }
    return std::fwrite(audioConversion_.data(), 1, static_cast<size_t>(bytes), audioFile_) ==
           static_cast<size_t>(bytes);
}

void KAVQ1FileConverter::CloseAudioFile() {
    if (audioFile_) {
        if (std::fclose(audioFile_) != 0) LogMessage(2, "KAVQ1FileConverter: the audio file is incomplete");
        audioFile_ = nullptr;
    }
}

// Opens the writing end once ffmpeg has opened its reading end.
bool KAVQ1FileConverter::OpenPipe() {
    pipe_.SetStallLimitMs(stallLimitMs_);
    return tool_ && pipe_.Open(pipePath_, *tool_);
}

bool KAVQ1FileConverter::WriteFrame() {
    const size_t chroma = static_cast<size_t>(lumaBytes_ / 4);
    const iovec iov[3] = {{luma_.data(), static_cast<size_t>(lumaBytes_)}, {cb_.data(), chroma}, {cr_.data(), chroma}};
    pipe_.SetStallLimitMs(stallLimitMs_);
    return pipe_.Write(iov, 3);
}

bool KAVQ1FileConverter::PushFrame(const uint8_t* slot) {
    if (!valid_ || !started_ || failed_ || !slot || !tool_) return false;
    // ffmpeg opens the sound file only after its picture input is open and
    // probed, so the file is complete before the first picture goes out.
    CloseAudioFile();
    // Every frame must be of the first frame's shape: the planes are sized
    // for it.
    const uint8_t* frame = slot + kClusterBytes;
    if (std::memcmp(frame, kKVQ1Magic, 4) != 0 || frame[4] != sizeClass_) {
        LogMessage(2, "KAVQ1FileConverter::PushFrame(): frame of another shape");
        cause_ = "a frame is not a KVQ1 frame of the video's picture size";
        return false;
    }
    KVQ1Decoder decoder;
    if (!decoder.Decode(frame, static_cast<size_t>(frameBytes_), luma_.data(), cb_.data(), cr_.data())) {
        cause_ = "a frame does not decode (row " + std::to_string(decoder.FailedRow()) + ")";
        return false;
    }
    if (!pipe_.IsOpen() && !OpenPipe()) {
        LogMessage(2, "KAVQ1FileConverter::PushFrame(): ffmpeg did not open its input");
        cause_ = "ffmpeg did not open its picture input";
        failed_ = true;
        return false;
    }
    if (!WriteFrame()) {
        cause_ = "ffmpeg stopped taking pictures";
        failed_ = true;
        return false;
    }
    return true;
}

bool KAVQ1FileConverter::Finish() {
    if (!started_) return false;
    if (finished_) return !failed_;
    finished_ = true;
    CloseAudioFile();
    if (pipe_.IsOpen()) {
        pipe_.Close();
    } else if (tool_ && tool_->started) {
        // No picture was ever sent: there is no file to finish, and ffmpeg
        // may still be waiting in its open for a writer that never comes.
        LogMessage(2, "KAVQ1FileConverter::Finish(): no frames, stopping ffmpeg");
        cause_ = "no frame was sent to ffmpeg";
        tool_->Terminate(500);
        failed_ = true;
    }
    if (tool_ && tool_->started) {
        if (!tool_->Wait(stallLimitMs_)) {
            LogMessage(2, "KAVQ1FileConverter::Finish(): ffmpeg did not finish, stopping it");
            cause_ = "ffmpeg did not finish the file";
            tool_->Terminate(500);
            failed_ = true;
        }
    }
    if ((!tool_ || tool_->exitCode != 0) && !failed_) {
        failed_ = true;
        if (tool_) cause_ = "ffmpeg ended with exit code " + std::to_string(tool_->exitCode);
    }
    LogMessage(1, "KAVQ1FileConverter::Finish(): %s", failed_ ? "failed" : "OK");
    return !failed_;
}

pid_t KAVQ1FileConverter::ToolPid() const { return tool_ ? tool_->Pid() : -1; }

KAVQ1FileConverter::~KAVQ1FileConverter() {
    if (started_) Finish();
    CloseAudioFile();
    if (!audioPath_.empty()) unlink(audioPath_.c_str());
    tool_.reset();
    pipes_.Remove();
}

}  // namespace rk
