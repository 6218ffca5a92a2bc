#include "effects/logo_ops.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <memory>

#include "base/fd_io.h"
#include "base/log.h"
#include "base/path_util.h"
#include "base/safe_open.h"
#include "base/string_ids.h"
#include "base/texts.h"
#include "card/card_directory.h"
#include "card/card_item.h"
#include "card/sd_card.h"
#include "convert/tool_folder.h"
#include "effects/logo_file.h"
#include "effects/logo_sequence.h"
#include "effects/logo_source.h"
#include "media/item_exporter.h"
#include "media/item_writer.h"
#include "media/picture_sequence.h"
#include "media/slot_stream.h"
#include "media/thumbnail.h"
#include "ui/operator.h"

namespace rk {

namespace {

constexpr int kSpeedCount = 5;

ItemPlan LogoPlan(int slot, uint64_t frames, int clustersPerFrame, const uint8_t* thumbnail) {
    ItemPlan plan;
    plan.kind = CardItem::kLogo;
    plan.index = slot;
    plan.frames = frames;
    plan.clustersPerFrame = clustersPerFrame;
    plan.writeClusters = clustersPerFrame;
    plan.sizeClass = 1;
    plan.thumbnailBlock = thumbnail;
    plan.readErrorText = IDS_ERROR_READING_VIDEO;
    return plan;
}

// Slots of an ".animlogo" file, each checked again as it is copied (the
// file may have changed since the check before the question).
class CCheckedLogoFileSource : public CFileSlotSource {
public:
    CCheckedLogoFileSource(int fd, const std::string& path) : CFileSlotSource(fd, kAnimLogoHeaderBytes), path_(path) {}
    int Next(uint8_t* slot, size_t bytes) override {
        const int r = CFileSlotSource::Next(slot, bytes);
        if (r != 1) return r;
        if (const char* fault = AnimLogoSlotFault(slot, bytes, index_)) {
            cause_ = path_ + ": frame " + std::to_string(index_ + 1) + ": " + fault;
            return -1;
        }
        ++index_;
        return 1;
    }

private:
    std::string path_;
    uint32_t index_ = 0;
};

AddLogoOutcome AddAnimLogoFile(IOperator& op, CSDCard& card, int slot, const std::string& path) {
    AddLogoOutcome out;
    auto Fail = [&](int textId, const std::string& detail) {
        if (detail.empty()) ErrorById(op, textId);
        else ErrorWithDetail(op, textId, detail);
        out.result = OpResult::kFailed;
        return out;
    };
    std::string why;
    CFileHandle file(OpenInputFile(path, &why));
    if (file.fd < 0) return Fail(IDS_ERROR_OPENING_FILE, why);
    struct stat st {};
    if (::fstat(file.fd, &st) != 0) return Fail(IDS_ERROR_OPENING_FILE, FileCause(path, errno));
    uint8_t raw[kAnimLogoHeaderBytes] = {};
    const int r = ReadWholeAt(file.fd, 0, raw, sizeof raw);
    if (r < 0) return Fail(IDS_ERROR_OPENING_FILE, FileCause(path, errno ? errno : EIO));
    AnimLogoHeader header;
    const int cpf = card.ClustersPerFrame();
    const AnimLogoCheck parsed = r == 0 ? AnimLogoCheck::kInvalid : ParseAnimLogoHeader(raw, sizeof raw, header);
    if (parsed != AnimLogoCheck::kOk)
        return Fail(IDS_INVALID_FILE_FORMAT, path + ": " + AnimLogoHeaderFault(parsed, header, cpf));
    const AnimLogoCheck fits = CheckAnimLogoHeader(header, cpf);
    if (fits != AnimLogoCheck::kOk)
        return Fail(IDS_FILE_NOT_SUPPORTED, path + ": " + AnimLogoHeaderFault(fits, header, cpf));
    // A file cut short in its frames is refused before anything is written
    // (a short thumbnail block is taken as far as it goes).
    const uint64_t frameBytes = uint64_t(header.numFrames) * cpf * kClusterSize;
    if (uint64_t(st.st_size) < kAnimLogoHeaderBytes + frameBytes)
        return Fail(IDS_INVALID_FILE_FORMAT, path + ": the file ends inside its frames (" + std::to_string(st.st_size) +
                                                 " bytes, " + std::to_string(header.numFrames) + " frames need " +
                                                 std::to_string(kAnimLogoHeaderBytes + frameBytes) + ")");
    // Every frame is looked at before the question: a slot that is not a
    // logo frame (random bytes, another card's frame) refuses the file
    // while nothing is written yet.
    const std::string slotFault = FirstSlotFault(file.fd, kAnimLogoHeaderBytes, header.numFrames,
                                                 uint64_t(cpf) * kClusterSize, AnimLogoSlotFault);
    if (!slotFault.empty()) return Fail(IDS_ERROR_READING_VIDEO, path + ": " + slotFault);

    const int64_t needed = int64_t(header.numFrames) * cpf + kThumbnailClusters;
    if (!CheckRoom(op, card, needed)) {
        out.result = OpResult::kFailed;
        return out;
    }
    if (MessageById(op, kMsgQuestion, kIconQuestion, IDS_WRITE_LOGO_QUESTION) != kResultYes) return out;
    LogMessage(2, "AddAnimLogoFile(): writing file %d, %d frames, %d clusters", slot, int(header.numFrames),
               int(needed));

    uint8_t thumbnail[kThumbBlockBytes] = {};
    {
        const uint64_t at = kAnimLogoHeaderBytes + frameBytes;
        const uint64_t left = uint64_t(st.st_size) - at;
        const size_t take = left < kThumbBlockBytes ? size_t(left) : kThumbBlockBytes;
        if (take > 0 && ReadWholeAt(file.fd, at, thumbnail, take) <= 0) std::memset(thumbnail, 0, sizeof thumbnail);
    }
    CCheckedLogoFileSource source(file.fd, path);
    ItemPlan plan = LogoPlan(slot, header.numFrames, cpf, thumbnail);
    ItemWriteOutcome w = WriteItem(op, card, source, plan);
    static_cast<OpOutcome&>(out) = w;
    out.frames = static_cast<int>(w.framesWritten);
    return out;
}

}  // namespace

int LowestFreeLogoSlot(const CardDirectory& dir) { return LowestFreeSlot(dir, CardItem::kLogo); }

bool ChooseLogoSpeed(IOperator& op, int& speedIndex) {
    OptionChoice choice;
    choice.title = LoadText(IDS_WRITE_LOGO);
    for (int i = 0; i < kSpeedCount; ++i) {
        choice.options.push_back(LoadText(IDS_SPEED_NORMAL + i));
        choice.keys.push_back(std::to_string(i + 1));
    }
    choice.initial = 0;
    choice.purpose = OptionPurpose::kLogoSpeed;
    int chosen = 0;
    if (!op.ChooseOption(choice, chosen) || chosen < 0 || chosen >= kSpeedCount) return false;
    speedIndex = chosen;
    return true;
}

AddLogoOutcome AddLogo(IOperator& op, CSDCard& card, int slot, std::string& rememberedPath,
                       const LogoOptions& options) {
    if (slot < 0 || slot >= kLogoCount) return {};
    FileChoice choice;
    choice.filter = LoadText(IDS_FILTER_ALL_FILES);
    choice.title = LoadText(IDS_TITLE_ADD_LOGO);
    choice.initialName = rememberedPath;
    std::string path;
    if (!op.ChooseOpenFile(choice, path)) return {};
    rememberedPath = path;
    op.Refresh(kRefreshCardLine);
    return AddLogoFromPath(op, card, slot, path, options);
}

AddLogoOutcome AddLogoFromPath(IOperator& op, CSDCard& card, int slot, const std::string& path,
                               const LogoOptions& options) {
    AddLogoOutcome out;
    if (slot < 0 || slot >= kLogoCount || card.Directory().Logo(slot).Used()) return out;
    if (ExtensionIs(path, ".animlogo")) return AddAnimLogoFile(op, card, slot, path);

    // The tool opens the pictures itself: only regular files, never a FIFO
    // or a device that would keep it waiting.
    std::string why;
    if (!CheckInputPath(path, &why)) {
        ErrorWithDetail(op, IDS_ERROR_READING_VIDEO, why);
        out.result = OpResult::kFailed;
        return out;
    }
    LogoPictures pictures = FindLogoPictures(AbsolutePath(path), kMaxEntryFrames);
    out.pictures = static_cast<int>(pictures.paths.size());
    WarnPictureRunEnd(op, pictures.end, pictures.paths.size());

    int speed = 0;
    if (!ChooseLogoSpeed(op, speed)) return out;
    out.speedIndex = speed;
    const int repeat = speed + 1;
    // An entry counts at most 65535 frames: a longer logo keeps the pictures that fit.
    const size_t fit = size_t(kMaxEntryFrames / uint64_t(repeat));
    if (pictures.paths.size() > fit) {
        LogMessage(2, "AddLogoFromPath(): %zu pictures, only the first %zu fit one entry", pictures.paths.size(), fit);
        pictures.paths.resize(fit);
    }
    const uint64_t m = pictures.paths.size();
    const int cpf = card.ClustersPerFrame();
    const int64_t needed = int64_t(m) * repeat * cpf + kThumbnailClusters;
    if (!CheckRoom(op, card, needed)) {
        out.result = OpResult::kFailed;
        return out;
    }
    LogMessage(2, "AddLogoFromPath(): writing file %d, %d frames, %d clusters", slot, int(m), int(needed));

    uint8_t thumbnail[kThumbBlockBytes];
    MakeBlackThumbnail(thumbnail);
    CLogoPictureSource source(pictures, repeat, options.limitedRange, thumbnail);
    ItemPlan plan = LogoPlan(slot, m * uint64_t(repeat), cpf, thumbnail);
    ItemWriteOutcome w = WriteItem(op, card, source, plan);
    static_cast<OpOutcome&>(out) = w;
    out.frames = static_cast<int>(w.framesWritten);
    return out;
}

OpOutcome ReadLogo(IOperator& op, CSDCard& card, int slot) {
    if (slot < 0 || slot >= kLogoCount || !card.Directory().Logo(slot).Used()) return {};
    std::string path;
    if (!ChooseOutputFile(op, IDS_TITLE_READ_LOGO, IDS_FILTER_ANIMLOGO, "animlogo", path)) return {};
    return ReadLogoToFile(op, card, slot, path);
}

OpOutcome ReadLogoToFile(IOperator& op, CSDCard& card, int slot, const std::string& outputPath) {
    if (slot < 0 || slot >= kLogoCount) return {};
    ExportPlan plan;
    plan.head = card.Directory().Logo(slot);
    if (!plan.head.Used()) return {};
    plan.outputPath = outputPath;
    plan.header = MakeAnimLogoHeader(plan.head);
    plan.trailingClusters = kThumbnailClusters;
    OpOutcome out = ExportItem(op, card, plan);
    if (out.Succeeded()) out.slot = slot;
    return out;
}

}  // namespace rk
