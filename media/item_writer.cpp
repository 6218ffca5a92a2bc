#include "media/item_writer.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <system_error>
#include <thread>

#include "base/log.h"
#include "base/texts.h"
#include "card/allocator.h"
#include "card/sd_card.h"
#include "media/slot_buffer.h"
#include "media/slot_stream.h"
#include "media/thumbnail.h"
#include "ui/operator.h"

namespace rk {

namespace {

// Makes one thumbnail on a thread of its own; Wait (or destruction) joins it.
class CThumbnailJob {
public:
    CThumbnailJob() = default;
    CThumbnailJob(const CThumbnailJob&) = delete;
    CThumbnailJob& operator=(const CThumbnailJob&) = delete;
    ~CThumbnailJob() { Wait(); }
    bool Started() const { return started_; }
    void Start(CThumbnailMaker& maker, const uint8_t* slot, int clustersPerFrame, uint8_t* block) {
        started_ = true;
        try {
            thread_ = std::thread([this, &maker, slot, clustersPerFrame, block] {
                result_ = maker.Make(slot, clustersPerFrame, block);
            });
        } catch (const std::system_error&) {
            result_ = maker.Make(slot, clustersPerFrame, block);  // no thread to be had: make it here
        }
    }
    bool Wait() {
        if (thread_.joinable()) thread_.join();
        return result_;
    }

private:
    std::thread thread_;
    bool started_ = false;
    bool result_ = false;
};

// The item's first Cluster: its fixed place, or a run of the item area
// (which may compact, after asking). -1 when none was had.
int64_t PlaceItem(IOperator& op, CSDCard& card, const ItemPlan& plan) {
    if (plan.placeAt >= 0) return plan.placeAt;
    const int64_t needed =
        static_cast<int64_t>(plan.frames) * plan.clustersPerFrame + (plan.hasThumbnail ? kThumbnailClusters : 0);
    return AllocateClusters(card, op, static_cast<int32_t>(needed));
}

// The entry of the `frames` written from `first`, with its thumbnail block,
// committed directory last. Title cards have no entry: the playlist's
// directory write that follows flushes them first.
bool CommitPlannedItem(CSDCard& card, const ItemPlan& plan, int64_t first, uint64_t frames, bool thumbMade,
                       uint8_t* thumbBlock) {
    if (plan.kind == CardItem::kTitleCard) return true;
    ItemEntry entry;
    entry.kind = plan.kind;
    entry.index = plan.index;
    entry.head.startCluster = static_cast<uint32_t>(first);
    entry.head.numFrames = static_cast<uint16_t>(frames);
    entry.head.clustersPerFrame = static_cast<uint16_t>(plan.clustersPerFrame);
    entry.name = plan.name;
    std::memcpy(entry.tail, plan.entryTail, sizeof entry.tail);
    const uint8_t* block = nullptr;
    if (plan.hasThumbnail) {
        if (plan.thumbnailBlock) {
            block = plan.thumbnailBlock;
        } else {
            if (!thumbMade) MakeBlackThumbnail(thumbBlock);
            block = thumbBlock;
        }
    }
    return card.CommitItem(entry, block);
}

// A source that failed has its text shown (with its cause); a failed card
// write has been reported by the card.
void ReportPumpFailure(IOperator& op, const ItemPlan& plan, const PumpResult& pumped) {
    if (pumped.status != PumpStatus::kReadError || plan.quietFailure) return;
    if (pumped.cause.empty()) ErrorById(op, plan.readErrorText);
    else ErrorWithDetail(op, plan.readErrorText, pumped.cause);
}

// On Stop after some frames a video asks whether to keep them.
enum class StopAnswer { kNotAsked, kKeep, kDiscard };
StopAnswer AskKeepPartial(IOperator& op, const ItemPlan& plan, const PumpResult& pumped) {
    if (pumped.status != PumpStatus::kStopped || pumped.moved == 0 || !plan.askKeepPartial)
        return StopAnswer::kNotAsked;
    return MessageById(op, kMsgQuestion, kIconQuestion, IDS_ABORTED_LEAVE_INCOMPLETE) == kResultYes
               ? StopAnswer::kKeep
               : StopAnswer::kDiscard;
}

}  // namespace

bool CheckRoom(IOperator& op, const CSDCard& card, int64_t needed) {
    const int64_t freeClusters = card.FreeClusters();
    if (needed <= freeClusters) return true;
    int64_t missingBytes = (needed - freeClusters) * static_cast<int64_t>(kClusterSize);
    std::string size = SizeText(static_cast<int32_t>(std::min<int64_t>(missingBytes / 1000000, INT32_MAX)));
    MessageById(op, kMsgNotice, kIconError, IDS_NOT_ENOUGH_SPACE, size.c_str());
    return false;
}

WriteConfirm ConfirmItemWrite(IOperator& op, const CSDCard& card, int64_t frames, int clustersPerFrame) {
    if (!CheckRoom(op, card, frames * clustersPerFrame + kThumbnailClusters)) return WriteConfirm::kNoRoom;
    const std::string duration = DurationText(frames, clustersPerFrame, card.DisplayRate());
    if (MessageById(op, kMsgQuestion, kIconQuestion, IDS_CONFIRM_VIDEO_DURATION, duration.c_str()) != kResultYes)
        return WriteConfirm::kDeclined;
    return WriteConfirm::kGo;
}

ItemWriteOutcome WriteItem(IOperator& op, CSDCard& card, ISlotSource& source, const ItemPlan& plan) {
    ItemWriteOutcome out;
    const int cpf = plan.clustersPerFrame;
    const int writeClusters = plan.writeClusters > 0 ? plan.writeClusters : cpf;
    const size_t slotBytes = static_cast<size_t>(writeClusters) * kClusterSize;
    const uint64_t frames = plan.frames;
    if (cpf <= 0 || writeClusters > cpf || frames == 0 || frames > kMaxEntryFrames) {
        out.result = OpResult::kFailed;
        return out;
    }

    const int64_t first = PlaceItem(op, card, plan);
    if (first < 0) return out;
    out.firstCluster = first;

    CSlotBuffer buffer;
    if (!buffer.Allocate(slotBytes)) {
        ErrorById(op, plan.readErrorText);
        out.result = OpResult::kFailed;
        return out;
    }

    const int64_t total = static_cast<int64_t>(frames) + 1;
    if (plan.ownProgress) {
        op.BeginProgress(total, ProgressUnit::kFrames, static_cast<int64_t>(cpf) * kClusterSize);
        op.Refresh(kRefreshCardLine);
    }

    uint8_t thumbBlock[kThumbBlockBytes];
    std::memset(thumbBlock, 0, sizeof thumbBlock);
    CThumbnailMaker maker(plan.sizeClass);
    CSlotBuffer thumbSlot;
    // Declared last: joins its thread before the buffers above go away.
    CThumbnailJob thumbJob;

    PumpRules rules;
    rules.pumpBeforePut = rules.pumpAfterPut = rules.reportProgress = plan.ownProgress;
    if (plan.hasThumbnail && !plan.thumbnailBlock && plan.thumbnailFrame >= 0) {
        const uint64_t wanted = static_cast<uint64_t>(plan.thumbnailFrame);
        // The thumbnail is made beside the copy, from a copy of the slot, so
        // that decoding it does not hold up the card writes.
        rules.afterPut = [&, wanted](uint64_t i, const uint8_t* slot) {
            if (i == wanted && !thumbJob.Started() && thumbSlot.Allocate(slotBytes)) {
                std::memcpy(thumbSlot.Data(), slot, slotBytes);
                thumbJob.Start(maker, thumbSlot.Data(), writeClusters, thumbBlock);
            }
        };
    }
    CCardSlotSink sink(card, static_cast<uint32_t>(first), static_cast<uint32_t>(cpf), static_cast<uint32_t>(writeClusters));
    const auto started = std::chrono::steady_clock::now();
    PumpResult pumped = PumpSlots(op, source, sink, frames, buffer.Data(), slotBytes, rules);

    bool thumbMade = thumbJob.Wait();
    const auto elapsed = std::chrono::duration_cast<std::chrono::seconds>(std::chrono::steady_clock::now() - started);
    LogMessage(2, "elapsed time = %d sec", static_cast<int>(elapsed.count()));
    buffer.Free();
    const bool failed = pumped.status == PumpStatus::kReadError || pumped.status == PumpStatus::kWriteError;
    // Progress is reported only on the write's own scale.
    auto progress = [&](bool error) {
        if (plan.ownProgress) op.SetProgress(total, error);
    };
    progress(failed);

    out.framesWritten = pumped.moved;
    out.cause = pumped.cause;
    const StopAnswer asked = AskKeepPartial(op, plan, pumped);
    const bool kept = asked == StopAnswer::kKeep;
    const bool stopped = pumped.status == PumpStatus::kStopped && !kept;
    const bool messageShown = asked != StopAnswer::kNotAsked;

    if (stopped) {
        progress(true);
        if (!messageShown) MessageById(op, kMsgNotice, kIconWarning, IDS_OPERATION_ABORTED);
        out.result = OpResult::kStopped;
    } else if (failed) {
        progress(true);
        ReportPumpFailure(op, plan, pumped);
        out.writeError = pumped.status == PumpStatus::kWriteError;
        out.result = OpResult::kFailed;
    } else if (!CommitPlannedItem(card, plan, first, pumped.moved, thumbMade, thumbBlock)) {
        out.writeError = true;
        progress(true);
        out.result = OpResult::kFailed;
    } else {
        out.thumbnailFromFrame = thumbMade;
        out.result = kept ? OpResult::kKeptPartial : OpResult::kDone;
        out.slot = plan.index;
        op.Refresh(kRefreshLists | kRefreshCardLine);
        if (!messageShown && plan.reportDone) MessageById(op, kMsgNotice, kIconInformation, IDS_WRITE_COMPLETED);
    }

    if (plan.ownProgress) op.EndProgress();
    unsigned refresh = kRefreshCardLine;
    if (out.writeError) refresh |= kRescanMedia;
    op.Refresh(refresh);
    return out;
}

}  // namespace rk
