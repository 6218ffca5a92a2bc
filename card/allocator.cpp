#include "card/allocator.h"

#include <algorithm>
#include <chrono>
#include <climits>
#include <memory>

#include "base/log.h"
#include "base/string_ids.h"
#include "base/texts.h"
#include "card/directory_journal.h"
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

    // Copies Clusters [k, end) of an item from f + k to dest + k (dest < f)
    // in ascending chunks. Every chunk is read whole before it is written,
    // and no chunk is longer than f - dest, so no Cluster is overwritten
    // before it has been read. Stop is noted; with `stopEarly` (nothing of
    // the item overwritten yet) the copy ends there.
    bool Copy(uint32_t f, uint32_t dest, uint32_t k, uint32_t end, uint64_t& moved, bool stopEarly = false) {
        const int64_t progressBase = card.FirstItemCluster();
        const uint32_t most = std::min<uint32_t>(kMaxChunkClusters, f - dest);
        while (k < end) {
            const uint32_t c = std::min({chunk, end - k, most});
            auto t0 = Clock::now();
            if (!card.ReadClusters(f + k, buffer, c)) return false;
            if (!card.WriteClusters(dest + k, buffer, c)) return false;
            k += c;
            moved += c;
            auto took = Clock::now() - t0;
            if (took < kChunkTarget && chunk < kMaxChunkClusters)
                chunk = std::min(chunk * 2, kMaxChunkClusters);
            else if (took > 2 * kChunkTarget && chunk > 1)
                chunk /= 2;
            op.SetProgress(int64_t(dest) + k - progressBase, false);
            if (op.PumpMessages()) stopAsked = true;
            if (stopAsked && stopEarly) return true;
        }
        return true;
    }
};

// A move whose destination overlaps its source overwrites the item's own
// first Clusters while its entry still points at them. So the move is kept
// in the journal before the first write and advanced in steps no longer
// than the distance moved: each step is made durable on the card before the
// journal says it is done, and a step only overwrites source Clusters that
// earlier steps have already copied. Whatever the moment of a crash, the
// Clusters from the journal's `done` on are still at their source, and the
// move can be finished from there (FinishPendingMove).
struct JournalledMove {
    CSDCard& card;
    CDirectoryJournal journal{DefaultJournalFolder()};
    CardIdentity id = card.Identity();

    bool Note(const PendingMove& m) {
        if (journal.RecordMove(id, m)) return true;
        LogMessage(2, "compaction: the move of item %u (kind %d) cannot be kept in the journal folder (%s)", m.entry,
                   int(m.kind), DefaultJournalFolder().c_str());
        return false;
    }

    // Copies from m.done to the end, step by step. False on a device or
    // journal failure; the journal then holds the last durable step.
    bool Run(Mover& mover, PendingMove& m, uint64_t& moved) {
        const uint32_t step = m.from - m.to;
        while (m.done < m.length) {
            const uint32_t end = std::min<uint32_t>(m.length, m.done + step);
            if (!mover.Copy(m.from, m.to, m.done, end, moved) || !card.Flush()) return false;
            m.done = end;
            if (m.done < m.length && !Note(m)) return false;
        }
        return true;
    }
};

bool Overlapping(uint32_t from, uint32_t to, uint32_t length) { return to < from && from - to < length; }

// Points the entry at the item's new place and writes the directory, which
// flushes the moved Clusters first.
bool CommitMove(CSDCard& card, ItemKind kind, int entry, uint32_t dest) {
    EntryHead head = card.Directory().Item(kind, entry);
    head.startCluster = dest;
    card.Directory().SetItem(kind, entry, head);
    return card.WriteDirectory();
}

}  // namespace

