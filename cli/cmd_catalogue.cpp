// reelkeep-cli's catalogue commands: stills, deleting, playlists, swaps and
// title cards. Every item number counts from 1: video 1..n in list order,
// still 1..32, playlist 1..16, clip 1..15, effect 1..16, logo 1..8.
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "base/failure_cause.h"
#include "card/card_directory.h"
#include "card/sd_card.h"
#include "card/video_modes.h"
#include "cli/cli_context.h"
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

// Checks an item number from the command line (1..count); the 0-based
// index, or -1 with the exit status set.
int IndexOf(Context& ctx, int n, int count, const char* what, const char* command) {
    if (n < 1 || n > count) {
        std::fprintf(stderr, "%s: no %s %d (1 to %d)\n", command, what, n, count);
        ctx.exitCode = kExitFailed;
        return -1;
    }
    return n - 1;
}

// The entry of video n (1-based list order), or -1 with the exit status set.
int VideoEntryOf(Context& ctx, const CSDCard& card, int n, const char* command) {
    const int slot = n >= 1 ? card.VideoOfListPosition(n - 1) : -1;
    if (slot < 0) {
        std::fprintf(stderr, "%s: no video %d (the card holds %d)\n", command, n, card.VideoCount());
        ctx.exitCode = kExitFailed;
    }
    return slot;
}

void WarnTitleCards(int failures, const char* command) {
    if (failures > 0)
        std::fprintf(stderr, "%s: warning: %d title card%s could not be remade (the old picture stays; see the log)\n",
                     command, failures, failures == 1 ? "" : "s");
}

struct StillArgs {
    std::string card, picture;
    std::string range = "full";
    std::string deinterlace = "on";
    bool yes = false;
    int number = 0;
};

void RunAddStill(Context& ctx, const StillArgs& a) {
    if (a.yes) ctx.yes = true;
    CSDCard card(ctx.op);
    if (!OpenFormattedCard(ctx, a.card, card, "add-still")) return;
    const int slot = LowestFreeStillSlot(card.Directory());
    if (slot < 0) {
        std::fprintf(stderr, "add-still: the card already holds %d stills\n", kStillCount);
        ctx.exitCode = kExitFailed;
        return;
    }
    ImportOptions options;
    options.limitedRange = a.range == "limited";
    options.deinterlace = a.deinterlace == "on";
    StillOutcome r = AddStillFromFile(*ctx.op, card, slot, a.picture, options);
    if (r.result == StillOpResult::kDone) {
        std::printf("%d\n", r.slot + 1);
        ctx.exitCode = kExitOk;
    } else {
        ctx.exitCode = kExitFailed;
    }
}

void RunReadStill(Context& ctx, const StillArgs& a) {
    CSDCard card(ctx.op);
    if (!OpenFormattedCard(ctx, a.card, card, "read-still")) return;
    const int s = IndexOf(ctx, a.number, kStillCount, "still", "read-still");
    if (s < 0) return;
    if (!card.Directory().Still(s).Used()) {
        std::fprintf(stderr, "read-still: still %d is free\n", a.number);
        ctx.exitCode = kExitFailed;
        return;
    }
    ctx.exitCode = ReadStillToFile(*ctx.op, card, s, a.picture).result == StillOpResult::kDone ? kExitOk : kExitFailed;
}

void RunStills(Context& ctx, const std::string& arg) {
    CSDCard card(ctx.op);
    if (!OpenFormattedCard(ctx, arg, card, "stills")) return;
    for (int s = 0; s < kStillCount; ++s) {
        const EntryHead h = card.Directory().Still(s);
        if (h.Used()) std::printf("%d\t%u\n", s + 1, h.startCluster);
    }
    ctx.exitCode = kExitOk;
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
        const int v = VideoEntryOf(ctx, card, a.number, "delete");
        if (v < 0) return;
        r = DeleteVideo(*ctx.op, card, v);
    } else {
        const CardItem kind = a.kind == "still" ? CardItem::kStill : a.kind == "effect" ? CardItem::kEffect : CardItem::kLogo;
        const int i = IndexOf(ctx, a.number, ItemCount(kind), ItemKindName(kind), "delete");
        if (i < 0) return;
        if (!ItemHead(card.Directory(), kind, i).Used()) {
            std::fprintf(stderr, "delete: %s %d is free\n", ItemKindName(kind), a.number);
            ctx.exitCode = kExitFailed;
            return;
        }
        r = kind == CardItem::kStill ? DeleteStill(*ctx.op, card, i)
            : kind == CardItem::kEffect ? DeleteEffect(*ctx.op, card, i)
                                        : DeleteLogo(*ctx.op, card, i);
    }
    WarnTitleCards(r.titleCardFailures, "delete");
    ctx.exitCode = r.result == DeleteResult::kDone ? kExitOk : kExitFailed;
}

