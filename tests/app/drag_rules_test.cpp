// Every row of the drop table, both sides of each condition, and the cursors.
#include <gtest/gtest.h>

#include <algorithm>

#include "app/drag_rules.h"

namespace rk {
namespace {

struct Row {
    int source, sourceItem, target, targetItem;
    int currentPlaylist;
    int targetClips;  // clips of the target playlist (or of the current one for the clips list)
    DropAction want;
    DragCursor cursor;
};

TEST(DragRules, EveryRowOfTheDropTable) {
    const Row rows[] = {
        // video on a playlist item: that playlist has at most 14 clips
        {kDragVideos, 0, kDragPlaylists, 3, -1, 14, DropAction::kAddClipToPlaylist, DragCursor::kAdd},
        {kDragVideos, 0, kDragPlaylists, 3, -1, 15, DropAction::kNone, DragCursor::kNoEntry},
        {kDragVideos, 0, kDragPlaylists, -1, -1, 0, DropAction::kNone, DragCursor::kNoEntry},
        // video on the clips list: a current playlist with at most 14 clips; the empty area counts
        {kDragVideos, 2, kDragClips, -1, 3, 0, DropAction::kAddClipToCurrent, DragCursor::kAdd},
        {kDragVideos, 2, kDragClips, 1, 3, 14, DropAction::kAddClipToCurrent, DragCursor::kAdd},
        {kDragVideos, 2, kDragClips, -1, 3, 15, DropAction::kNone, DragCursor::kNoEntry},
        {kDragVideos, 2, kDragClips, -1, -1, 0, DropAction::kNone, DragCursor::kNoEntry},
        // a video anywhere else
        {kDragVideos, 2, kDragVideos, 1, -1, 0, DropAction::kNone, DragCursor::kNoEntry},
        {kDragVideos, 2, kDragStills, 1, -1, 0, DropAction::kNone, DragCursor::kNoEntry},
        // playlist on another playlist item
        {kDragPlaylists, 0, kDragPlaylists, 4, -1, 1, DropAction::kSwapPlaylists, DragCursor::kMove},
        {kDragPlaylists, 4, kDragPlaylists, 4, -1, 1, DropAction::kNone, DragCursor::kNoEntry},
        {kDragPlaylists, 4, kDragPlaylists, -1, -1, 1, DropAction::kNone, DragCursor::kNoEntry},
        {kDragPlaylists, 4, kDragClips, 0, 4, 1, DropAction::kNone, DragCursor::kNoEntry},
        // clip on another clip
        {kDragClips, 0, kDragClips, 2, 1, 3, DropAction::kSwapClips, DragCursor::kMove},
        {kDragClips, 2, kDragClips, 2, 1, 3, DropAction::kNone, DragCursor::kNoEntry},
        {kDragClips, 2, kDragClips, -1, 1, 3, DropAction::kNone, DragCursor::kNoEntry},
        {kDragClips, 2, kDragPlaylists, 0, 1, 3, DropAction::kNone, DragCursor::kNoEntry},
        // stills, effects, logos within their own list
        {kDragStills, 1, kDragStills, 5, -1, 0, DropAction::kSwapStills, DragCursor::kMove},
        {kDragStills, 1, kDragStills, 1, -1, 0, DropAction::kNone, DragCursor::kNoEntry},
        {kDragStills, 1, kDragEffects, 5, -1, 0, DropAction::kNone, DragCursor::kNoEntry},
        {kDragEffects, 0, kDragEffects, 15, -1, 0, DropAction::kSwapEffects, DragCursor::kMove},
        {kDragEffects, 0, kDragEffects, -1, -1, 0, DropAction::kNone, DragCursor::kNoEntry},
        {kDragLogos, 7, kDragLogos, 0, -1, 0, DropAction::kSwapLogos, DragCursor::kMove},
        {kDragLogos, 7, kDragLogos, 7, -1, 0, DropAction::kNone, DragCursor::kNoEntry},
    };
    for (const Row& r : rows) {
        DragFacts f;
        f.currentPlaylist = r.currentPlaylist;
        const int p = r.target == kDragPlaylists && r.targetItem >= 0 ? r.targetItem : r.currentPlaylist;
        if (p >= 0) f.playlistClips[p] = r.targetClips;
        if (r.source == kDragPlaylists) f.playlistClips[r.sourceItem] = std::max(1, f.playlistClips[r.sourceItem]);
        SCOPED_TRACE(testing::Message() << r.source << "/" << r.sourceItem << " -> " << r.target << "/" << r.targetItem);
        EXPECT_EQ(DropActionFor(r.source, r.sourceItem, r.target, r.targetItem, f), r.want);
        EXPECT_EQ(DragCursorFor(r.source, r.sourceItem, r.target, r.targetItem, f), r.cursor);
    }
}

TEST(DragRules, OnlyItemsWithContentStartADrag) {
    DragFacts f;
    EXPECT_TRUE(DragMayBegin(kDragVideos, 0, f));
    EXPECT_FALSE(DragMayBegin(kDragVideos, -1, f));
    f.videoUsed = false;
    EXPECT_FALSE(DragMayBegin(kDragStills, 3, f));  // a free still slot
    EXPECT_FALSE(DragMayBegin(kDragPlaylists, 2, f));  // an empty playlist
    f.playlistClips[2] = 1;
    EXPECT_TRUE(DragMayBegin(kDragPlaylists, 2, f));
    f.currentPlaylist = 2;
    EXPECT_FALSE(DragMayBegin(kDragClips, 0, f));  // one clip: nothing to reorder
    f.playlistClips[2] = 2;
    EXPECT_TRUE(DragMayBegin(kDragClips, 1, f));
    EXPECT_FALSE(DragMayBegin(kDragClips, 2, f));
}

}  // namespace
}  // namespace rk
