// reelkeep-cli's conversion commands: encode any source to a KAVQ1 file for a
// video mode, and export a KAVQ1 file to ProRes.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "base/log.h"
#include "base/safe_open.h"
#include "base/string_ids.h"
#include "card/video_modes.h"
#include "cli/cli_context.h"
#include "base/fd_io.h"
#include "cli/terminal_operator.h"
#include "codec/kavq1_slot.h"
#include "convert/kavq1_file_converter.h"
#include "convert/kavq1_file_encoder.h"
#include "media/slot_stream.h"

namespace rk::cli {

namespace {

struct EncodeArgs {
    std::string source, output;
    int mode = 0;
    std::string range = "full";
    std::string deinterlace = "on";
};

struct ExportArgs {
    std::string input, output;
};


// The same road as adding a video to a card, with a file as the target:
// slots one by one, progress and Stop between them.
int RunEncode(const EncodeArgs& a, Context& ctx) {
    IOperator& op = *ctx.op;
    const VideoMode& mode = VideoModeAt(a.mode);
    const int budgetSectors = FrameBudgetSectors(mode.clustersPerFrame);
    // ffmpeg opens the source itself: a FIFO or a device there would keep it
    // (and us, waiting for its first picture) stuck. Refused before it starts.
    std::string why;
    if (!CheckInputPath(a.source, &why)) {
        ErrorWithDetail(op, IDS_CANT_OPEN_VIDEO, why);
        return kExitFailed;
    }
    if (!MayWriteOutput(ctx, a.output)) return kExitFailed;
    if (!CheckOutputPath(a.output, &why)) {
        ErrorWithDetail(op, IDS_ERROR_WRITING_FILE, why);
        return kExitFailed;
    }
    KAVQ1FileEncoder encoder(a.source, mode.sizeClass, budgetSectors, mode.frameRate, a.range == "limited",
                             a.deinterlace == "on");
    if (!encoder.IsOpened()) {
        ErrorWithDetail(op, IDS_CANT_OPEN_VIDEO, a.source + ": " + encoder.FailureCause());
        return kExitFailed;
    }
    const int frames = encoder.FrameCount();
    const size_t slotBytes = static_cast<size_t>(encoder.SlotBytes());
    CFileHandle file(OpenOutputFile(a.output, &why));
    if (file.fd < 0) {
        ErrorWithDetail(op, IDS_ERROR_WRITING_FILE, why);
        return kExitFailed;
    }
    LogMessage(1, "reelkeep-cli encode: %s to %s, mode %d, %d frames", a.source.c_str(), a.output.c_str(), a.mode,
               frames);
    Note(ctx, std::to_string(frames) + " frames for " + mode.name + (encoder.HasAudio() ? ", with sound" : ""));

    op.BeginProgress(static_cast<int64_t>(frames) + 1, ProgressUnit::kFrames, static_cast<int64_t>(slotBytes));
    std::vector<uint8_t> slot(slotBytes);
    CEncoderSlotSource source(encoder);
    CFileSlotSink sink(file.fd);
    PumpResult r = PumpSlots(op, source, sink, static_cast<uint64_t>(frames), slot.data(), slotBytes);
    const bool stopped = r.status == PumpStatus::kStopped;
    const bool readError = r.status == PumpStatus::kReadError;
    bool writeError = r.status == PumpStatus::kWriteError;
    std::string cause = r.cause;
    if (!writeError && ::fsync(file.fd) != 0 && r.moved > 0 && errno != EINVAL) {
        writeError = true;
        cause = std::strerror(errno);
    }
    if (!file.Close() && !writeError) {
        writeError = true;
        cause = std::strerror(errno);
    }
    const bool failed = stopped || readError || writeError;
    op.SetProgress(static_cast<int64_t>(frames) + 1, failed);
    op.EndProgress();

    if (stopped) {
        MessageById(op, kMsgNotice, kIconWarning, IDS_OPERATION_ABORTED);
        Note(ctx, std::to_string(r.moved) + " frames written before the stop");
        return kExitFailed;
    }
    if (writeError) {
        ErrorWithDetail(op, IDS_ERROR_WRITING_FILE, a.output + (cause.empty() ? "" : ": " + cause));
        return kExitFailed;
    }
    if (readError) {
        ErrorWithDetail(op, IDS_ERROR_READING_VIDEO, a.source);
        ::unlink(a.output.c_str());
        return kExitFailed;
    }
    MessageById(op, kMsgNotice, kIconInformation, IDS_WRITE_COMPLETED);
    Note(ctx, std::to_string(r.moved) + " frames written to " + a.output);
    return kExitOk;
}

int RunExport(const ExportArgs& a, Context& ctx) {
    IOperator& op = *ctx.op;
    std::string why;
    CFileHandle file(OpenInputFile(a.input, &why));
    const int fd = file.fd;
    if (fd < 0) {
        ErrorWithDetail(op, IDS_CANT_OPEN_VIDEO, why);
        return kExitFailed;
    }
    // ffmpeg writes the output itself: it must be a file, not something an
    // open for writing waits on.
    if (!MayWriteOutput(ctx, a.output)) return kExitFailed;
    if (!CheckOutputPath(a.output, &why)) {
        ErrorWithDetail(op, IDS_ERROR_WRITING_FILE, why);
        return kExitFailed;
    }
    struct stat st {};
    std::vector<uint8_t> head(2 * kClusterBytes, 0);
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_size < static_cast<off_t>(head.size()) ||
        ReadWholeAt(fd, 0, head.data(), head.size()) != 1) {
        ErrorWithDetail(op, IDS_INVALID_VIDEO_FORMAT, a.input);
        return kExitFailed;
    }
    KAVQ1FileConverter converter(head.data(), head.size());
    if (!converter.IsValid()) {
        ErrorWithDetail(op, IDS_INVALID_VIDEO_FORMAT, a.input);
        return kExitFailed;
    }
    const size_t slotBytes = static_cast<size_t>(converter.SlotBytes());
    const uint64_t frames = KAVQ1FrameCount(static_cast<uint64_t>(st.st_size), static_cast<int>(slotBytes));
    if (frames == 0) {
        ErrorWithDetail(op, IDS_INVALID_VIDEO_FORMAT, a.input);
        return kExitFailed;
    }
    Note(ctx, std::to_string(frames) + " frames");
    op.BeginProgress(static_cast<int64_t>(frames) + 1, ProgressUnit::kFrames, static_cast<int64_t>(slotBytes));
    std::vector<uint8_t> slot(slotBytes);
    bool error = false, stopped = false;
    // Every failure below shows its text once: reading the file or writing
    // through the tool.
    auto fail = [&](int textId, const std::string& detail) {
        if (!error) ErrorWithDetail(op, textId, detail);
        error = true;
    };
    if (!converter.Open(a.output)) {
        fail(IDS_ERROR_WRITING_FILE, a.output + ": " + (converter.Cause().empty() ? "the tool did not start" : converter.Cause()));
    } else if (converter.AudioOn()) {
        // The sound goes first: ffmpeg reads it from a file that must be
        // complete before the first picture.
        for (uint64_t i = 0; i < frames && !error; ++i) {
            if (ReadWholeAt(fd, i * slotBytes, slot.data(), kClusterBytes) != 1)
                fail(IDS_ERROR_READING_VIDEO, a.input);
            else if (!converter.PushAudio(slot.data()))
                fail(IDS_ERROR_WRITING_FILE, a.output);
            else if (op.PumpMessages())
                stopped = true;
            if (stopped) break;
        }
    }
    if (!error && !stopped) {
        CFileSlotSource source(fd);
        CProResSlotSink sink(converter);
        PumpRules rules;
        rules.pumpAfterPut = false;
        PumpResult r = PumpSlots(op, source, sink, frames, slot.data(), slotBytes, rules);
        stopped = r.status == PumpStatus::kStopped;
        if (r.status == PumpStatus::kReadError) fail(IDS_ERROR_READING_VIDEO, a.input);
        // A frame that does not decode, or the tool giving up.
        if (r.status == PumpStatus::kWriteError)
            fail(IDS_ERROR_READING_VIDEO, a.input + (r.cause.empty() ? "" : ": " + r.cause));
    }
    if (stopped || error) converter.SetStallLimitMs(10000);
    if (!stopped && !error && !converter.Finish())
        fail(IDS_ERROR_WRITING_FILE, a.output + (converter.Cause().empty() ? "" : ": " + converter.Cause()));
    op.SetProgress(static_cast<int64_t>(frames) + 1, stopped || error);
    op.EndProgress();
    if (stopped) {
        MessageById(op, kMsgNotice, kIconWarning, IDS_OPERATION_ABORTED);
        return kExitFailed;
    }
    if (error) return kExitFailed;
    MessageById(op, kMsgNotice, kIconInformation, IDS_READ_COMPLETED);
    return kExitOk;
}

}  // namespace

