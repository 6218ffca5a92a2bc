// reelkeep-cli's effect commands: add-effect, read-effect, effects, keyframes.
// Effect numbers and frame numbers count from 1.
#include <cstdio>
#include <memory>
#include <string>
#include <utility>

#include <CLI/CLI.hpp>

#include "card/card_directory.h"
#include "card/sd_card.h"
#include "card/video_modes.h"
#include "cli/card_arg.h"
#include "cli/cli_context.h"
#include "cli/json_writer.h"
#include "cli/terminal_operator.h"
#include "effects/effect_format.h"
#include "effects/effect_ops.h"
#include "effects/stinger.h"

namespace rk::cli {

namespace {

bool OpenEffectCard(Context& ctx, const std::string& arg, CSDCard& card, const char* command,
                    CardAccess access = CardAccess::kReadWrite) {
    if (access == CardAccess::kRead) return OpenFormattedCard(ctx, arg, card, access);
    return OpenFormattedCard(ctx, arg, card, command);
}

struct AddArgs {
    std::string card, source, type = "cut", sound;
    int cutAt = 0;  // 1-based; 0: the keys as read
    bool yes = false;
};

struct ReadArgs {
    std::string card, output;
    int number = 0;
};

struct KeyArgs {
    std::string picture;
    int frames = 0;
};

const char* SwitchText(int s) {
    switch (s) {
    case 1: return "keyframed";
    case 2: return "vertical animated wipe";
    case 3: return "horizontal animated wipe";
    default: return "unknown";
    }
}

void RunAddEffect(Context& ctx, const AddArgs& a) {
    if (a.yes) ctx.yes = true;
    CSDCard card(ctx.op);
    if (!OpenEffectCard(ctx, a.card, card, "add-effect")) return;
    const int slot = LowestFreeEffectSlot(card.Directory());
    if (slot < 0) {
        Fail(ctx, "no free effect slot", a.card + ": the card already holds " + std::to_string(kEffectCount) + " effects");
        return;
    }
    // The options answer the operation's questions: --type and --sound the
    // effect type question (the WAV file is the sound file it asks for next),
    // --cut-at the keyframe edit of a simple cut.
    ctx.op->QueueEffectType(a.type == "wipe" ? 1 : a.type == "mix" ? 2 : 0, !a.sound.empty());
    if (!a.sound.empty()) ctx.op->QueueOpenFile(a.sound);
    if (a.cutAt > 0) ctx.op->QueueCutPosition(a.cutAt - 1);
    if (a.cutAt > 0 && a.type != "cut") Note(ctx, "--cut-at sets the cut of --type cut only; the keys are used as read");
    EffectOpOutcome r = AddEffectFromPath(*ctx.op, card, slot, a.source);
    if (r.result == OpResult::kDone) {
        std::printf("%d\n", r.slot + 1);  // for scripts, even with -q
        Note(ctx, "effect " + std::to_string(r.slot + 1) + ", " + std::to_string(r.frames) + " frames");
        ctx.exitCode = kExitOk;
    } else {
        if (r.result == OpResult::kRefused && !IsHdMode(card.VideoMode()))
            Fail(ctx, "effects exist only on HD cards", a.card);
        ctx.exitCode = kExitFailed;
    }
}

void RunReadEffect(Context& ctx, const ReadArgs& a) {
    CSDCard card(ctx.op);
    if (!OpenEffectCard(ctx, a.card, card, "read-effect", CardAccess::kRead)) return;
    const int slot = a.number - 1;
    if (slot < 0 || slot >= kEffectCount) {
        UsageError(ctx, "no effect " + std::to_string(a.number) + " (1 to " + std::to_string(kEffectCount) + ")");
        return;
    }
    if (!card.Directory().Effect(slot).Used()) {
        Fail(ctx, "effect " + std::to_string(a.number) + " is free", a.card);
        return;
    }
    if (!MayWriteOutput(ctx, a.output, card.Path())) return;
    EffectOpOutcome r = ReadEffectToFile(*ctx.op, card, slot, a.output);
    ctx.exitCode = r.result == OpResult::kDone ? kExitOk : kExitFailed;
}

void RunEffects(Context& ctx, const std::string& arg, bool json) {
    CSDCard card(ctx.op);
    if (!OpenEffectCard(ctx, arg, card, "effects", CardAccess::kRead)) return;
    const CardDirectory& dir = card.Directory();
    CJsonWriter j;
    j.BeginArray();
    int rows = 0;
    for (int e = 0; e < kEffectCount; ++e) {
        EntryHead h = dir.Effect(e);
        if (!h.Used()) continue;
        ++rows;
        std::string duration = FramesDurationText(h.numFrames, card.DisplayRate());
        if (json) {
            j.BeginObject();
            j.Field("number", e + 1);
            j.Field("frames", static_cast<int>(h.numFrames));
            j.Field("duration", duration);
            j.Field("type", SwitchText(dir.EffectSwitch(e)));
            j.Field("startCluster", static_cast<int64_t>(h.startCluster));
            j.EndObject();
        } else {
            std::printf("%d\t%u\t%s\t%s\t%u\n", e + 1, unsigned(h.numFrames), duration.c_str(),
                        SwitchText(dir.EffectSwitch(e)), h.startCluster);
        }
    }
    j.EndArray();
    if (json) j.Print();
    if (rows == 0) Note(ctx, arg + ": no effects on the card");
    ctx.exitCode = kExitOk;
}

void RunKeyframes(Context& ctx, const KeyArgs& a) {
    int frames = a.frames;
    if (frames <= 0) frames = static_cast<int>(PictureSequence(a.picture).size());
    if (frames <= 0) {
        Fail(ctx, "no picture sequence", a.picture + ": starts none; give --frames");
        return;
    }
    CStinger s(a.picture);
    s.ReadKeyframesFor(frames);
    std::printf("frame\tposition\tfade\tposition key\tfade key\n");
    for (int f = 0; f < frames; ++f)
        std::printf("%d\t%d\t%d\t%d\t%d\n", f + 1, s.PositionAt(f, true), s.FadeAt(f), s.PositionKey(f), s.FadeKey(f));
    ctx.exitCode = kExitOk;
}

}  // namespace

void RegisterEffectCommands(CLI::App& app, Context& ctx) {
    auto add = std::make_shared<AddArgs>();
    CLI::App* addCmd = app.add_subcommand(
        "add-effect", "Add an effect into the lowest free effect slot, from a numbered picture or a .effect file");
    addCmd->add_option("CARD", add->card, "Drive number from `list`, or a card image or block device")->required();
    addCmd->add_option("SOURCE", add->source, "The first picture of the sequence, or a .effect file")->required();
    addCmd->add_option("--type", add->type, "Effect type: cut, wipe or mix")->check(CLI::IsMember({"cut", "wipe", "mix"}));
    addCmd->add_option("--cut-at", add->cutAt, "Frame (from 1) at which a cut switches")->check(CLI::PositiveNumber);
    addCmd->add_option("--sound", add->sound, "A sound file (at most 5 seconds are used)");
    addCmd->add_flag("--yes", add->yes, "Answer every question with Yes");
    addCmd->callback([&ctx, add] { RunAddEffect(ctx, *add); });

    auto read = std::make_shared<ReadArgs>();
    CLI::App* readCmd = app.add_subcommand("read-effect", "Read effect E (from 1) back to a .effect file");
    readCmd->add_option("CARD", read->card, "Drive number from `list`, or a card image or block device")->required();
    readCmd->add_option("E", read->number, "Effect number, from 1")->required();
    readCmd->add_option("OUT", read->output, "The .effect file to write")->required();
    readCmd->callback([&ctx, read] { RunReadEffect(ctx, *read); });

    auto list = std::make_shared<std::pair<std::string, bool>>();
    CLI::App* listCmd = app.add_subcommand("effects", "List the effects: number, frames, duration, type, start cluster");
    listCmd->add_option("CARD", list->first, "Drive number from `list`, or a card image or block device")->required();
    listCmd->add_flag("--json", list->second, "Print the list as JSON");
    listCmd->callback([&ctx, list] { RunEffects(ctx, list->first, list->second); });

    auto keys = std::make_shared<KeyArgs>();
    CLI::App* keyCmd = app.add_subcommand(
        "keyframes", "The position and fade of every frame as the device will get them, from the keyframe file");
    keyCmd->add_option("PICTURE", keys->picture, "The first picture of the sequence")->required();
    keyCmd->add_option("--frames", keys->frames, "Frames of the effect (default: the sequence's length)");
    keyCmd->callback([&ctx, keys] { RunKeyframes(ctx, *keys); });
}

}  // namespace rk::cli