void RunPlaylists(Context& ctx, const std::string& arg) {
    CSDCard card(ctx.op);
    if (!OpenFormattedCard(ctx, arg, card, "playlists")) return;
    const CardDirectory& dir = card.Directory();
    for (int p = 0; p < kPlaylistCount; ++p) {
        const int n = std::min<int>(std::max<int>(dir.ClipCount(p), 0), kMaxClipsPerPlaylist);
        std::string clips;
        for (int i = 0; i < n; ++i) {
            if (i) clips += ',';
            clips += std::to_string(card.ListPositionOfVideo(dir.Clip(p, i)) + 1);
        }
        std::printf("%d\t%d\t%s\t%s\t%s\n", p + 1, n, PlaylistDurationText(dir, p, card.DisplayRate()).c_str(),
                    dir.Loops(p) ? "repeat" : "stop", clips.c_str());
    }
    ctx.exitCode = kExitOk;
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
    if (a.yes) ctx.yes = true;
    CSDCard card(ctx.op);
    if (!OpenFormattedCard(ctx, a.card, card, "playlist")) return;
    const int p = IndexOf(ctx, a.playlist, kPlaylistCount, "playlist", "playlist");
    if (p < 0) return;
    const CardDirectory& dir = card.Directory();
    const int count = std::min<int>(std::max<int>(dir.ClipCount(p), 0), kMaxClipsPerPlaylist);
    PlaylistEdit e;
    switch (action) {
    case PlaylistAction::kAdd: {
        const int v = VideoEntryOf(ctx, card, a.video, "playlist add");
        if (v < 0) return;
        if (count >= kMaxClipsPerPlaylist) {
            std::fprintf(stderr, "playlist add: playlist %d already holds %d clips\n", a.playlist, kMaxClipsPerPlaylist);
            ctx.exitCode = kExitFailed;
            return;
        }
        int at = -1;
        if (a.at != 0) {
            if (a.at < 1 || a.at > count + 1) {
                std::fprintf(stderr, "playlist add: --at %d is not a position from 1 to %d\n", a.at, count + 1);
                ctx.exitCode = kExitFailed;
                return;
            }
            at = a.at - 1;
        }
        e = AddClip(*ctx.op, card, p, v, at);
        break;
    }
    case PlaylistAction::kRemove: {
        const int k = IndexOf(ctx, a.clip, count, "clip", "playlist remove");
        if (k < 0) return;
        e = RemoveClip(*ctx.op, card, p, k);
        break;
    }
    case PlaylistAction::kClear:
        if (count == 0) {
            ctx.exitCode = kExitOk;  // nothing to clear
            return;
        }
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
        const int q = IndexOf(ctx, a.other, kPlaylistCount, "playlist", "playlist swap");
        if (q < 0) return;
        if (q == p) {
            ctx.exitCode = kExitOk;
            return;
        }
        e = SwapPlaylists(*ctx.op, card, p, q);
        break;
    }
    case PlaylistAction::kSwapClips: {
        const int i = IndexOf(ctx, a.i, count, "clip", "playlist swap-clips");
        if (i < 0) return;
        const int j = IndexOf(ctx, a.j, count, "clip", "playlist swap-clips");
        if (j < 0) return;
        if (i == j) {
            ctx.exitCode = kExitOk;
            return;
        }
        e = SwapClips(*ctx.op, card, p, i, j);
        break;
    }
    }
    WarnTitleCards(e.titleCardFailures, "playlist");
    ctx.exitCode = e.done && e.written ? kExitOk : kExitFailed;
}

struct SwapArgs {
    std::string card, kind;
    int a = 0, b = 0;
};

