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
#include "convert/pipe_folder.h"
#include "convert/tool_folder.h"
#include "convert/tool_timing.h"

namespace rk {

namespace {
constexpr const char* kSoundFileName = "audio.pcm";
}  // namespace

namespace {

constexpr int kPollSliceMs = 100;



// Writing to a pipe whose reader has gone raises SIGPIPE. The signal is held
// back on this thread while we write, and a pending one is taken away
// afterwards, so that the write fails with EPIPE and nothing else happens.
class CHoldSigpipe {
public:
    CHoldSigpipe() {
        sigemptyset(&pipeOnly_);
        sigaddset(&pipeOnly_, SIGPIPE);
        pthread_sigmask(SIG_BLOCK, &pipeOnly_, &old_);
    }
    ~CHoldSigpipe() {
        sigset_t pending;
        sigpending(&pending);
        if (sigismember(&pending, SIGPIPE) && !sigismember(&old_, SIGPIPE)) {
            timespec zero{0, 0};
            sigtimedwait(&pipeOnly_, nullptr, &zero);
        }
        pthread_sigmask(SIG_SETMASK, &old_, nullptr);
    }

private:
    sigset_t pipeOnly_, old_;
};

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

// Opens the writing end once ffmpeg has opened its reading end. ffmpeg opens
// its inputs in order, so it reaches ours first.
bool KAVQ1FileConverter::OpenPipe() {
    const int64_t start = NowMs();
    for (;;) {
        pipe_ = open(pipePath_.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
        if (pipe_ >= 0) {
            fcntl(pipe_, F_SETPIPE_SZ, 1048576);
            return true;
        }
        if (errno != ENXIO && errno != EINTR) return false;
        if (!tool_ || !tool_->started || tool_->Wait(10)) return false;  // ffmpeg ended without reading
        if (NowMs() - start >= stallLimitMs_) return false;
    }
}

bool KAVQ1FileConverter::WriteFrame() {
    const size_t chroma = static_cast<size_t>(lumaBytes_ / 4);
    iovec iov[3] = {{luma_.data(), static_cast<size_t>(lumaBytes_)}, {cb_.data(), chroma}, {cr_.data(), chroma}};
    int first = 0;
    int64_t lastMove = NowMs();
    CHoldSigpipe hold;
    while (first < 3) {
        ssize_t n = writev(pipe_, iov + first, 3 - first);
        if (n > 0) {
            lastMove = NowMs();
            size_t left = static_cast<size_t>(n);
            while (first < 3 && left >= iov[first].iov_len) {
                left -= iov[first].iov_len;
                ++first;
            }
            if (first < 3) {
                iov[first].iov_base = static_cast<uint8_t*>(iov[first].iov_base) + left;
                iov[first].iov_len -= left;
            }
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && errno != EAGAIN) {
            LogMessage(2, "KAVQ1FileConverter::PushFrame(): pipe write failed: %s", strerror(errno));
            return false;
        }
        pollfd fds[2] = {{pipe_, POLLOUT, 0}, {tool_->EndHandle(), POLLIN, 0}};
        poll(fds, fds[1].fd >= 0 ? 2 : 1, kPollSliceMs);
        if (fds[0].revents & (POLLERR | POLLHUP)) return false;
        if (!(fds[0].revents & POLLOUT)) {
            if (!tool_->started || tool_->Wait(0)) return false;  // ffmpeg ended
            if (NowMs() - lastMove >= stallLimitMs_) return false;
        }
    }
    return true;
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
    if (pipe_ < 0 && !OpenPipe()) {
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
    if (pipe_ >= 0) {
        close(pipe_);
        pipe_ = -1;
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
