// reelkeep-cli recover: gives a card whose directory was lost its directory
// back, from the journal on this computer or by scanning the card.
#include <cstdio>
#include <memory>
#include <string>

#include <CLI/CLI.hpp>

#include "media/recover.h"
#include "card/sd_card.h"
#include "card/video_modes.h"
#include "cli/card_arg.h"
#include "cli/cli_context.h"

namespace rk::cli {

namespace {

struct RecoverArgs {
    std::string card;
    bool scan = false;
    bool force = false;
    int mode = -1;
};

void Recover(Context& ctx, const RecoverArgs& args) {
    CSDCard card(ctx.op);
    std::string error;
    if (OpenCardArgument(args.card, card, error) != 0) {
        Fail(ctx, "the card cannot be used", error);
        return;
    }
    RecoverOptions options;
    options.scan = args.scan;
    options.force = args.force;
    options.mode = args.mode;
    // The question goes through the operator, which answers it itself for --yes.
    options.ask = true;
    const RecoverOutcome outcome = RecoverCard(*ctx.op, card, options);
    if (!outcome.summary.empty()) std::printf("%s\n", outcome.summary.c_str());
    switch (outcome.result) {
    case OpResult::kDone:
    case OpResult::kKeptPartial:
        std::printf("recover: the directory was written; videos: %d, stills: %d, effects: %d, logos: %d\n",
                    card.VideoCount(), card.StillCount(), card.EffectCount(), card.LogoCount());
        return;
    case OpResult::kStopped:  // "Operation aborted." has been shown
        ctx.exitCode = kExitFailed;
        return;
    case OpResult::kRefused:
        // The person's No; a valid directory or nothing found carry a cause.
        Fail(ctx, outcome.cause.empty() ? "cancelled, nothing written" : "nothing written", args.card);
        return;
    case OpResult::kFailed:
        Fail(ctx, "nothing written", args.card);
        return;
    }
    ctx.exitCode = kExitFailed;
}

}  // namespace

void RegisterRecoverCommands(CLI::App& app, Context& ctx) {
    auto args = std::make_shared<RecoverArgs>();
    auto* cmd = app.add_subcommand(
        "recover", "Give a card whose directory was lost its directory back (from the journal, or --scan)");
    cmd->add_option("CARD", args->card, "Drive number from `list`, or a card image or block device")->required();
    cmd->add_flag("--scan", args->scan, "Rebuild the entries from the frame slots found on the card");
    cmd->add_flag("--force", args->force, "Go on although the card's directory is valid");
    cmd->add_option("--mode", args->mode, "Scan: the card's video mode (default: learnt from the first frame found)")
        ->check(CLI::Range(0, kVideoModeCount - 1));
    cmd->add_flag("-y,--yes", ctx.yes, "Answer every question with Yes");
    cmd->callback([&ctx, args] { Recover(ctx, *args); });
}

}  // namespace rk::cli
