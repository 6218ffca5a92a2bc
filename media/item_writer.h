#pragma once
// The one road of every item to the card. Videos, stills, effects, logos and
// title cards are all frame slots plus (except title cards) a thumbnail
// block: an operation supplies a source of slots and a plan of the entry,
// and WriteItem places the item (allocating a run, compacting when it must,
// or at the item's fixed place), writes the slots with progress and Stop,
// makes the thumbnail beside the copy and commits the entry, directory last.
//
// The order of writes is what keeps a card sound: frames, then the
// thumbnail, then the directory (which flushes before and after). Stop, a
// failure or a crash at any point leaves a directory that references only
// complete items.
#include <cstdint>
#include <string>

#include "base/op_result.h"
#include "base/string_ids.h"
#include "card/card_item.h"

namespace rk {

class CSDCard;
class IOperator;
class ISlotSource;

struct ItemPlan {
    CardItem kind = CardItem::kVideo;
    int index = -1;               // entry number (title cards: the playlist)
    uint64_t frames = 0;          // slots the source is expected to give
    int clustersPerFrame = 0;     // the entry's frame spacing on the card
    int writeClusters = 0;        // Clusters written of each slot (0: clustersPerFrame)
    std::string name;             // videos
    uint8_t entryTail[8] = {};    // effects and logos: entry bytes 8 to 15
    int sizeClass = 1;            // of the frames, for the thumbnail maker
    // Fixed first Cluster (stills, title cards); -1 allocates a run of
    // frames x clustersPerFrame + 2 Clusters, compacting after asking.
    int64_t placeAt = -1;
    // The thumbnail: made from this frame's slot (-1: none), or given ready
    // (24576 bytes); neither stores the black default.
    int64_t thumbnailFrame = -1;
    const uint8_t* thumbnailBlock = nullptr;
    bool hasThumbnail = true;     // false for title cards
    // On Stop after some frames, ask whether to keep them (videos).
    bool askKeepPartial = false;
    // Text shown when the source fails.
    int readErrorText = IDS_ERROR_READING_VIDEO;
    // No message of its own when the source fails (title cards fail
    // silently; the caller logs and tells the terminal). The card layer
    // still reports a failed card write.
    bool quietFailure = false;
    // "Write completed." at the end.
    bool reportDone = true;
    // BeginProgress/EndProgress around the write, with Stop between slots.
    // False when the caller runs a progress of its own around several items:
    // then the write reports no progress and is not stopped (the caller
    // decides before it starts).
    bool ownProgress = true;
};

// kDone and kKeptPartial name the entry written in `slot`; kRefused is an
// allocation declined or stopped (nothing written, no message); `cause` is
// what the source said when it failed.
struct ItemWriteOutcome : OpOutcome {
    int64_t firstCluster = -1;
    uint64_t framesWritten = 0;
    bool thumbnailFromFrame = false;
};

// True when `needed` Clusters fit the card's free space; otherwise shows
// "Not enough space..." with the size missing and answers false.
bool CheckRoom(IOperator& op, const CSDCard& card, int64_t needed);

// The questions every add of `frames` slots of `clustersPerFrame` Clusters
// (and a thumbnail block) asks before it writes: room (CheckRoom), then the
// duration question. kNoRoom has shown its message; kDeclined is a No.
enum class WriteConfirm { kGo, kNoRoom, kDeclined };
WriteConfirm ConfirmItemWrite(IOperator& op, const CSDCard& card, int64_t frames, int clustersPerFrame);

// Writes one item from `source` as `plan` says and commits its entry. The
// caller has asked its questions (duration, confirmation) and checked room.
ItemWriteOutcome WriteItem(IOperator& op, CSDCard& card, ISlotSource& source, const ItemPlan& plan);

}  // namespace rk
