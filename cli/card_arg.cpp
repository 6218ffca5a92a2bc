#include "cli/card_arg.h"

#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "base/path_util.h"
#include "base/string_ids.h"
#include "base/texts.h"
#include "card/allocator.h"
#include "card/card_directory.h"
#include "card/drive_scan.h"
#include "card/sd_card.h"
#include "card/video_modes.h"
#include "cli/cli_context.h"

namespace rk::cli {

namespace {

bool IsDriveNumber(const std::string& s) { return s.size() == 1 && s[0] >= '1' && s[0] <= '9'; }

// A block device named by path gets the same verdict the drive list gives
// it: the system's own disks are never opened for raw writing.
bool BlockDeviceAllowed(const std::string& path, const struct stat& st, std::string& error) {
    SystemFacts facts = GatherSystemFacts();
    const unsigned maj = major(st.st_rdev), min = minor(st.st_rdev);
    auto it = std::find_if(facts.disks.begin(), facts.disks.end(),
                           [&](const BlockDeviceFacts& d) { return d.major == maj && d.minor == min; });
    if (it == facts.disks.end()) {
        error = path + " is not a whole disk (name the disk, not a partition)";
        return false;
    }
    auto isExtra = [&](const std::string& p) {
        return std::find(facts.extraDevices.begin(), facts.extraDevices.end(), p) != facts.extraDevices.end();
    };
    const bool named = isExtra(path) || isExtra(it->devNode);
    DriveVerdict v = JudgeDisk(*it, facts, named);
    if (v == DriveVerdict::kListed) return true;
    error = path + ": refused (" + DriveVerdictText(v) + ")";
    if (v == DriveVerdict::kVirtualDevice || v == DriveVerdict::kFixedDisk)
        error += "; name it in REELKEEP_EXTRA_DEVICES to use it as a card";
    return false;
}

}  // namespace

namespace {

// Why a card did not open, in words.
std::string OpenCause(const CSDCard& card) {
    switch (card.OpenError()) {
    case EWOULDBLOCK: return "held by another program";
    case EFBIG:
        return "larger than " + std::to_string(kMaxCardMiB) + " MiB (" + std::to_string(card.OpenSizeMiB()) + " MiB)";
    case 0: return "unknown cause";
    default: return std::strerror(card.OpenError());
    }
}

}  // namespace

int OpenCardArgument(const std::string& arg, CSDCard& card, std::string& error, CardAccess access) {
    if (IsDriveNumber(arg)) {
        bool denied = false;
        ScanResult scan = ScanMedia(nullptr, false, -1, denied);
        const int n = arg[0] - '0';
        bool listed = std::any_of(scan.entries.begin(), scan.entries.end(), [&](auto& e) { return e.number == n; });
        if (!listed) {
            error = "no drive " + arg + " in the drive list (see `reelkeep-cli list`)";
            return kOpenFailed;
        }
        int answer = OpenDrive(card, n, access);
        if (answer == kOpenAccessDenied)
            error = "drive " + arg + ": access denied";
        else if (answer != kOpenOk)
            error = "drive " + arg + " cannot be opened (" + OpenCause(card) + ")";
        return answer;
    }
    struct stat st {};
    if (::stat(arg.c_str(), &st) != 0) {
        const int err = errno;  // the string work below may change errno
        error = arg + ": " + std::strerror(err);
        return err == EACCES ? kOpenAccessDenied : kOpenFailed;
    }
    if (S_ISBLK(st.st_mode) && !BlockDeviceAllowed(arg, st, error)) return kOpenFailed;
    if (!S_ISBLK(st.st_mode) && !S_ISREG(st.st_mode)) {
        error = arg + ": neither a card image nor a block device";
        return kOpenFailed;
    }
    int answer = card.OpenPath(arg, access);
    if (answer == kOpenAccessDenied)
        error = arg + ": access denied";
    else if (answer != kOpenOk)
        error = arg + ": cannot be opened (" + OpenCause(card) + ")";
    return answer;
}

bool OpenCardAndReadDirectory(const std::string& arg, CSDCard& card, bool& formatted, std::string& error,
                              CardAccess access) {
    formatted = false;
    if (OpenCardArgument(arg, card, error, access) != kOpenOk) return false;
    formatted = card.ReadDirectory();
    if (!formatted && card.ErrorReported()) {
        error = card.ErrorText();
        return false;
    }
    return true;
}

bool OpenFormattedCard(Context& ctx, const std::string& arg, CSDCard& card, CardAccess access) {
    bool formatted = false;
    std::string error;
    if (!OpenCardAndReadDirectory(arg, card, formatted, error, access)) {
        // A card with an operator has shown its own error, with the cause.
        if (card.ErrorReported() && card.Operator()) ctx.exitCode = kExitFailed;
        else Fail(ctx, "the card cannot be used", error);
        return false;
    }
    if (!formatted) {
        Fail(ctx, LoadText(IDS_NOT_FORMATTED), arg + ": no valid directory (format it first)");
        return false;
    }
    // An item whose move a crash cut short is finished before anything else
    // reads or writes the card.
    if (FinishPendingMove(card, *ctx.op) == PendingMoveResult::kFailed) {
        Fail(ctx, "the card cannot be used", arg + ": an interrupted move of an item cannot be finished");
        return false;
    }
    return true;
}

std::string DescribeCard(const CSDCard& card) {
    std::string text = FileNameOf(card.Path()) + ", " + SizeText(card.SizeMiB());
    if (!card.IsDirectoryValid()) return text + ": not formatted";
    text += ", " + std::string(VideoModeName(card.VideoMode())) + ": ";
    int playlists = 0;
    for (int p = 0; p < kPlaylistCount; ++p) playlists += card.Directory().ClipCount(p) > 0;
    const struct {
        int count;
        const char* one;
        const char* many;
    } parts[] = {{card.VideoCount(), "video", "videos"},
                 {card.StillCount(), "still", "stills"},
                 {card.EffectCount(), "effect", "effects"},
                 {card.LogoCount(), "logo", "logos"},
                 {playlists, "playlist", "playlists"}};
    std::string held;
    for (const auto& p : parts) {
        if (p.count == 0) continue;
        if (!held.empty()) held += ", ";
        held += std::to_string(p.count) + " " + (p.count == 1 ? p.one : p.many);
    }
    return text + (held.empty() ? "empty" : held);
}

void ShowCardLine(Context& ctx, const CSDCard& card) { Note(ctx, DescribeCard(card)); }

bool ConfirmOnCard(Context& ctx, const CSDCard& card, int stringId) {
    ShowCardLine(ctx, card);
    return ctx.op->ShowMessage(MsgKind::kQuestion, MsgIcon::kQuestion, LoadText(stringId)) == MsgResult::kYes;
}

}  // namespace rk::cli
