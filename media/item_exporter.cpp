#include "media/item_exporter.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>

#include "base/fd_io.h"
#include "base/log.h"
#include "base/safe_open.h"
#include "base/string_ids.h"
#include "card/sd_card.h"
#include "convert/kavq1_file_converter.h"
#include "media/slot_buffer.h"
#include "media/slot_stream.h"
#include "ui/operator.h"

namespace rk {

namespace {

// The sound of every frame's head cluster, before the first picture: the
// converter needs the whole sound file before it starts on the pictures.
bool PushAudioPass(IOperator& op, CSDCard& card, const EntryHead& head, KAVQ1FileConverter& conv, uint8_t* cluster,
                   bool& stopped) {
    for (uint32_t i = 0; i < head.numFrames; ++i) {
        if (!card.ReadCluster(head.startCluster + i * uint32_t(head.clustersPerFrame), cluster) || !conv.PushAudio(cluster))
            return false;
        if (op.PumpMessages()) {
            stopped = true;
            return true;
        }
    }
    return true;
}

}  // namespace

ExportOutcome ExportItem(IOperator& op, CSDCard& card, const ExportPlan& plan) {
    ExportOutcome out;
    {
        // Never onto the card being read, whatever was answered before.
        std::string why;
        if (WritesOntoCard(plan.outputPath, card.Path(), &why)) {
            ErrorWithDetail(op, IDS_ERROR_WRITING_FILE, why);
            return out;
        }
    }
    const EntryHead& head = plan.head;
    const uint32_t cpf = head.clustersPerFrame;
    const uint32_t readClusters = plan.readClusters > 0 ? uint32_t(plan.readClusters) : cpf;
    const uint32_t frames = head.numFrames;

    std::unique_ptr<KAVQ1FileConverter> converter;
    size_t bufferBytes = size_t(readClusters) * kClusterSize;
    if (plan.prores || plan.checkFrameHeader) {
        // The first two Clusters carry the head cluster and the frame header.
        uint8_t start[2 * kClusterSize];
        if (!card.ReadClusters(head.startCluster, start, 2)) return out;  // the card has shown its message
        converter = std::make_unique<KAVQ1FileConverter>(start, sizeof start);
        // An entry whose slots are too small for a frame is not a video this
        // system can read.
        if (!converter->IsValid() || cpf < 2) {
            ErrorById(op, IDS_INVALID_VIDEO_FORMAT);
            return out;
        }
        // The decoder may be told of a larger budget by the frame header: the
        // buffer covers that too, with zeros behind the slot.
        bufferBytes = std::max(bufferBytes, static_cast<size_t>(converter->SlotBytes()));
    }
    CSlotBuffer buffer;
    if (!buffer.Allocate(bufferBytes)) {
        ErrorById(op, IDS_ERROR_WRITING_FILE);
        return out;
    }
    std::memset(buffer.Data(), 0, bufferBytes);

    op.BeginProgress(static_cast<int64_t>(frames) + 1, ProgressUnit::kFrames, int64_t(readClusters) * kClusterSize);
    op.Refresh(kRefreshCardLine);

    bool error = false;
    bool stopped = false;
    CFileHandle file;
    auto FileError = [&](int errnum) {
        ErrorWithDetail(op, IDS_ERROR_WRITING_FILE, FileCause(plan.outputPath, errnum));
        error = true;
    };
    if (!plan.prores) {
        // Only a regular file: a FIFO or a device there would make the open
        // or the writes wait for ever.
        std::string why;
        file.fd = OpenOutputFile(plan.outputPath, &why);
        if (file.fd < 0) {
            ErrorWithDetail(op, IDS_ERROR_WRITING_FILE, why);
            error = true;
        }
        else if (!plan.header.empty() && !WriteWhole(file.fd, plan.header.data(), plan.header.size())) FileError(errno ? errno : EIO);
    } else {
        std::string why;
        if (!CheckOutputPath(plan.outputPath, &why) || !converter->Open(plan.outputPath)) {
            if (why.empty()) why = plan.outputPath + (converter->Cause().empty() ? "" : ": " + converter->Cause());
            ErrorWithDetail(op, IDS_ERROR_WRITING_FILE, why);
            error = true;
        } else if (converter->AudioOn() && !PushAudioPass(op, card, head, *converter, buffer.Data(), stopped)) {
            error = true;  // the card has shown its message, or the tool no longer reads
        }
    }

    if (!stopped && !error) {
        CCardSlotSource source(card, head.startCluster, cpf, readClusters);
        CFileSlotSink fileSink(file.fd, size_t(readClusters) * kClusterSize);
        std::unique_ptr<CProResSlotSink> proresSink;
        if (plan.prores) proresSink = std::make_unique<CProResSlotSink>(*converter);
        ISlotSink& sink = plan.prores ? static_cast<ISlotSink&>(*proresSink) : fileSink;
        PumpRules rules;
        rules.pumpAfterPut = false;
        rules.progressOffset = 0;
        rules.emptySourceFails = false;
        PumpResult r = PumpSlots(op, source, sink, frames, buffer.Data(), bufferBytes, rules);
        out.framesRead = r.moved;
        if (r.status == PumpStatus::kStopped) stopped = true;
        else if (r.status == PumpStatus::kReadError) error = true;  // the card has shown its message
        else if (r.status == PumpStatus::kWriteError) {
            if (plan.prores) {
                // A frame that does not decode, or the tool giving up.
                LogMessage(2, "ExportItem(): frame %llu not exported", static_cast<unsigned long long>(r.moved));
                ErrorWithDetail(op, IDS_ERROR_READING_VIDEO,
                                plan.outputPath + (r.cause.empty() ? "" : ": " + r.cause));
                error = true;
            } else {
                FileError(errno ? errno : EIO);
            }
        }
        // Item files carry the thumbnail block behind their slots.
        if (!stopped && !error && plan.trailingClusters > 0) {
            const uint32_t at = uint32_t(head.ThumbnailCluster());
            for (int c = 0; c < plan.trailingClusters && !error; ++c) {
                if (!card.ReadCluster(at + uint32_t(c), buffer.Data())) error = true;
                else if (!WriteWhole(file.fd, buffer.Data(), kClusterSize)) FileError(errno ? errno : EIO);
            }
        }
    }
    buffer.Free();

    if (!plan.prores && file.fd >= 0 && !file.Close() && !error) FileError(errno ? errno : EIO);  // the last data may fail only at close
    // The ".mov" is complete only when the tool has finished it: wait for it
    // before telling the operator anything.
    if (plan.prores && !stopped && !error && !converter->Finish()) {
        ErrorWithDetail(op, IDS_ERROR_WRITING_FILE,
                        plan.outputPath + (converter->Cause().empty() ? "" : ": " + converter->Cause()));
        error = true;
    }
    op.SetProgress(static_cast<int64_t>(frames) + 1, error);
    // After Stop or a failure the partial ".mov" is not worth a long wait:
    // the tool gets a short while to finish what it has, then it is ended.
    if (plan.prores && (stopped || error)) converter->SetStallLimitMs(10000);

    if (stopped) {
        MessageById(op, kMsgNotice, kIconWarning, IDS_OPERATION_ABORTED);
        out.result = ExportResult::kAborted;
    } else if (!error) {
        MessageById(op, kMsgNotice, kIconInformation, IDS_READ_COMPLETED);
        out.result = ExportResult::kDone;
    } else {
        out.result = ExportResult::kFailed;
    }
    op.EndProgress();
    op.Refresh(kRefreshCardLine);
    return out;
}

}  // namespace rk
