// reelkeep-cli's card commands: list, create-image, info, format, defrag.
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include <CLI/CLI.hpp>

#include "base/string_ids.h"
#include "base/texts.h"
#include "card/allocator.h"
#include "card/card_device.h"
#include "card/drive_scan.h"
#include "card/format.h"
#include "card/sd_card.h"
#include "card/video_modes.h"
#include "cli/card_arg.h"
#include "cli/cli_context.h"
#include "cli/json_writer.h"

namespace rk::cli {

namespace {

struct CardCommands {
    Context& ctx;

    // The terminal operator main() puts into the context.
    IOperator& Op() { return *ctx.op; }

    void Fail(const std::string& text, const std::string& detail = {}) { cli::Fail(ctx, text, detail); }

    void List(bool json) {
        bool denied = false;
        ScanResult scan = ScanMedia(&Op(), false, -1, denied);
        if (json) {
            CJsonWriter j;
            j.BeginArray();
            for (size_t i = 0; !scan.noMedia && i < scan.entries.size(); ++i) {
                const DriveEntry& e = scan.entries[i];
                j.BeginObject();
                j.Field("number", e.number);
                j.Field("label", e.label);
                j.Field("path", e.path);
                j.Field("sizeMiB", e.sizeMiB);
                j.Field("cardImage", e.kind == DriveKind::kCardImage);
                j.Field("selected", int(i) == scan.selected);
                j.EndObject();
            }
            j.EndArray();
            j.Print();
        }
        if (scan.noMedia) {
            if (!json) std::printf("%s\n", LoadText(IDS_NO_MEDIA).c_str());
            if (denied) ctx.exitCode = kExitFailed;
            return;
        }
        if (json) return;
        for (size_t i = 0; i < scan.entries.size(); ++i) {
            const DriveEntry& e = scan.entries[i];
            std::printf("%c %d: %s\t%s\n", int(i) == scan.selected ? '*' : ' ', e.number, ListingField(e.label).c_str(),
                        ListingField(e.path).c_str());
        }
    }

    void CreateImage(const std::string& path, const std::string& sizeText) {
        uint64_t bytes = 0;
        if (!ParseSizeText(sizeText, bytes)) {
            return UsageError(ctx, sizeText + " is not a size (use 512M, 32G, 1T ...)");
        }
        if (bytes / 512 / 2048 > uint64_t(kMaxCardMiB))
            return UsageError(ctx, sizeText + ": cards larger than 512000 MiB are not accepted");
        if (bytes < kDirectorySize) return UsageError(ctx, sizeText + ": a card holds at least its 36864-byte directory");
        int error = 0;
        if (!CreateCardImage(path, bytes, error)) return Fail("the card image was not created", path + ": " + std::strerror(error));
        std::printf("%s: %llu bytes (%s)\n", path.c_str(), (unsigned long long)bytes,
                    SizeText(int32_t(bytes / 1048576)).c_str());
    }

    bool OpenRead(const std::string& arg, CSDCard& card, bool& formatted,
                  CardAccess access = CardAccess::kReadWrite) {
        std::string error;
        if (!OpenCardAndReadDirectory(arg, card, formatted, error, access)) {
            // The card has shown its own error, with the cause.
            if (card.ErrorReported()) ctx.exitCode = kExitFailed;
            else Fail("the card cannot be used", error);
            return false;
        }
        return true;
    }

    void PrintSummary(const CSDCard& card) {
        std::printf("%s\n", CardLineText(card).c_str());
        if (!card.IsDirectoryValid()) return;
        int playlists = 0;
        for (int p = 0; p < kPlaylistCount; ++p) playlists += card.Directory().ClipCount(p) > 0;
        std::printf("videos: %d, stills: %d, effects: %d, logos: %d, playlists: %d\n", card.VideoCount(),
                    card.StillCount(), card.EffectCount(), card.LogoCount(), playlists);
    }

    void InfoJson(const CSDCard& card, bool formatted) {
        CJsonWriter j;
        j.BeginObject();
        j.Field("path", card.Path());
        j.Field("sizeMiB", card.SizeMiB());
        j.Field("sectors", card.TotalSectors());
        j.Field("formatted", formatted);
        if (formatted) {
            int playlists = 0;
            for (int p = 0; p < kPlaylistCount; ++p) playlists += card.Directory().ClipCount(p) > 0;
            j.Field("mode", card.VideoMode());
            j.Field("modeName", VideoModeName(card.VideoMode()));
            j.Field("line", CardLineText(card));
            j.Field("videos", card.VideoCount());
            j.Field("stills", card.StillCount());
            j.Field("effects", card.EffectCount());
            j.Field("logos", card.LogoCount());
            j.Field("playlists", playlists);
            j.Field("firstItemCluster", card.FirstItemCluster());
            j.Field("lastCluster", card.TotalClusters() - 1);
            j.Field("itemAreaClusters", card.ItemAreaClusters());
            j.Field("freeClusters", card.FreeClusters());
        }
        j.EndObject();
        j.Print();
    }

