// reelkeep-cli's backup and restore: a card to a sparse image, and an image
// to one or more cards at once.
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <memory>
#include <atomic>
#include <chrono>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <CLI/CLI.hpp>

#include "base/string_ids.h"
#include "base/texts.h"
#include "card/card_copy.h"
#include "card/sd_card.h"
#include "cli/card_arg.h"
#include "cli/cli_context.h"
#include "cli/terminal_operator.h"
#include "media/recover.h"

namespace rk::cli {

namespace {

// One progress line per target, printed at every tenth: the threads share
// stderr through one lock (the terminal operator is not for threads).
class CLineProgress : public ICopyProgress {
public:
    // Quiet: no lines at all.
    CLineProgress(std::vector<std::string> names, bool quiet)
        : names_(std::move(names)), state_(names_.size()), quiet_(quiet) {}
    void Begin(int t, uint64_t total) override {
        std::lock_guard<std::mutex> lock(mutex_);
        state_[size_t(t)] = {total, -1};
    }
    void Advance(int t, uint64_t done) override {
        std::lock_guard<std::mutex> lock(mutex_);
        State& s = state_[size_t(t)];
        const int tenth = s.total ? int(done * 10 / s.total) : 10;
        if (tenth == s.tenth || quiet_) return;
        s.tenth = tenth;
        std::fprintf(stderr, "%s: %d%%\n", names_[size_t(t)].c_str(), tenth * 10);
    }

private:
    struct State {
        uint64_t total = 0;
        int tenth = -1;
    };
    std::vector<std::string> names_;
    std::vector<State> state_;
    bool quiet_;
    std::mutex mutex_;
};

// Ctrl-C reaches the copies through this flag, set by a watcher that polls
// the terminal's stop request every 20 ms while the copies run; the copies
// look at it between chunks.
std::atomic<bool> g_stop{false};

class CStopWatcher {
public:
    CStopWatcher()
        : thread_([this] {
              while (!finished_.load()) {
                  if (CTerminalOperator::StopRequested()) g_stop.store(true);
                  std::this_thread::sleep_for(std::chrono::milliseconds(20));
              }
          }) {}
    ~CStopWatcher() {
        finished_.store(true);
        thread_.join();
    }
    CStopWatcher(const CStopWatcher&) = delete;
    CStopWatcher& operator=(const CStopWatcher&) = delete;

private:
    std::atomic<bool> finished_{false};
    std::thread thread_;
};

struct BackupArgs {
    std::string card, out;
};
struct RestoreArgs {
    std::string image;
    std::vector<std::string> cards;
};

void RunBackup(Context& ctx, const BackupArgs& a) {
    CSDCard card(nullptr);
    bool formatted = false;
    std::string error;
    if (!OpenCardAndReadDirectory(a.card, card, formatted, error, CardAccess::kRead)) {
        Fail(ctx, "the card cannot be used", error);
        return;
    }
    if (!formatted) {
        Fail(ctx, LoadText(IDS_NOT_FORMATTED), a.card + ": no valid directory (format it first)");
        return;
    }
    struct stat before {};
    const bool existed = ::lstat(a.out.c_str(), &before) == 0;
    CLineProgress progress({a.out}, ctx.quiet);
    CopyOptions options;
    options.stop = &g_stop;
    CopyOutcome out;
    {
        CStopWatcher watcher;
        out = BackupCard(card, a.out, &progress, options);
    }
    if (!out.ok) {
        // The directory goes last, so an unfinished backup holds no card:
        // it is removed rather than left to pass for one.
        const bool removed = !existed && ::unlink(a.out.c_str()) == 0;
        const std::string left = removed ? "; the unfinished backup was removed" : "";
        if (g_stop.load()) {
            ctx.op->ShowMessage(
                Message{kMsgNotice, kIconWarning, LoadText(IDS_OPERATION_ABORTED), a.out + ": stopped" + left});
            ctx.exitCode = kExitFailed;
            return;
        }
        Fail(ctx, "the backup failed", out.error + left);
        return;
    }
    std::printf("%s: backed up\n", a.out.c_str());
}

void RunRestore(Context& ctx, const RestoreArgs& a) {
    CSDCard image(nullptr);
    bool formatted = false;
    std::string error;
    if (!OpenCardAndReadDirectory(a.image, image, formatted, error, CardAccess::kRead) || !formatted) {
        Fail(ctx, "the image cannot be restored", formatted || !error.empty() ? error : a.image + ": holds no card directory");
        return;
    }
    // The backup is checked as a card before any target is touched: every
    // run within its length, every item's slot heads and thumbnail, the
    // title cards of its playlists.
    const std::vector<std::string> missing = MissingItems(image, image.Directory(), image.VideoMode());
    if (!missing.empty()) {
        std::string why = "the backup is damaged: " + missing[0];
        if (missing.size() > 1) why += " (and " + std::to_string(missing.size() - 1) + " more)";
        for (const std::string& card : a.cards) std::printf("%s: FAILED (%s), nothing written\n", card.c_str(), why.c_str());
        Fail(ctx, "the image cannot be restored", a.image + ": " + why);
        return;
    }
    // Every target passes the drive-safety rules of opening a card (never a
    // system disk, never a mounted one written) before anything is written.
    std::vector<std::unique_ptr<CSDCard>> cards;
    std::vector<CSDCard*> targets;
    std::vector<std::string> names;
    std::vector<std::string> openErrors(a.cards.size());
    for (size_t i = 0; i < a.cards.size(); ++i) {
        auto c = std::make_unique<CSDCard>(nullptr);
        if (OpenCardArgument(a.cards[i], *c, openErrors[i]) != kOpenOk) c->Close();
        else c->ReadDirectory();  // only to say what the card holds before the question
        targets.push_back(c.get());
        names.push_back(a.cards[i]);
        cards.push_back(std::move(c));
    }
    // The question overwrites every target: each is shown first.
    for (size_t i = 0; i < cards.size(); ++i)
        Note(ctx, cards[i]->IsOpen() ? DescribeCard(*cards[i]) : names[i] + ": " + openErrors[i]);
    if (!ctx.yes) {
        std::string q = "Write " + a.image + " over every item on " + std::to_string(a.cards.size()) + " card(s)?";
        if (ctx.op->ShowMessage(Message{kMsgQuestion, kIconQuestion, q, {}}) != kResultYes) {
            Fail(ctx, "cancelled, nothing written");
            return;
        }
    }
    CLineProgress progress(names, ctx.quiet);
    CopyOptions options;
    options.stop = &g_stop;
    std::vector<CopyOutcome> outs;
    {
        CStopWatcher watcher;
        outs = RestoreImage(image, targets, &progress, options);
    }
    if (g_stop.load()) ctx.op->ShowMessage(Message{kMsgNotice, kIconWarning, LoadText(IDS_OPERATION_ABORTED), a.image});
    for (size_t i = 0; i < outs.size(); ++i) {
        const std::string why = !openErrors[i].empty() ? openErrors[i] : outs[i].error;
        if (outs[i].ok)
            std::printf("%s: restored and verified\n", names[i].c_str());
        else
            std::printf("%s: FAILED (%s)%s\n", names[i].c_str(), why.c_str(),
                        outs[i].directoryWritten ? ""
                        : outs[i].targetTouched
                            ? ", the card now reads as not formatted (`recover` puts its old directory back)"
                            : ", nothing written");
        if (!outs[i].ok) ctx.exitCode = kExitFailed;
    }
}

}  // namespace

void RegisterCopyCommands(CLI::App& app, Context& ctx) {
    auto b = std::make_shared<BackupArgs>();
    CLI::App* backup = app.add_subcommand("backup", "Write a card's directory and referenced clusters to a sparse image");
    backup->add_option("CARD", b->card, "Drive number from `list`, or a card image or block device")->required();
    backup->add_option("OUT", b->out, "The new image file")->required();
    backup->callback([&ctx, b] { RunBackup(ctx, *b); });

    auto r = std::make_shared<RestoreArgs>();
    CLI::App* restore = app.add_subcommand(
        "restore", "Write a backup image to one or more cards at once, each verified by reading back");
    restore->add_option("IMAGE", r->image, "The backup image")->required();
    restore->add_option("CARD", r->cards, "Target cards: drive numbers or paths")->required();
    restore->add_flag("-y,--yes", ctx.yes, "Answer every question with Yes");
    restore->callback([&ctx, r] { RunRestore(ctx, *r); });
}

}  // namespace rk::cli
