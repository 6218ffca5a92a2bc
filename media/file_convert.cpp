#include "media/file_convert.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

#include "base/fd_io.h"
#include "base/log.h"
#include "base/safe_open.h"
#include "base/string_ids.h"
#include "card/video_modes.h"
#include "codec/kavq1_slot.h"
#include "convert/kavq1_file_converter.h"
#include "convert/kavq1_file_encoder.h"
#include "media/slot_stream.h"
#include "ui/operator.h"

namespace rk {

namespace {

FileConvertOutcome Failed(IOperator& op, int textId, const std::string& detail) {
    ErrorWithDetail(op, textId, detail);
    FileConvertOutcome out;
    out.result = OpResult::kFailed;
    out.cause = detail;
    return out;
}

// Syncs and closes the output; the cause when either fails.
bool CloseOutput(CFileHandle& file, bool wroteSomething, std::string& cause) {
    if (::fsync(file.fd) != 0 && wroteSomething && errno != EINVAL) {
        cause = std::strerror(errno);
        file.Close();
        return false;
    }
    if (!file.Close()) {
        cause = std::strerror(errno);
        return false;
    }
    return true;
}

}  // namespace

FileConvertOutcome EncodeToKAVQ1File(IOperator& op, const std::string& source, const std::string& output, int mode,
                                     const ImportOptions& options, const ConvertStarted& started) {
    const VideoMode& m = VideoModeAt(mode);
    // ffmpeg opens the source itself: a FIFO or a device there would keep it
    // (and us, waiting for its first picture) stuck. Refused before it starts.
    std::string why;
    if (!CheckInputPath(source, &why)) return Failed(op, IDS_CANT_OPEN_VIDEO, why);
    if (!CheckOutputPath(output, &why)) return Failed(op, IDS_ERROR_WRITING_FILE, why);
    KAVQ1FileEncoder encoder(source, m.sizeClass, FrameBudgetSectors(m.clustersPerFrame), m.frameRate,
                             options.limitedRange, options.deinterlace);
    if (!encoder.IsOpened()) return Failed(op, IDS_CANT_OPEN_VIDEO, source + ": " + encoder.FailureCause());
    FileConvertOutcome out;
    out.frames = encoder.FrameCount() > 0 ? uint64_t(encoder.FrameCount()) : 0;
    const size_t slotBytes = static_cast<size_t>(encoder.SlotBytes());
    CFileHandle file(OpenOutputFile(output, &why));
    if (file.fd < 0) return Failed(op, IDS_ERROR_WRITING_FILE, why);
    LogMessage(1, "encode: %s to %s, mode %d, %llu frames", source.c_str(), output.c_str(), mode,
               static_cast<unsigned long long>(out.frames));
    if (started) started(out.frames, encoder.HasAudio());

    op.BeginProgress(static_cast<int64_t>(out.frames) + 1, ProgressUnit::kFrames, static_cast<int64_t>(slotBytes));
    std::vector<uint8_t> slot(slotBytes);
    CEncoderSlotSource slots(encoder);
    CFileSlotSink sink(file.fd);
    const PumpResult r = PumpSlots(op, slots, sink, out.frames, slot.data(), slotBytes);
    out.framesMoved = r.moved;
    std::string cause = r.cause;
    const bool stopped = r.status == PumpStatus::kStopped;
    const bool readError = r.status == PumpStatus::kReadError;
    bool writeError = r.status == PumpStatus::kWriteError;
    if (!writeError && !CloseOutput(file, r.moved > 0, cause)) writeError = true;
    op.SetProgress(static_cast<int64_t>(out.frames) + 1, stopped || readError || writeError);
    op.EndProgress();

    if (stopped) {
        MessageById(op, kMsgNotice, kIconWarning, IDS_OPERATION_ABORTED);
        out.result = OpResult::kStopped;
    } else if (writeError) {
        ErrorWithDetail(op, IDS_ERROR_WRITING_FILE, output + (cause.empty() ? "" : ": " + cause));
        out.result = OpResult::kFailed;
    } else if (readError) {
        ErrorWithDetail(op, IDS_ERROR_READING_VIDEO, source);
        ::unlink(output.c_str());
        out.result = OpResult::kFailed;
    } else {
        MessageById(op, kMsgNotice, kIconInformation, IDS_WRITE_COMPLETED);
        out.result = OpResult::kDone;
    }
    out.cause = cause;
    return out;
}

namespace {

// The sound of every slot to the converter, before the first picture: ffmpeg
// reads it from a file that must be complete by then.
PumpStatus PushSound(IOperator& op, int fd, KAVQ1FileConverter& converter, uint64_t frames, size_t slotBytes,
                     uint8_t* slot) {
    for (uint64_t i = 0; i < frames; ++i) {
        if (ReadWholeAt(fd, i * slotBytes, slot, kClusterBytes) != 1) return PumpStatus::kReadError;
        if (!converter.PushAudio(slot)) return PumpStatus::kWriteError;
        if (op.PumpMessages()) return PumpStatus::kStopped;
    }
    return PumpStatus::kOk;
}

}  // namespace

FileConvertOutcome ExportKAVQ1ToProRes(IOperator& op, const std::string& input, const std::string& output,
                                       const ConvertStarted& started) {
    std::string why;
    CFileHandle file(OpenInputFile(input, &why));
    if (file.fd < 0) return Failed(op, IDS_CANT_OPEN_VIDEO, why);
    // ffmpeg writes the output itself: it must be a file, not something an
    // open for writing waits on.
    if (!CheckOutputPath(output, &why)) return Failed(op, IDS_ERROR_WRITING_FILE, why);
    struct stat st {};
    std::vector<uint8_t> head(2 * kClusterBytes, 0);
    if (::fstat(file.fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_size < static_cast<off_t>(head.size()) ||
        ReadWholeAt(file.fd, 0, head.data(), head.size()) != 1)
        return Failed(op, IDS_INVALID_VIDEO_FORMAT, input);
    KAVQ1FileConverter converter(head.data(), head.size());
    if (!converter.IsValid()) return Failed(op, IDS_INVALID_VIDEO_FORMAT, input);
    const size_t slotBytes = static_cast<size_t>(converter.SlotBytes());
    FileConvertOutcome out;
    out.frames = KAVQ1FrameCount(static_cast<uint64_t>(st.st_size), static_cast<int>(slotBytes));
    if (out.frames == 0) return Failed(op, IDS_INVALID_VIDEO_FORMAT, input);
    if (started) started(out.frames, converter.AudioOn());

    op.BeginProgress(static_cast<int64_t>(out.frames) + 1, ProgressUnit::kFrames, static_cast<int64_t>(slotBytes));
    std::vector<uint8_t> slot(slotBytes);
    bool error = false, stopped = false;
    // Every failure below shows its text once: reading the file or writing
    // through the tool.
    auto fail = [&](int textId, const std::string& detail) {
        if (!error) ErrorWithDetail(op, textId, detail);
        if (!error) out.cause = detail;
        error = true;
    };
    if (!converter.Open(output)) {
        fail(IDS_ERROR_WRITING_FILE,
             output + ": " + (converter.Cause().empty() ? "the tool did not start" : converter.Cause()));
    } else if (converter.AudioOn()) {
        const PumpStatus sound = PushSound(op, file.fd, converter, out.frames, slotBytes, slot.data());
        stopped = sound == PumpStatus::kStopped;
        if (sound == PumpStatus::kReadError) fail(IDS_ERROR_READING_VIDEO, input);
        if (sound == PumpStatus::kWriteError) fail(IDS_ERROR_WRITING_FILE, output);
    }
    if (!error && !stopped) {
        CFileSlotSource source(file.fd);
        CProResSlotSink sink(converter);
        PumpRules rules;
        rules.pumpAfterPut = false;
        const PumpResult r = PumpSlots(op, source, sink, out.frames, slot.data(), slotBytes, rules);
        out.framesMoved = r.moved;
        stopped = r.status == PumpStatus::kStopped;
        if (r.status == PumpStatus::kReadError) fail(IDS_ERROR_READING_VIDEO, input);
        // A frame that does not decode, or the tool giving up.
        if (r.status == PumpStatus::kWriteError)
            fail(IDS_ERROR_READING_VIDEO, input + (r.cause.empty() ? "" : ": " + r.cause));
    }
    if (stopped || error) converter.SetStallLimitMs(10000);
    if (!stopped && !error && !converter.Finish())
        fail(IDS_ERROR_WRITING_FILE, output + (converter.Cause().empty() ? "" : ": " + converter.Cause()));
    op.SetProgress(static_cast<int64_t>(out.frames) + 1, stopped || error);
    op.EndProgress();
    if (stopped) {
        MessageById(op, kMsgNotice, kIconWarning, IDS_OPERATION_ABORTED);
        out.result = OpResult::kStopped;
    } else if (error) {
        out.result = OpResult::kFailed;
    } else {
        MessageById(op, kMsgNotice, kIconInformation, IDS_READ_COMPLETED);
        out.result = OpResult::kDone;
    }
    return out;
}

}  // namespace rk
