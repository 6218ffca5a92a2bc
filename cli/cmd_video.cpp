// reelkeep-cli's video commands: add-video, read-video, videos, thumbnail.
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "base/failure_cause.h"
#include "card/card_directory.h"
#include "card/sd_card.h"
#include "cli/card_arg.h"
#include "cli/cli_context.h"
#include "cli/terminal_operator.h"
#include "media/thumbnail.h"
#include "media/video_ops.h"

namespace rk::cli {

// Opens CARD and reads its directory; false (exit status set, reason on
// stderr) when it cannot be used for video work.
bool OpenFormattedCard(Context& ctx, const std::string& arg, CSDCard& card, const char* command) {
    bool formatted = false;
    std::string error;
    if (!OpenCardAndReadDirectory(arg, card, formatted, error)) {
        std::fprintf(stderr, "%s: %s\n", command, error.c_str());
        ctx.exitCode = kExitFailed;
        return false;
    }
    if (!formatted) {
        std::fprintf(stderr, "%s: %s is not formatted\n", command, arg.c_str());
        ctx.exitCode = kExitFailed;
        return false;
    }
    return true;
}

namespace {

// The entry number of video `n` (counted from 1 in list order); -1 (exit
// status set) when there is none.
int SlotOfPosition(Context& ctx, const CSDCard& card, int n, const char* command) {
    int slot = n >= 1 ? card.VideoOfListPosition(n - 1) : -1;
    if (slot < 0) {
        std::fprintf(stderr, "%s: no video %d (the card holds %d)\n", command, n, card.VideoCount());
        ctx.exitCode = kExitFailed;
    }
    return slot;
}

struct AddArgs {
    std::string card, source, name;
    std::string range = "full";
    std::string deinterlace = "on";
    bool yes = false;
};

struct ReadArgs {
    std::string card, output;
    int position = -1;
};

void RunAddVideo(Context& ctx, const AddArgs& a) {
    if (a.yes) ctx.yes = true;
    CSDCard card(ctx.op);
    if (!OpenFormattedCard(ctx, a.card, card, "add-video")) return;
    const int slot = LowestFreeVideoSlot(card.Directory());
    if (slot < 0) {
        std::fprintf(stderr, "add-video: the card already holds %d videos\n", kVideoCount);
        ctx.exitCode = kExitFailed;
        return;
    }
    ImportOptions options;
    options.limitedRange = a.range == "limited";
    options.deinterlace = a.deinterlace == "on";
    AddVideoOutcome r = AddVideoFromFile(*ctx.op, card, slot, a.source, options, a.name);
    if (r.result == VideoOpResult::kDone || r.result == VideoOpResult::kKeptPartial) {
        std::fprintf(stderr, "add-video: video %d (entry %d), %d frames\n", card.ListPositionOfVideo(r.slot) + 1, r.slot,
                     r.framesWritten);
        ctx.exitCode = kExitOk;
    } else {
        ctx.exitCode = kExitFailed;
    }
}

void RunReadVideo(Context& ctx, const ReadArgs& a) {
    CSDCard card(ctx.op);
    if (!OpenFormattedCard(ctx, a.card, card, "read-video")) return;
    const int slot = SlotOfPosition(ctx, card, a.position, "read-video");
    if (slot < 0) return;
    ReadVideoOutcome r = ReadVideoToFile(*ctx.op, card, slot, a.output);
    ctx.exitCode = r.result == VideoOpResult::kDone ? kExitOk : kExitFailed;
}

void RunVideos(Context& ctx, const std::string& arg) {
    CSDCard card(ctx.op);
    if (!OpenFormattedCard(ctx, arg, card, "videos")) return;
    const CardDirectory& dir = card.Directory();
    int position = 0;
    for (int v = 0; v < kVideoCount; ++v) {
        EntryHead h = dir.Video(v);
        if (!h.Used()) continue;
        std::string duration = DurationText(h.numFrames, h.clustersPerFrame, card.DisplayRate());
        std::printf("%d\t%d\t%s\t%s\t%u\t%u\n", position + 1, v, dir.VideoNameUtf8(v).c_str(), duration.c_str(),
                    h.startCluster, static_cast<unsigned>(h.numFrames));
        ++position;
    }
    ctx.exitCode = kExitOk;
}

void RunThumbnail(Context& ctx, const ReadArgs& a) {
    CSDCard card(ctx.op);
    if (!OpenFormattedCard(ctx, a.card, card, "thumbnail")) return;
    const int slot = SlotOfPosition(ctx, card, a.position, "thumbnail");
    if (slot < 0) return;
    std::vector<uint8_t> block(kThumbBlockBytes);
    CPicture picture;
    if (!ReadThumbnail(card, static_cast<uint32_t>(card.Directory().Video(slot).ThumbnailCluster()), block.data(),
                       picture)) {
        std::fprintf(stderr, "thumbnail: the thumbnail of entry %d cannot be read\n", slot);
        ctx.exitCode = kExitFailed;
        return;
    }
    if (!WritePicturePNG(a.output, picture)) {
        const std::string cause = TakeFailureCause();
        std::fprintf(stderr, "thumbnail: cannot write %s%s%s\n", a.output.c_str(), cause.empty() ? "" : ": ",
                     cause.c_str());
        ctx.exitCode = kExitFailed;
        return;
    }
    ctx.exitCode = kExitOk;
}

}  // namespace

void RegisterVideoCommands(CLI::App& app, Context& ctx) {
    auto add = std::make_shared<AddArgs>();
    CLI::App* addCmd = app.add_subcommand(
        "add-video", "Add a video into the lowest free entry: a .kavq1 file is copied, anything else is imported");
    addCmd->add_option("CARD", add->card, "Drive number from `list`, or a card image or block device")->required();
    addCmd->add_option("SOURCE", add->source, "The video file")->required();
    addCmd->add_option("--name", add->name, "Name of the entry (default: the file name without extension)");
    addCmd->add_option("--range", add->range, "YUV range of the import: full or limited")
        ->check(CLI::IsMember({"full", "limited"}));
    addCmd->add_option("--deinterlace", add->deinterlace, "Deinterlace the import: on or off")
        ->check(CLI::IsMember({"on", "off"}));
    addCmd->add_flag("--yes", add->yes, "Answer every question with Yes");
    addCmd->callback([&ctx, add] { RunAddVideo(ctx, *add); });

    auto read = std::make_shared<ReadArgs>();
    CLI::App* readCmd = app.add_subcommand(
        "read-video", "Read a video back: OUT ending in .mov is exported as ProRes, any other name as KAVQ1");
    readCmd->add_option("CARD", read->card, "Drive number from `list`, or a card image or block device")->required();
    readCmd->add_option("N", read->position, "Video number shown by `videos` (from 1)")->required();
    readCmd->add_option("OUT", read->output, "The output file")->required();
    readCmd->callback([&ctx, read] { RunReadVideo(ctx, *read); });

    auto list = std::make_shared<std::string>();
    CLI::App* videosCmd = app.add_subcommand(
        "videos", "List the videos: number (from 1), entry, name, duration, start cluster, frames (tab-separated)");
    videosCmd->add_option("CARD", *list, "Drive number from `list`, or a card image or block device")->required();
    videosCmd->callback([&ctx, list] { RunVideos(ctx, *list); });

    auto thumb = std::make_shared<ReadArgs>();
    CLI::App* thumbCmd = app.add_subcommand("thumbnail", "Write a video's stored thumbnail as a 120 x 68 PNG");
    thumbCmd->add_option("CARD", thumb->card, "Drive number from `list`, or a card image or block device")->required();
    thumbCmd->add_option("N", thumb->position, "Video number shown by `videos` (from 1)")->required();
    thumbCmd->add_option("OUT", thumb->output, "The PNG file")->required();
    thumbCmd->callback([&ctx, thumb] { RunThumbnail(ctx, *thumb); });
}

}  // namespace rk::cli