PendingMoveResult FinishPendingMove(CSDCard& card, IOperator& op, bool ownProgress) {
    if (!card.IsOpen() || !card.IsDirectoryValid()) return PendingMoveResult::kNone;
    JournalledMove jm{card};
    PendingMove m;
    if (!jm.journal.LoadMove(jm.id, m)) return PendingMoveResult::kNone;
    const uint32_t entries = m.kind == kKindVideo ? kVideoCount : m.kind == kKindEffect ? kEffectCount : kLogoCount;
    const EntryHead head = m.entry < entries ? card.Directory().Item(m.kind, int(m.entry)) : EntryHead{};
    const bool sameItem = head.Used() && head.RunClusters() == m.length;
    if (sameItem && head.startCluster == m.to) {
        jm.journal.ClearMove(jm.id);  // finished; only the note was left
        return PendingMoveResult::kNone;
    }
    if (!sameItem || head.startCluster != m.from || !Overlapping(m.from, m.to, m.length) ||
        uint64_t(m.from) + m.length > uint64_t(card.TotalClusters()) || m.to < uint32_t(card.FirstItemCluster())) {
        // The card has changed since (formatted, restored): the note no
        // longer describes it and must not move anything.
        LogMessage(2, "compaction: a stale move note (item %u, kind %d, %u to %u) is dropped", m.entry, int(m.kind),
                   m.from, m.to);
        jm.journal.ClearMove(jm.id);
        return PendingMoveResult::kNone;
    }
    LogMessage(2, "compaction: finishing the move of %u clusters from %u to %u (%u done)", m.length, m.from, m.to,
               m.done);
    auto buffer = std::make_unique<uint8_t[]>(size_t(kMaxChunkClusters) * kClusterSize);
    Mover mover{card, op, buffer.get()};
    uint64_t moved = 0;
    if (ownProgress) op.BeginProgress(int64_t(card.ItemAreaClusters()) + 1, ProgressUnit::kClusters, kClusterSize);
    const bool ok = jm.Run(mover, m, moved) && CommitMove(card, m.kind, int(m.entry), m.to);
    if (ownProgress) {
        op.EndProgress();
        op.Refresh(kRefreshCardLine | kRefreshLists);
    }
    if (!ok) return PendingMoveResult::kFailed;
    jm.journal.ClearMove(jm.id);
    return PendingMoveResult::kFinished;
}

CompactionResult CompactItemArea(CSDCard& card, IOperator& op, int64_t n) {
    CompactionResult result;
    // A move cut short by a crash is finished before anything else moves.
    if (FinishPendingMove(card, op, false) == PendingMoveResult::kFailed) {
        result.failed = true;
        return result;
    }
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
        bool copied = false;
        if (!Overlapping(f, dest, d)) {
            // The copy never touches the item's own Clusters: it stays whole
            // where its entry says until the entry changes.
            copied = mover.Copy(f, dest, 0, d, result.clustersMoved, true);
            if (copied && mover.stopAsked) {
                result.stopped = true;  // (left in place; the copy is unreferenced)
                return result;
            }
        } else {
            JournalledMove jm{card};
            PendingMove m{kind, uint32_t(r.entry), f, dest, d, 0};
            // The first step overwrites nothing of the item: Stop there leaves it in place.
            const uint32_t first = std::min<uint32_t>(d, uint32_t(gap));
            copied = mover.Copy(f, dest, 0, first, result.clustersMoved, true);
            if (copied && mover.stopAsked) {
                result.stopped = true;
                return result;
            }
            m.done = first;
            copied = copied && card.Flush() && jm.Note(m) && jm.Run(mover, m, result.clustersMoved);
            if (copied && CommitMove(card, kind, r.entry, dest)) {
                jm.journal.ClearMove(jm.id);
                ++result.itemsMoved;
                r.start = int32_t(dest);
                w = int64_t(r.start) + r.length;
                if (mover.stopAsked) {
                    result.stopped = true;
                    return result;
                }
                continue;
            }
            // The card or the journal failed: the journal holds the last
            // durable step, and the next compaction or `recover` finishes it.
            result.failed = true;
            return result;
        }
        if (!copied) {
            // The card has shown its message; the entry keeps its old start
            // and the item is whole there.
            result.failed = true;
            return result;
        }
        if (!CommitMove(card, kind, r.entry, dest)) {
            result.failed = true;
            return result;
        }
        ++result.itemsMoved;
        r.start = int32_t(dest);
        w = int64_t(r.start) + r.length;
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
