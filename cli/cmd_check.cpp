// reelkeep-cli's check command: reads a whole card and reports its problems.
// Exit status as a file-system check gives it: 0 clean, 1 problems found,
// 8 the card could not be read.
#include <cstdio>
#include <memory>
#include <string>

#include <CLI/CLI.hpp>

#include "card/sd_card.h"
#include "cli/card_arg.h"
#include "cli/cli_context.h"
#include "cli/json_writer.h"
#include "media/card_check.h"

namespace rk::cli {

namespace {

struct CheckArgs {
    std::string card;
    std::string frames = "sample";
    bool json = false;
};

void RunCheck(Context& ctx, const CheckArgs& args) {
    CheckFrames frames = CheckFrames::kSample;
    if (args.frames == "all") frames = CheckFrames::kAll;
    else if (args.frames == "none") frames = CheckFrames::kNone;
    else if (args.frames != "sample") {
        UsageError(ctx, "--frames takes all, sample or none");
        return;
    }
    // The check shows no message boxes: a card that cannot be read is its
    // finding, told once on stderr.
    CSDCard card(nullptr);
    std::string error;
    if (OpenCardArgument(args.card, card, error, CardAccess::kRead) != kOpenOk) {
        Fail(ctx, "the card cannot be read", error);
        ctx.exitCode = kExitUnreadable;
        return;
    }
    CheckReport report = CheckCard(*ctx.op, card, frames);
    if (args.json) {
        // One object a line: the findings, then the summary; keys as every
        // other listing spells them.
        for (const auto& f : report.findings) {
            CJsonWriter j;
            j.BeginObject();
            j.Field("item", f.item);
            j.Field("problem", f.code);
            j.Field("text", f.text);
            j.EndObject();
            j.Print();
        }
        CJsonWriter j;
        j.BeginObject();
        j.Key("summary");
        j.BeginObject();
        j.Field("readable", report.readable);
        j.Field("formatted", report.formatted);
        j.Field("stopped", report.stopped);
        j.Field("items", report.items);
        j.Field("frames", static_cast<int64_t>(report.framesChecked));
        j.Field("decoded", static_cast<int64_t>(report.framesDecoded));
        j.Field("freeClusters", report.freeClusters);
        j.Field("itemAreaClusters", report.itemAreaClusters);
        j.Field("problems", static_cast<int64_t>(report.findings.size()));
        j.EndObject();
        j.EndObject();
        j.Print();
    } else {
        for (const auto& f : report.findings) std::printf("%s\n", f.text.c_str());
        std::printf("%s\n", CheckSummaryText(report).c_str());
    }
    if (!report.readable) ctx.exitCode = kExitUnreadable;
    else if (!report.findings.empty() || report.stopped) ctx.exitCode = kExitFailed;
}

}  // namespace

void RegisterCheckCommands(CLI::App& app, Context& ctx) {
    auto args = std::make_shared<CheckArgs>();
    CLI::App* cmd = app.add_subcommand(
        "check", "Check a card: directory, every item's frame slots and free space (reads only; exit 0 clean, "
                 "1 problems, 8 unreadable)");
    cmd->add_option("CARD", args->card, "Drive number from `list`, or a card image or block device")->required();
    cmd->add_option("--frames", args->frames, "Frames to decode in full: all, sample (first, middle, last) or none")
        ->default_str("sample");
    cmd->add_flag("--json", args->json, "One JSON object per finding, then a summary object");
    cmd->callback([&ctx, args] { RunCheck(ctx, *args); });
}

}  // namespace rk::cli
