#include "card/allocator.h"

#include <algorithm>
#include <chrono>
#include <climits>
#include <memory>

#include "base/log.h"
#include "base/string_ids.h"
#include "base/texts.h"
#include "card/run_check.h"
#include "card/sd_card.h"
#include "card/video_modes.h"
#include "ui/operator.h"

namespace rk {

void BuildRunRecords(const CardDirectory& dir, RunList& list) {
    list.count = 0;
    auto add = [&](int entry, const EntryHead& h, int32_t kind) {
        if (!h.Used()) return;
        // A damaged directory can claim runs longer than any card: clamp
        // rather than wrap.
        const uint64_t len = std::min<uint64_t>(h.RunClusters(), INT32_MAX);
        list.records[list.count++] = {entry, int32_t(h.startCluster), int32_t(len), kind};
    };
    for (int v = 0; v < kVideoCount; ++v) add(v, dir.Video(v), kKindVideo);
    for (int e = 0; e < kEffectCount; ++e) add(e, dir.Effect(e), kKindEffect);
    for (int l = 0; l < kLogoCount; ++l) add(l, dir.Logo(l), kKindLogo);
}

void SortRunRecords(RunList& list) {
    for (int i = 0; i < list.count; ++i) {
        int best = i;
        for (int j = i + 1; j < list.count; ++j)
            if (list.records[j].start < list.records[best].start) best = j;
        if (best != i) std::swap(list.records[i], list.records[best]);
    }
}

void AppendEndMarker(RunList& list, int64_t totalClusters) {
    if (list.count >= kMaxRunRecords) return;
    if (list.count > 0) {
        const RunRecord& last = list.records[list.count - 1];
        if (int64_t(last.start) + last.length >= totalClusters) return;
    }
    list.records[list.count++] = {0, int32_t(totalClusters), 0, kKindEndMarker};
}

void LogFragmentationReport(const RunList& list) {
    if (!LogVerbose()) return;
    LogMessage(3, "fragmentation report:");
    for (int i = 0; i < list.count; ++i) {
        const RunRecord& r = list.records[i];
        if (r.kind == kKindEndMarker) continue;
        LogMessage(3, "type: %d, index: %d at cluster: %d len: %d, next: %lld", r.kind, r.entry, r.start, r.length,
                   (long long)(int64_t(r.start) + r.length));
    }
}

int64_t FirstFit(const RunList& list, int64_t n, int64_t firstItemCluster, int64_t totalClusters) {
    int64_t prev = firstItemCluster;
    for (int i = 0; i < list.count; ++i) {
        const RunRecord& r = list.records[i];
        if (std::min<int64_t>(r.start, totalClusters) - prev >= n) return prev;
        // max(): an entry lying inside an earlier one (a damaged directory)
        // must not make the earlier item's Clusters look free.
        prev = std::max<int64_t>(prev, int64_t(r.start) + r.length);
    }
    return -1;
}

namespace {

// The card's used runs sorted by start and closed by the end marker.
void SortedRunsOfCard(const CSDCard& card, RunList& list) {
    BuildRunRecords(card.Directory(), list);
    SortRunRecords(list);
    AppendEndMarker(list, card.TotalClusters());
}

using Clock = std::chrono::steady_clock;

// Chunks grow while a chunk takes less than this and shrink above twice it,
// so that progress and Stop are served several times a tenth of a second.
constexpr auto kChunkTarget = std::chrono::milliseconds(25);
constexpr uint32_t kMaxChunkClusters = 256;  // 3 MiB

struct Mover {
    CSDCard& card;
    IOperator& op;
    uint8_t* buffer;
    uint32_t chunk = 8;
    bool stopAsked = false;

    enum Outcome { kMoved, kLeftInPlace, kFailed };

