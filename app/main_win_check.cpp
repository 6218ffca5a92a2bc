// The main window's card-wide commands: the card check, the offer to put a
// lost directory back from the journal, and the About box.
#include <QStringList>

#include "app/about_box.h"
#include "app/check_report.h"
#include "app/main_win.h"
#include "base/log.h"
#include "base/texts.h"
#include "card/card_directory.h"
#include "media/recover.h"
#include "media/card_check.h"

namespace rk {

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
    if (out.result == RecoverResult::kRecovered)
        MessageById(*this, kMsgNotice, kIconInformation, IDS_RECOVER_DONE);
}

void CMainWin::ShowAbout() {
    if (busy_) return;
    ShowAboutBox(this);
}

}  // namespace rk
