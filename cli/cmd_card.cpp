// reelkeep-cli's card commands: list, create-image, info, format, defrag.
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

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

namespace rk::cli {

namespace {

struct CardCommands {
    Context& ctx;

    // The terminal operator main() puts into the context.
    IOperator& Op() { return *ctx.op; }

    void Fail(const std::string& why) {
        std::fprintf(stderr, "%s\n", why.c_str());
        ctx.exitCode = kExitFailed;
    }

    // Asks a question unless --yes was given.
    bool Confirm(int stringId) {
        if (ctx.yes) return true;
        return Op().ShowMessage(kMsgQuestion, kIconQuestion, LoadText(stringId)) == kResultYes;
    }

    void List() {
        bool denied = false;
        ScanResult scan = ScanMedia(&Op(), false, -1, denied);
        if (scan.noMedia) {
            std::printf("%s\n", LoadText(IDS_NO_MEDIA).c_str());
            if (denied) ctx.exitCode = kExitFailed;
            return;
        }
        for (size_t i = 0; i < scan.entries.size(); ++i) {
            const DriveEntry& e = scan.entries[i];
            std::printf("%c %d: %s\t%s\n", int(i) == scan.selected ? '*' : ' ', e.number, e.label.c_str(), e.path.c_str());
        }
    }

    void CreateImage(const std::string& path, const std::string& sizeText) {
        uint64_t bytes = 0;
        if (!ParseSizeText(sizeText, bytes)) {
            std::fprintf(stderr, "create-image: %s is not a size (use 512M, 32G, 1T ...)\n", sizeText.c_str());
            ctx.exitCode = kExitUsage;
            return;
        }
        if (bytes / 512 / 2048 > uint64_t(kMaxCardMiB)) return Fail("create-image: cards larger than 512000 MiB are not accepted");
        if (bytes < kDirectorySize) return Fail("create-image: a card holds at least its 36864-byte directory");
        int error = 0;
        if (!CreateCardImage(path, bytes, error)) return Fail("create-image: " + path + ": " + std::strerror(error));
        std::printf("%s: %llu bytes (%s)\n", path.c_str(), (unsigned long long)bytes,
                    SizeText(int32_t(bytes / 1048576)).c_str());
    }

    bool OpenRead(const std::string& arg, CSDCard& card, bool& formatted) {
        std::string error;
        if (!OpenCardAndReadDirectory(arg, card, formatted, error)) {
            Fail(error);
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

    void Info(const std::string& arg, bool dump) {
        CSDCard card(&Op());
        bool formatted = false;
        if (!OpenRead(arg, card, formatted)) return;
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
            std::fprintf(stderr, "format: --mode takes 0 to 8\n");
            ctx.exitCode = kExitUsage;
            return;
        }
        if (!Confirm(IDS_FORMAT_QUESTION)) return Fail("format: cancelled, nothing written");
        if (!FormatCard(card, Op(), mode)) return Fail("format: " + arg + " was not formatted");
        PrintSummary(card);
    }

    void Defrag(const std::string& arg) {
        CSDCard card(&Op());
        bool formatted = false;
        if (!OpenRead(arg, card, formatted)) return;
        if (!formatted) return Fail(LoadText(IDS_NOT_FORMATTED));
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
    auto addYes = [&](CLI::App* sub) { sub->add_flag("-y,--yes", ctx.yes, "Answer every question with Yes"); };

    auto* list = app.add_subcommand("list", "List the cards: card readers and card images, drives 1 to 9");
    list->callback([cmds] { cmds->List(); });

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
    info->callback([cmds, infoCard, dump] { cmds->Info(*infoCard, *dump); });

    auto* format = app.add_subcommand("format", "Format a card for a video mode (writes only its directory)");
    auto formatCard = std::make_shared<std::string>();
    auto mode = std::make_shared<int>(-1);
    format->add_option("CARD", *formatCard, "Drive number from `list`, or a card image or block device")->required();
    std::string modes;
    for (int m = 0; m < kVideoModeCount; ++m) modes += "\n  " + std::to_string(m) + ": " + VideoModeName(m);
    format->add_option("--mode", *mode, "Video mode (default: the card's mode, else 0):" + modes)
        ->check(CLI::Range(0, kVideoModeCount - 1));
    addYes(format);
    format->callback([cmds, formatCard, mode] { cmds->Format(*formatCard, *mode); });

    auto* defrag = app.add_subcommand("defrag", "Compact the item area of a card");
    auto defragCard = std::make_shared<std::string>();
    defrag->add_option("CARD", *defragCard, "Drive number from `list`, or a card image or block device")->required();
    addYes(defrag);
    defrag->callback([cmds, defragCard] { cmds->Defrag(*defragCard); });
}

}  // namespace rk::cli
