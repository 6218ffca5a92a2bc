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


void FramesProgress(Context& ctx, int slotBytes) {
    if (auto* term = dynamic_cast<CTerminalOperator*>(ctx.op)) term->SetProgressUnit("frames", double(slotBytes));
}

// The same road as adding a video to a card, with a file as the target:
// slots one by one, progress and Stop between them.
int RunEncode(const EncodeArgs& a, Context& ctx) {
    IOperator& op = *ctx.op;
    const VideoMode& mode = VideoModeAt(a.mode);
    const int budgetSectors = (mode.clustersPerFrame - 1) * (kClusterBytes / 512);
    // ffmpeg opens the source itself: a FIFO or a device there would keep it
    // (and us, waiting for its first picture) stuck. Refused before it starts.
    std::string why;
    if (!CheckInputPath(a.source, &why)) {
        ErrorById(op, IDS_CANT_OPEN_VIDEO);
        return kExitFailed;
    }
    if (!CheckOutputPath(a.output, &why)) {
        ErrorById(op, IDS_ERROR_WRITING_FILE);
        return kExitFailed;
    }
    KAVQ1FileEncoder encoder(a.source, mode.sizeClass, budgetSectors, mode.frameRate, a.range == "limited",
                             a.deinterlace == "on");
    if (!encoder.IsOpened()) {
        ErrorById(op, IDS_CANT_OPEN_VIDEO);
        return kExitFailed;
    }
    const int frames = encoder.FrameCount();
    const size_t slotBytes = static_cast<size_t>(encoder.SlotBytes());
    int fd = OpenOutputFile(a.output, &why);
    if (fd < 0) {
        ErrorById(op, IDS_ERROR_WRITING_FILE);
        return kExitFailed;
    }
    LogMessage(1, "reelkeep-cli encode: %s to %s, mode %d, %d frames", a.source.c_str(), a.output.c_str(), a.mode,
               frames);
    std::fprintf(stderr, "encode: %d frames for %s%s\n", frames, mode.name, encoder.HasAudio() ? ", with sound" : "");

    FramesProgress(ctx, static_cast<int>(slotBytes));
    op.BeginProgress(static_cast<int64_t>(frames) + 1);
    std::vector<uint8_t> slot(slotBytes);
    int written = 0;
    bool readError = false, writeError = false, stopped = false;
    for (int i = 0; i < frames; ++i) {
        std::memset(slot.data(), 0, slot.size());
        if (!encoder.GetNextFrame(slot.data())) {
            readError = written == 0;
            break;
        }
        if (op.PumpMessages()) {
            stopped = true;
            break;
        }
        if (!WriteWhole(fd, slot.data(), slot.size())) {
            writeError = true;
            break;
        }
        ++written;
        op.SetProgress(i + 1, false);
        if (op.PumpMessages()) {
            stopped = true;
            break;
        }
    }
    if (::fsync(fd) != 0 && !writeError && written > 0 && errno != EINVAL) writeError = true;
    if (::close(fd) != 0 && !writeError) writeError = true;
    const bool failed = stopped || readError || writeError;
    op.SetProgress(static_cast<int64_t>(frames) + 1, failed);
    op.EndProgress();

    if (stopped) {
        MessageById(op, kMsgNotice, kIconWarning, IDS_OPERATION_ABORTED);
        std::fprintf(stderr, "encode: %d frames written before the stop\n", written);
        return kExitFailed;
    }
    if (writeError) {
        ErrorById(op, IDS_ERROR_WRITING_FILE);
        return kExitFailed;
    }
    if (readError) {
        ErrorById(op, IDS_ERROR_READING_VIDEO);
        ::unlink(a.output.c_str());
        return kExitFailed;
    }
    MessageById(op, kMsgNotice, kIconInformation, IDS_WRITE_COMPLETED);
    std::fprintf(stderr, "encode: %d frames written to %s\n", written, a.output.c_str());
    return kExitOk;
}

