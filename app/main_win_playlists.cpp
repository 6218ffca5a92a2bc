// The playlists page of the main window: clips added, removed, cleared and
// swapped, playlists swapped, the end mode. The work is the core's; the
// window picks the playlist and clip from its lists and runs each edit in the
// frame of a quick edit (a title card waits for the tools meanwhile).
#include "app/main_win.h"
#include "card/card_directory.h"
#include "media/playlist_ops.h"

namespace rk {

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
}  // namespace rk
