// reelkeep-cli's video commands: add-video, read-video, videos, thumbnail.
#include <sys/stat.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include <CLI/CLI.hpp>

#include "card/card_directory.h"
#include "card/sd_card.h"
#include "cli/card_arg.h"
#include "cli/cli_context.h"
#include "cli/json_writer.h"
#include "cli/terminal_operator.h"
#include "convert/picture_run.h"
#include "media/thumbnail.h"
#include "media/video_ops.h"

namespace rk::cli {

// Opens CARD and reads its directory; false (the card named and the cause
// shown, exit status 1) when it cannot be used for item work. The message
// prefix names the command already.
bool OpenFormattedCard(Context& ctx, const std::string& arg, CSDCard& card, const char* /*command*/) {
    return OpenFormattedCard(ctx, arg, card);
}

namespace {

// The entry number of video `n` (counted from 1 in list order); -1 (exit
// status set) when there is none.
int SlotOfPosition(Context& ctx, const CSDCard& card, int n) {
    int slot = n >= 1 ? card.VideoOfListPosition(n - 1) : -1;
    if (slot < 0) {
        Fail(ctx, "no such video",
             card.Path() + ": no video " + std::to_string(n) + " (the card holds " +
                 std::to_string(card.VideoCount()) + ")");
    }
    return slot;
}

struct AddArgs {
    std::string card, source, name;
    std::string range = "full";
    std::string deinterlace = "on";
    bool sequence = false;  // a numbered picture: its whole run
    double rate = 0;        // of the run's pictures; 0: the card's rate
    std::string sound;      // played with the run
};

struct ReadArgs {
    std::string card, output;
    int position = -1;
    bool json = false;
};

void RunAddVideo(Context& ctx, const AddArgs& a) {
    // The run's options need a run: a pattern that names no file, or --sequence.
    struct stat st {};
    const bool pattern = ::lstat(a.source.c_str(), &st) != 0 && IsPicturePattern(a.source);
    if ((a.rate > 0 || !a.sound.empty()) && !a.sequence && !pattern) {
        return UsageError(ctx, "--rate and --sound go with a picture sequence: a name with a number pattern "
                               "(shot_%04d.png) or --sequence with its first picture");
    }
    CSDCard card(ctx.op);
    if (!OpenFormattedCard(ctx, a.card, card)) return;
    const int slot = LowestFreeVideoSlot(card.Directory());
    if (slot < 0) {
        return Fail(ctx, "no free video entry", a.card + ": the card already holds " + std::to_string(kVideoCount) + " videos");
    }
    ImportOptions options;
    options.limitedRange = a.range == "limited";
    options.deinterlace = a.deinterlace == "on";
    options.pictureRate = a.rate;
    options.sound = a.sound;
    // --sequence answers the question a numbered picture asks.
    if (a.sequence) ctx.op->QueueSequence(true);
    AddVideoOutcome r = AddVideoFromPath(*ctx.op, card, slot, a.source, options, a.name);
    if (r.result == OpResult::kDone || r.result == OpResult::kKeptPartial) {
        // The number for scripts on standard output (even with -q), as every add gives it.
        const int number = card.ListPositionOfVideo(r.slot) + 1;
        std::printf("%d\n", number);
        Note(ctx, "video " + std::to_string(number) + " (entry " + std::to_string(r.slot) + "), " +
                      std::to_string(r.framesWritten) + " frames");
        ctx.exitCode = kExitOk;
    } else {
        ctx.exitCode = kExitFailed;
    }
}

void RunReadVideo(Context& ctx, const ReadArgs& a) {
    CSDCard card(ctx.op);
    if (!OpenFormattedCard(ctx, a.card, card, CardAccess::kRead)) return;
    const int slot = SlotOfPosition(ctx, card, a.position);
    if (slot < 0) return;
    if (!MayWriteOutput(ctx, a.output, card.Path())) return;
    ReadVideoOutcome r = ReadVideoToFile(*ctx.op, card, slot, a.output);
    ctx.exitCode = r.result == OpResult::kDone ? kExitOk : kExitFailed;
}

// The duration as the list shows it, without the size that follows it there.
std::string DurationOnly(const EntryHead& h, int displayRate) {
    std::string text = FramesDurationText(h.numFrames, displayRate);
    return text;
}

void RunVideos(Context& ctx, const std::string& arg, bool json) {
    CSDCard card(ctx.op);
    if (!OpenFormattedCard(ctx, arg, card, CardAccess::kRead)) return;
    const CardDirectory& dir = card.Directory();
    CJsonWriter j;
    j.BeginArray();
    int position = 0;
    for (int v = 0; v < kVideoCount; ++v) {
        EntryHead h = dir.Video(v);
        if (!h.Used()) continue;
        const std::string duration = DurationOnly(h, card.DisplayRate());
        const unsigned long long bytes = static_cast<unsigned long long>(h.RunClusters()) * kClusterSize;
        if (json) {
            j.BeginObject();
            j.Field("number", position + 1);
            j.Field("entry", v);
            j.Field("name", dir.VideoNameUtf8(v));
            j.Field("duration", duration);
            j.Field("bytes", static_cast<int64_t>(bytes));
            j.Field("startCluster", static_cast<int64_t>(h.startCluster));
            j.Field("frames", static_cast<int>(h.numFrames));
            j.EndObject();
        } else {
            std::printf("%d\t%d\t%s\t%s\t%llu\t%u\t%u\n", position + 1, v, ListingField(dir.VideoNameUtf8(v)).c_str(),
                        duration.c_str(), bytes, h.startCluster, static_cast<unsigned>(h.numFrames));
        }
        ++position;
    }
    j.EndArray();
    if (json) j.Print();
    if (position == 0) Note(ctx, arg + ": no videos on the card");
    ctx.exitCode = kExitOk;
}

void RunThumbnail(Context& ctx, const ReadArgs& a) {
    CSDCard card(ctx.op);
    if (!OpenFormattedCard(ctx, a.card, card, CardAccess::kRead)) return;
    const int slot = SlotOfPosition(ctx, card, a.position);
    if (slot < 0) return;
    if (!MayWriteOutput(ctx, a.output, card.Path())) return;
    std::vector<uint8_t> block(kThumbBlockBytes);
    CPicture picture;
    if (!ReadThumbnail(card, static_cast<uint32_t>(card.Directory().Video(slot).ThumbnailCluster()), block.data(),
                       picture)) {
        return Fail(ctx, "the thumbnail cannot be read", a.card + ": entry " + std::to_string(slot));
    }
    // The maker writes 120 x 67; the 68th row of the block is filler that
    // reads back dark green, and is left out.
    CPicture made;
    const int rows = kThumbHeight - 1;
    if (!made.Create(picture.Width(), rows)) return Fail(ctx, "cannot write the thumbnail", a.output + ": out of memory");
    for (int y = 0; y < rows; ++y) std::memcpy(made.Row(y), picture.Row(y), static_cast<size_t>(picture.Width()) * 4);
    std::string why;
    if (!WritePicturePNG(a.output, made, &why)) {
        return Fail(ctx, "cannot write the thumbnail", why);
    }
    ctx.exitCode = kExitOk;
}

}  // namespace

void RegisterVideoCommands(CLI::App& app, Context& ctx) {
    auto add = std::make_shared<AddArgs>();
    CLI::App* addCmd = app.add_subcommand(
        "add-video", "Add a video into the lowest free entry: a .kavq1 file is copied, anything else is imported");
    addCmd->add_option("CARD", add->card, "Drive number from `list`, or a card image or block device")->required();
    addCmd->add_option("SOURCE", add->source,
                       "The video file, or a picture sequence: a name with a number pattern (shot_%04d.png)")
        ->required();
    addCmd->add_option("--name", add->name, "Name of the entry (default: the file name without extension)");
    addCmd->add_option("--range", add->range, "YUV range of the import: full or limited")
        ->check(CLI::IsMember({"full", "limited"}));
    addCmd->add_option("--deinterlace", add->deinterlace, "Deinterlace the import: on or off")
        ->check(CLI::IsMember({"on", "off"}));
    addCmd->add_flag("--sequence", add->sequence,
                     "SOURCE is the first of a numbered run of pictures: import the whole run as one video");
    addCmd->add_option("--rate", add->rate, "Pictures a second of a picture sequence (default: the card's rate)")
        ->check(CLI::PositiveNumber);
    addCmd->add_option("--sound", add->sound, "A sound file played with a picture sequence");
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
        "videos", "List the videos: number (from 1), entry, name, duration, bytes, start cluster, frames (tab-separated)");
    videosCmd->add_option("CARD", *list, "Drive number from `list`, or a card image or block device")->required();
    auto videosJson = std::make_shared<bool>(false);
    videosCmd->add_flag("--json", *videosJson, "Print the list as JSON");
    videosCmd->callback([&ctx, list, videosJson] { RunVideos(ctx, *list, *videosJson); });

    auto thumb = std::make_shared<ReadArgs>();
    CLI::App* thumbCmd = app.add_subcommand("thumbnail", "Write a video's stored thumbnail as a 120 x 67 PNG");
    thumbCmd->add_option("CARD", thumb->card, "Drive number from `list`, or a card image or block device")->required();
    thumbCmd->add_option("N", thumb->position, "Video number shown by `videos` (from 1)")->required();
    thumbCmd->add_option("OUT", thumb->output, "The PNG file")->required();
    thumbCmd->callback([&ctx, thumb] { RunThumbnail(ctx, *thumb); });
}

}  // namespace rk::cli