int RunExport(const ExportArgs& a, Context& ctx) {
    IOperator& op = *ctx.op;
    CFileHandle file(OpenInputFile(a.input));
    const int fd = file.fd;
    if (fd < 0) {
        ErrorById(op, IDS_CANT_OPEN_VIDEO);
        return kExitFailed;
    }
    // ffmpeg writes the output itself: it must be a file, not something an
    // open for writing waits on.
    if (!CheckOutputPath(a.output)) {
        ErrorById(op, IDS_ERROR_WRITING_FILE);
        return kExitFailed;
    }
    struct stat st {};
    std::vector<uint8_t> head(2 * kClusterBytes, 0);
    if (::fstat(fd, &st) != 0 || st.st_size < static_cast<off_t>(head.size()) ||
        ReadWholeAt(fd, 0, head.data(), head.size()) != 1) {
        ErrorById(op, IDS_INVALID_VIDEO_FORMAT);
        return kExitFailed;
    }
    KAVQ1FileConverter converter(head.data(), head.size());
    if (!converter.IsValid()) {
        ErrorById(op, IDS_INVALID_VIDEO_FORMAT);
        return kExitFailed;
    }
    const size_t slotBytes = static_cast<size_t>(converter.SlotBytes());
    const uint64_t frames = KAVQ1FrameCount(static_cast<uint64_t>(st.st_size), static_cast<int>(slotBytes));
    if (frames == 0) {
        ErrorById(op, IDS_INVALID_VIDEO_FORMAT);
        return kExitFailed;
    }
    std::fprintf(stderr, "export: %llu frames\n", static_cast<unsigned long long>(frames));
    FramesProgress(ctx, static_cast<int>(slotBytes));
    op.BeginProgress(static_cast<int64_t>(frames) + 1);
    std::vector<uint8_t> slot(slotBytes);
    bool error = false, stopped = false;
    // Every failure below shows its text once: reading the file or writing
    // through the tool.
    auto fail = [&](int textId) {
        if (!error) ErrorById(op, textId);
        error = true;
    };
    if (!converter.Open(a.output)) {
        fail(IDS_ERROR_WRITING_FILE);
    } else if (converter.AudioOn()) {
        // The sound goes first: ffmpeg reads it from a file that must be
        // complete before the first picture.
        for (uint64_t i = 0; i < frames && !error; ++i) {
            if (ReadWholeAt(fd, i * slotBytes, slot.data(), kClusterBytes) != 1)
                fail(IDS_ERROR_READING_VIDEO);
            else if (!converter.PushAudio(slot.data()))
                fail(IDS_ERROR_WRITING_FILE);
            else if (op.PumpMessages())
                stopped = true;
            if (stopped) break;
        }
    }
    for (uint64_t i = 0; i < frames && !error && !stopped; ++i) {
        if (ReadWholeAt(fd, i * slotBytes, slot.data(), slotBytes) != 1) {
            fail(IDS_ERROR_READING_VIDEO);
            break;
        }
        if (op.PumpMessages()) {
            stopped = true;
            break;
        }
        if (!converter.PushFrame(slot.data())) {
            // A frame that does not decode, or the tool giving up: the cause says which.
            fail(IDS_ERROR_READING_VIDEO);
            break;
        }
        op.SetProgress(static_cast<int64_t>(i + 1), false);
    }
    if (stopped || error) converter.SetStallLimitMs(10000);
    if (!stopped && !error && !converter.Finish()) fail(IDS_ERROR_WRITING_FILE);
    op.SetProgress(static_cast<int64_t>(frames) + 1, stopped || error);
    op.EndProgress();
    if (stopped) {
        MessageById(op, kMsgNotice, kIconWarning, IDS_OPERATION_ABORTED);
        return kExitFailed;
    }
    if (error) {
        std::fprintf(stderr, "export: failed\n");
        return kExitFailed;
    }
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
