#pragma once
// Allocation of contiguous runs in the item area, the fragmentation report,
// compaction (defragmentation) under the progress protocol, and the numbers
// of the card line.
#include <cstdint>
#include <climits>
#include <string>

#include "card/card_directory.h"

namespace rk {

class CSDCard;
class IOperator;

// One item of the item area, or the end marker (kind 0).
struct RunRecord {
    int32_t entry = 0;   // entry number within its table
    int32_t start = 0;   // StartCluster
    int32_t length = 0;  // NumFrames * ClustersPerFrame + 2
    int32_t kind = 0;    // ItemKind: 1 video, 2 effect, 3 logo, 0 end marker
};

// 99 videos + 16 effects + 8 logos + the end marker.
inline constexpr int kMaxRunRecords = kVideoCount + kEffectCount + kLogoCount + 1;

struct RunList {
    RunRecord records[kMaxRunRecords];
    int count = 0;
};

// The used video, effect and logo entries, in that order (no end marker).
void BuildRunRecords(const CardDirectory& dir, RunList& list);
// Selection sort by start, ascending: for each position the first record
// with the smallest start among the rest is swapped in (not a stable sort).
void SortRunRecords(RunList& list);
// Appends the end marker (start TotalClusters, length 0) when the last record
// ends before TotalClusters, or when there is no record.
void AppendEndMarker(RunList& list, int64_t totalClusters);
// Logs "fragmentation report:" and one line per record (verbose log only).
void LogFragmentationReport(const RunList& list);
// First fit over sorted records: the first gap of at least n Clusters from
// firstItemCluster on, counting the gap behind the last record only through
// the end marker; -1 when none. No gap reaches past `totalClusters` (runs a
// damaged directory places beyond the card's end bound nothing).
int64_t FirstFit(const RunList& list, int64_t n, int64_t firstItemCluster, int64_t totalClusters = INT64_MAX);

// What a compaction run is after.
struct CompactionResult {
    bool completed = false;  // ran to its end (gap found or everything packed)
    bool stopped = false;    // ended by Stop
    bool failed = false;     // ended by a device error
    int itemsMoved = 0;
    uint64_t clustersMoved = 0;
};

// Compacts the item area towards its start until a gap of at least n Clusters
// opens in front of an item (n <= 0: pack the whole item area). Runs inside
// BeginProgress/EndProgress, which the caller owns. Items move in ascending
// chunks whose destination always lies below their source; after each item
// its data is flushed and its entry written. An item moved by less than its
// own length is kept in the journal while it moves (see FinishPendingMove),
// so a crash at any write leaves it whole at one place or finishable. Stop
// (PumpMessages answering true) lets the current item finish moving and its
// entry be written first, unless it has not yet overwritten any of its own
// Clusters, in which case it stays where it was. A device error ends
// compaction (message shown once by the card). A move left unfinished by an
// earlier run is finished first.

CompactionResult CompactItemArea(CSDCard& card, IOperator& op, int64_t n);

// Finishes a move of an item over its own start that a crash or a device
// error cut short, from where the journal says it had durably come, and
// points the item's entry at its new place. A note that no longer fits the
// card's directory (formatted, restored since) is dropped without a write.
// Needs the card's valid directory in memory. Runs its own progress unless
// `ownProgress` is false (inside compaction's).
enum class PendingMoveResult { kNone, kFinished, kFailed };
PendingMoveResult FinishPendingMove(CSDCard& card, IOperator& op, bool ownProgress = true);

// The first Cluster of a free run of at least n Clusters, asking the
// defragmentation question and compacting when no single gap is large enough;
// -1 when the operator says No, or compaction failed or was stopped (a Stop
// has been answered by PumpMessages and stays the operator's to report). The
// caller has made sure that n <= FreeClusters.
int32_t AllocateClusters(CSDCard& card, IOperator& op, int32_t n);

// Compacts the whole item area on request (the CLI's defrag): question
// unless `ask` is false, progress, Stop. False when declined, stopped or failed.
bool DefragmentCard(CSDCard& card, IOperator& op, bool ask);

// The card line numbers: whole MiB of the item area (0 counts as 1), of the
// free space, and the percentage.
struct CardLine {
    int64_t totalMiB = 0;
    int64_t freeMiB = 0;
    int64_t percent = 0;
};
CardLine CardLineNumbers(int32_t itemAreaClusters, int32_t freeClusters);
// "%s, %s of %s available (%d%%)" for a formatted card, "Not formatted" for
// an open card without the layout, empty without a card.
std::string CardLineText(const CSDCard& card);

}  // namespace rk
