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
        out.result = ItemWriteResult::kFailed;
        return out;
    }

    // Place: a fixed place, or a run of the item area (which may compact).
    int64_t first = plan.placeAt;
    if (first < 0) {
        const int64_t needed = static_cast<int64_t>(frames) * cpf + (plan.hasThumbnail ? kThumbnailClusters : 0);
        first = AllocateClusters(card, op, static_cast<int32_t>(needed));
        if (first < 0) return out;
    }
    out.firstCluster = first;

    CSlotBuffer buffer;
    if (!buffer.Allocate(slotBytes)) {
        ErrorById(op, plan.readErrorText);
        out.result = ItemWriteResult::kFailed;
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
    bool stopped = pumped.status == PumpStatus::kStopped;
    bool messageShown = false;
    bool kept = false;
    if (stopped && pumped.moved > 0 && plan.askKeepPartial) {
        if (MessageById(op, kMsgQuestion, kIconQuestion, IDS_ABORTED_LEAVE_INCOMPLETE) == kResultYes) {
            stopped = false;
            kept = true;
        }
        messageShown = true;
    }

    if (stopped) {
        progress(true);
        if (!messageShown) MessageById(op, kMsgNotice, kIconWarning, IDS_OPERATION_ABORTED);
        out.result = ItemWriteResult::kAborted;
    } else if (failed) {
        progress(true);
        // A write error has already been reported by the card.
        if (pumped.status == PumpStatus::kReadError && !plan.quietFailure) {
            if (pumped.cause.empty()) ErrorById(op, plan.readErrorText);
            else ErrorWithDetail(op, plan.readErrorText, pumped.cause);
        }
        out.writeError = pumped.status == PumpStatus::kWriteError;
        out.result = ItemWriteResult::kFailed;
    } else {
        bool committed = true;
        if (plan.kind == CardItem::kTitleCard) {
            // A title card has no entry: the playlist's directory write that
            // follows flushes it first.
        } else {
            ItemEntry entry;
            entry.kind = plan.kind;
            entry.index = plan.index;
            entry.head.startCluster = static_cast<uint32_t>(first);
            entry.head.numFrames = static_cast<uint16_t>(pumped.moved);
            entry.head.clustersPerFrame = static_cast<uint16_t>(cpf);
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
            committed = card.CommitItem(entry, block);
        }
        if (!committed) {
            out.writeError = true;
            progress(true);
            out.result = ItemWriteResult::kFailed;
        } else {
            out.thumbnailFromFrame = thumbMade;
            out.result = kept ? ItemWriteResult::kKeptPartial : ItemWriteResult::kDone;
            op.Refresh(kRefreshLists | kRefreshCardLine);
            if (!messageShown && plan.reportDone) MessageById(op, kMsgNotice, kIconInformation, IDS_WRITE_COMPLETED);
        }
    }

    if (plan.ownProgress) op.EndProgress();
    unsigned refresh = kRefreshCardLine;
    if (out.writeError) refresh |= kRescanMedia;
    op.Refresh(refresh);
    return out;
}

}  // namespace rk