    void Info(const std::string& arg, bool dump, bool json) {
        CSDCard card(&Op());
        bool formatted = false;
        if (!OpenRead(arg, card, formatted, CardAccess::kRead)) return;
        if (json) return InfoJson(card, formatted);
        std::printf("%s: %d MiB, %lld sectors\n", card.Path().c_str(), card.SizeMiB(), (long long)card.TotalSectors());
        PrintSummary(card);
        if (formatted) {
            std::printf("item area: clusters %d to %lld (%d clusters), %d free\n", card.FirstItemCluster(),
                        (long long)card.TotalClusters() - 1, card.ItemAreaClusters(), card.FreeClusters());
        }
        if (dump && formatted)
            for (const auto& l : DirectoryDumpLines(card.Directory(), uint32_t(card.VideoMode()), card.FreeClusters(),
                                                    card.ItemAreaClusters()))
                std::printf("%s\n", l.text.c_str());
    }

    void Format(const std::string& arg, int mode) {
        CSDCard card(&Op());
        bool formatted = false;
        if (!OpenRead(arg, card, formatted)) return;
        if (mode < 0) mode = card.PresetFormatMode();
        if (!IsValidVideoMode(mode)) {
            return UsageError(ctx, "--mode takes 0 to 8");
        }
        if (!ConfirmOnCard(ctx, card, IDS_FORMAT_QUESTION)) return Fail("cancelled, nothing written", arg + ": not formatted");
        if (!FormatCard(card, Op(), mode)) return Fail("the card was not formatted", arg);
        PrintSummary(card);
    }

    // Every item follows the one before it from the first item Cluster on:
    // compaction would move nothing.
    static bool IsPacked(const CSDCard& card) {
        RunList list;
        BuildRunRecords(card.Directory(), list);
        SortRunRecords(list);
        int64_t next = card.FirstItemCluster();
        for (int i = 0; i < list.count; ++i) {
            if (list.records[i].start != next) return false;
            next += list.records[i].length;
        }
        return true;
    }

    void Defrag(const std::string& arg) {
        CSDCard card(&Op());
        bool formatted = false;
        if (!OpenRead(arg, card, formatted)) return;
        if (!formatted) return Fail(LoadText(IDS_NOT_FORMATTED), arg + ": no valid directory (format it first)");
        if (IsPacked(card)) {
            Note(ctx, arg + ": nothing to compact (the items lie packed from the start of the item area)");
            return;
        }
        if (!DefragmentCard(card, Op(), !ctx.yes)) {
            if (!card.ErrorReported()) Op().ShowMessage(kMsgNotice, kIconWarning, LoadText(IDS_OPERATION_ABORTED));
            ctx.exitCode = kExitFailed;
        }
        PrintSummary(card);
    }
};

}  // namespace

void RegisterCardCommands(CLI::App& app, Context& ctx) {
    auto cmds = std::make_shared<CardCommands>(CardCommands{ctx});

    auto* list = app.add_subcommand("list", "List the cards: card readers and card images, drives 1 to 9");
    auto listJson = std::make_shared<bool>(false);
    list->add_flag("--json", *listJson, "Print the list as JSON");
    list->callback([cmds, listJson] { cmds->List(*listJson); });

    auto* create = app.add_subcommand("create-image", "Create a sparse card image file");
    auto path = std::make_shared<std::string>();
    auto size = std::make_shared<std::string>();
    create->add_option("PATH", *path, "The new image file")->required();
    create->add_option("--size", *size, "Size: 512M, 32G, 1T ... (at most 512000 MiB)")->required();
    create->callback([cmds, path, size] { cmds->CreateImage(*path, *size); });

    auto* info = app.add_subcommand("info", "Show a card's line, counts and (with --dump) its directory");
    auto infoCard = std::make_shared<std::string>();
    auto dump = std::make_shared<bool>(false);
    info->add_option("CARD", *infoCard, "Drive number from `list`, or a card image or block device")->required();
    info->add_flag("--dump", *dump, "Print the directory dump");
    auto infoJson = std::make_shared<bool>(false);
    info->add_flag("--json", *infoJson, "Print the card's facts as JSON");
    info->callback([cmds, infoCard, dump, infoJson] { cmds->Info(*infoCard, *dump, *infoJson); });

    auto* format = app.add_subcommand("format", "Format a card for a video mode (writes only its directory)");
    auto formatCard = std::make_shared<std::string>();
    auto mode = std::make_shared<int>(-1);
    format->add_option("CARD", *formatCard, "Drive number from `list`, or a card image or block device")->required();
    std::string modes;
    for (int m = 0; m < kVideoModeCount; ++m) modes += "\n  " + std::to_string(m) + ": " + VideoModeName(m);
    format->add_option("--mode", *mode, "Video mode (default: the card's mode, else 0):" + modes)
        ->check(CLI::Range(0, kVideoModeCount - 1));
    format->callback([cmds, formatCard, mode] { cmds->Format(*formatCard, *mode); });

    auto* defrag = app.add_subcommand("defrag", "Compact the item area of a card");
    auto defragCard = std::make_shared<std::string>();
    defrag->add_option("CARD", *defragCard, "Drive number from `list`, or a card image or block device")->required();
    defrag->callback([cmds, defragCard] { cmds->Defrag(*defragCard); });
}

}  // namespace rk::cli