void RegisterConvertCommands(CLI::App& app, Context& ctx) {
    auto enc = std::make_shared<EncodeArgs>();
    CLI::App* encode = app.add_subcommand("encode", "Encode any source ffmpeg reads to a KAVQ1 file for a video mode");
    encode->add_option("SOURCE", enc->source, "video or picture file")->required();
    encode->add_option("OUT", enc->output, "KAVQ1 file to write (.kavq1)")->required();
    encode->add_option("--mode", enc->mode, "video mode 0-8 (see 'list' or 'format')")
        ->required()
        ->check(CLI::Range(0, kVideoModeCount - 1));
    encode->add_option("--range", enc->range, "YUV range of the pictures")
        ->check(CLI::IsMember({"full", "limited"}))
        ->capture_default_str();
    encode->add_option("--deinterlace", enc->deinterlace, "deinterlace the source")
        ->check(CLI::IsMember({"on", "off"}))
        ->capture_default_str();
    encode->callback([enc, &ctx] { ctx.exitCode = RunEncode(*enc, ctx); });

    auto exp = std::make_shared<ExportArgs>();
    CLI::App* exportCmd = app.add_subcommand("export", "Export a KAVQ1 file to a ProRes .mov file");
    exportCmd->add_option("IN", exp->input, "KAVQ1 file (.kavq1)")->required();
    exportCmd->add_option("OUT", exp->output, "ProRes file to write (.mov)")->required();
    exportCmd->callback([exp, &ctx] { ctx.exitCode = RunExport(*exp, ctx); });
}

}  // namespace rk::cli
