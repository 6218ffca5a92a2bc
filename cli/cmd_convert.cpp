// reelkeep-cli's conversion commands: encode any source to a KAVQ1 file for a
// video mode, and export a KAVQ1 file to ProRes.
#include <cstdint>
#include <memory>
#include <string>

#include <CLI/CLI.hpp>

#include "card/video_modes.h"
#include "cli/cli_context.h"
#include "media/file_convert.h"

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

// The operations write the files; the command line decides whether an
// existing output may be replaced and says what it is doing.
int RunEncode(const EncodeArgs& a, Context& ctx) {
    if (!MayWriteOutput(ctx, a.output)) return kExitFailed;
    ImportOptions options;
    options.limitedRange = a.range == "limited";
    options.deinterlace = a.deinterlace == "on";
    const FileConvertOutcome out =
        EncodeToKAVQ1File(*ctx.op, a.source, a.output, a.mode, options, [&](uint64_t frames, bool withSound) {
            Note(ctx, std::to_string(frames) + " frames for " + VideoModeAt(a.mode).name +
                          (withSound ? ", with sound" : ""));
        });
    if (out.result == OpResult::kStopped)
        Note(ctx, std::to_string(out.framesMoved) + " frames written before the stop");
    if (out.result != OpResult::kDone) return kExitFailed;
    Note(ctx, std::to_string(out.framesMoved) + " frames written to " + a.output);
    return kExitOk;
}

int RunExport(const ExportArgs& a, Context& ctx) {
    if (!MayWriteOutput(ctx, a.output)) return kExitFailed;
    const FileConvertOutcome out = ExportKAVQ1ToProRes(
        *ctx.op, a.input, a.output, [&](uint64_t frames, bool) { Note(ctx, std::to_string(frames) + " frames"); });
    return out.result == OpResult::kDone ? kExitOk : kExitFailed;
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
