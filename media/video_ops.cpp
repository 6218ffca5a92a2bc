#include "media/video_ops.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <system_error>
#include <thread>
#include <utility>

#include "base/log.h"
#include "base/fd_io.h"
#include "base/string_ids.h"
#include "base/texts.h"
#include "card/allocator.h"
#include "card/card_directory.h"
#include "card/card_item.h"
#include "card/sd_card.h"
#include "card/video_modes.h"
#include "codec/kavq1_slot.h"
#include "codec/kvq1_format.h"
#include "convert/kavq1_file_converter.h"
#include "convert/app_launch.h"
#include "convert/kavq1_file_encoder.h"
#include "base/path_util.h"
#include "base/safe_open.h"
#include "media/item_exporter.h"
#include "media/item_writer.h"
#include "media/picture_sequence.h"
#include "media/slot_buffer.h"
#include "media/slot_stream.h"
#include "ui/operator.h"

namespace rk {

int LowestFreeVideoSlot(const CardDirectory& dir) { return LowestFreeSlot(dir, CardItem::kVideo); }

std::string CutVideoName(std::string name) { return CutEntryName(name); }

std::string VideoNameFromPath(const std::string& path) { return CutVideoName(StemOf(path)); }

bool IsKAVQ1Path(const std::string& path) { return ExtensionIs(path, ".kavq1"); }
bool IsMovPath(const std::string& path) { return ExtensionIs(path, ".mov"); }

AddVideoOutcome AddVideo(IOperator& op, CSDCard& card, int slot, std::string& rememberedPath,
                         const ImportOptions& options) {
    if (slot < 0 || slot >= kVideoCount) return {};
    FileChoice choice;
    choice.filter = LoadText(IDS_FILTER_ALL_FILES);
    choice.initialName = rememberedPath;
    choice.title = LoadText(IDS_TITLE_ADD_VIDEO);
    std::string path;
    if (!op.ChooseOpenFile(choice, path)) return {};
    rememberedPath = path;
    // Repaint at once, before any long work.
    op.Refresh(kRefreshCardLine);
    return AddVideoFromPath(op, card, slot, path, options);
}

namespace {

// The slots of a KAVQ1 file, each checked as it is copied: a file whose
// first slot is sound can still be damaged further on, and a slot that is
// not a frame of this card's kind (or out of sequence) would be written as
// part of a video that does not play. The head cluster and the frame header
// only; decoding belongs to a card check.
class CCheckedKAVQ1Source : public CFileSlotSource {
public:
    CCheckedKAVQ1Source(int fd, int sizeClass, int rateCode, int slotBytes)
        : CFileSlotSource(fd), sizeClass_(sizeClass), rateCode_(rateCode), slotBytes_(slotBytes) {}
    int Next(uint8_t* slot, size_t bytes) override {
        const int got = CFileSlotSource::Next(slot, bytes);
        if (got <= 0) return got;
        // Frames count on from the first slot's number.
        if (frame_ == 0 && !started_ && bytes >= 12) frame_ = ReadBE32(slot + 8);
        started_ = true;
        if (const char* fault = KAVQ1SlotFault(slot, bytes, sizeClass_, rateCode_, slotBytes_, frame_)) {
            cause_ = "frame " + std::to_string(frame_) + ": " + fault;
            return -1;
        }
        ++frame_;
        return got;
    }

private:
    int sizeClass_, rateCode_, slotBytes_;
    uint32_t frame_ = 0;
    bool started_ = false;
};

}  // namespace

namespace {

// What an add copies from: the slots, how many frames they promise and what
// keeps them alive while they are read. `result` is kDone when the source
// opened; otherwise the person has been told (kFailed, kStopped) or it was
// cancelled (kRefused).
struct VideoSource {
    OpResult result = OpResult::kFailed;
    CFileHandle file;
    std::unique_ptr<KAVQ1FileEncoder> encoder;
    std::unique_ptr<ISlotSource> slots;
    uint64_t frameCount = 0;
    std::string runName;  // a picture run is named after its first picture
};

// A refusal before the copy: the detail names the source and what is wrong
// with it. Nothing is written.
OpResult Refuse(IOperator& op, int textId, const std::string& detail = {}) {
    if (detail.empty()) ErrorById(op, textId);
    else ErrorWithDetail(op, textId, detail);
    return OpResult::kFailed;
}

// What a KAVQ1 file was made for, for the refusal of one the card does not take.
std::string DescribeFrames(int sizeClass, int rate, int sectors) {
    return "size class " + std::to_string(sizeClass) + ", rate code " + std::to_string(rate) + ", " +
           std::to_string(sectors) + "-sector frames";
}

// A .kavq1 file, copied slot by slot after its first slot shows it was made
// for this card's mode.
void OpenKAVQ1Source(IOperator& op, CSDCard& card, const std::string& source, VideoSource& src) {
    const VideoMode& mode = VideoModeAt(card.VideoMode());
    const size_t slotBytes = static_cast<size_t>(card.ClustersPerFrame()) * kClusterSize;
    // Opened without blocking, so that a FIFO given a .kavq1 name cannot
    // hang the operation: only a regular file is a KAVQ1 file.
    std::string why;
    src.file.fd = OpenInputFile(source, &why);
    struct stat st {};
    if (src.file.fd < 0) { src.result = Refuse(op, IDS_CANT_OPEN_VIDEO, why); return; }
    if (::fstat(src.file.fd, &st) != 0) { src.result = Refuse(op, IDS_CANT_OPEN_VIDEO, FileCause(source, errno)); return; }
    const uint64_t length = static_cast<uint64_t>(st.st_size);
    if (length >= slotBytes) {
        CSlotBuffer first;
        if (!first.Allocate(slotBytes)) { src.result = Refuse(op, IDS_CANT_OPEN_VIDEO, FileCause(source, ENOMEM)); return; }
        errno = 0;
        if (ReadWholeAt(src.file.fd, 0, first.Data(), slotBytes) <= 0) {
            src.result = Refuse(op, IDS_ERROR_READING_VIDEO, FileCause(source, errno ? errno : EIO));
            return;
        }
        const int budgetBytes = static_cast<int>(slotBytes) - int(kClusterSize);
        switch (CheckKAVQ1Slot(first.Data(), slotBytes, mode.sizeClass, mode.frameRate, static_cast<int>(slotBytes))) {
        case KAVQ1Check::Ok:
            break;
        case KAVQ1Check::Invalid:
            src.result = Refuse(op, IDS_INVALID_VIDEO_FORMAT, source + ": no KVQ1 frame in its first slot");
            return;
        case KAVQ1Check::Unsupported: {
            const uint8_t* h = first.Data() + kClusterSize;
            src.result = Refuse(op, IDS_UNSUPPORTED_VIDEO_FORMAT,
                                source + ": made for " + DescribeFrames(h[4], h[5], int(ReadBE16(h + 6))) +
                                    "; the card is " + VideoModeName(card.VideoMode()) + " (" +
                                    DescribeFrames(mode.sizeClass, mode.frameRate, budgetBytes / int(kSectorSize)) +
                                    ")");
            return;
        }
        }
    }
    src.frameCount = KAVQ1FrameCount(length, static_cast<int>(slotBytes));
    if (src.frameCount == 0) {
        src.result = Refuse(op, IDS_VIDEO_TOO_SHORT,
                            source + ": " + std::to_string(length) + " bytes, less than one frame slot of this card (" +
                                std::to_string(slotBytes) + " bytes)");
        return;
    }
    ::posix_fadvise(src.file.fd, 0, 0, POSIX_FADV_SEQUENTIAL);
    src.slots = std::make_unique<CCheckedKAVQ1Source>(src.file.fd, mode.sizeClass, mode.frameRate,
                                                      static_cast<int>(slotBytes));
    src.result = OpResult::kDone;
}

// Anything else ffmpeg reads, or a numbered run of pictures, imported by
// the encoder as the slots are written.
void OpenImportSource(IOperator& op, CSDCard& card, const std::string& source, const ImportOptions& options,
                      VideoSource& src) {
    const VideoMode& mode = VideoModeAt(card.VideoMode());
    const int cpf = card.ClustersPerFrame();
    const VideoPictures pictures = FindVideoPictures(op, card, source, options);
    if (pictures.from == VideoPicturesFrom::kCancelled) { src.result = OpResult::kRefused; return; }
    if (pictures.from == VideoPicturesFrom::kFailed) { src.result = Refuse(op, IDS_CANT_OPEN_VIDEO, pictures.cause); return; }
    const bool run = pictures.from == VideoPicturesFrom::kRun;
    if (run) src.runName = VideoNameFromPath(pictures.pictures[0]);
    // ffmpeg opens the source itself: a FIFO, a folder or a device there
    // would keep it waiting for ever, and us waiting for its pictures.
    std::string why;
    if (!run && !CheckInputPath(source, &why)) { src.result = Refuse(op, IDS_CANT_OPEN_VIDEO, why); return; }
    // The tools' start-up (the probes) ends on Stop too.
    CToolStopScope stopScope([&op] { return op.StopRequestedWhileWaiting(); });
    if (run) {
        PictureRun pictureRun;
        pictureRun.pictures = pictures.pictures;
        pictureRun.rate = options.pictureRate;
        pictureRun.sound = options.sound;
        src.encoder = std::make_unique<KAVQ1FileEncoder>(pictureRun, mode.sizeClass, FrameBudgetSectors(cpf),
                                                         mode.frameRate, options.limitedRange);
    } else {
        src.encoder = std::make_unique<KAVQ1FileEncoder>(source, mode.sizeClass, FrameBudgetSectors(cpf),
                                                         mode.frameRate, options.limitedRange, options.deinterlace);
    }
    if (!src.encoder->IsOpened()) {
        if (stopScope.Fired()) {
            MessageById(op, kMsgNotice, kIconWarning, IDS_OPERATION_ABORTED);
            src.result = OpResult::kStopped;
            return;
        }
        // A run's causes name the picture or sound file concerned.
        src.result = Refuse(op, IDS_CANT_OPEN_VIDEO,
                            run ? src.encoder->FailureCause() : source + ": " + src.encoder->FailureCause());
        return;
    }
    src.frameCount = src.encoder->FrameCount() > 0 ? static_cast<uint64_t>(src.encoder->FrameCount()) : 0;
    src.slots = std::make_unique<CEncoderSlotSource>(*src.encoder);
    src.result = OpResult::kDone;
}

}  // namespace

AddVideoOutcome AddVideoFromPath(IOperator& op, CSDCard& card, int slot, const std::string& source,
                                 const ImportOptions& options, const std::string& nameOverride) {
    AddVideoOutcome out;
    if (slot < 0 || slot >= kVideoCount || card.Directory().Video(slot).Used()) return out;
    const int cpf = card.ClustersPerFrame();

    VideoSource src;
    if (IsKAVQ1Path(source)) OpenKAVQ1Source(op, card, source, src);
    else OpenImportSource(op, card, source, options, src);
    if (src.result != OpResult::kDone) {
        out.result = src.result;
        return out;
    }
    uint64_t frameCount = src.frameCount;
    // A source without a single frame would leave an empty entry behind a
    // "Write completed.": refuse it before asking anything.
    if (frameCount == 0) {
        out.result = Refuse(op, IDS_VIDEO_TOO_SHORT);
        return out;
    }
    // An entry records at most 65535 frames; a longer source is cut there
    // rather than wrapping the count, and the question shows what will be written.
    if (frameCount > kMaxEntryFrames) {
        LogMessage(2, "AddVideo(): %llu frames, only the first %llu fit one entry",
                   static_cast<unsigned long long>(frameCount), static_cast<unsigned long long>(kMaxEntryFrames));
        frameCount = kMaxEntryFrames;
    }
    out.frameCount = static_cast<int>(frameCount);

    switch (ConfirmItemWrite(op, card, static_cast<int64_t>(frameCount), cpf)) {
    case WriteConfirm::kGo: break;
    case WriteConfirm::kNoRoom: out.result = OpResult::kFailed; return out;
    case WriteConfirm::kDeclined: return out;
    }

    LogMessage(2, "CMainWin::AddVideo(): writing file %d, %d frames, %d clusters", slot, static_cast<int>(frameCount),
               static_cast<int>(frameCount * static_cast<uint64_t>(cpf)));

    ItemPlan plan;
    plan.kind = CardItem::kVideo;
    plan.index = slot;
    plan.frames = frameCount;
    plan.clustersPerFrame = cpf;
    plan.name = !nameOverride.empty()     ? CutVideoName(nameOverride)
                : !src.runName.empty()    ? src.runName
                                          : VideoNameFromPath(source);
    plan.sizeClass = VideoModeAt(card.VideoMode()).sizeClass;
    plan.thumbnailFrame = static_cast<int64_t>(frameCount / 2);
    plan.askKeepPartial = true;
    ItemWriteOutcome w = WriteItem(op, card, *src.slots, plan);

    static_cast<OpOutcome&>(out) = w;
    out.framesWritten = static_cast<int>(w.framesWritten);
    out.thumbnailFromFrame = w.thumbnailFromFrame;
    return out;
}

ReadVideoOutcome ReadVideo(IOperator& op, CSDCard& card, int listPosition) {
    if (listPosition < 0) return {};
    const int slot = card.VideoOfListPosition(listPosition);
    if (slot < 0 || !card.Directory().Video(slot).Used()) return {};
    // A name typed without an extension is a KAVQ1 file.
    std::string path;
    if (!ChooseOutputFile(op, IDS_TITLE_READ_VIDEO, IDS_FILTER_VIDEO_READ, "kavq1", path)) return {};
    return ReadVideoToFile(op, card, slot, path);
}

ReadVideoOutcome ReadVideoToFile(IOperator& op, CSDCard& card, int slot, const std::string& outputPath) {
    ReadVideoOutcome out;
    if (slot < 0 || slot >= kVideoCount) return out;
    ExportPlan plan;
    plan.head = card.Directory().Video(slot);
    if (!plan.head.Used()) return out;
    plan.outputPath = outputPath;
    plan.prores = IsMovPath(outputPath);
    plan.checkFrameHeader = true;
    ExportOutcome r = ExportItem(op, card, plan);
    static_cast<OpOutcome&>(out) = r;
    out.framesRead = static_cast<int>(r.framesRead);
    return out;
}

}  // namespace rk
