// reelkeep-cli render: a review copy of an item as the player shows it.
#include <memory>
#include <string>

#include <CLI/CLI.hpp>

#include "card/card_directory.h"
#include "card/sd_card.h"
#include "cli/card_arg.h"
#include "cli/cli_context.h"
#include "media/item_render.h"

namespace rk::cli {

namespace {

struct RenderArgs {
    std::string card, kind, output;
    int number = 0;
    bool prores = false;
};

// The kinds render takes, their entry counts and how their numbers count.
struct RenderKind {
    const char* word;
    PlayKind kind;
    bool titleCard;
    int count;  // entries of the kind; videos count in list order instead
};
constexpr RenderKind kRenderKinds[] = {
    {"video", PlayKind::kVideo, false, kVideoCount},       {"playlist", PlayKind::kPlaylist, false, kPlaylistCount},
    {"title-card", PlayKind::kPlaylist, true, kPlaylistCount}, {"still", PlayKind::kStill, false, kStillCount},
    {"effect", PlayKind::kEffect, false, kEffectCount},    {"logo", PlayKind::kLogo, false, kLogoCount},
};

void RunRender(Context& ctx, const RenderArgs& a) {
    const RenderKind* kind = nullptr;
    for (const RenderKind& k : kRenderKinds)
        if (a.kind == k.word) kind = &k;
    if (!kind) return UsageError(ctx, "nothing to render called '" + a.kind + "'");
    if (kind->kind != PlayKind::kVideo && (a.number < 1 || a.number > kind->count))
        return UsageError(ctx, "no " + a.kind + " " + std::to_string(a.number) + " (1 to " +
                                   std::to_string(kind->count) + ")");
    CSDCard card(ctx.op);
    if (!OpenFormattedCard(ctx, a.card, card, CardAccess::kRead)) return;
    int entry = a.number - 1;
    if (kind->kind == PlayKind::kVideo) {
        entry = a.number >= 1 ? card.VideoOfListPosition(a.number - 1) : -1;
        if (entry < 0)
            return Fail(ctx, "no video " + std::to_string(a.number),
                        a.card + ": the card holds " + std::to_string(card.VideoCount()));
    }
    if (!MayWriteOutput(ctx, a.output, card.Path())) return;
    RenderOptions options;
    options.outputPath = a.output;
    options.prores = a.prores;
    const RenderOutcome r = RenderItem(*ctx.op, card, PlayTarget{kind->kind, entry, kind->titleCard}, options);
    if (r.result == OpResult::kDone)
        Note(ctx, std::to_string(r.frames) + " frames rendered to " + a.output);
    ctx.exitCode = r.result == OpResult::kDone ? kExitOk : kExitFailed;
}

}  // namespace

void RegisterRenderCommands(CLI::App& app, Context& ctx) {
    auto a = std::make_shared<RenderArgs>();
    CLI::App* cmd = app.add_subcommand(
        "render",
        "Write a review copy of an item as the device shows it: H.264 and AAC in an .mp4 (--prores: ProRes 422 HQ "
        "and PCM in a .mov). A playlist renders its clips once, in order; effects and logos go over black "
        "(with --prores they keep their transparency as ProRes 4444)");
    cmd->add_option("CARD", a->card, "Drive number from `list`, or a card image or block device")->required();
    cmd->add_option("KIND", a->kind, "video, playlist, title-card, still, effect or logo")
        ->required()
        ->check(CLI::IsMember({"video", "playlist", "title-card", "still", "effect", "logo"}));
    cmd->add_option("N", a->number, "Its number (from 1; videos as `videos` numbers them)")->required();
    cmd->add_option("OUT", a->output, "The file to write")->required();
    cmd->add_flag("--prores", a->prores, "ProRes in a .mov instead of H.264 in an .mp4");
    cmd->callback([&ctx, a] { RunRender(ctx, *a); });
}

}  // namespace rk::cli
