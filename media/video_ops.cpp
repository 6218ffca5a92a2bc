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

#include "base/failure_cause.h"
#include "base/fd_io.h"
#include "base/log.h"
#include "base/safe_open.h"
#include "base/string_ids.h"
#include "base/texts.h"
#include "card/allocator.h"
#include "card/card_directory.h"
#include "card/sd_card.h"
#include "card/video_modes.h"
#include "codec/kavq1_slot.h"
#include "convert/kavq1_file_converter.h"
#include "convert/kavq1_file_encoder.h"
#include "media/slot_buffer.h"
#include "media/thumbnail.h"
#include "ui/operator.h"

namespace rk {

namespace {

// The most frames one entry can record: NumFrames is 16 bits wide.
constexpr uint64_t kMaxEntryFrames = 0xFFFF;

std::string FileNameOf(const std::string& path) {
    size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// The extension with its dot ("" when there is none), from the file name only.
std::string ExtensionOf(const std::string& path) {
    std::string name = FileNameOf(path);
    size_t dot = name.find_last_of('.');
    return dot == std::string::npos ? std::string() : name.substr(dot);
}

bool ExtensionIs(const std::string& path, const char* ext) {
    std::string e = ExtensionOf(path);
    if (e.size() != std::strlen(ext)) return false;
    for (size_t i = 0; i < e.size(); ++i) {
        char c = e[i];
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
        if (c != ext[i]) return false;
    }
    return true;
}

enum class ReadStatus { kOk, kReadError, kWriteError };

// The source of frame slots for one add: a KAVQ1 file or the import encoder.
class CSlotSource {
public:
    virtual ~CSlotSource() = default;
    // 1: a slot was filled; 0: no frame left; -1: the source failed.
    virtual int Next(uint8_t* slot, size_t slotBytes) = 0;
};

class CKAVQ1FileSource : public CSlotSource {
public:
    explicit CKAVQ1FileSource(int fd) : fd_(fd) {}
    int Next(uint8_t* slot, size_t slotBytes) override {
        int r = ReadWholeAt(fd_, offset_, slot, slotBytes);
        if (r > 0) offset_ += slotBytes;
        return r;
    }

private:
    int fd_;
    uint64_t offset_ = 0;
};

class CEncoderSource : public CSlotSource {
public:
    explicit CEncoderSource(KAVQ1FileEncoder& enc) : enc_(enc) {}
    int Next(uint8_t* slot, size_t slotBytes) override {
        std::memset(slot, 0, slotBytes);
        return enc_.GetNextFrame(slot) ? 1 : 0;
    }

private:
    KAVQ1FileEncoder& enc_;
};

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

// Saves one video entry's 264 bytes so that a failed commit leaves the
// in-memory directory as the card still has it.
struct SavedVideoEntry {
    uint8_t bytes[kVideoEntrySize];
    void Save(const CardDirectory& dir, int slot) {
        std::memcpy(bytes, dir.Bytes() + kOffVideos + kVideoEntrySize * static_cast<size_t>(slot), kVideoEntrySize);
    }
    void Restore(CardDirectory& dir, int slot) const {
        std::memcpy(dir.Bytes() + kOffVideos + kVideoEntrySize * static_cast<size_t>(slot), bytes, kVideoEntrySize);
    }
};

}  // namespace

int LowestFreeVideoSlot(const CardDirectory& dir) {
    for (int v = 0; v < kVideoCount; ++v)
        if (!dir.Video(v).Used()) return v;
    return -1;
}

std::string CutVideoName(std::string name) {
    // Cut at 127 UTF-16 code units without splitting a character: count the
    // units of each UTF-8 sequence (4-byte sequences are surrogate pairs).
    size_t units = 0, i = 0;
    while (i < name.size()) {
        unsigned char c = static_cast<unsigned char>(name[i]);
        size_t len = c < 0x80 ? 1 : (c >> 5) == 0x6 ? 2 : (c >> 4) == 0xE ? 3 : (c >> 3) == 0x1E ? 4 : 1;
        size_t u = len == 4 ? 2 : 1;
        if (units + u > static_cast<size_t>(kVideoNameMaxChars)) break;
        units += u;
        i = std::min(name.size(), i + len);
    }
    name.resize(i);
    return name;
}

std::string VideoNameFromPath(const std::string& path) {
    std::string name = FileNameOf(path);
    size_t dot = name.find_last_of('.');
    if (dot != std::string::npos) name.resize(dot);
    return CutVideoName(std::move(name));
}

bool IsKAVQ1Path(const std::string& path) { return ExtensionIs(path, ".kavq1"); }
bool IsMovPath(const std::string& path) { return ExtensionIs(path, ".mov"); }

AddVideoOutcome AddVideo(IOperator& op, CSDCard& card, int slot, std::string& rememberedPath,
                         const ImportOptions& options) {
    if (slot < 0 || slot >= kVideoCount) return {};
    FileChoice choice;
    choice.filter = LoadText(IDS_FILTER_ALL_FILES);
    choice.initialName = rememberedPath;
    std::string path;
    if (!op.ChooseOpenFile(choice, path)) return {};
    rememberedPath = path;
    // Repaint at once, before any long work.
    op.Refresh(kRefreshCardLine);
    return AddVideoFromFile(op, card, slot, path, options);
}

AddVideoOutcome AddVideoFromFile(IOperator& op, CSDCard& card, int slot, const std::string& source,
                                 const ImportOptions& options, const std::string& nameOverride) {
    AddVideoOutcome out;
    CardDirectory& dir = card.Directory();
    if (slot < 0 || slot >= kVideoCount || dir.Video(slot).Used()) return out;

    const VideoMode& mode = VideoModeAt(card.VideoMode());
    const int cpf = card.ClustersPerFrame();
    const size_t slotBytes = static_cast<size_t>(cpf) * kClusterSize;
    const std::string name = nameOverride.empty() ? VideoNameFromPath(source) : CutVideoName(nameOverride);
    const bool kavq1 = IsKAVQ1Path(source);
    // Every refusal before the copy: the operator is told, nothing is written.
    auto Fail = [&op, &out](int textId) {
        ErrorById(op, textId);
        out.result = VideoOpResult::kFailed;
        return out;
    };

    CFileHandle file;
    std::unique_ptr<KAVQ1FileEncoder> encoder;
    std::unique_ptr<CSlotSource> slots;
    uint64_t frameCount = 0;
    CSlotBuffer buffer;
    if (!buffer.Allocate(slotBytes)) return Fail(IDS_CANT_OPEN_VIDEO);

    if (kavq1) {
        // Opened without blocking, so that a FIFO given a .kavq1 name cannot
        // hang the operation: only a regular file is a KAVQ1 file.
        file.fd = OpenInputFile(source);
        struct stat st {};
        if (file.fd < 0 || ::fstat(file.fd, &st) != 0) {
            return Fail(IDS_CANT_OPEN_VIDEO);
        }
        const uint64_t length = static_cast<uint64_t>(st.st_size);
        if (length >= slotBytes) {
            int r = ReadWholeAt(file.fd, 0, buffer.Data(), slotBytes);
            if (r <= 0) {
                return Fail(IDS_ERROR_READING_VIDEO);
            }
            switch (CheckKAVQ1Slot(buffer.Data(), slotBytes, mode.sizeClass, mode.frameRate, static_cast<int>(slotBytes))) {
            case KAVQ1Check::Ok:
                break;
            case KAVQ1Check::Invalid:
                return Fail(IDS_INVALID_VIDEO_FORMAT);
            case KAVQ1Check::Unsupported:
                return Fail(IDS_UNSUPPORTED_VIDEO_FORMAT);
            }
        }
        frameCount = KAVQ1FrameCount(length, static_cast<int>(slotBytes));
        ::posix_fadvise(file.fd, 0, 0, POSIX_FADV_SEQUENTIAL);
        slots = std::make_unique<CKAVQ1FileSource>(file.fd);
    } else {
        // ffmpeg opens the source itself: a FIFO, a folder or a device there
        // would keep it waiting for ever, and us waiting for its pictures.
        if (!CheckInputPath(source)) return Fail(IDS_CANT_OPEN_VIDEO);
        encoder = std::make_unique<KAVQ1FileEncoder>(source, mode.sizeClass, (cpf - 1) * static_cast<int>(kSectorsPerCluster),
                                                     mode.frameRate, options.limitedRange, options.deinterlace);
        if (!encoder->IsOpened()) {
            return Fail(IDS_CANT_OPEN_VIDEO);
        }
        frameCount = encoder->FrameCount() > 0 ? static_cast<uint64_t>(encoder->FrameCount()) : 0;
        slots = std::make_unique<CEncoderSource>(*encoder);
    }

    // A source without a single frame would leave an empty entry behind a
    // "Write completed.": refuse it before asking anything.
    if (frameCount == 0) {
        return Fail(IDS_VIDEO_TOO_SHORT);
    }
    // An entry records at most 65535 frames; a longer source is cut there
    // rather than wrapping the count, and the question shows what will be written.
    if (frameCount > kMaxEntryFrames) {
        LogMessage(2, "CMainWin::AddVideo(): %llu frames, only the first %llu fit one entry",
                   static_cast<unsigned long long>(frameCount), static_cast<unsigned long long>(kMaxEntryFrames));
        frameCount = kMaxEntryFrames;
    }
    out.frameCount = static_cast<int>(frameCount);

    const int64_t needed = static_cast<int64_t>(frameCount) * cpf + 2;
    const int64_t freeClusters = card.FreeClusters();
    if (needed > freeClusters) {
        int64_t missingBytes = (needed - freeClusters) * static_cast<int64_t>(kClusterSize);
        std::string size = SizeText(static_cast<int32_t>(std::min<int64_t>(missingBytes / 1000000, INT32_MAX)));
        MessageById(op, kMsgNotice, kIconError, IDS_NOT_ENOUGH_SPACE, size.c_str());
        out.result = VideoOpResult::kFailed;
        return out;
    }

    std::string duration = DurationText(static_cast<int64_t>(frameCount), cpf, card.DisplayRate());
    if (MessageById(op, kMsgQuestion, kIconQuestion, IDS_CONFIRM_VIDEO_DURATION, duration.c_str()) != kResultYes)
        return out;

    LogMessage(2, "CMainWin::AddVideo(): writing file %d, %d frames, %d clusters", slot, static_cast<int>(frameCount),
               static_cast<int>(frameCount * static_cast<uint64_t>(cpf)));

    bool abortFlag = false;
    const int32_t first = AllocateClusters(card, op, static_cast<int32_t>(needed), abortFlag);
    if (first < 0) return out;

    op.BeginProgress(static_cast<int64_t>(frameCount) + 1);
    op.Refresh(kRefreshCardLine);

    uint8_t thumbBlock[kThumbBlockBytes];
    std::memset(thumbBlock, 0, sizeof thumbBlock);
    bool thumbMade = false;
    CThumbnailMaker maker(mode.sizeClass);
    CSlotBuffer thumbSlot;
    // Declared last: joins its thread before the buffers above go away.
    CThumbnailJob thumbJob;
    uint64_t written = 0;
    ReadStatus status = ReadStatus::kOk;
    bool stopped = false;
    const auto started = std::chrono::steady_clock::now();

    for (uint64_t i = 0; i < frameCount; ++i) {
        const int got = slots->Next(buffer.Data(), slotBytes);
        if (got < 0) {
            // A read error is never taken for the end of the source.
            status = ReadStatus::kReadError;
            break;
        }
        if (got == 0) {
            if (written == 0) status = ReadStatus::kReadError;
            break;
        }
        if (op.PumpMessages()) {
            stopped = true;
            break;
        }
        if (!card.WriteClusters(static_cast<uint32_t>(first + i * static_cast<uint64_t>(cpf)), buffer.Data(),
                                static_cast<uint32_t>(cpf))) {
            status = ReadStatus::kWriteError;
            break;
        }
        ++written;
        // The middle frame's thumbnail is made beside the copy, from a copy
        // of the slot, so that decoding it does not hold up the card writes.
        if (i == frameCount / 2 && !thumbJob.Started() && thumbSlot.Allocate(slotBytes)) {
            std::memcpy(thumbSlot.Data(), buffer.Data(), slotBytes);
            thumbJob.Start(maker, thumbSlot.Data(), cpf, thumbBlock);
        }
        op.SetProgress(static_cast<int64_t>(i) + 1, false);
        if (op.PumpMessages()) {
            stopped = true;
            break;
        }
    }

    thumbMade = thumbJob.Wait();
    const auto elapsed = std::chrono::duration_cast<std::chrono::seconds>(std::chrono::steady_clock::now() - started);
    LogMessage(2, "elapsed time = %d sec", static_cast<int>(elapsed.count()));
    buffer.Free();
    op.SetProgress(static_cast<int64_t>(frameCount) + 1, status != ReadStatus::kOk);

    out.framesWritten = static_cast<int>(written);
    bool messageShown = false;
    bool kept = false;
    if (stopped && status == ReadStatus::kOk && written > 0) {
        if (MessageById(op, kMsgQuestion, kIconQuestion, IDS_ABORTED_LEAVE_INCOMPLETE) == kResultYes) {
            stopped = false;
            kept = true;
        }
        messageShown = true;
    }

    if (stopped) {
        op.SetProgress(static_cast<int64_t>(frameCount) + 1, true);
        if (!messageShown) MessageById(op, kMsgNotice, kIconWarning, IDS_OPERATION_ABORTED);
        out.result = VideoOpResult::kAborted;
    } else if (status != ReadStatus::kOk) {
        op.SetProgress(static_cast<int64_t>(frameCount) + 1, true);
        // A write error has already been reported by the card.
        if (!messageShown && status == ReadStatus::kReadError) ErrorById(op, IDS_ERROR_READING_VIDEO);
        out.result = VideoOpResult::kFailed;
    } else {
        // Commit: the thumbnail block behind the last written frame, then the
        // directory (which flushes the frames and the block first).
        SavedVideoEntry saved;
        saved.Save(dir, slot);
        EntryHead head;
        head.startCluster = static_cast<uint32_t>(first);
        head.numFrames = static_cast<uint16_t>(written);
        head.clustersPerFrame = static_cast<uint16_t>(cpf);
        dir.ClearVideo(slot);
        dir.SetVideo(slot, head);
        dir.SetVideoNameUtf8(slot, name);
        if (!thumbMade) MakeBlackThumbnail(thumbBlock);
        bool committed = card.WriteThumbnailBlock(static_cast<uint32_t>(head.ThumbnailCluster()), thumbBlock) &&
                         card.WriteDirectory();
        if (!committed) {
            // The card still holds the directory from before the add: so
            // must the memory. The card has shown its write message.
            saved.Restore(dir, slot);
            card.RecountFreeSpace();
            status = ReadStatus::kWriteError;
            op.SetProgress(static_cast<int64_t>(frameCount) + 1, true);
            out.result = VideoOpResult::kFailed;
        } else {
            out.slot = slot;
            out.thumbnailFromFrame = thumbMade;
            out.result = kept ? VideoOpResult::kKeptPartial : VideoOpResult::kDone;
            op.Refresh(kRefreshLists | kRefreshCardLine);
            if (!messageShown) MessageById(op, kMsgNotice, kIconInformation, IDS_WRITE_COMPLETED);
        }
    }

    op.EndProgress();
    unsigned refresh = kRefreshCardLine;
    if (status == ReadStatus::kWriteError) refresh |= kRescanMedia;
    op.Refresh(refresh);
    return out;
}

ReadVideoOutcome ReadVideo(IOperator& op, CSDCard& card, int listPosition) {
    if (listPosition < 0) return {};
    const int slot = card.VideoOfListPosition(listPosition);
    if (slot < 0 || !card.Directory().Video(slot).Used()) return {};
    FileChoice choice;
    choice.filter = LoadText(IDS_FILTER_VIDEO_READ);
    choice.defaultExtension = "kavq1";
    std::string path;
    if (!op.ChooseSaveFile(choice, path)) return {};
    // A name typed without an extension is a KAVQ1 file.
    if (ExtensionOf(path).empty()) path += ".kavq1";
    return ReadVideoToFile(op, card, slot, path);
}

ReadVideoOutcome ReadVideoToFile(IOperator& op, CSDCard& card, int slot, const std::string& outputPath) {
    ReadVideoOutcome out;
    if (slot < 0 || slot >= kVideoCount) return out;
    const EntryHead head = card.Directory().Video(slot);
    if (!head.Used()) return out;
    const uint32_t first = head.startCluster;
    const uint32_t frames = head.numFrames;
    const uint32_t cpf = head.clustersPerFrame;

    // The first two Clusters carry the head cluster and the frame header.
    uint8_t start[2 * kClusterSize];
    if (!card.ReadClusters(first, start, 2)) {
        out.result = VideoOpResult::kFailed;  // the card has shown "Media access error!"
        return out;
    }
    KAVQ1FileConverter converter(start, sizeof start);
    // An entry whose slots are too small for a frame is not a video this
    // system can read.
    if (!converter.IsValid() || cpf < 2) {
        ErrorById(op, IDS_INVALID_VIDEO_FORMAT);
        out.result = VideoOpResult::kFailed;
        return out;
    }
    const bool mov = IsMovPath(outputPath);
    // The slot buffer holds the entry's slot; the decoder may be told of a
    // larger budget by the frame header, so the buffer covers that too, with
    // zeros behind the slot.
    const size_t entrySlotBytes = static_cast<size_t>(cpf) * kClusterSize;
    const size_t bufferBytes = std::max(entrySlotBytes, static_cast<size_t>(converter.SlotBytes()));
    CSlotBuffer buffer;
    if (!buffer.Allocate(bufferBytes)) {
        ErrorById(op, IDS_ERROR_WRITING_FILE);
        out.result = VideoOpResult::kFailed;
        return out;
    }
    std::memset(buffer.Data(), 0, bufferBytes);

    op.BeginProgress(static_cast<int64_t>(frames) + 1);
    op.Refresh(kRefreshCardLine);

    bool error = false;
    bool stopped = false;
    // Whether the operator has been told of the failure (the card tells of
    // its own, once per opening).
    bool told = false;
    auto fail = [&](int textId) {
        if (!told) ErrorById(op, textId);
        told = true;
        error = true;
    };
    CFileHandle file;
    if (!mov) {
        // Only a regular file: a FIFO or a device there would make the open
        // or the writes wait for ever.
        file.fd = OpenOutputFile(outputPath);
        if (file.fd < 0) fail(IDS_ERROR_WRITING_FILE);
    } else {
        if (!CheckOutputPath(outputPath) || !converter.Open(outputPath)) {
            fail(IDS_ERROR_WRITING_FILE);
        } else if (converter.AudioOn()) {
            for (uint32_t i = 0; i < frames; ++i) {
                if (!card.ReadCluster(first + i * cpf, buffer.Data())) {
                    told = true;
                    error = true;
                    break;
                }
                if (!converter.PushAudio(buffer.Data())) {
                    fail(IDS_ERROR_WRITING_FILE);
                    break;
                }
                if (op.PumpMessages()) {
                    stopped = true;
                    break;
                }
            }
        }
    }

    if (!stopped && !error) {
        for (uint32_t i = 0; i < frames; ++i) {
            if (!card.ReadClusters(first + i * cpf, buffer.Data(), cpf)) {
                told = true;  // "Media access error!", once per opening
                error = true;
                break;
            }
            if (op.PumpMessages()) {
                stopped = true;
                break;
            }
            if (!mov) {
                if (!WriteWhole(file.fd, buffer.Data(), entrySlotBytes)) {
                    NoteFailureErrno(outputPath, errno);  // a full disk reads as what it is
                    fail(IDS_ERROR_WRITING_FILE);
                    break;
                }
            } else if (!converter.PushFrame(buffer.Data())) {
                // A frame that does not decode, or the tool giving up.
                LogMessage(2, "ReadVideoToFile(): frame %u of entry %d not exported", i, slot);
                fail(IDS_ERROR_READING_VIDEO);
                break;
            }
            ++out.framesRead;
            op.SetProgress(static_cast<int64_t>(i), false);
        }
    }
    buffer.Free();

    if (!mov && file.fd >= 0 && !file.Close() && !error) {
        // The last data may only fail to reach the file system at close.
        NoteFailureErrno(outputPath, errno);
        fail(IDS_ERROR_WRITING_FILE);
    }
    // The ".mov" is complete only when the tool has finished it: wait for it
    // before telling the operator anything.
    if (mov && !stopped && !error && !converter.Finish()) fail(IDS_ERROR_WRITING_FILE);
    op.SetProgress(static_cast<int64_t>(frames) + 1, error);
    // After Stop or a failure the partial ".mov" is not worth a long wait:
    // the tool gets a short while to finish what it has, then it is ended.
    if (mov && (stopped || error)) converter.SetStallLimitMs(10000);

    if (stopped) {
        MessageById(op, kMsgNotice, kIconWarning, IDS_OPERATION_ABORTED);
        out.result = VideoOpResult::kAborted;
    } else if (!error) {
        MessageById(op, kMsgNotice, kIconInformation, IDS_READ_COMPLETED);
        out.result = VideoOpResult::kDone;
    } else {
        out.result = VideoOpResult::kFailed;
    }
    op.EndProgress();
    op.Refresh(kRefreshCardLine);
    return out;
}

}  // namespace rk
