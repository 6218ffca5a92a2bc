// The main window's player: what a list's row plays, opening the player on
// a double-click or the lists' Preview entries, and closing it before
// anything writes the card (the player reads the card on its own thread).
#include <QAction>
#include <QListWidget>
#include <QMenu>
#include <algorithm>

#include "app/main_win.h"
#include "app/player_sound.h"
#include "app/player_window.h"
#include "base/log.h"
#include "base/texts.h"
#include "card/card_directory.h"
#include "media/item_frames.h"

namespace rk {

namespace {

constexpr int kPreviewLists[] = {IDC_VIDEO_LIST, IDC_PLAYLIST_LIST, IDC_CLIP_LIST,
                                 IDC_STILL_LIST, IDC_EFFECT_LIST,   IDC_LOGO_LIST};

QString Numbered(int id, int number) { return QString::fromStdString(FormatText(id, number + 1)); }

int ClipsOf(const CardDirectory& d, int p) { return std::clamp<int>(d.ClipCount(p), 0, kMaxClipsPerPlaylist); }

}  // namespace

bool CMainWin::PreviewTarget(int listId, bool titleCard, PlayTarget& target, QString& caption) const {
    if (!Ready()) return false;
    const CardDirectory& d = card_.Directory();
    const int row = SelectedRow(listId);
    auto video = [&](int v) {
        if (v < 0 || v >= kVideoCount || !d.Video(v).Used()) return false;
        target = {PlayKind::kVideo, v, false};
        caption = Numbered(IDS_ITEM_VIDEO, v);
        const std::string name = d.VideoNameUtf8(v);
        if (!name.empty()) caption += QStringLiteral(" - ") + QString::fromStdString(name);
        return true;
    };
    switch (listId) {
        case IDC_VIDEO_LIST: return video(SelectedVideoSlot());
        case IDC_CLIP_LIST:
            if (currentPlaylist_ < 0 || row < 0 || row >= ClipsOf(d, currentPlaylist_)) return false;
            return video(d.Clip(currentPlaylist_, row));
        case IDC_PLAYLIST_LIST: {
            const int p = currentPlaylist_;
            if (p < 0 || p >= kPlaylistCount || ClipsOf(d, p) == 0) return false;
            target = {PlayKind::kPlaylist, p, titleCard};
            caption = Numbered(titleCard ? IDS_PLAYER_TITLE_CARD : IDS_PLAYER_PLAYLIST, p);
            return true;
        }
        case IDC_STILL_LIST:
            if (row < 0 || row >= kStillCount || !d.Still(row).Used()) return false;
            target = {PlayKind::kStill, row, false};
            caption = Numbered(IDS_PLAYER_STILL, row);
            return true;
        case IDC_EFFECT_LIST:
            if (row < 0 || row >= kEffectCount || !d.Effect(row).Used()) return false;
            target = {PlayKind::kEffect, row, false};
            caption = Numbered(IDS_ITEM_EFFECT, row);
            return true;
        case IDC_LOGO_LIST:
            if (row < 0 || row >= kLogoCount || !d.Logo(row).Used()) return false;
            target = {PlayKind::kLogo, row, false};
            caption = Numbered(IDS_ITEM_LOGO, row);
            return true;
        default: return false;
    }
}

bool CMainWin::CanPreview(int listId, bool titleCard) const {
    PlayTarget target;
    QString caption;
    return !busy_ && PreviewTarget(listId, titleCard, target, caption);
}

void CMainWin::PreviewItem(int listId, bool titleCard) {
    PlayTarget target;
    QString caption;
    if (busy_ || !PreviewTarget(listId, titleCard, target, caption)) return;
    // One player at a time: the new item replaces what plays.
    StopPreview();
    std::string why;
    std::unique_ptr<CItemFrames> frames = CItemFrames::Open(card_, target, &why);
    if (!frames) {
        LogMessage(2, "Preview of %s: %s", caption.toUtf8().constData(), why.c_str());
        ShowMessage(kMsgNotice, kIconError, FormatText(IDS_PLAYER_CANNOT_OPEN, why.c_str()));
        return;
    }
    player_ = new CPlayerWindow(std::move(frames), OpenPlayerSound(), caption, this);
    player_->setAttribute(Qt::WA_DeleteOnClose);
    player_->show();
    player_->activateWindow();
}

CPlayerWindow* CMainWin::Player() const { return player_.data(); }

void CMainWin::StopPreview() {
    if (!player_) return;
    // Deleted now, not later: its thread must have stopped reading the card
    // before the caller writes it or closes it.
    delete player_.data();
    player_.clear();
}

void CMainWin::AddPreviewEntries(QMenu& menu, int listId) {
    menu.addSeparator();
    auto entry = [&](int text, bool titleCard, const char* name) {
        QAction* a = menu.addAction(QString::fromStdString(LoadText(text)));
        a->setObjectName(QLatin1String(name));
        a->setEnabled(CanPreview(listId, titleCard));
        connect(a, &QAction::triggered, this, [this, listId, titleCard] {
            if (!busy_) PreviewItem(listId, titleCard);
        });
    };
    entry(IDS_PREVIEW, false, "actionPreview");
    if (listId == IDC_PLAYLIST_LIST) entry(IDS_PREVIEW_TITLE_CARD, true, "actionPreviewTitleCard");
}

void CMainWin::SetUpPreview() {
    for (int id : kPreviewLists) {
        connect(List(id), &QListWidget::itemDoubleClicked, this, [this, id] {
            if (!busy_) PreviewItem(id);
        });
    }
}

}  // namespace rk
