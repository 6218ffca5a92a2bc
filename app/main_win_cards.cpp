// The main window's cards: the media list, its scans and rescans, opening the
// chosen card, formatting, the allocation of runs, the card check and the
// offer to put a lost directory back from the journal.
#include <QApplication>
#include <QComboBox>
#include <QFileSystemWatcher>
#include <QSocketNotifier>
#include <QStringList>
#include <QTimer>

#include "app/check_report.h"
#include "app/dlg_format.h"
#include "app/main_win.h"
#include "app/settings.h"
#include "app/video_drop.h"
#include "base/log.h"
#include "base/texts.h"
#include "card/allocator.h"
#include "card/card_directory.h"
#include "card/drive_scan.h"
#include "card/format.h"
#include "media/card_check.h"
#include "media/recover.h"

namespace rk {

namespace {

// How long after our own access a report is taken for its echo.
constexpr qint64 kEchoWindowMs = 2000;

// What is attached, as a scan would list it (before probing).
std::string AttachedFingerprint(const SystemFacts& facts) {
    std::string s;
    for (const DriveCandidate& d : DecideDrives(facts)) {
        s += d.path;
        s += '\x1f';
        s += d.volumeText;
        s += '\x1f';
        s += d.deviceName;
        s += '\n';
    }
    return s;
}

}  // namespace

void CMainWin::OnFirstTick() {
    firstTick_.stop();
    ScanMedia(false);
    if (!openFiles_.isEmpty()) OpenFiles({});
}

void CMainWin::OpenFiles(const QStringList& files) {
    openFiles_ << files;
    if (openFiles_.isEmpty()) return;
    // Before the first scan, or while something runs: they wait their turn.
    if (scanCount_ == 0) return;
    if (busy_ || scanning_ || drops_->Running()) {
        QTimer::singleShot(500, this, [this] { OpenFiles({}); });
        return;
    }
    const QStringList now = openFiles_;
    openFiles_.clear();
    if (!Ready()) {
        LogMessage(1, "CMainWin::OpenFiles(): no formatted card, %lld files left out", static_cast<long long>(now.size()));
        return;
    }
    SwitchPage(kPageVideos);
    drops_->Enqueue(now);
}

void CMainWin::CalledAgain(const QStringList& files) {
    LogMessage(1, "CMainWin::CalledAgain(): %lld files", static_cast<long long>(files.size()));
    if (isMinimized()) showNormal();
    raise();
    activateWindow();
    OpenFiles(files);
}

void CMainWin::OnRefresh() { ScanMedia(true); }

void CMainWin::ScanMedia(bool keepSelection) {
    if (scanning_) return;
    scanning_ = true;
    QApplication::setOverrideCursor(Qt::WaitCursor);
    SetBusy(true);
    UpdateControls();

    QComboBox* media = MediaList();
    int previous = -1;
    if (keepSelection && !noMedia_ && media->currentIndex() >= 0) previous = media->currentData().toInt();

    noMedia_ = true;
    filling_ = true;
    media->clear();
    // The card is closed first: its exclusive hold would keep the probe of
    // its own drive from opening it.
    card_.Close();
    // The scan and the fingerprint of what it saw come from one look at the system.
    const SystemFacts facts = GatherSystemFacts();
    const ScanResult scan = ScanMediaWithFacts(facts, this, keepSelection, previous, accessDenied_);
    for (const DriveEntry& e : scan.entries) media->addItem(QString::fromStdString(e.label), e.number);
    if (!scan.entries.empty()) {
        int sel = scan.selected;
        // The first scan selects the card used last, when it is there.
        if (!keepSelection) {
            const std::string last = ReadSetting(kSettingLastCard);
            for (size_t i = 0; i < scan.entries.size() && !last.empty(); ++i)
                if (scan.entries[i].path == last) sel = static_cast<int>(i);
        }
        if (sel < 0 || sel >= static_cast<int>(scan.entries.size())) sel = static_cast<int>(scan.entries.size()) - 1;
        media->setCurrentIndex(sel);
        noMedia_ = false;
    } else {
        media->addItem(QString::fromStdString(LoadText(IDS_NO_MEDIA)), 0);
        media->setCurrentIndex(0);
    }
    filling_ = false;

    SetBusy(false);
    UpdateControls();
    OnMediaSelChange();
    attached_ = AttachedFingerprint(facts);
    ++scanCount_;
    QApplication::restoreOverrideCursor();
    scanning_ = false;
}

void CMainWin::OnMediaSelChange() {
    QComboBox* media = MediaList();
    StopPreview();
    card_.Close();
    if (!noMedia_ && media->currentIndex() >= 0) {
        OpenDrive(card_, media->currentData().toInt());
        card_.ReadDirectory();
    }
    currentPlaylist_ = -1;
    RefreshLists();
    UpdateCardLine();
    UpdateControls();
    ownAccess_.restart();
    // A card that lost its directory may be given it back; asked once the
    // scan that selected it is over.
    if (card_.IsOpen() && !card_.IsDirectoryValid()) QTimer::singleShot(0, this, [this] { OfferRecovery(); });
}

void CMainWin::OnMediaChanged(long param, long event) {
    LogMessage(3, "CMainWin::OnMediaChanged() = %ld, %ld", param, event);
    if ((event == 0x20 || event == 0x40) && !busy_ && !scanning_) ScanMedia(true);
}

// ---- Watching card readers and the card folder ----

void CMainWin::StartMediaWatch() {
    monitor_ = std::make_unique<CMediaMonitor>();
    if (monitor_->Start() && monitor_->Fd() >= 0) {
        monitorNotifier_ = new QSocketNotifier(monitor_->Fd(), QSocketNotifier::Read, this);
        connect(monitorNotifier_, &QSocketNotifier::activated, this, &CMainWin::OnMonitorReadable);
    } else {
        monitor_.reset();
    }
    // The card folder is watched here as well, so a card image that appears
    // or goes is noticed even where the monitor cannot watch the folder.
    const QString folder = QString::fromStdString(CardFolderPath());
    folderWatcher_ = new QFileSystemWatcher(this);
    if (!folder.isEmpty()) folderWatcher_->addPath(folder);
    connect(folderWatcher_, &QFileSystemWatcher::directoryChanged, this, &CMainWin::OnCardFolderChanged);
}

void CMainWin::StopMediaWatch() {
    delete monitorNotifier_;
    monitorNotifier_ = nullptr;
    monitor_.reset();
    delete folderWatcher_;
    folderWatcher_ = nullptr;
}

void CMainWin::OnMonitorReadable() {
    // Always drained, so the descriptor stops being readable; acted on only
    // when no operation runs (nothing is queued for later).
    const bool changed = monitor_ && monitor_->TakeChanges();
    if (changed && !busy_ && !scanning_) rescanDelay_.start();
}

void CMainWin::OnCardFolderChanged() {
    if (!busy_ && !scanning_) rescanDelay_.start();
}

void CMainWin::OnWatchSettled() {
    if (busy_ || scanning_) return;
    // Opening and closing a card for writing makes both the device manager and
    // the card folder report a change. Shortly after our own access, only a
    // different set of attached cards counts; otherwise any report does (a
    // card swapped for another in the same reader looks the same from here).
    if (ownAccess_.isValid() && ownAccess_.elapsed() < kEchoWindowMs &&
        AttachedFingerprint(GatherSystemFacts()) == attached_)
        return;
    OnMediaChanged(0, 0x20);
}

// ---- Format and allocation ----

void CMainWin::Format() {
    if (busy_ || !card_.IsOpen()) return;
    CDlgFormat dlg(this, card_.PresetFormatMode(), MediaList()->currentText());
    if (!dlg.Run()) return;
    // Written: the lists and the card line are refreshed before "Format
    // complete."; a failed write rescans the media (both through Refresh).
    currentPlaylist_ = -1;
    FormatCard(card_, *this, dlg.Mode());
    currentPlaylist_ = -1;
    RefreshClips();
}

int32_t CMainWin::AllocateClusters(int32_t n) {
    // Declined, stopped or failed: -1 says so; no Stop is left behind for
    // the operations after it.
    const int32_t first = rk::AllocateClusters(card_, *this, n);
    UpdateCardLine();
    UpdateControls();
    return first;
}

// ---- Check and recovery ----

void CMainWin::CheckCard() {
    if (busy_ || !card_.IsOpen()) return;
    LogMessage(1, "CMainWin::CheckCard()");
    // Reads only; progress in frames, Stop ends it with what was found so far.
    const CheckReport report = rk::CheckCard(*this, card_, CheckFrames::kSample);
    LogMessage(2, "CMainWin::CheckCard(): %s", CheckSummaryText(report).c_str());
    UpdateCardLine();
    UpdateControls();
    if (!report.readable) {
        ErrorById(*this, IDS_MEDIA_ACCESS_ERROR);
        return;
    }
    const int problems = static_cast<int>(report.findings.size());
    if (problems == 0) {
        if (report.stopped)
            MessageById(*this, kMsgNotice, kIconWarning, IDS_OPERATION_ABORTED);
        else
            MessageById(*this, kMsgNotice, kIconInformation, IDS_CHECK_CLEAN, report.items,
                        static_cast<int>(report.framesChecked));
        return;
    }
    QStringList lines;
    for (const CheckFinding& f : report.findings) lines << QString::fromStdString(f.text);
    const std::string headline = FormatText(report.stopped ? IDS_CHECK_STOPPED : IDS_CHECK_PROBLEMS, problems);
    CDlgCheckReport dlg(kIconWarning, QString::fromStdString(headline), lines, this);
    dlg.exec();
}

void CMainWin::OfferRecovery() {
    // Only a card that reads as not formatted, and only when nothing else runs.
    if (busy_ || scanning_ || !card_.IsOpen() || card_.IsDirectoryValid() || card_.ErrorReported()) return;
    const std::string who = card_.Path();
    if (declinedRecovery_.count(who)) return;  // asked once this run: No stands
    CardDirectory found;
    int mode = -1;
    if (!FindJournalledDirectory(card_, std::string(), found, mode)) return;
    int videos = 0, stills = 0, effects = 0, logos = 0;
    for (int v = 0; v < kVideoCount; ++v) videos += found.Video(v).Used();
    for (int s = 0; s < kStillCount; ++s) stills += found.Still(s).Used();
    for (int e = 0; e < kEffectCount; ++e) effects += found.Effect(e).Used();
    for (int l = 0; l < kLogoCount; ++l) logos += found.Logo(l).Used();
    LogMessage(1, "CMainWin::OfferRecovery(%s): a journalled directory fits (mode %d)", who.c_str(), mode);
    if (MessageById(*this, kMsgQuestion, kIconQuestion, IDS_RECOVER_QUESTION, videos, stills, effects, logos) !=
        kResultYes) {
        declinedRecovery_.insert(who);
        return;
    }
    // The core finds the directory again and writes it, the directory alone.
    RecoverOptions options;
    options.ask = false;
    const RecoverOutcome out = RecoverCard(*this, card_, options);
    LogMessage(1, "CMainWin::OfferRecovery(): result %d", static_cast<int>(out.result));
    currentPlaylist_ = -1;
    RefreshLists();
    UpdateCardLine();
    UpdateControls();
    if (out.result == OpResult::kDone)
        MessageById(*this, kMsgNotice, kIconInformation, IDS_RECOVER_DONE);
}

}  // namespace rk
