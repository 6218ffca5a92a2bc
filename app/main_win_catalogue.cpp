// The catalogue's buttons and keys in the main window: deleting videos,
// stills, effects and logos, the still page's Add and Read, and the playlist
// edits (clips added, removed, cleared, swapped, the end mode). The work is
// the core's; the window picks the item from its lists, keeps itself from
// being re-entered while the work pumps the event loop (a title card waits
// for the tools), and rescans the media when the card refused a write.
#include <QApplication>
#include <QListWidget>

#include "app/main_win.h"
#include "base/path_util.h"
#include "base/string_ids.h"
#include "base/texts.h"
#include "card/card_directory.h"
#include "media/delete_ops.h"
#include "media/playlist_ops.h"
#include "media/still_ops.h"

namespace rk {

// ---- The frame of a quick edit ----

void CMainWin::BeginEdit(bool keepThumbnails) {
    // Handlers check busy_, so nothing new starts while the edit pumps the
    // event loop; the controls keep their look (no flicker for an edit that
    // takes a fraction of a second).
    editing_ = true;
    keepThumbnails_ = keepThumbnails;
    // No Stop from an earlier operation reaches this one.
    abort_ = false;
    SetBusy(true);
    QApplication::setOverrideCursor(Qt::WaitCursor);
    waitCursor_ = true;
}

void CMainWin::EndEdit(bool writeFailed) {
    if (waitCursor_) QApplication::restoreOverrideCursor();
    waitCursor_ = false;
    keepThumbnails_ = false;
    editing_ = false;
    abort_ = false;
    SetBusy(false);
    // A refused directory write: the card may be gone or write-protected, so
    // the drives are scanned again, as after a failed add.
    if (writeFailed || pendingRescan_) {
        pendingRescan_ = false;
        ScanMedia(true);
        return;
    }
    UpdateCardLine();
    UpdateControls();
}

// ---- Deleting ----

void CMainWin::DeleteVideo() {
    if (busy_ || !Ready()) return;
    const int slot = SelectedVideoSlot();
    if (slot < 0) return;
    BeginEdit(true);
    const DeleteOutcome out = rk::DeleteVideo(*this, card_, slot);
    EndEdit(out.result == DeleteResult::kFailed);
}

void CMainWin::DeleteStill() {
    if (busy_ || !Ready()) return;
    const int slot = SelectedRow(IDC_STILL_LIST);
    if (slot < 0 || slot >= kStillCount || !card_.Directory().Still(slot).Used()) return;
    BeginEdit(true);
    const DeleteOutcome out = rk::DeleteStill(*this, card_, slot);
    EndEdit(out.result == DeleteResult::kFailed);
}

void CMainWin::DeleteStinger() {
    if (busy_ || !Ready()) return;
    const int slot = SelectedRow(IDC_EFFECT_LIST);
    if (slot < 0 || slot >= kEffectCount || !card_.Directory().Effect(slot).Used()) return;
    BeginEdit(true);
    const DeleteOutcome out = rk::DeleteEffect(*this, card_, slot);
    EndEdit(out.result == DeleteResult::kFailed);
}

void CMainWin::DeleteLogo() {
    if (busy_ || !Ready()) return;
    const int slot = SelectedRow(IDC_LOGO_LIST);
    if (slot < 0 || slot >= kLogoCount || !card_.Directory().Logo(slot).Used()) return;
    BeginEdit(true);
    const DeleteOutcome out = rk::DeleteLogo(*this, card_, slot);
    EndEdit(out.result == DeleteResult::kFailed);
}

// ---- Still images ----

void CMainWin::AddStill() {
    if (busy_ || !Ready()) return;
    ImportOptions options;
    options.limitedRange = yuvRange_ == 1;
    options.deinterlace = deinterlace_ == 0;
    // The operation asks for the picture (remembering the path), shows its
    // progress and outcome, and rescans after a card write error.
    const StillOutcome out = rk::AddStill(*this, card_, lastFiles_[kFileStill], options);
    UpdateCardLine();
    if (out.result == StillOpResult::kDone && out.slot >= 0 && Ready() && card_.Directory().Still(out.slot).Used()) {
        QListWidget* stills = List(IDC_STILL_LIST);
        stills->setCurrentRow(out.slot);
        if (QListWidgetItem* item = stills->item(out.slot)) stills->scrollToItem(item);
        stills->setFocus();
    }
    UpdateControls();
}

void CMainWin::ReadStill() {
    if (busy_ || !Ready()) return;
    const int slot = SelectedRow(IDC_STILL_LIST);
    if (slot < 0 || slot >= kStillCount || !card_.Directory().Still(slot).Used()) return;
    FileChoice choice;
    choice.title = LoadText(IDS_TITLE_READ_STILL);
    choice.filter = LoadText(IDS_FILTER_PNG);
    choice.defaultExtension = "png";
    std::string path;
    if (!ChooseSaveFile(choice, path)) return;
    if (ExtensionOf(path).empty()) path += ".png";
    BeginEdit(true);
    // The outcome ("Read completed." or "Error writing file!") is the
    // operation's to show; a failed card read is reported by the card.
    rk::ReadStillToFile(*this, card_, slot, path);
    EndEdit(false);
}

// ---- Playlists ----

namespace {
bool WriteFailed(const PlaylistEdit& e) { return e.done && !e.written; }
}  // namespace

void CMainWin::AddClipAt(int p, int videoSlot, int at) {
    if (busy_ || !Ready() || p < 0 || p >= kPlaylistCount) return;
    const CardDirectory& d = card_.Directory();
    if (videoSlot < 0 || videoSlot >= kVideoCount || !d.Video(videoSlot).Used()) return;
    if (d.ClipCount(p) >= kMaxClipsPerPlaylist) return;
    // The playlist that takes the clip becomes the current one, selected.
    if (p != currentPlaylist_) SetCurrentPlaylist(p);
    BeginEdit(true);
    const PlaylistEdit e = rk::AddClip(*this, card_, p, videoSlot, at);
    EndEdit(WriteFailed(e));
}

void CMainWin::RemoveClip() {
    if (busy_ || !Ready() || currentPlaylist_ < 0) return;
    const int k = SelectedRow(IDC_CLIP_LIST);
    if (k < 0) return;
    BeginEdit(true);
    const PlaylistEdit e = rk::RemoveClip(*this, card_, currentPlaylist_, k);
    EndEdit(WriteFailed(e));
}

void CMainWin::ClearPlaylist() {
    if (busy_ || !Ready() || currentPlaylist_ < 0) return;
    BeginEdit(true);
    const PlaylistEdit e = rk::ClearPlaylist(*this, card_, currentPlaylist_);
    EndEdit(WriteFailed(e));
}

void CMainWin::SetPlaylistLoop(bool repeat) {
    if (busy_ || !Ready()) return;
    const int p = currentPlaylist_;
    if (p < 0 || p >= kPlaylistCount || card_.Directory().ClipCount(p) <= 0) return;
    if (card_.Directory().Loops(p) == repeat) return;
    // The frame moves to the chosen label at once, before the title card is
    // drawn.
    ShowControl(IDC_STOP_MARKER, !repeat);
    ShowControl(IDC_REPEAT_MARKER, repeat);
    repaint();
    BeginEdit(true);
    const PlaylistEdit e = rk::SetEndMode(*this, card_, p, repeat);
    EndEdit(WriteFailed(e));
}

void CMainWin::SwapPlaylistsAt(int a, int b) {
    if (busy_ || !Ready()) return;
    BeginEdit(true);
    const PlaylistEdit e = rk::SwapPlaylists(*this, card_, a, b);
    EndEdit(WriteFailed(e));
    // The dragged playlist is where it was dropped: that is the one selection
    // (list, status line, clips, Clear, end mode, Delete key).
    if (e.done && e.written && Ready()) SetCurrentPlaylist(b);
}

void CMainWin::SwapClipsAt(int i, int j) {
    if (busy_ || !Ready() || currentPlaylist_ < 0) return;
    BeginEdit(true);
    const PlaylistEdit e = rk::SwapClips(*this, card_, currentPlaylist_, i, j);
    EndEdit(WriteFailed(e));
}

// ---- Swaps within the item lists ----

void CMainWin::SwapStillsAt(int a, int b) {
    if (busy_ || !Ready()) return;
    // The pictures change places: the thumbnails are read again.
    BeginEdit(false);
    const StillOutcome out = rk::SwapStills(*this, card_, a, b);
    // A swap stopped half-way has changed the card; the lists show it as it is.
    if (out.result != StillOpResult::kDone) RefreshLists();
    EndEdit(out.writeError);
}

void CMainWin::SwapEffectsAt(int a, int b) {
    if (busy_ || !Ready() || a == b || a < 0 || b < 0 || a >= kEffectCount || b >= kEffectCount) return;
    if (!card_.Directory().Effect(a).Used()) return;
    BeginEdit(false);
    // Only a used effect onto another slot gets here: false is a refused write.
    const bool ok = rk::SwapEffects(*this, card_, a, b);
    EndEdit(!ok);
}

void CMainWin::SwapLogosAt(int a, int b) {
    if (busy_ || !Ready() || a == b || a < 0 || b < 0 || a >= kLogoCount || b >= kLogoCount) return;
    if (!card_.Directory().Logo(a).Used()) return;
    BeginEdit(false);
    const bool ok = rk::SwapLogos(*this, card_, a, b);
    EndEdit(!ok);
}

}  // namespace rk
