// reelkeep-cli's catalogue commands: stills, deleting, playlists, swaps and
// title cards. Every item number counts from 1: video 1..n in list order,
// still 1..32, playlist 1..16, clip 1..15, effect 1..16, logo 1..8.
#include <cstdio>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include <CLI/CLI.hpp>

#include "card/card_directory.h"
#include "card/sd_card.h"
#include "card/video_modes.h"
#include "cli/card_arg.h"
#include "cli/cli_context.h"
#include "cli/json_writer.h"
#include "cli/terminal_operator.h"
#include "media/delete_ops.h"
#include "media/frame_picture.h"
#include "media/playlist_ops.h"
#include "media/slot_buffer.h"
#include "media/still_ops.h"
#include "media/thumbnail.h"
#include "media/video_ops.h"

namespace rk::cli {

namespace {

constexpr const char* kCardHelp = "Drive number from `list`, or a card image or block device";

// Checks an item number against a fixed range of the layout (still 1..32,
// playlist 1..16, effect 1..16, logo 1..8): a number outside it is wrong
// usage. The 0-based index, or -1 with the exit status set.
int IndexOf(Context& ctx, int n, int count, const char* what) {
    if (n < 1 || n > count) {
        UsageError(ctx, "no " + std::string(what) + " " + std::to_string(n) + " (1 to " + std::to_string(count) + ")");
        return -1;
    }
    return n - 1;
}

// Checks a number against what the card holds now (clips of a playlist): a
// number past it is a failed operation, not wrong usage.
int HeldIndexOf(Context& ctx, int n, int count, const char* what, const std::string& card) {
    if (n < 1 || n > count) {
        Fail(ctx, "no " + std::string(what) + " " + std::to_string(n),
             card + ": " + (count ? "1 to " + std::to_string(count) : std::string("none")) + " held");
        return -1;
    }
    return n - 1;
}

// The entry of video n (1-based list order), or -1 with the exit status set.
int VideoEntryOf(Context& ctx, const CSDCard& card, int n, const std::string& arg) {
    const int slot = n >= 1 ? card.VideoOfListPosition(n - 1) : -1;
    if (slot < 0)
        Fail(ctx, "no video " + std::to_string(n), arg + ": the card holds " + std::to_string(card.VideoCount()));
    return slot;
}

void WarnTitleCards(Context& ctx, int failures) {
    if (failures > 0)
        Note(ctx, "warning: " + std::to_string(failures) + " title card" + (failures == 1 ? "" : "s") +
                      " could not be remade (the old picture stays; see the log)");
}

// An edit is all or nothing: written whole (exit 0, even when Ctrl-C came
// after the point where it could still be stopped), or stopped with the
// card as it was (exit 1, "Operation aborted." already shown).
void EndEdit(Context& ctx, bool written) {
    ctx.written = written;
    ctx.exitCode = written ? kExitOk : kExitFailed;
    if (written && CTerminalOperator::StopRequested())
        Note(ctx, "the change was already written whole when the stop came; the card holds it");
}

// The listings' two forms: tab-separated lines, or with --json one array of
// objects with the same values.
struct Listing {
    bool json = false;
    CJsonWriter j;
    explicit Listing(bool asJson) : json(asJson) {
        if (json) j.BeginArray();
    }
    // Ends the listing; an empty one says so on standard error.
    void Finish(Context& ctx, int rows, const std::string& arg, const char* what) {
        if (json) {
            j.EndArray();
            j.Print();
        }
        if (rows == 0) Note(ctx, arg + ": no " + what + " on the card");
        ctx.exitCode = kExitOk;
    }
};

struct StillArgs {
    std::string card, picture;
    std::string range = "full";
    std::string deinterlace = "on";
    bool yes = false;
    int number = 0;
    std::string fit;  // "stretch" or "pad"; empty: the default (stretch) unless a terminal is asked
};

void RunAddStill(Context& ctx, const StillArgs& a) {
    if (a.yes) ctx.yes = true;
    CSDCard card(ctx.op);
    if (!OpenFormattedCard(ctx, a.card, card, "add-still")) return;
    const int slot = LowestFreeStillSlot(card.Directory());
    if (slot < 0) {
        Fail(ctx, "no free still slot", a.card + ": the card already holds " + std::to_string(kStillCount) + " stills");
        return;
    }
    ImportOptions options;
    options.limitedRange = a.range == "limited";
    options.deinterlace = a.deinterlace == "on";
    // --fit answers the question a picture of another shape asks.
    if (!a.fit.empty()) ctx.op->QueueFit(a.fit == "pad");
    OpOutcome r = AddStillFromPath(*ctx.op, card, slot, a.picture, options);
    if (r.result == OpResult::kDone) {
        std::printf("%d\n", r.slot + 1);
        ctx.exitCode = kExitOk;
    } else {
        ctx.exitCode = kExitFailed;
    }
}

void RunReadStill(Context& ctx, const StillArgs& a) {
    CSDCard card(ctx.op);
    if (!OpenFormattedCard(ctx, a.card, card, CardAccess::kRead)) return;
    const int s = IndexOf(ctx, a.number, kStillCount, "still");
    if (s < 0) return;
    if (!card.Directory().Still(s).Used()) {
        Fail(ctx, "still " + std::to_string(a.number) + " is free", a.card);
        return;
    }
    if (!MayWriteOutput(ctx, a.picture, card.Path())) return;
    ctx.exitCode = ReadStillToFile(*ctx.op, card, s, a.picture).result == OpResult::kDone ? kExitOk : kExitFailed;
}

void RunStills(Context& ctx, const std::string& arg, bool json) {
    CSDCard card(ctx.op);
    if (!OpenFormattedCard(ctx, arg, card, CardAccess::kRead)) return;
    Listing list(json);
    int rows = 0;
    for (int s = 0; s < kStillCount; ++s) {
        const EntryHead h = card.Directory().Still(s);
        if (!h.Used()) continue;
        ++rows;
        if (json) {
            list.j.BeginObject();
            list.j.Field("number", s + 1);
            list.j.Field("startCluster", static_cast<int64_t>(h.startCluster));
            list.j.EndObject();
        } else {
            std::printf("%d\t%u\n", s + 1, h.startCluster);
        }
    }
    list.Finish(ctx, rows, arg, "stills");
}

struct DeleteArgs {
    std::string card, kind;
    int number = 0;
    bool yes = false;
};

void RunDelete(Context& ctx, const DeleteArgs& a) {
    if (a.yes) ctx.yes = true;
    CSDCard card(ctx.op);
    if (!OpenFormattedCard(ctx, a.card, card, "delete")) return;
    DeleteOutcome r;
    if (a.kind == "video") {
        const int v = VideoEntryOf(ctx, card, a.number, a.card);
        if (v < 0) return;
        // The question deletes: the card it is about is shown first.
        ShowCardLine(ctx, card);
        r = DeleteVideo(*ctx.op, card, v);
    } else {
        const CardItem kind = a.kind == "still" ? CardItem::kStill : a.kind == "effect" ? CardItem::kEffect : CardItem::kLogo;
        const int i = IndexOf(ctx, a.number, ItemCount(kind), ItemKindName(kind));
        if (i < 0) return;
        if (!ItemHead(card.Directory(), kind, i).Used()) {
            Fail(ctx, std::string(ItemKindName(kind)) + " " + std::to_string(a.number) + " is free", a.card);
            return;
        }
        ShowCardLine(ctx, card);
        r = kind == CardItem::kStill ? DeleteStill(*ctx.op, card, i)
            : kind == CardItem::kEffect ? DeleteEffect(*ctx.op, card, i)
                                        : DeleteLogo(*ctx.op, card, i);
    }
    WarnTitleCards(ctx, r.titleCardFailures);
    EndEdit(ctx, r.result == OpResult::kDone);
}

void RunPlaylists(Context& ctx, const std::string& arg, bool json) {
    CSDCard card(ctx.op);
    if (!OpenFormattedCard(ctx, arg, card, CardAccess::kRead)) return;
    const CardDirectory& dir = card.Directory();
    Listing list(json);
    for (int p = 0; p < kPlaylistCount; ++p) {
        const int n = std::min<int>(std::max<int>(dir.ClipCount(p), 0), kMaxClipsPerPlaylist);
        std::vector<int> clips;
        for (int i = 0; i < n; ++i) clips.push_back(card.ListPositionOfVideo(dir.Clip(p, i)) + 1);
        const std::string duration = PlaylistDurationText(dir, p, card.DisplayRate());
        const char* mode = dir.Loops(p) ? "repeat" : "stop";
        if (json) {
            list.j.BeginObject();
            list.j.Field("number", p + 1);
            list.j.Field("clips", n);
            list.j.Field("duration", duration);
            list.j.Field("endMode", mode);
            list.j.Key("videos");
            list.j.BeginArray();
            for (int v : clips) list.j.Int(v);
            list.j.EndArray();
            list.j.EndObject();
        } else {
            std::string text;
            for (size_t i = 0; i < clips.size(); ++i) text += (i ? "," : "") + std::to_string(clips[i]);
            std::printf("%d\t%d\t%s\t%s\t%s\n", p + 1, n, duration.c_str(), mode, text.c_str());
        }
    }
    // The sixteen playlists always exist; empty ones are listed too.
    list.Finish(ctx, kPlaylistCount, arg, "playlists");
}

struct PlaylistArgs {
    std::string card;
    int playlist = 0;
    int video = 0, at = 0, clip = 0, other = 0, i = 0, j = 0;
    std::string mode;
    bool yes = false;
};

enum class PlaylistAction { kAdd, kRemove, kClear, kMode, kSwap, kSwapClips };

void RunPlaylist(Context& ctx, const PlaylistArgs& a, PlaylistAction action) {
    if (a.card.empty() || a.playlist == 0)
        return UsageError(ctx, "the card and the playlist come first: reelkeep-cli playlist CARD P ACTION ...");
    if (a.yes) ctx.yes = true;
    CSDCard card(ctx.op);
    if (!OpenFormattedCard(ctx, a.card, card, "playlist")) return;
    const int p = IndexOf(ctx, a.playlist, kPlaylistCount, "playlist");
    if (p < 0) return;
    const CardDirectory& dir = card.Directory();
    const int count = std::min<int>(std::max<int>(dir.ClipCount(p), 0), kMaxClipsPerPlaylist);
    PlaylistEdit e;
    switch (action) {
    case PlaylistAction::kAdd: {
        const int v = VideoEntryOf(ctx, card, a.video, a.card);
        if (v < 0) return;
        if (count >= kMaxClipsPerPlaylist) {
            Fail(ctx, "playlist " + std::to_string(a.playlist) + " is full",
                 a.card + ": it already holds " + std::to_string(kMaxClipsPerPlaylist) + " clips");
            return;
        }
        int at = -1;
        if (a.at != 0) {
            if (a.at < 1 || a.at > count + 1) {
                Fail(ctx, "--at " + std::to_string(a.at) + " is not a clip position",
                     a.card + ": 1 to " + std::to_string(count + 1) + " for playlist " + std::to_string(a.playlist));
                return;
            }
            at = a.at - 1;
        }
        e = AddClip(*ctx.op, card, p, v, at);
        break;
    }
    case PlaylistAction::kRemove: {
        const int k = HeldIndexOf(ctx, a.clip, count, "clip", a.card);
        if (k < 0) return;
        e = RemoveClip(*ctx.op, card, p, k);
        break;
    }
    case PlaylistAction::kClear:
        if (count == 0) {
            ctx.exitCode = kExitOk;  // nothing to clear
            return;
        }
        ShowCardLine(ctx, card);
        e = ClearPlaylist(*ctx.op, card, p);
        break;
    case PlaylistAction::kMode: {
        const bool repeat = a.mode == "repeat";
        if (dir.Loops(p) == repeat) {
            ctx.exitCode = kExitOk;
            return;
        }
        e = SetEndMode(*ctx.op, card, p, repeat);
        break;
    }
    case PlaylistAction::kSwap: {
        const int q = IndexOf(ctx, a.other, kPlaylistCount, "playlist");
        if (q < 0) return;
        if (q == p) {
            ctx.exitCode = kExitOk;
            return;
        }
        e = SwapPlaylists(*ctx.op, card, p, q);
        break;
    }
    case PlaylistAction::kSwapClips: {
        const int i = HeldIndexOf(ctx, a.i, count, "clip", a.card);
        if (i < 0) return;
        const int j = HeldIndexOf(ctx, a.j, count, "clip", a.card);
        if (j < 0) return;
        if (i == j) {
            ctx.exitCode = kExitOk;
            return;
        }
        e = SwapClips(*ctx.op, card, p, i, j);
        break;
    }
    }
    WarnTitleCards(ctx, e.titleCardFailures);
    EndEdit(ctx, e.done && e.written);
}

struct SwapArgs {
    std::string card, kind;
    int a = 0, b = 0;
};

void RunSwap(Context& ctx, const SwapArgs& s) {
    CSDCard card(ctx.op);
    if (!OpenFormattedCard(ctx, s.card, card, "swap")) return;
    const CardItem kind = s.kind == "still" ? CardItem::kStill : s.kind == "effect" ? CardItem::kEffect : CardItem::kLogo;
    const int a = IndexOf(ctx, s.a, ItemCount(kind), ItemKindName(kind));
    if (a < 0) return;
    const int b = IndexOf(ctx, s.b, ItemCount(kind), ItemKindName(kind));
    if (b < 0) return;
    if (a == b) {
        ctx.exitCode = kExitOk;
        return;
    }
    // The used one moves; two free slots have nothing to exchange.
    int from = a, to = b;
    if (!ItemHead(card.Directory(), kind, from).Used()) std::swap(from, to);
    if (!ItemHead(card.Directory(), kind, from).Used()) {
        Fail(ctx, std::string(ItemKindName(kind)) + "s " + std::to_string(s.a) + " and " + std::to_string(s.b) +
                      " are both free",
             s.card);
        return;
    }
    bool ok = false;
    if (kind == CardItem::kStill) ok = SwapStills(*ctx.op, card, from, to).result == OpResult::kDone;
    else if (kind == CardItem::kEffect) ok = SwapEffects(*ctx.op, card, from, to);
    else ok = SwapLogos(*ctx.op, card, from, to);
    ctx.exitCode = ok ? kExitOk : kExitFailed;
}

struct TitleArgs {
    std::string card, output;
    int playlist = 0;
};

void RunTitleCard(Context& ctx, const TitleArgs& t) {
    CSDCard card(ctx.op);
    if (!OpenFormattedCard(ctx, t.card, card, CardAccess::kRead)) return;
    const int p = IndexOf(ctx, t.playlist, kPlaylistCount, "playlist");
    if (p < 0) return;
    if (!MayWriteOutput(ctx, t.output, card.Path())) return;
    const int cpf = card.ClustersPerFrame();
    CSlotBuffer slot;
    if (!slot.Allocate(static_cast<size_t>(cpf) * kClusterSize) ||
        !card.ReadClusters(card.Regions().TitleCluster(p), slot.Data(), static_cast<uint32_t>(cpf))) {
        // The card has shown its error with the cause.
        if (!card.ErrorReported()) Fail(ctx, "the title card cannot be read", t.card + ": out of memory");
        ctx.exitCode = kExitFailed;
        return;
    }
    std::vector<uint8_t> rgb;
    int width = 0, height = 0;
    if (!DecodeSlotToRGB(slot.Data(), cpf, VideoModeAt(card.VideoMode()).sizeClass, rgb, width, height)) {
        Fail(ctx, "the title card of playlist " + std::to_string(t.playlist) + " does not decode",
             t.card + ": never made, or damaged");
        return;
    }
    std::string why;
    if (!WritePNG(t.output, width, height, rgb.data(), &why)) {
        Fail(ctx, "cannot write the picture", why);
        return;
    }
    ctx.exitCode = kExitOk;
}

}  // namespace

void RegisterCatalogueCommands(CLI::App& app, Context& ctx) {
    auto add = std::make_shared<StillArgs>();
    CLI::App* addCmd = app.add_subcommand("add-still", "Add a picture into the lowest free still slot; prints its number");
    addCmd->add_option("CARD", add->card, kCardHelp)->required();
    addCmd->add_option("PICTURE", add->picture, "The picture file")->required();
    addCmd->add_option("--range", add->range, "YUV range of the import: full or limited")
        ->check(CLI::IsMember({"full", "limited"}));
    addCmd->add_option("--deinterlace", add->deinterlace, "Deinterlace the import: on or off")
        ->check(CLI::IsMember({"on", "off"}));
    addCmd->add_flag("--yes", add->yes, "Answer every question with Yes");
    addCmd->add_option("--fit", add->fit,
                       "A picture of another shape than 16:9: stretch (over the whole frame, the default) or pad "
                       "(its shape kept, on black bars)")
        ->check(CLI::IsMember({"stretch", "pad"}));
    addCmd->callback([&ctx, add] { RunAddStill(ctx, *add); });

    auto read = std::make_shared<StillArgs>();
    CLI::App* readCmd = app.add_subcommand("read-still", "Read a still back as a PNG of the card's picture size");
    readCmd->add_option("CARD", read->card, kCardHelp)->required();
    readCmd->add_option("S", read->number, "Still number (1 to 32)")->required();
    readCmd->add_option("OUT", read->picture, "The PNG file")->required();
    readCmd->callback([&ctx, read] { RunReadStill(ctx, *read); });

    auto stills = std::make_shared<std::pair<std::string, bool>>();
    CLI::App* stillsCmd = app.add_subcommand("stills", "List the stills: number, start cluster (tab-separated)");
    stillsCmd->add_option("CARD", stills->first, kCardHelp)->required();
    stillsCmd->add_flag("--json", stills->second, "Print the list as JSON");
    stillsCmd->callback([&ctx, stills] { RunStills(ctx, stills->first, stills->second); });

    auto del = std::make_shared<DeleteArgs>();
    CLI::App* delCmd = app.add_subcommand("delete", "Delete a video (from every playlist too), still, effect or logo");
    delCmd->add_option("CARD", del->card, kCardHelp)->required();
    delCmd->add_option("KIND", del->kind, "video, still, effect or logo")
        ->required()
        ->check(CLI::IsMember({"video", "still", "effect", "logo"}));
    delCmd->add_option("N", del->number, "Item number (from 1; videos in list order)")->required();
    delCmd->add_flag("--yes", del->yes, "Answer every question with Yes");
    delCmd->callback([&ctx, del] { RunDelete(ctx, *del); });

    auto lists = std::make_shared<std::pair<std::string, bool>>();
    CLI::App* listsCmd = app.add_subcommand(
        "playlists", "List the playlists: number, clips, duration, stop/repeat, the clips as video numbers");
    listsCmd->add_option("CARD", lists->first, kCardHelp)->required();
    listsCmd->add_flag("--json", lists->second, "Print the list as JSON");
    listsCmd->callback([&ctx, lists] { RunPlaylists(ctx, lists->first, lists->second); });

    auto pl = std::make_shared<PlaylistArgs>();
    CLI::App* plCmd = app.add_subcommand("playlist", "Edit playlist P; its title card is remade after each edit");
    // CARD and P are checked when the action runs, not by the parser: a
    // required positional would take the action's name (`playlist add
    // --help`) as the card.
    plCmd->add_option("CARD", pl->card, kCardHelp);
    plCmd->add_option("P", pl->playlist, "Playlist number (1 to 16)");
    plCmd->require_subcommand(1);
    plCmd->footer("Every action follows the card and the playlist: reelkeep-cli playlist CARD P ACTION ...");
    CLI::App* c = plCmd->add_subcommand("add", "Add video V at clip position --at K (default: the end)\n(reelkeep-cli playlist CARD P add V [--at K])");
    c->add_option("V", pl->video, "Video number (from 1)")->required();
    c->add_option("--at", pl->at, "Clip position (from 1)");
    c->callback([&ctx, pl] { RunPlaylist(ctx, *pl, PlaylistAction::kAdd); });
    c = plCmd->add_subcommand("remove", "Remove clip K (reelkeep-cli playlist CARD P remove K)");
    c->add_option("K", pl->clip, "Clip number (from 1)")->required();
    c->callback([&ctx, pl] { RunPlaylist(ctx, *pl, PlaylistAction::kRemove); });
    c = plCmd->add_subcommand("clear", "Empty the playlist (asks; the end mode goes back to stop)\n(reelkeep-cli playlist CARD P clear)");
    c->add_flag("--yes", pl->yes, "Answer every question with Yes");
    c->callback([&ctx, pl] { RunPlaylist(ctx, *pl, PlaylistAction::kClear); });
    c = plCmd->add_subcommand("mode", "End mode: stop (on the last frame) or repeat (the playlist)\n(reelkeep-cli playlist CARD P mode MODE)");
    c->add_option("MODE", pl->mode, "stop or repeat")->required()->check(CLI::IsMember({"stop", "repeat"}));
    c->callback([&ctx, pl] { RunPlaylist(ctx, *pl, PlaylistAction::kMode); });
    c = plCmd->add_subcommand("swap", "Exchange with playlist Q (reelkeep-cli playlist CARD P swap Q)");
    c->add_option("Q", pl->other, "Playlist number (1 to 16)")->required();
    c->callback([&ctx, pl] { RunPlaylist(ctx, *pl, PlaylistAction::kSwap); });
    c = plCmd->add_subcommand("swap-clips", "Exchange clips I and J (reelkeep-cli playlist CARD P swap-clips I J)");
    c->add_option("I", pl->i, "Clip number (from 1)")->required();
    c->add_option("J", pl->j, "Clip number (from 1)")->required();
    c->callback([&ctx, pl] { RunPlaylist(ctx, *pl, PlaylistAction::kSwapClips); });

    auto sw = std::make_shared<SwapArgs>();
    CLI::App* swCmd = app.add_subcommand("swap", "Exchange two stills (their pictures), effects or logos (their entries)");
    swCmd->add_option("CARD", sw->card, kCardHelp)->required();
    swCmd->add_option("KIND", sw->kind, "still, effect or logo")->required()->check(CLI::IsMember({"still", "effect", "logo"}));
    swCmd->add_option("A", sw->a, "Item number (from 1)")->required();
    swCmd->add_option("B", sw->b, "Item number (from 1)")->required();
    swCmd->callback([&ctx, sw] { RunSwap(ctx, *sw); });

    auto tc = std::make_shared<TitleArgs>();
    CLI::App* tcCmd = app.add_subcommand("title-card", "Write playlist P's title card, decoded, as a PNG");
    tcCmd->add_option("CARD", tc->card, kCardHelp)->required();
    tcCmd->add_option("P", tc->playlist, "Playlist number (1 to 16)")->required();
    tcCmd->add_option("OUT", tc->output, "The PNG file")->required();
    tcCmd->callback([&ctx, tc] { RunTitleCard(ctx, *tc); });
}

}  // namespace rk::cli
