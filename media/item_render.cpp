#include "media/item_render.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <memory>

#include "base/fd_io.h"
#include "base/log.h"
#include "base/safe_open.h"
#include "base/string_ids.h"
#include "card/sd_card.h"
#include "convert/app_launch.h"
#include "convert/fifo_writer.h"
#include "convert/pipe_folder.h"
#include "convert/tool_folder.h"
#include "ui/operator.h"

namespace rk {

namespace {

constexpr const char* kSoundFile = "audio.pcm";
constexpr int kSampleRate = 48000;
// How long ffmpeg may take to finish a file after its last picture, and
// after a Stop or a failure (a partial file is not worth a long wait).
constexpr int kFinishMs = 120000;
constexpr int kFinishAfterStopMs = 10000;

// Sample frames of frame n at num/den frames a second: the share that keeps
// the total at n x 48000 x den / num, for frames whose chunk says nothing.
int64_t SilentShare(int64_t n, int rateNum, int rateDen) {
    auto upTo = [&](int64_t f) { return f * kSampleRate * rateDen / rateNum; };
    return upTo(n + 1) - upTo(n);
}

// The sound of every frame into `path` as s32le, silence where a frame has
// none; false when the file cannot be written. `any` says whether a frame
// carried sound at all.
bool WriteSound(IOperator& op, CItemFrames& frames, const std::string& path, bool& any, bool& stopped,
                std::string& why) {
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) {
        why = FileCause(path, errno);
        return false;
    }
    std::vector<int32_t> sound, silence;
    any = false;
    bool ok = true;
    for (int64_t n = 0; n < frames.FrameCount() && ok; ++n) {
        if (op.PumpMessages()) {
            stopped = true;
            break;
        }
        const size_t got = frames.ReadSound(n, sound);
        if (got > 0) {
            any = true;
            ok = WriteWhole(fd, sound.data(), sound.size() * sizeof(int32_t));
        } else {
            silence.assign(size_t(SilentShare(n, frames.RateNum(), frames.RateDen())) * 2, 0);
            ok = WriteWhole(fd, silence.data(), silence.size() * sizeof(int32_t));
        }
        if (!ok) why = FileCause(path, errno ? errno : EIO);
    }
    if (::close(fd) != 0 && ok) {
        why = FileCause(path, errno);
        ok = false;
    }
    return ok;
}

}  // namespace

std::vector<std::string> RenderToolWords(int width, int height, int rateNum, int rateDen, bool alpha, bool prores,
                                         bool sound, const std::string& soundFile, const std::string& output) {
    const std::string rate = std::to_string(rateNum) + "/" + std::to_string(rateDen);
    // Studio range BT.709 in and out: the frames pass as the card holds them.
    const std::vector<std::string> colour = {"-color_range", "tv", "-colorspace", "bt709", "-color_primaries",
                                             "bt709", "-color_trc", "bt709"};
    std::vector<std::string> w = {"-f", "rawvideo", "-pix_fmt", alpha ? "yuva420p" : "yuv420p", "-s",
                                  std::to_string(width) + "x" + std::to_string(height), "-r", rate};
    w.insert(w.end(), colour.begin(), colour.end());
    w.insert(w.end(), {"-i", kVideoPipeName});
    if (sound) w.insert(w.end(), {"-f", "s32le", "-ar", "48000", "-ac", "2", "-i", soundFile});
    if (prores) {
        if (alpha)
            w.insert(w.end(), {"-c:v", "prores_ks", "-profile:v", "4", "-pix_fmt", "yuva444p10le"});
        else
            w.insert(w.end(), {"-c:v", "prores_ks", "-profile:v", "3", "-pix_fmt", "yuv422p10le"});
    } else {
        w.insert(w.end(), {"-c:v", "libx264", "-preset", "medium", "-crf", "16", "-pix_fmt", "yuv420p"});
    }
    w.insert(w.end(), colour.begin(), colour.end());
    if (sound)
        w.insert(w.end(), prores ? std::initializer_list<std::string>{"-c:a", "pcm_s24le"}
                                 : std::initializer_list<std::string>{"-c:a", "aac", "-b:a", "320k"});
    else
        w.push_back("-an");
    if (prores)
        w.insert(w.end(), {"-f", "mov"});
    else
        w.insert(w.end(), {"-movflags", "+faststart", "-f", "mp4"});
    w.insert(w.end(), {"-y", output});
    return w;
}

