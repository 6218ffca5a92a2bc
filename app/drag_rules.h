#pragma once
// The rules of drag and drop among the main window's six lists, apart from
// the widgets: which items may be dragged, which drops are allowed, what a
// drop does and which cursor shows it. No Qt here; the window asks these.
namespace rk {

// The lists as the drag code numbers them.
enum DragList : int { kDragVideos = 0, kDragPlaylists, kDragClips, kDragStills, kDragEffects, kDragLogos };

// What the rules need to know of the card and the window.
struct DragFacts {
    int playlistClips[16] = {};   // clip count of each playlist
    int currentPlaylist = -1;     // selected playlist, -1 when none
    bool videoUsed = true;        // the dragged item's slot holds something (videos, stills, effects, logos)
};

enum class DropAction : int {
    kNone = 0,
    kAddClipToPlaylist,   // video on a playlist item: add at its end
    kAddClipToCurrent,    // video on the clips list: insert at the target item, or append
    kSwapPlaylists,
    kSwapClips,
    kSwapStills,
    kSwapEffects,
    kSwapLogos,
};

enum class DragCursor : int { kNoEntry = 0, kMove, kAdd };

// True when item `item` of `list` may start a drag.
bool DragMayBegin(int list, int item, const DragFacts& facts);
// What a drop of source (list, item) on target (list, item or -1) does;
// kNone when the drop is not allowed.
DropAction DropActionFor(int sourceList, int sourceItem, int targetList, int targetItem, const DragFacts& facts);
// The cursor over that target.
DragCursor DragCursorFor(int sourceList, int sourceItem, int targetList, int targetItem, const DragFacts& facts);

}  // namespace rk