void RunSwap(Context& ctx, const SwapArgs& s) {
    CSDCard card(ctx.op);
    if (!OpenFormattedCard(ctx, s.card, card, "swap")) return;
    const CardItem kind = s.kind == "still" ? CardItem::kStill : s.kind == "effect" ? CardItem::kEffect : CardItem::kLogo;
    const int a = IndexOf(ctx, s.a, ItemCount(kind), ItemKindName(kind), "swap");
    if (a < 0) return;
    const int b = IndexOf(ctx, s.b, ItemCount(kind), ItemKindName(kind), "swap");
    if (b < 0) return;
    if (a == b) {
        ctx.exitCode = kExitOk;
        return;
    }
    // The used one moves; two free slots have nothing to exchange.
    int from = a, to = b;
    if (!ItemHead(card.Directory(), kind, from).Used()) std::swap(from, to);
    if (!ItemHead(card.Directory(), kind, from).Used()) {
        std::fprintf(stderr, "swap: %s %d and %d are both free\n", ItemKindName(kind), s.a, s.b);
        ctx.exitCode = kExitFailed;
        return;
    }
    bool ok = false;
    if (kind == CardItem::kStill) ok = SwapStills(*ctx.op, card, from, to).result == StillOpResult::kDone;
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
    if (!OpenFormattedCard(ctx, t.card, card, "title-card")) return;
    const int p = IndexOf(ctx, t.playlist, kPlaylistCount, "playlist", "title-card");
    if (p < 0) return;
    const int cpf = card.ClustersPerFrame();
    CSlotBuffer slot;
    if (!slot.Allocate(static_cast<size_t>(cpf) * kClusterSize) ||
        !card.ReadClusters(card.Regions().TitleCluster(p), slot.Data(), static_cast<uint32_t>(cpf))) {
        ctx.exitCode = kExitFailed;
        return;
    }
    std::vector<uint8_t> rgb;
    int width = 0, height = 0;
    if (!DecodeSlotToRGB(slot.Data(), cpf, VideoModeAt(card.VideoMode()).sizeClass, rgb, width, height)) {
        std::fprintf(stderr, "title-card: the title card of playlist %d does not decode (never made?)\n", t.playlist);
        ctx.exitCode = kExitFailed;
        return;
    }
    if (!WritePNG(t.output, width, height, rgb.data())) {
        const std::string cause = TakeFailureCause();
        std::fprintf(stderr, "title-card: cannot write %s%s%s\n", t.output.c_str(), cause.empty() ? "" : ": ",
                     cause.c_str());
        ctx.exitCode = kExitFailed;
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
    addCmd->callback([&ctx, add] { RunAddStill(ctx, *add); });

    auto read = std::make_shared<StillArgs>();
    CLI::App* readCmd = app.add_subcommand("read-still", "Read a still back as a PNG of the card's picture size");
    readCmd->add_option("CARD", read->card, kCardHelp)->required();
    readCmd->add_option("S", read->number, "Still number (1 to 32)")->required();
    readCmd->add_option("OUT", read->picture, "The PNG file")->required();
    readCmd->callback([&ctx, read] { RunReadStill(ctx, *read); });

    auto stills = std::make_shared<std::string>();
    CLI::App* stillsCmd = app.add_subcommand("stills", "List the stills: number, start cluster (tab-separated)");
    stillsCmd->add_option("CARD", *stills, kCardHelp)->required();
    stillsCmd->callback([&ctx, stills] { RunStills(ctx, *stills); });

    auto del = std::make_shared<DeleteArgs>();
    CLI::App* delCmd = app.add_subcommand("delete", "Delete a video (from every playlist too), still, effect or logo");
    delCmd->add_option("CARD", del->card, kCardHelp)->required();
    delCmd->add_option("KIND", del->kind, "video, still, effect or logo")
        ->required()
        ->check(CLI::IsMember({"video", "still", "effect", "logo"}));
    delCmd->add_option("N", del->number, "Item number (from 1; videos in list order)")->required();
    delCmd->add_flag("--yes", del->yes, "Answer every question with Yes");
    delCmd->callback([&ctx, del] { RunDelete(ctx, *del); });

    auto lists = std::make_shared<std::string>();
    CLI::App* listsCmd = app.add_subcommand(
        "playlists", "List the playlists: number, clips, duration, stop/repeat, the clips as video numbers");
    listsCmd->add_option("CARD", *lists, kCardHelp)->required();
    listsCmd->callback([&ctx, lists] { RunPlaylists(ctx, *lists); });

    auto pl = std::make_shared<PlaylistArgs>();
    CLI::App* plCmd = app.add_subcommand("playlist", "Edit playlist P; its title card is remade after each edit");
    plCmd->add_option("CARD", pl->card, kCardHelp)->required();
    plCmd->add_option("P", pl->playlist, "Playlist number (1 to 16)")->required();
    plCmd->require_subcommand(1);
    CLI::App* c = plCmd->add_subcommand("add", "Add video V at clip position --at K (default: the end)");
    c->add_option("V", pl->video, "Video number (from 1)")->required();
    c->add_option("--at", pl->at, "Clip position (from 1)");
    c->callback([&ctx, pl] { RunPlaylist(ctx, *pl, PlaylistAction::kAdd); });
    c = plCmd->add_subcommand("remove", "Remove clip K");
    c->add_option("K", pl->clip, "Clip number (from 1)")->required();
    c->callback([&ctx, pl] { RunPlaylist(ctx, *pl, PlaylistAction::kRemove); });
    c = plCmd->add_subcommand("clear", "Empty the playlist (asks; the end mode goes back to stop)");
    c->add_flag("--yes", pl->yes, "Answer every question with Yes");
    c->callback([&ctx, pl] { RunPlaylist(ctx, *pl, PlaylistAction::kClear); });
    c = plCmd->add_subcommand("mode", "End mode: stop (on the last frame) or repeat (the playlist)");
    c->add_option("MODE", pl->mode, "stop or repeat")->required()->check(CLI::IsMember({"stop", "repeat"}));
    c->callback([&ctx, pl] { RunPlaylist(ctx, *pl, PlaylistAction::kMode); });
    c = plCmd->add_subcommand("swap", "Exchange with playlist Q");
    c->add_option("Q", pl->other, "Playlist number (1 to 16)")->required();
    c->callback([&ctx, pl] { RunPlaylist(ctx, *pl, PlaylistAction::kSwap); });
    c = plCmd->add_subcommand("swap-clips", "Exchange clips I and J");
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