void OverBlack(YCbCrFrame& f) {
    if (f.a.empty()) return;
    // Rounded to the nearest, halves away from black, so an opaque pixel
    // keeps its value (also below black) and a transparent one is black.
    auto weigh = [](int centre, int v, int a, int full) {
        const int d = (v - centre) * a;
        return uint8_t(centre + (d >= 0 ? (d + full / 2) / full : -((-d + full / 2) / full)));
    };
    const size_t w = size_t(f.width);
    for (size_t i = 0; i < f.y.size(); ++i) f.y[i] = weigh(16, f.y[i], f.a[i], 255);
    const size_t cw = w / 2;
    for (int row = 0; row < f.height / 2; ++row)
        for (size_t x = 0; x < cw; ++x) {
            const size_t top = size_t(2 * row) * w + 2 * x, bottom = top + w;
            const int a = f.a[top] + f.a[top + 1] + f.a[bottom] + f.a[bottom + 1];  // 0 .. 1020
            for (std::vector<uint8_t>* plane : {&f.cb, &f.cr}) {
                uint8_t& c = (*plane)[size_t(row) * cw + x];
                c = weigh(128, c, a, 1020);
            }
        }
    f.a.clear();
}

namespace {

// One render's run of ffmpeg: its private folder, the pictures' FIFO, the
// tool, and how the run has gone so far.
struct RenderRun {
    IOperator& op;
    const std::string& outputPath;
    CPipeFolder folder;
    std::string fifo, output;
    std::unique_ptr<CAppLaunch> tool;
    CFifoWriter pipe;
    bool stopped = false, error = false;

