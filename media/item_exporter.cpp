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

// Reads the first two Clusters of the item (the head cluster and the frame
// header) into a converter, which says whether the entry is a video this
// system reads and how large a slot the decoder may be told of (the buffer
// covers that too, with zeros behind the slot). False when a message was shown.
bool ReadFrameStart(IOperator& op, CSDCard& card, const EntryHead& head,
                    std::unique_ptr<KAVQ1FileConverter>& converter, size_t& bufferBytes) {
    uint8_t start[2 * kClusterSize];
    if (!card.ReadClusters(head.startCluster, start, 2)) return false;  // the card has shown its message
    converter = std::make_unique<KAVQ1FileConverter>(start, sizeof start);
    // An entry whose slots are too small for a frame is not a video this
    // system can read.
    if (!converter->IsValid() || head.clustersPerFrame < 2) {
        ErrorById(op, IDS_INVALID_VIDEO_FORMAT);
        return false;
    }
    bufferBytes = std::max(bufferBytes, static_cast<size_t>(converter->SlotBytes()));
    return true;
}

void ShowFileError(IOperator& op, const ExportPlan& plan, int errnum) {
    ErrorWithDetail(op, IDS_ERROR_WRITING_FILE, FileCause(plan.outputPath, errnum));
}

// Opens where the slots go: a regular file with the item's header in front,
// or the converter, given the sound first. False when an error was shown
// (by the card, when its read failed).
bool OpenTarget(IOperator& op, CSDCard& card, const ExportPlan& plan, KAVQ1FileConverter* converter,
                CFileHandle& file, uint8_t* cluster, bool& stopped) {
    std::string why;
    if (!plan.prores) {
        // Only a regular file: a FIFO or a device there would make the open
        // or the writes wait for ever.
        file.fd = OpenOutputFile(plan.outputPath, &why);
        if (file.fd < 0) {
            ErrorWithDetail(op, IDS_ERROR_WRITING_FILE, why);
            return false;
        }
        if (!plan.header.empty() && !WriteWhole(file.fd, plan.header.data(), plan.header.size())) {
            ShowFileError(op, plan, errno ? errno : EIO);
            return false;
        }
        return true;
    }
    if (!CheckOutputPath(plan.outputPath, &why) || !converter->Open(plan.outputPath)) {
        if (why.empty()) why = plan.outputPath + (converter->Cause().empty() ? "" : ": " + converter->Cause());
        ErrorWithDetail(op, IDS_ERROR_WRITING_FILE, why);
        return false;
    }
    // The card has shown its message, or the tool no longer reads.
    return !converter->AudioOn() || PushAudioPass(op, card, plan.head, *converter, cluster, stopped);
}

// Item files carry the thumbnail block behind their slots. False when an
// error was shown.
bool AppendTrailing(IOperator& op, CSDCard& card, const ExportPlan& plan, int fd, uint8_t* cluster) {
    const uint32_t at = uint32_t(plan.head.ThumbnailCluster());
    for (int c = 0; c < plan.trailingClusters; ++c) {
        if (!card.ReadCluster(at + uint32_t(c), cluster)) return false;
        if (!WriteWhole(fd, cluster, kClusterSize)) {
            ShowFileError(op, plan, errno ? errno : EIO);
            return false;
        }
    }
    return true;
}

}  // namespace

ExportOutcome ExportItem(IOperator& op, CSDCard& card, const ExportPlan& plan) {
    ExportOutcome out;
    out.result = OpResult::kFailed;  // until the pump says otherwise
    if (RefuseOutputOntoCard(op, plan.outputPath, card.Path())) return out;
    const EntryHead& head = plan.head;
    const uint32_t cpf = head.clustersPerFrame;
    const uint32_t readClusters = plan.readClusters > 0 ? uint32_t(plan.readClusters) : cpf;
    const uint32_t frames = head.numFrames;

    std::unique_ptr<KAVQ1FileConverter> converter;
    size_t bufferBytes = size_t(readClusters) * kClusterSize;
    if ((plan.prores || plan.checkFrameHeader) && !ReadFrameStart(op, card, head, converter, bufferBytes)) return out;
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
        ShowFileError(op, plan, errnum);
        error = true;
    };
    if (!OpenTarget(op, card, plan, converter.get(), file, buffer.Data(), stopped)) error = true;

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
        if (!stopped && !error && !AppendTrailing(op, card, plan, file.fd, buffer.Data())) error = true;
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
        out.result = OpResult::kStopped;
    } else if (!error) {
        MessageById(op, kMsgNotice, kIconInformation, IDS_READ_COMPLETED);
        out.result = OpResult::kDone;
    } else {
        out.result = OpResult::kFailed;
    }
    op.EndProgress();
    op.Refresh(kRefreshCardLine);
    return out;
}

}  // namespace rk
