#include "app/drag_rules.h"

namespace rk {

namespace {

constexpr int kMaxClips = 15;

int ClipsOf(const DragFacts& f, int p) { return p >= 0 && p < 16 ? f.playlistClips[p] : 0; }

}  // namespace

bool DragMayBegin(int list, int item, const DragFacts& facts) {
    if (item < 0) return false;
    switch (list) {
    case kDragVideos:
    case kDragStills:
    case kDragEffects:
    case kDragLogos: return facts.videoUsed;
    case kDragPlaylists: return item < 16 && ClipsOf(facts, item) > 0;
    case kDragClips: return ClipsOf(facts, facts.currentPlaylist) > 1 && item < ClipsOf(facts, facts.currentPlaylist);
    default: return false;
    }
}

DropAction DropActionFor(int sourceList, int sourceItem, int targetList, int targetItem, const DragFacts& facts) {
    if (sourceItem < 0) return DropAction::kNone;
    if (sourceList == kDragVideos) {
        if (targetList == kDragPlaylists)
            return targetItem >= 0 && targetItem < 16 && ClipsOf(facts, targetItem) < kMaxClips
                       ? DropAction::kAddClipToPlaylist
                       : DropAction::kNone;
        if (targetList == kDragClips)
            return facts.currentPlaylist >= 0 && ClipsOf(facts, facts.currentPlaylist) < kMaxClips
                       ? DropAction::kAddClipToCurrent
                       : DropAction::kNone;
        return DropAction::kNone;
    }
    // Everything else moves within its own list onto another existing item.
    if (targetList != sourceList || targetItem < 0 || targetItem == sourceItem) return DropAction::kNone;
    switch (sourceList) {
    case kDragPlaylists: return DropAction::kSwapPlaylists;
    case kDragClips: return DropAction::kSwapClips;
    case kDragStills: return DropAction::kSwapStills;
    case kDragEffects: return DropAction::kSwapEffects;
    case kDragLogos: return DropAction::kSwapLogos;
    default: return DropAction::kNone;
    }
}

DragCursor DragCursorFor(int sourceList, int sourceItem, int targetList, int targetItem, const DragFacts& facts) {
    if (DropActionFor(sourceList, sourceItem, targetList, targetItem, facts) == DropAction::kNone)
        return DragCursor::kNoEntry;
    return targetList == sourceList ? DragCursor::kMove : DragCursor::kAdd;
}

}  // namespace rk
