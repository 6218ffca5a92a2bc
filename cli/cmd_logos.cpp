// reelkeep-cli's logo commands: add-logo, read-logo, logos. Logos are
// numbered from 1, as the window numbers its logo list.
#include <unistd.h>

#include <cstdio>
#include <memory>
#include <string>
#include <utility>

#include <CLI/CLI.hpp>

#include "card/card_directory.h"
#include "card/sd_card.h"
#include "cli/card_arg.h"
#include "cli/cli_context.h"
#include "cli/json_writer.h"
#include "cli/terminal_operator.h"
#include "effects/logo_ops.h"

namespace rk::cli {

namespace {

bool OpenLogoCard(Context& ctx, const std::string& arg, CSDCard& card, const char* command,
                  CardAccess access = CardAccess::kReadWrite) {
    if (access == CardAccess::kRead) return OpenFormattedCard(ctx, arg, card, access);
    return OpenFormattedCard(ctx, arg, card, command);
}

struct AddLogoArgs {
    std::string card, source;
    int speed = 0;  // 1..5; 0: ask
    std::string range = "full";
    bool yes = false;
};

struct ReadLogoArgs {
    std::string card, output;
    int number = 0;
};

void RunAddLogo(Context& ctx, const AddLogoArgs& a) {
    if (a.yes) ctx.yes = true;
    CSDCard card(ctx.op);
    if (!OpenLogoCard(ctx, a.card, card, "add-logo")) return;
    const int slot = LowestFreeLogoSlot(card.Directory());
    if (slot < 0) {
        Fail(ctx, "no free logo slot", a.card + ": the card already holds " + std::to_string(kLogoCount) + " logos");
        return;
    }
    // The speed question is also the confirmation: --speed answers it, and
    // so does --yes (with the normal speed); without either and without a
    // terminal it is answered No, as every other question.
    if (a.speed > 0) {
        ctx.op->QueueOption(std::to_string(a.speed));
    } else if (!ctx.yes && !::isatty(0)) {
        Fail(ctx, "not confirmed", a.source + ": give --speed or --yes");
        return;
    }
    LogoOptions options;
    options.limitedRange = a.range == "limited";
    AddLogoOutcome r = AddLogoFromPath(*ctx.op, card, slot, a.source, options);
    if (r.result == OpResult::kDone) {
        std::printf("%d\n", r.slot + 1);  // for scripts, even with -q
        Note(ctx, "logo " + std::to_string(r.slot + 1) + ", " + std::to_string(r.frames) + " frames");
        ctx.exitCode = kExitOk;
    } else {
        ctx.exitCode = kExitFailed;
    }
}

void RunReadLogo(Context& ctx, const ReadLogoArgs& a) {
    CSDCard card(ctx.op);
    if (!OpenLogoCard(ctx, a.card, card, "read-logo", CardAccess::kRead)) return;
    const int slot = a.number - 1;
    if (slot < 0 || slot >= kLogoCount) {
        UsageError(ctx, "no logo " + std::to_string(a.number) + " (1 to " + std::to_string(kLogoCount) + ")");
        return;
    }
    if (!card.Directory().Logo(slot).Used()) {
        Fail(ctx, "logo " + std::to_string(a.number) + " is free", a.card);
        return;
    }
    if (!MayWriteOutput(ctx, a.output, card.Path())) return;
    ctx.exitCode = ReadLogoToFile(*ctx.op, card, slot, a.output).result == OpResult::kDone ? kExitOk : kExitFailed;
}

void RunLogos(Context& ctx, const std::string& arg, bool json) {
    CSDCard card(ctx.op);
    if (!OpenLogoCard(ctx, arg, card, "logos", CardAccess::kRead)) return;
    const CardDirectory& dir = card.Directory();
    CJsonWriter j;
    j.BeginArray();
    int rows = 0;
    for (int l = 0; l < kLogoCount; ++l) {
        EntryHead h = dir.Logo(l);
        if (!h.Used()) continue;
        ++rows;
        if (json) {
            j.BeginObject();
            j.Field("number", l + 1);
            j.Field("frames", static_cast<int>(h.numFrames));
            j.Field("startCluster", static_cast<int64_t>(h.startCluster));
            j.EndObject();
        } else {
            std::printf("%d\t%u\t%u\n", l + 1, static_cast<unsigned>(h.numFrames), h.startCluster);
        }
    }
    j.EndArray();
    if (json) j.Print();
    if (rows == 0) Note(ctx, arg + ": no logos on the card");
    ctx.exitCode = kExitOk;
}

}  // namespace

void RegisterLogoCommands(CLI::App& app, Context& ctx) {
    auto add = std::make_shared<AddLogoArgs>();
    CLI::App* addCmd = app.add_subcommand(
        "add-logo", "Add a logo into the lowest free slot: an .animlogo file is copied, a picture (and the numbered "
                    "pictures after it) converted");
    addCmd->add_option("CARD", add->card, "Drive number from `list`, or a card image or block device")->required();
    addCmd->add_option("SOURCE", add->source, "The first picture, or an .animlogo file")->required();
    addCmd->add_option("--speed", add->speed, "Playback speed: 1 normal (50 fps), 2..5 each picture shown 2..5 times")
        ->check(CLI::Range(1, 5));
    addCmd->add_option("--range", add->range, "YUV range of the conversion: full or limited")
        ->check(CLI::IsMember({"full", "limited"}));
    addCmd->add_flag("--yes", add->yes, "Answer every question with Yes");
    addCmd->callback([&ctx, add] { RunAddLogo(ctx, *add); });

    auto read = std::make_shared<ReadLogoArgs>();
    CLI::App* readCmd = app.add_subcommand("read-logo", "Read a logo back into an .animlogo file");
    readCmd->add_option("CARD", read->card, "Drive number from `list`, or a card image or block device")->required();
    readCmd->add_option("L", read->number, "Logo number shown by `logos` (from 1)")->required();
    readCmd->add_option("OUT", read->output, "The .animlogo file")->required();
    readCmd->callback([&ctx, read] { RunReadLogo(ctx, *read); });

    auto list = std::make_shared<std::pair<std::string, bool>>();
    CLI::App* logosCmd =
        app.add_subcommand("logos", "List the logos: number (from 1), frames, start cluster (tab-separated)");
    logosCmd->add_option("CARD", list->first, "Drive number from `list`, or a card image or block device")->required();
    logosCmd->add_flag("--json", list->second, "Print the list as JSON");
    logosCmd->callback([&ctx, list] { RunLogos(ctx, list->first, list->second); });
}

}  // namespace rk::cli
