// Drag and drop among the main window's lists: the window's side of the drag
// (app/list_drag): the lists by drag number, the facts the rules read, and
// what an allowed drop does.
#include <QListWidget>
#include <algorithm>

#include "app/list_drag.h"
#include "app/main_win.h"
#include "card/card_directory.h"

namespace rk {

namespace {
constexpr int kDragListIds[] = {IDC_VIDEO_LIST, IDC_PLAYLIST_LIST, IDC_CLIP_LIST,
                                IDC_STILL_LIST, IDC_EFFECT_LIST,   IDC_LOGO_LIST};
}  // namespace

void CMainWin::SetUpDrag() {
    CListDrag::Host host;
    host.listWidget = [this](int list) -> QListWidget* {
        return list >= 0 && list < 6 ? List(kDragListIds[list]) : nullptr;
    };
    host.facts = [this](int list, int item) { return DragFactsFor(list, item); };
    host.mayStart = [this] { return !busy_ && Ready(); };
    host.drop = [this](DropAction action, int sourceItem, int targetItem) {
        PerformDrop(action, sourceItem, targetItem);
    };
    drag_ = new CListDrag(std::move(host), this);
    drag_->Attach();
}

DragFacts CMainWin::DragFactsFor(int list, int item) const {
    DragFacts f;
    f.currentPlaylist = currentPlaylist_;
    if (!Ready()) {
        f.videoUsed = false;
        return f;
    }
    const CardDirectory& d = card_.Directory();
    for (int p = 0; p < kPlaylistCount; ++p)
        f.playlistClips[p] = std::clamp<int>(d.ClipCount(p), 0, kMaxClipsPerPlaylist);
    switch (list) {
        case kDragVideos: f.videoUsed = VideoOfListPosition(d, item) >= 0; break;
        case kDragStills: f.videoUsed = item >= 0 && item < kStillCount && d.Still(item).Used(); break;
        case kDragEffects: f.videoUsed = item >= 0 && item < kEffectCount && d.Effect(item).Used(); break;
        case kDragLogos: f.videoUsed = item >= 0 && item < kLogoCount && d.Logo(item).Used(); break;
        default: break;
    }
    return f;
}

void CMainWin::PerformDrop(DropAction action, int sourceItem, int targetItem) {
    if (busy_ || !Ready()) return;
    const CardDirectory& d = card_.Directory();
    switch (action) {
        case DropAction::kAddClipToPlaylist:
            AddClipAt(targetItem, VideoOfListPosition(d, sourceItem), -1);
            break;
        case DropAction::kAddClipToCurrent:
            // On a clip: inserted before it; on the list's empty area: appended.
            AddClipAt(currentPlaylist_, VideoOfListPosition(d, sourceItem), targetItem);
            break;
        case DropAction::kSwapPlaylists: SwapPlaylistsAt(sourceItem, targetItem); break;
        case DropAction::kSwapClips: SwapClipsAt(sourceItem, targetItem); break;
        case DropAction::kSwapStills: SwapStillsAt(sourceItem, targetItem); break;
        case DropAction::kSwapEffects: SwapEffectsAt(sourceItem, targetItem); break;
        case DropAction::kSwapLogos: SwapLogosAt(sourceItem, targetItem); break;
        case DropAction::kNone: break;
    }
}

}  // namespace rk
