#include "convert/kavq1_file_encoder.h"

#include "base/path_util.h"

#include <poll.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <chrono>
#include <cstring>
#include <new>
#include <semaphore>
#include <thread>

#include "base/log.h"
#include "base/safe_open.h"
#include "codec/kavq1_slot.h"
#include "codec/kvq1_encoder.h"
#include "convert/app_launch.h"
#include "convert/ini_parser.h"
#include "convert/picture_filter.h"
#include "convert/picture_header.h"
#include "convert/picture_run.h"
#include "convert/plane_memory.h"
#include "convert/tool_folder.h"
#include "convert/tool_frame_pipe.h"
#include "convert/tool_timing.h"

namespace rk {

namespace {

// How long one poll waits before the tools are looked at again.
constexpr int kPollSliceMs = 100;
// How long a probe may take before it is given up.
constexpr int kProbeLimitMs = 60000;

// The cores to encode on: `processors`, or every processor of the machine.
int CoresFor(int processors) {
    const int cpus = processors > 0 ? processors : static_cast<int>(std::thread::hardware_concurrency());
    return std::max(cpus, 1);
}

// The rate codes a frame may carry; anything else is taken as 50.
int CardRateCode(int code) {
    return code == 25 || code == 29 || code == 30 || code == 59 || code == 60 ? code : 50;
}

double RateValue(int code) {
    const KVQ1FrameRate& r = FrameRateOrDefault(code);
    return double(r.numerator) / double(r.denominator);
}

// Still pictures give exactly one frame. Only the file name's own extension
// counts; a name without one is probed as a video.
bool IsStillPicture(const std::string& path) {
    const std::string ext = AsciiLower(ExtensionOf(path));
    if (ext.empty()) return false;
    static const char* const kStills[] = {".bmp", ".gif", ".jpg", ".jpe", ".jpeg", ".png", ".tga", ".tiff", ".tif"};
    for (const char* s : kStills)
        if (ext == s) return true;
    return false;
}

// A rate of pictures as the image reader takes it: the NTSC-family rates
// as the exact fractions a person means by 23.976, 29.97 and 59.94.
std::string PictureRateText(double rate) {
    for (int base : {24, 30, 60}) {
        const double ntsc = base * 1000.0 / 1001.0;
        if (std::abs(rate - ntsc) < 0.01) return std::to_string(base * 1000) + "/1001";
    }
    char text[32];
    std::snprintf(text, sizeof text, "%.6g", rate);
    return text;
}

// One probe of every stream: its first picture stream and its first sound
// stream are read from the one answer (a probe is mostly the tool's start-up).
constexpr const char* kSourceProbe = "-v quiet -show_entries format=duration -show_streams \"%s\"";
constexpr const char* kSoundProbe = "-v quiet -show_streams -select_streams a:0 \"%s\"";

// Waits for a started probe; the captured text is handed to `read` before
// the runner (and with it the capture file) goes away.
// `why` says what went wrong, in words for the person.
template <class Reader>
bool FinishProbe(CAppLaunch& probe, const std::string& source, std::string& why, Reader&& read) {
    if (!probe.started) {
        why = "ffprobe could not be started";
        return false;
    }
    bool stopped = false;
    if (!WaitOrStop(probe, kProbeLimitMs, stopped)) {
        if (!stopped) LogMessage(2, "KAVQ1FileEncoder: probe of %s took too long", source.c_str());
        why = stopped ? "stopped" : "ffprobe took too long to read it";
        probe.Terminate();
        return false;
    }
    if (probe.exitCode != 0) {
        why = "ffprobe cannot read it: not a video or picture file it knows";
        return false;
    }
    CINIParser parser(probe.capturePath);
    if (probe.capturePath.empty() || !parser.IsOpen()) {
        why = "ffprobe gave no answer";
        return false;
    }
    read(parser);
    return true;
}

}  // namespace

struct KAVQ1FileEncoder::Worker {
    int index = 0;
    int frameNumber = 0;
    bool busy = false;  // holds a frame being encoded or not yet delivered
    CPlaneMemory picture;  // the planes below, in large pages
    int received = 0;
    uint8_t* lumaPlane = nullptr;
    uint8_t* cbPlane = nullptr;
    uint8_t* crPlane = nullptr;
    std::unique_ptr<uint8_t[]> output;
    int encodedBytes = 0;
    std::unique_ptr<KVQ1Encoder> encoder;
    std::thread thread;
    std::counting_semaphore<4> go{0};  // a picture, and later quit
    std::binary_semaphore done{0};
    std::atomic<bool> quit{false};