    // Copies d Clusters from f down to dest (dest < f) in ascending chunks.
    // Every chunk is read whole before it is written, and its destination
    // ends below the source of the next chunk, so no Cluster is overwritten
    // before it has been read.
    Outcome Move(uint32_t f, uint32_t dest, uint32_t d, uint64_t& moved) {
        const int64_t progressBase = card.FirstItemCluster();
        bool sourceTouched = false;
        uint32_t k = 0;
        while (k < d) {
            const uint32_t c = std::min(chunk, d - k);
            auto t0 = Clock::now();
            if (!card.ReadClusters(f + k, buffer, c)) return kFailed;
            if (!card.WriteClusters(dest + k, buffer, c)) return kFailed;
            if (uint64_t(dest) + k + c > f) sourceTouched = true;
            k += c;
            moved += c;
            auto took = Clock::now() - t0;
            if (took < kChunkTarget && chunk < kMaxChunkClusters)
                chunk = std::min(chunk * 2, kMaxChunkClusters);
            else if (took > 2 * kChunkTarget && chunk > 1)
                chunk /= 2;
            op.SetProgress(int64_t(dest) + k - progressBase, false);
            if (op.PumpMessages() && !stopAsked) {
                stopAsked = true;
                // Nothing of the item has been overwritten yet: it stays
                // where its entry says, whole.
                if (!sourceTouched) return kLeftInPlace;
            }
        }
        return kMoved;
    }
};

}  // namespace

CompactionResult CompactItemArea(CSDCard& card, IOperator& op, int64_t n) {
    CompactionResult result;
    if (!CheckRuns(card.Directory(), card.Regions()).empty()) {
        LogMessage(2, "compaction refused: the item runs overlap or leave the item area");
        result.failed = true;
        return result;
    }
    RunList list;
    SortedRunsOfCard(card, list);

    auto buffer = std::make_unique<uint8_t[]>(size_t(kMaxChunkClusters) * kClusterSize);
    Mover mover{card, op, buffer.get()};

    int64_t w = card.FirstItemCluster();
    for (int i = 0; i < list.count; ++i) {
        RunRecord& r = list.records[i];
        if (r.kind == kKindEndMarker) continue;
        const ItemKind kind = ItemKind(r.kind);
        EntryHead head = card.Directory().Item(kind, r.entry);
        if (head.startCluster + head.RunClusters() > uint64_t(card.TotalClusters())) {
            // A run reaching past the card's end (a damaged directory) is
            // left where it is; nothing is read or written for it.
            LogMessage(2, "item %d of kind %d lies beyond the card's end; not moved", r.entry, r.kind);
            continue;
        }
        const int64_t gap = r.start - w;
        if (gap <= 0) {
            w = std::max<int64_t>(w, int64_t(r.start) + r.length);
            continue;
        }
        if (n > 0 && gap >= n) {
            LogMessage(2, "free space located at %d", int(w));
            result.completed = true;
            return result;
        }
        const uint32_t f = head.startCluster;
        const uint32_t d = uint32_t(head.RunClusters());
        const uint32_t dest = uint32_t(f - gap);
        LogMessage(2, "moving %d clusters from %d to %d...", int(d), int(f), int(dest));
        auto outcome = mover.Move(f, dest, d, result.clustersMoved);
        if (outcome == Mover::kFailed) {
            // The card has shown its message. The entry keeps its old start:
            // if the move had begun overwriting its own Clusters the item is
            // damaged either way, and a failing card takes no more writes.
            result.failed = true;
            return result;
        }
        if (outcome == Mover::kLeftInPlace) {
            result.stopped = true;
            return result;
        }
        head.startCluster = dest;
        card.Directory().SetItem(kind, r.entry, head);
        // WriteDirectory flushes the moved Clusters before the entry that
        // points at them is written.
        if (!card.WriteDirectory()) {
            result.failed = true;
            return result;
        }
        ++result.itemsMoved;
        r.start = int32_t(dest);
        w = int64_t(r.start) + r.length;
        if (mover.stopAsked) {
            result.stopped = true;
            return result;
        }
    }
    result.completed = true;
    return result;
}

namespace {

// Compaction copies items by what their entries say; with runs that share
// Clusters or leave the item area it would copy one item over another. Such a
// directory is refused, with the items named, before anything is asked or moved.
bool RunsAllowCompaction(const CSDCard& card, IOperator& op) {
    const std::vector<RunProblem> problems = CheckRuns(card.Directory(), card.Regions());
    if (problems.empty()) return true;
    std::string text;
    for (size_t i = 0; i < problems.size(); ++i) {
        const std::string line = RunProblemText(problems[i]);
        LogMessage(2, "compaction refused: %s", line.c_str());
        if (i < 4) text += (i ? "\n" : "") + line;
    }
    op.ShowMessage(kMsgNotice, kIconError, text);
    return false;
}

bool AskDefragmentation(IOperator& op) {
    return op.ShowMessage(kMsgQuestion, kIconQuestion, LoadText(IDS_DEFRAG_QUESTION)) == kResultYes;
}

// CompactItemArea inside the progress protocol, with the card line and lists
// refreshed around it.
CompactionResult CompactWithProgress(CSDCard& card, IOperator& op, int64_t n) {
    LogMessage(2, "do defrag...");
    op.BeginProgress(int64_t(card.ItemAreaClusters()) + 1, ProgressUnit::kClusters, kClusterSize);
    op.Refresh(kRefreshCardLine);
    CompactionResult r = CompactItemArea(card, op, n);
    op.EndProgress();
    op.Refresh(kRefreshCardLine | kRefreshLists);
    return r;
}

}  // namespace

int32_t AllocateClusters(CSDCard& card, IOperator& op, int32_t n) {
    for (;;) {
        RunList list;
        BuildRunRecords(card.Directory(), list);
        if (list.count == 0) return card.FirstItemCluster();
        SortRunRecords(list);
        LogFragmentationReport(list);
        AppendEndMarker(list, card.TotalClusters());
        int64_t at = FirstFit(list, n, card.FirstItemCluster(), card.TotalClusters());
        if (at >= 0) {
            LogMessage(2, "free chunk found at cluster: %d", int(at));
            return int32_t(at);
        }
        if (!RunsAllowCompaction(card, op) || !AskDefragmentation(op)) return -1;
        CompactionResult r = CompactWithProgress(card, op, n);
        if (!r.completed) return -1;
        // A compaction that could move nothing cannot open a gap on a second
        // try either (entries overlap or lie outside the item area): asking
        // again would only loop.
        if (r.itemsMoved == 0) {
            RunList again;
            SortedRunsOfCard(card, again);
            if (FirstFit(again, n, card.FirstItemCluster(), card.TotalClusters()) < 0) {
                LogMessage(2, "AllocateClusters(%d): no gap after compaction", n);
                return -1;
            }
        }
    }
}

bool DefragmentCard(CSDCard& card, IOperator& op, bool ask) {
    if (!RunsAllowCompaction(card, op)) return false;
    if (ask && !AskDefragmentation(op)) return false;
    return CompactWithProgress(card, op, 0).completed;
}

CardLine CardLineNumbers(int32_t itemAreaClusters, int32_t freeClusters) {
    CardLine line;
    line.totalMiB = std::max<int64_t>(itemAreaClusters, 0) * kClusterSize / 1048576;
    if (line.totalMiB == 0) line.totalMiB = 1;
    line.freeMiB = std::max<int64_t>(freeClusters, 0) * kClusterSize / 1048576;
    line.percent = line.freeMiB * 100 / line.totalMiB;
    return line;
}

std::string CardLineText(const CSDCard& card) {
    if (!card.IsOpen()) return {};
    if (!card.IsDirectoryValid()) return LoadText(IDS_NOT_FORMATTED);
    CardLine l = CardLineNumbers(card.ItemAreaClusters(), card.FreeClusters());
    return FormatText(IDS_CARD_LINE, VideoModeName(card.VideoMode()), SizeText(int32_t(l.freeMiB)).c_str(),
                      SizeText(int32_t(l.totalMiB)).c_str(), int(l.percent));
}

}  // namespace rk