    void Fail(int id, const std::string& detail) {
        ErrorWithDetail(op, id, detail);
        error = true;
    }
};

// The item's frames, once the output is known to be writable and not on the
// card; null when an error was shown.
std::unique_ptr<CItemFrames> OpenForRender(IOperator& op, CSDCard& card, const PlayTarget& target,
                                           const std::string& outputPath) {
    if (RefuseOutputOntoCard(op, outputPath, card.Path())) return nullptr;
    std::string why;
    std::unique_ptr<CItemFrames> frames = CItemFrames::Open(card, target, &why);
    if (!frames) {
        ErrorWithDetail(op, IDS_ERROR_READING_VIDEO, card.Path() + ": " + why);
        return nullptr;
    }
    if (!CheckOutputPath(outputPath, &why)) {
        ErrorWithDetail(op, IDS_ERROR_WRITING_FILE, why);
        return nullptr;
    }
    return frames;
}

// The working folder with the FIFO and the whole sound, then ffmpeg reading
// them; the run says how far it got.
void StartRenderTool(CItemFrames& frames, bool alpha, bool prores, RenderRun& run) {
    if (!run.folder.Create() || (run.fifo = run.folder.MakeFifo(kVideoPipeName)).empty() ||
        (run.output = run.folder.LiteralName("output", AbsolutePath(run.outputPath))).empty())
        run.Fail(IDS_ERROR_WRITING_FILE, run.outputPath + ": no private working folder for ffmpeg");

    bool sound = false;
    std::string why;
    if (!run.error && !WriteSound(run.op, frames, run.folder.AddFile(kSoundFile), sound, run.stopped, why))
        run.Fail(IDS_ERROR_WRITING_FILE, why);
    if (run.error || run.stopped) return;
    run.tool = std::make_unique<CAppLaunch>(kToolFfmpeg,
                                            RenderToolWords(frames.Width(), frames.Height(), frames.RateNum(),
                                                            frames.RateDen(), alpha, prores, sound, kSoundFile,
                                                            run.output),
                                            false, run.folder.Path());
    if (!run.tool->started)
        run.Fail(IDS_ERROR_WRITING_FILE, run.outputPath + ": ffmpeg could not be started");
    else if (!run.pipe.Open(run.fifo, *run.tool))
        run.Fail(IDS_ERROR_WRITING_FILE, run.outputPath + ": ffmpeg did not open its picture input");
}

// Every frame into the FIFO as the decoder gives it (over black without
// alpha), damaged ones black and counted, with progress and Stop.
void SendFrames(CItemFrames& frames, bool alpha, RenderRun& run, RenderOutcome& out) {
    YCbCrFrame frame;
    for (int64_t n = 0; n < frames.FrameCount() && !run.error && !run.stopped; ++n) {
        if (run.op.PumpMessages()) {
            run.stopped = true;
            break;
        }
        const FrameStatus status = frames.ReadYCbCr(n, frame);
        if (status != FrameStatus::kOk) {
            if (out.damaged == 0) LogMessage(2, "RenderItem(): %s", frames.Damage().c_str());
            ++out.damaged;
        }
        if (!alpha) OverBlack(frame);
        const iovec parts[4] = {{frame.y.data(), frame.y.size()},
                                {frame.cb.data(), frame.cb.size()},
                                {frame.cr.data(), frame.cr.size()},
                                {frame.a.data(), frame.a.size()}};
        if (!run.pipe.Write(parts, alpha ? 4 : 3)) {
            run.Fail(IDS_ERROR_WRITING_FILE, run.outputPath + ": ffmpeg stopped taking pictures");
            break;
        }
        ++out.frames;
        run.op.SetProgress(n + 1, status != FrameStatus::kOk);
    }
}

// Closing the pictures' FIFO ends ffmpeg's input: it finishes the file (a
// shorter one after a Stop) and ends.
void FinishRenderTool(RenderRun& run) {
    run.pipe.Close();
    if (!run.tool || !run.tool->started) return;
    const bool cut = run.stopped || run.error;
    if (!run.tool->Wait(cut ? kFinishAfterStopMs : kFinishMs)) {
        run.tool->Terminate(500);
        if (!cut) run.Fail(IDS_ERROR_WRITING_FILE, run.outputPath + ": ffmpeg did not finish the file");
    } else if (run.tool->exitCode != 0 && !cut) {
        run.Fail(IDS_ERROR_WRITING_FILE,
                 run.outputPath + ": ffmpeg ended with exit code " + std::to_string(run.tool->exitCode));
    }
}

// The last progress step and the closing messages.
void ReportRender(const CItemFrames& frames, const RenderRun& run, RenderOutcome& out) {
    IOperator& op = run.op;
    op.SetProgress(frames.FrameCount() + 1, run.error);
    if (out.damaged > 0 && !run.error)
        op.ShowMessage(Message{kMsgNotice, kIconWarning,
                               std::to_string(out.damaged) + " damaged frame" + (out.damaged == 1 ? "" : "s") +
                                   " rendered black",
                               frames.Damage()});
    if (run.stopped) {
        MessageById(op, kMsgNotice, kIconWarning, IDS_OPERATION_ABORTED);
        out.result = OpResult::kStopped;
    } else if (!run.error) {
        MessageById(op, kMsgNotice, kIconInformation, IDS_READ_COMPLETED);
        out.result = OpResult::kDone;
    }
    op.EndProgress();
}

}  // namespace

RenderOutcome RenderItem(IOperator& op, CSDCard& card, const PlayTarget& target, const RenderOptions& options) {
    RenderOutcome out;
    out.result = OpResult::kFailed;  // until the render ends otherwise
    std::unique_ptr<CItemFrames> frames = OpenForRender(op, card, target, options.outputPath);
    if (!frames) return out;
    const bool alpha = frames->HasAlpha() && options.prores;
    const int64_t frameBytes = int64_t(frames->Width()) * frames->Height() * (alpha ? 5 : 3) / 2;
    op.BeginProgress(ProgressScale{frames->FrameCount() + 1, ProgressUnit::kFrames, frameBytes});

    RenderRun run{op, options.outputPath};
    StartRenderTool(*frames, alpha, options.prores, run);
    SendFrames(*frames, alpha, run, out);
    FinishRenderTool(run);
    ReportRender(*frames, run, out);
    return out;
}

}  // namespace rk