    void Run() {
        for (;;) {
            go.acquire();
            if (quit.load(std::memory_order_acquire)) return;
            encodedBytes = encoder->Encode(static_cast<uint32_t>(frameNumber), lumaPlane, cbPlane, crPlane,
                                           output.get());
            done.release();
        }
    }
};

int RunFrameCount(int pictures, double rate, int frameRateCode) {
    if (pictures <= 0) return 0;
    if (!(rate > 0)) return pictures;
    const double frames = double(pictures) * RateValue(frameRateCode) / rate;
    return static_cast<int>(std::clamp<double>(std::round(frames), 1, 2147483647.0));
}

bool EncodeStillPlanes(const uint8_t* planes, int sizeClass, int budgetSectors, int frameRateCode, uint8_t* slot,
                       size_t bytes) {
    if ((sizeClass != 1 && sizeClass != 2) || budgetSectors <= 0 || budgetSectors > 65535 || !planes || !slot ||
        bytes < size_t(kClusterBytes) + size_t(budgetSectors) * 512)
        return false;
    const int rate = CardRateCode(frameRateCode);
    const size_t codedLuma = sizeClass == 1 ? size_t(1920) * 1088 : size_t(3840) * 2160;
    std::memset(slot, 0, bytes);
    FillAudioChunk(slot, 0, rate, nullptr, 0);
    // The coder leaves every byte behind the frame zero, so it codes
    // straight into the zeroed slot.
    KVQ1Encoder encoder(sizeClass, budgetSectors, rate);
    return encoder.Encode(0, planes, planes + codedLuma, planes + codedLuma + codedLuma / 4, slot + kClusterBytes) > 0;
}

KAVQ1FileEncoder::KAVQ1FileEncoder(const std::string& sourcePath, int sizeClass, int budgetSectors,
                                   int frameRateCode, bool limitedRange, bool deinterlace, int processors) {
    Open(sourcePath, sizeClass, budgetSectors, frameRateCode, limitedRange, deinterlace, processors, nullptr);
}

KAVQ1FileEncoder::KAVQ1FileEncoder(const std::string& sourcePath, int sizeClass, int budgetSectors,
                                   int frameRateCode, bool limitedRange, bool deinterlace,
                                   const PictureFitting& fitting) {
    Open(sourcePath, sizeClass, budgetSectors, frameRateCode, limitedRange, deinterlace, 0, nullptr, nullptr,
         &fitting);
}

KAVQ1FileEncoder::KAVQ1FileEncoder(const PictureRun& run, int sizeClass, int budgetSectors, int frameRateCode,
                                   bool limitedRange) {
    Open(std::string(), sizeClass, budgetSectors, frameRateCode, limitedRange, false, 0, nullptr, &run, nullptr);
}

KAVQ1FileEncoder::KAVQ1FileEncoder(const std::string& sourcePath, const SourcePicture& ownStill, int sizeClass,
                                   int budgetSectors, int frameRateCode, bool limitedRange, bool deinterlace) {
    Open(sourcePath, sizeClass, budgetSectors, frameRateCode, limitedRange, deinterlace, 1, &ownStill);
}

void KAVQ1FileEncoder::Open(const std::string& sourcePath, int sizeClass, int budgetSectors, int frameRateCode,
                            bool limitedRange, bool deinterlace, int processors, const SourcePicture* ownStill,
                            const PictureRun* run, const PictureFitting* fitting) {
    sizeClass_ = sizeClass == 2 ? 2 : 1;
    frameRateCode_ = CardRateCode(frameRateCode);
    budgetSectors_ = budgetSectors;
    budgetBytes_ = budgetSectors * 512;
    // The frame must fit the slot's video area, and the audio share its head.
    if ((sizeClass != 1 && sizeClass != 2) || budgetSectors <= 0 || budgetSectors > 65535) {
        failure_ = "no frame size for the card's video mode";
        return;
    }
    sourceName_ = run ? (run->pictures.empty() ? std::string() : run->pictures[0]) : sourcePath;
    cores_ = CoresFor(processors);
    audioShare_ = AudioShareBytes(frameRateCode_, 0);
    audioShareMax_ = std::max(AudioShareBytes(frameRateCode_, 2), audioShare_);
    WriteAudioChunkHeader(chunkHeader_, 0, audioShareMax_);
    if (run && !OpenRun(*run)) {
        LogMessage(2, "KAVQ1FileEncoder: picture run not opened (%s)", failure_.c_str());
        pipes_.Remove();
        return;
    }
    if (!run) {
        // The tools run in the program's folder: give them a path that does not
        // depend on our working directory.
        const std::string source = AbsolutePath(sourcePath);
        LogMessage(1, "KAVQ1FileEncoder::KAVQ1FileEncoder(%s)", source.c_str());
        // Only plain files: a FIFO or a device would keep the probe waiting.
        struct stat st {};
        const bool found = stat(source.c_str(), &st) == 0;
        if (!found || !S_ISREG(st.st_mode)) {
            LogMessage(2, "KAVQ1FileEncoder::KAVQ1FileEncoder(): not a file");
            failure_ = found ? "not a regular file" : std::strerror(errno);
            return;
        }
        // The tools work in our working folder and read the source through a
        // link of a plain name there: a picture named "100%d.png" is that file,
        // not a sequence.
        if (!pipes_.Create() || (toolSource_ = pipes_.LiteralName("source", source)).empty()) {
            LogMessage(2, "KAVQ1FileEncoder::KAVQ1FileEncoder(): cannot make the working folder");
            failure_ = pipes_.Cause().empty() ? "cannot link the source into the working folder" : pipes_.Cause();
            return;
        }
        soundSource_ = toolSource_;
        if (ownStill) {
            if (ownStill->width <= 0 || ownStill->height <= 0) return;
            sourcePicture_ = *ownStill;
            stillPicture_ = true;
            rawRgba_ = ownStill->pixelFormat == "rgba";
            frameCount_ = 1;
            opened_ = true;
        } else {
            // A video's two decodes start beside its probe: the tools' own
            // start-up (linking ffmpeg's libraries, opening the source) takes
            // as long as the probe does.
            if (!IsStillPicture(source)) StartToolsEarly(limitedRange, deinterlace);
            if (!Probe(source)) {
                LogMessage(2, "KAVQ1FileEncoder::KAVQ1FileEncoder(): not opened");
                // A source that does not open leaves nothing behind in the
                // temporary folder, not even until the encoder goes.
                StopEarlyTools(/*pictureToo=*/true, /*soundToo=*/true);
                pipes_.Remove();
                return;
            }
            // A source without sound: the sound decode started beside the
            // probe is not wanted.
            if (!hasAudio_ && audioTool_) StopEarlyTools(/*pictureToo=*/false, /*soundToo=*/true);
        }
    }
    // A picture has no fields: nothing of it is deinterlaced (a tiny picture
    // would even stop the deinterlacer, and an interlaced PNG is not one of
    // fields).
    if (run || (stillPicture_ && !ownStill)) deinterlace = false;

    const int frameWidth = sizeClass_ == 1 ? 1920 : 3840, frameHeight = sizeClass_ == 1 ? 1080 : 2160;
    PictureFit fit = run ? run->fit : fitting ? fitting->fit : PictureFit::kStretch;
    if (fitting && fitting->decide && !fitting->decide(sourcePicture_, fit)) {
        LogMessage(2, "KAVQ1FileEncoder: not started, the fitting was not decided");
        opened_ = false;
        cancelled_ = true;
        failure_ = "cancelled";
        StopEarlyTools(/*pictureToo=*/true, /*soundToo=*/true);
        pipes_.Remove();
        return;
    }
    FittedSize(sourcePicture_.width, sourcePicture_.height, frameWidth, frameHeight, fit, fitWidth_, fitHeight_);
    padded_ = fitWidth_ != frameWidth || fitHeight_ != frameHeight;
    // Centred, on even lines and columns so that the chroma lines up.
    fitX_ = (frameWidth - fitWidth_) / 4 * 2;
    fitY_ = (frameHeight - fitHeight_) / 4 * 2;
    if (padded_)
        LogMessage(2, "KAVQ1FileEncoder: %dx%d fitted as %dx%d at %d,%d", sourcePicture_.width,
                   sourcePicture_.height, fitWidth_, fitHeight_, fitX_, fitY_);

    lumaBytes_ = sizeClass_ == 1 ? 1920 * 1080 : 3840 * 2160;
    codedLumaBytes_ = sizeClass_ == 1 ? 1920 * 1088 : 3840 * 2160;
    pictureBytes_ = lumaBytes_ * 3 / 2;
    codedPictureBytes_ = codedLumaBytes_ * 3 / 2;

    // The picture decode first: one started beside the probe that is kept
    // goes on decoding while the workers are made.
    if (!StartVideo(limitedRange, deinterlace)) EndVideo("picture decode not started");
    try {
        StartWorkers();
    } catch (...) {
        // No destructor runs for an encoder that was never made: the tools
        // and threads already started end here.
        Shutdown();
        throw;
    }
    if (hasAudio_ && !audioTool_ && !StartAudio()) EndAudio("sound decode not started");
}

bool KAVQ1FileEncoder::OpenRun(const PictureRun& run) {
    if (run.pictures.empty()) {
        failure_ = "no pictures";
        return false;
    }
    if (!pipes_.Create()) {
        failure_ = pipes_.Cause().empty() ? "cannot make the working folder" : pipes_.Cause();
        return false;
    }
    if (!LinkPictureRun(pipes_, run.pictures, runInput_, failure_)) return false;
    runPictures_ = static_cast<int>(run.pictures.size());
    runRate_ = run.rate > 0 ? PictureRateText(run.rate) : RateText(frameRateCode_);
    // The first picture tells the run's size and kind.
    const std::string first = AbsolutePath(run.pictures[0]);
    toolSource_ = pipes_.LiteralName("first", first);
    if (toolSource_.empty()) {
        failure_ = "cannot link the pictures";
        return false;
    }
    if (!Probe(first)) {
        failure_ = run.pictures[0] + ": " + failure_;
        return false;
    }
    frameCount_ = RunFrameCount(runPictures_, run.rate, frameRateCode_);
    if (!run.sound.empty()) {
        std::string why;
        const std::string sound = AbsolutePath(run.sound);
        if (!CheckInputPath(sound, &why)) {
            failure_ = why;
            return false;
        }
        soundSource_ = pipes_.LiteralName("sound", sound);
        if (soundSource_.empty()) {
            failure_ = "cannot link the sound";
            return false;
        }
        if (!ProbeSound()) {
            failure_ = run.sound + ": " + failure_;
            return false;
        }
    }
    LogMessage(2, "KAVQ1FileEncoder: %d pictures at %s a second, %d frames, %s", runPictures_, runRate_.c_str(),
               frameCount_, hasAudio_ ? "sound" : "no sound");
    return true;
}

bool KAVQ1FileEncoder::ProbeSound() {
    CAppLaunch probe(kToolFfprobe, kSoundProbe, {soundSource_}, true, pipes_.Path());
    int channels = 0;
    if (!FinishProbe(probe, soundSource_, failure_,
                     [&](CINIParser& p) { channels = static_cast<int>(p.GetInteger("STREAM", "channels")); }))
        return false;
    hasAudio_ = channels > 0;
    if (!hasAudio_) failure_ = "ffprobe finds no sound in it";
    return hasAudio_;
}

bool KAVQ1FileEncoder::Probe(const std::string& source) {
    double streamDuration = 0, formatDuration = 0;
    long long taggedFrames = 0;
    // A still picture has no sound to ask about.
    stillPicture_ = runPictures_ > 0 || IsStillPicture(source);
    CAppLaunch probe(kToolFfprobe, kSourceProbe, {toolSource_}, true, pipes_.Path());
    int channels = 0;
    bool ok = FinishProbe(probe, source, failure_, [&](CINIParser& p) {
        if (!stillPicture_ && p.SelectBlock("STREAM", "codec_type", "audio"))
            channels = static_cast<int>(p.GetInteger("STREAM", "channels"));
        if (!p.SelectBlock("STREAM", "codec_type", "video")) return;
        sourcePicture_ = ReadSourcePicture(p);
        streamDuration = p.GetDouble("STREAM", "duration");
        formatDuration = p.GetDouble("FORMAT", "duration");
        taggedFrames = p.GetInteger("STREAM", "TAG:NUMBER_OF_FRAMES");
    });
    if (!ok || sourcePicture_.width <= 0 || sourcePicture_.height <= 0) {
        // What the picture's own header says is wrong, where it says so.
        const std::string fault = stillPicture_ ? PictureFileFault(source) : std::string();
        if (!fault.empty()) failure_ = fault;
        else if (ok) failure_ = "it holds no picture";
        return false;
    }

    if (stillPicture_) {
        frameCount_ = 1;
    } else {
        const double rate = RateValue(frameRateCode_);
        auto frames = [&](double seconds) -> long long {
            double f = rate * seconds;
            if (!(f > 0)) return 0;
            return f >= 2147483647.0 ? 2147483647LL : static_cast<long long>(f);
        };
        long long count = frames(streamDuration);
        if (count == 0) count = frames(formatDuration);
        if (count == 0) count = taggedFrames;
        // Frame numbers go into 32-bit headers; the card's counts are 16-bit.
        frameCount_ = static_cast<int>(std::clamp<long long>(count, 0, 2147483647LL));
    }
    opened_ = frameCount_ > 0;
    if (!opened_) {
        failure_ = "ffprobe finds no duration and no frame count in it";
        return false;
    }
    // Without sound the video is still taken.
    hasAudio_ = channels > 0;
    LogMessage(2, "KAVQ1FileEncoder::Probe(): %dx%d, %d frames, %s", sourcePicture_.width, sourcePicture_.height,
               frameCount_, hasAudio_ ? "sound" : "no sound");
    return true;
}

void KAVQ1FileEncoder::StartWorkers() {
    // One picture more than there are cores: while every core encodes, the
    // pipe is read into the spare, so the decoder never waits for a buffer.
    workerCount_ = std::min(cores_ + 1, frameCount_);
    const int chromaBytes = codedLumaBytes_ / 4;
    for (int i = 0; i < workerCount_; ++i) {
        auto w = std::make_unique<Worker>();
        w->index = i;
        if (!w->picture.Allocate(static_cast<size_t>(codedPictureBytes_))) throw std::bad_alloc();
        w->lumaPlane = w->picture.Data();
        w->cbPlane = w->lumaPlane + codedLumaBytes_;
        w->crPlane = w->cbPlane + chromaBytes;
        if (sizeClass_ == 1) {
            // The filler lines below the picture never receive pipe data, so
            // they are set once: luma 1080..1087 black, chroma 540..543 neutral.
            std::memset(w->lumaPlane + lumaBytes_, 0, codedLumaBytes_ - lumaBytes_);
            std::memset(w->cbPlane + lumaBytes_ / 4, 128, chromaBytes - lumaBytes_ / 4);
            std::memset(w->crPlane + lumaBytes_ / 4, 128, chromaBytes - lumaBytes_ / 4);
        }
        if (padded_) {
            // The bars: studio-range black (16, 128, 128) over the whole
            // frame; each picture is placed over its middle.
            std::memset(w->lumaPlane, 16, lumaBytes_);
            std::memset(w->cbPlane, 128, chromaBytes);
            std::memset(w->crPlane, 128, chromaBytes);
        }
        w->output.reset(new uint8_t[budgetBytes_]());
        w->encoder = std::make_unique<KVQ1Encoder>(sizeClass_, budgetSectors_, frameRateCode_);
        Worker* raw = w.get();
        w->thread = std::thread([raw] { raw->Run(); });
        workers_.push_back(std::move(w));
    }
    fillIndex_ = videoEnded_ ? -1 : 0;
    deliverIndex_ = -1;
    nextAssign_ = nextDeliver_ = 0;
}

bool KAVQ1FileEncoder::StartVideo(bool limitedRange, bool deinterlace) {
    const std::string filter =
        PictureFilter(sizeClass_, frameRateCode_, limitedRange, deinterlace, sourcePicture_, fitWidth_, fitHeight_);
    expandRange_ = !padded_ && ExpandsRangeByTable(sizeClass_, limitedRange, sourcePicture_);
    LogMessage(3, "KAVQ1FileEncoder: picture filter %s%s", filter.c_str(),
               expandRange_ ? " (range expanded as read)" : "");
    if (videoTool_) {
        // Started beside the probe with the filter of the likeliest source:
        // the same command, so the same pictures, when the probe agrees.
        if (filter == earlyFilter_) return videoTool_->started;
        LogMessage(3, "KAVQ1FileEncoder: the picture decode started beside the probe is not this source's");
        // Its pictures go with its pipe: the next decode writes into a new one.
        StopEarlyTools(/*pictureToo=*/true, /*soundToo=*/false);
    }
    return StartVideoTool(filter);
}

bool KAVQ1FileEncoder::StartVideoTool(const std::string& filter) {
    videoPipePath_ = pipes_.MakeFifo(kVideoPipeName);
    if (videoPipePath_.empty()) return false;
    videoPipe_ = OpenFifoForReading(videoPipePath_, &videoPipeCapacity_);
    if (videoPipe_ < 0) return false;
    // The decode shares the cores with the encoder workers: half of them,
    // at least one. On two cores one decoding thread beside the workers
    // spends 4 to 6% less CPU on the import than the tool's own choice of
    // frame threads, for about 1% more wall time; a decoder gives the same
    // pictures on any number of threads.
    const std::string threads = std::to_string(std::max(1, cores_ / 2));
    std::vector<std::string> args = {"-nostdin", "-threads", threads};
    if (rawRgba_) {
        args.insert(args.end(), {"-f", "rawvideo", "-pix_fmt", "rgba", "-s",
                                 std::to_string(sourcePicture_.width) + "x" + std::to_string(sourcePicture_.height),
                                 "-i", toolSource_});
    } else if (runPictures_ > 0) {
        // The pictures at their own rate, brought to the card's by the filter.
        args.insert(args.end(), {"-framerate", runRate_});
        args.insert(args.end(), runInput_.begin(), runInput_.end());
    } else {
        args.insert(args.end(), {"-i", toolSource_});
    }
    args.insert(args.end(), {"-vf", filter, "-an", "-pix_fmt", "yuv420p", "-r", RateText(frameRateCode_), "-f",
                             "rawvideo", "-y", kVideoPipeName});
    videoTool_ = std::make_unique<CAppLaunch>(kToolFfmpeg, args, false, pipes_.Path());
    return videoTool_->started;
}

// A video's picture and sound decodes, started before its probe. The
// picture decode is given the filter of the source most imports bring: the
// card's own size, 8-bit 4:2:0, BT.709, limited range. When the probe finds
// that, its pictures are the ones a decode started after the probe would
// give; otherwise it is replaced (StartVideo). Either may fail to start:
// the import then starts it again the usual way, after the probe.
void KAVQ1FileEncoder::StartToolsEarly(bool limitedRange, bool deinterlace) {
    SourcePicture likely;
    likely.width = sizeClass_ == 2 ? 3840 : 1920;
    likely.height = sizeClass_ == 2 ? 2160 : 1080;
    likely.pixelFormat = "yuv420p";
    likely.colorRange = "tv";
    likely.colorSpace = "bt709";
    earlyFilter_ = PictureFilter(sizeClass_, frameRateCode_, limitedRange, deinterlace, likely);
    if (!StartVideoTool(earlyFilter_)) StopEarlyTools(/*pictureToo=*/true, /*soundToo=*/false);
    if (!StartAudio()) StopEarlyTools(/*pictureToo=*/false, /*soundToo=*/true);
}

// Ends decodes started before the probe that are not wanted: both when the
// import does not go on, the picture decode when the source is not the one
// it was started for, the sound decode when the source has no sound. They
// are killed at once: nothing of theirs is wanted, and their pipes go.
void KAVQ1FileEncoder::StopEarlyTools(bool pictureToo, bool soundToo) {
    const auto stop = [](std::unique_ptr<CAppLaunch>& tool, int& pipe) {
        if (tool) tool->Terminate(0);
        tool.reset();
        if (pipe >= 0) close(pipe);
        pipe = -1;
    };
    if (soundToo) stop(audioTool_, audioPipe_);
    if (pictureToo) stop(videoTool_, videoPipe_);
}

bool KAVQ1FileEncoder::StartAudio() {
    audioPipePath_ = pipes_.MakeFifo(kAudioPipeName);
    if (audioPipePath_.empty()) return false;
    audioPipe_ = OpenFifoForReading(audioPipePath_);
    if (audioPipe_ < 0) return false;
    audioBuffer_.assign(static_cast<size_t>(audioShareMax_), 0);
    audioTool_ = std::make_unique<CAppLaunch>(kToolFfmpeg, "-i \"%s\" -f s24le -ar 48000 -ac 2 -acodec pcm_s24le -y %s",
                                              std::initializer_list<std::string>{soundSource_, kAudioPipeName}, false,
                                              pipes_.Path());
    return audioTool_->started;
}

void KAVQ1FileEncoder::EndVideo(const char* why) {
    if (!videoEnded_) LogMessage(2, "KAVQ1FileEncoder: pictures ended after %d (%s)", nextAssign_, why);
    videoEnded_ = true;
    fillIndex_ = -1;
    if (videoPipe_ >= 0) close(videoPipe_);
    videoPipe_ = -1;
    if (videoTool_ && (videoTool_->started || videoTool_->ended)) {
        // Ended of itself, or stalled: either way it is no longer wanted.
        if (!videoTool_->Wait(0)) videoTool_->Terminate(200);
        LogMessage(3, "KAVQ1FileEncoder: picture decode exit code %d", videoTool_->exitCode);
        if (nextAssign_ == 0 && endCause_.empty())
            endCause_ = sourceName_ + (videoTool_->exitCode != 0 ? ": ffmpeg could not decode it (exit code " +
                                                                     std::to_string(videoTool_->exitCode) + ")"
                                                               : ": ffmpeg gave no picture of it");
    } else if (nextAssign_ == 0 && endCause_.empty()) {
        endCause_ = sourceName_ + ": the picture decode did not run (" + why + ")";
    }
}

void KAVQ1FileEncoder::EndAudio(const char* why) {
    if (!audioEnded_) LogMessage(2, "KAVQ1FileEncoder: sound ended (%s)", why);
    audioEnded_ = true;
    if (audioPipe_ >= 0) close(audioPipe_);
    audioPipe_ = -1;
    if (audioTool_ && audioTool_->started && !audioTool_->Wait(0)) audioTool_->Terminate(200);
    // The last share is padded with silence; later slots carry silence.
    if (!audioReady_ && audioBuffered_ > 0) {
        std::memset(audioBuffer_.data() + audioBuffered_, 0, audioBuffer_.size() - audioBuffered_);
        audioBuffered_ = audioShareMax_;
        audioReady_ = true;
    }
}

void KAVQ1FileEncoder::PictureComplete() {
    Worker& w = *workers_[fillIndex_];
    w.received = 0;
    w.busy = true;
    w.frameNumber = nextAssign_++;
    w.go.release();
    fillIndex_ = -1;
}

// One read of what the picture pipe holds, straight into the planes of the
// worker being filled: the tool's planes are contiguous, ours have filler
// lines behind the luma and the chroma of size class 1. Pictures that arrive
// in limited range are expanded piece by piece as read, while the bytes the
// read brought are still in the cache (the filler lines are never touched).
bool KAVQ1FileEncoder::ReadPicture() {
    if (padded_) return ReadPaddedPicture();
    Worker& w = *workers_[fillIndex_];
    const size_t luma = size_t(lumaBytes_), chromaIn = luma / 4;
    const FramePart parts[3] = {{w.lumaPlane, 0, luma},
                                {w.cbPlane, luma, luma + chromaIn},
                                {w.crPlane, luma + chromaIn, size_t(pictureBytes_)}};
    iovec iov[3];
    const int n = RestOfFrame(parts, 3, size_t(w.received), iov);
    ssize_t got = readv(videoPipe_, iov, n);
    if (got > 0) {
        if (expandRange_) {
            const size_t from = size_t(w.received), to = from + size_t(got);
            for (int i = 0; i < 3; ++i) {
                const size_t b = std::max(from, parts[i].begin), e = std::min(to, parts[i].end);
                if (b < e) ExpandToFullRange(parts[i].base + (b - parts[i].begin), e - b, i > 0);
            }
        }
        w.received += static_cast<int>(got);
        if (w.received >= pictureBytes_) PictureComplete();
        return true;
    }
    return PictureReadFailed(w, got);
}

// A read of the picture pipe that gave nothing (`got` 0 or -1): every writer
// has gone (the tool finished, died or was killed) or the pipe failed, and
// a partly received picture is dropped; or there is nothing yet (false).
bool KAVQ1FileEncoder::PictureReadFailed(Worker& w, ssize_t got) {
    if (got < 0 && (errno == EAGAIN || errno == EINTR)) return false;
    w.received = 0;
    EndVideo(got == 0 ? "end of pictures" : strerror(errno));
    return true;
}

// A picture fitted inside the frame arrives at its own size: read whole
// into the staging buffer, then laid row by row over the middle of the
// worker's planes, whose bars are black already.
bool KAVQ1FileEncoder::ReadPaddedPicture() {
    Worker& w = *workers_[fillIndex_];
    const size_t luma = size_t(fitWidth_) * fitHeight_, chroma = luma / 4;
    if (staging_.size() != luma + 2 * chroma) staging_.assign(luma + 2 * chroma, 0);
    ssize_t got = read(videoPipe_, staging_.data() + w.received, staging_.size() - size_t(w.received));
    if (got > 0) {
        w.received += static_cast<int>(got);
        if (size_t(w.received) < staging_.size()) return true;
        const int frameWidth = sizeClass_ == 1 ? 1920 : 3840;
        const uint8_t* in = staging_.data();
        for (int y = 0; y < fitHeight_; ++y)
            std::memcpy(w.lumaPlane + size_t(fitY_ + y) * frameWidth + fitX_, in + size_t(y) * fitWidth_,
                        size_t(fitWidth_));
        uint8_t* planes[2] = {w.cbPlane, w.crPlane};
        for (int p = 0; p < 2; ++p) {
            const uint8_t* c = in + luma + size_t(p) * chroma;
            for (int y = 0; y < fitHeight_ / 2; ++y)
                std::memcpy(planes[p] + size_t(fitY_ / 2 + y) * (frameWidth / 2) + fitX_ / 2,
                            c + size_t(y) * (fitWidth_ / 2), size_t(fitWidth_ / 2));
        }
        PictureComplete();
        return true;
    }
    return PictureReadFailed(w, got);
}

bool KAVQ1FileEncoder::ReadSound() {
    ssize_t got = read(audioPipe_, audioBuffer_.data() + audioBuffered_,
                       static_cast<size_t>(audioShareMax_ - audioBuffered_));
    if (got > 0) {
        audioBuffered_ += static_cast<int>(got);
        if (audioBuffered_ >= audioShareMax_) audioReady_ = true;
        return true;
    }
    if (got == 0) {
        EndAudio("end of sound");
        return true;
    }
    if (errno == EAGAIN || errno == EINTR) return false;
    EndAudio(strerror(errno));
    return true;
}

// Waits until a pipe we want has data (or its writer went away), or one of
// the tools ended, for at most one poll slice; then reads what is there.
// A tool that has ended without anything left to read ends its stream; one
// that stays silent beyond the stall limit is stopped.
void KAVQ1FileEncoder::WaitForInput(bool wantVideo, bool wantAudio) {
    pollfd fds[4];
    int n = 0, videoAt = -1, audioAt = -1;
    if (wantVideo) {
        videoAt = n;
        fds[n++] = {videoPipe_, POLLIN, 0};
        if (videoTool_ && videoTool_->EndHandle() >= 0) fds[n++] = {videoTool_->EndHandle(), POLLIN, 0};
    }
    if (wantAudio) {
        audioAt = n;
        fds[n++] = {audioPipe_, POLLIN, 0};
        if (audioTool_ && audioTool_->EndHandle() >= 0) fds[n++] = {audioTool_->EndHandle(), POLLIN, 0};
    }
    int r = poll(fds, static_cast<nfds_t>(n), kPollSliceMs);
    if (r < 0 && errno != EINTR) {
        if (wantVideo) EndVideo("poll failed");
        if (wantAudio) EndAudio("poll failed");
        return;
    }
    bool videoRead = false, audioRead = false;
    if (videoAt >= 0 && (fds[videoAt].revents & (POLLIN | POLLHUP | POLLERR))) {
        if (!(fds[videoAt].revents & POLLHUP)) {
            const int received = workers_[fillIndex_]->received;
            const int whole = padded_ ? int(staging_.size()) : pictureBytes_;
            LetPipeFill(videoPipe_, videoPipeCapacity_, size_t(std::max(whole - received, 0)));
        }
        videoRead = ReadPicture();
    }
    if (audioAt >= 0 && (fds[audioAt].revents & (POLLIN | POLLHUP | POLLERR))) audioRead = ReadSound();

    // Nothing read: has the tool ended (then nothing more can come once the
    // pipe is drained) or is it merely slow? A FIFO whose writer never
    // connected shows no hang-up, so the tool's end is what tells.
    const int64_t now = NowMs();
    if (!wantVideo || videoRead) videoLastMs_ = now;
    if (!wantAudio || audioRead) audioLastMs_ = now;
    if (wantVideo && !videoEnded_ && !videoRead) {
        if (!videoTool_ || !videoTool_->started || videoTool_->Wait(0)) {
            if (!ReadPicture()) EndVideo("picture decode ended");
        } else if (now - videoLastMs_ >= stallLimitMs_) {
            EndVideo("picture decode stalled");
        }
    }
    if (wantAudio && !audioEnded_ && !audioRead) {
        if (!audioTool_ || !audioTool_->started || audioTool_->Wait(0)) {
            if (!ReadSound()) EndAudio("sound decode ended");
        } else if (now - audioLastMs_ >= stallLimitMs_) {
            EndAudio("sound decode stalled");
        }
    }
}

void KAVQ1FileEncoder::Deliver(uint8_t* slot) {
    const uint32_t n = static_cast<uint32_t>(nextDeliver_);
    int used = FillAudioChunk(slot, n, frameRateCode_, audioReady_ ? audioBuffer_.data() : nullptr,
                              audioReady_ ? static_cast<size_t>(audioBuffered_) : 0);
    if (audioReady_) {
        int rest = audioBuffered_ - used;
        if (used > 0 && rest > 0) std::memmove(audioBuffer_.data(), audioBuffer_.data() + used, rest);
        audioBuffered_ = used > 0 ? rest : 0;
        audioReady_ = false;
    }
    Worker& w = *workers_[deliverIndex_];
    w.done.acquire();
    if (w.encodedBytes > 0) std::memcpy(slot + kClusterBytes, w.output.get(), static_cast<size_t>(w.encodedBytes));
    w.busy = false;
    ++nextDeliver_;
    deliverIndex_ = -1;
}

bool KAVQ1FileEncoder::GetNextFrame(uint8_t* slot) {
    if (!opened_ || !slot || workers_.empty()) return false;
    // Stalls are measured within one call: time the caller spends between
    // calls (writing to a slow card) is not the tools' silence.
    videoLastMs_ = audioLastMs_ = NowMs();
    for (;;) {
        if (deliverIndex_ < 0) {
            for (int i = 0; i < workerCount_; ++i)
                if (workers_[i]->busy && workers_[i]->frameNumber == nextDeliver_) {
                    deliverIndex_ = i;
                    break;
                }
            if (deliverIndex_ < 0 && videoEnded_) return false;
        }
        if (!videoEnded_ && fillIndex_ < 0) {
            for (int i = 0; i < workerCount_; ++i)
                if (!workers_[i]->busy) {
                    fillIndex_ = i;
                    break;
                }
        }
        const bool needSound = hasAudio_ && !audioReady_ && !audioEnded_;
        if (deliverIndex_ >= 0 && (videoEnded_ || fillIndex_ < 0) && !needSound) {
            Deliver(slot);
            return true;
        }
        const bool wantVideo = !videoEnded_ && fillIndex_ >= 0;
        WaitForInput(wantVideo, needSound);
    }
}

pid_t KAVQ1FileEncoder::VideoToolPid() const { return videoTool_ ? videoTool_->Pid() : -1; }
pid_t KAVQ1FileEncoder::AudioToolPid() const { return audioTool_ ? audioTool_->Pid() : -1; }

void KAVQ1FileEncoder::Shutdown() {
    // Closing our ends first: a tool blocked on a full pipe then meets a
    // broken pipe at once instead of waiting for us.
    if (videoPipe_ >= 0) close(videoPipe_);
    videoPipe_ = -1;
    if (audioPipe_ >= 0) close(audioPipe_);
    audioPipe_ = -1;
    if (videoTool_) videoTool_->Terminate(200);
    if (audioTool_) audioTool_->Terminate(200);
    // A worker in the middle of a frame finishes it before it sees quit, so
    // no thread outlives the buffers it works on.
    for (auto& w : workers_) {
        w->quit.store(true, std::memory_order_release);
        w->go.release();
    }
    for (auto& w : workers_)
        if (w->thread.joinable()) w->thread.join();
    workers_.clear();
    videoTool_.reset();
    audioTool_.reset();
    pipes_.Remove();
}

KAVQ1FileEncoder::~KAVQ1FileEncoder() { Shutdown(); }

}  // namespace rk
