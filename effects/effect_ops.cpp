#include "effects/effect_ops.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "base/fd_io.h"
#include "base/log.h"
#include "base/path_util.h"
#include "base/safe_open.h"
#include "base/string_ids.h"
#include "base/texts.h"
#include "card/card_directory.h"
#include "card/card_item.h"
#include "card/sd_card.h"
#include "card/video_modes.h"
#include "codec/kavq1_slot.h"
#include "codec/kvq1_encoder.h"
#include "codec/kvq1_format.h"
#include "convert/plane_memory.h"
#include "effects/effect_conversions.h"
#include "effects/effect_format.h"
#include "effects/stinger.h"
#include "media/item_exporter.h"
#include "media/item_writer.h"
#include "media/picture_sequence.h"
#include "media/slot_stream.h"
#include "media/thumbnail.h"
#include "ui/operator.h"

namespace rk {

namespace {

constexpr size_t kLumaBytes = size_t(kEffectWidth) * 1088;
constexpr size_t kChromaBytes = size_t(kEffectWidth / 2) * 544;
constexpr size_t kThumbnailBytes = 2 * size_t(kClusterBytes);

EffectOpOutcome Outcome(const ItemWriteOutcome& w, int frames) {
    EffectOpOutcome out;
    static_cast<OpOutcome&>(out) = w;
    out.frames = frames;
    return out;
}

EffectOpOutcome Failed(IOperator& op, int textId, const std::string& detail = {}) {
    if (detail.empty()) ErrorById(op, textId);
    else ErrorWithDetail(op, textId, detail);
    EffectOpOutcome out;
    out.result = OpResult::kFailed;
    return out;
}

// The frames of an effect, coded while the pictures are loaded: each
// picture is decoded once (CEffectPictureStream), for its preview and its
// frame together, and its frame coded at once, so the coding overlaps the
// tool's decoding. The coded frames wait here (at most 250 x 393216 bytes)
// while the operator chooses the type and the keys; the marks and the sound
// go in as the slots are written. A frame is coded into its own place of
// the whole budget and only its length is copied, so the slot behind the
// frame stays zero whatever attempts the encoder made.
class CCodedEffectFrames {
public:
    CCodedEffectFrames(int frames, int rateCode) : frames_(frames), encoder_(1, kHdBudgetSectors, rateCode) {}

    bool Allocate() {
        const size_t budget = size_t(encoder_.BudgetBytes());
        if (budget == 0 || frames_ <= 0) return false;
        coded_.reset(new (std::nothrow) uint8_t[budget * size_t(frames_)]);
        // The planes on 64-byte boundaries, as the conversion made here
        // writes them without a copy.
        if (!coded_ || !planes_.Allocate(kLumaBytes + 2 * kChromaBytes)) return false;
        lengths_.assign(size_t(frames_), 0);
        // Filler lines below the picture: luma 0, chroma 128.
        std::memset(Luma() + size_t(kEffectWidth) * kEffectHeight, 0, kLumaBytes - size_t(kEffectWidth) * kEffectHeight);
        std::memset(Cb(), 128, 2 * kChromaBytes);
        return true;
    }
    EffectPlanes Planes() { return EffectPlanes{Luma(), Cb(), Cr(), nullptr}; }
    // Codes the planes as frame i.
    bool Code(int i) {
        const size_t budget = size_t(encoder_.BudgetBytes());
        const int length = encoder_.Encode(uint32_t(i), Luma(), Cb(), Cr(), coded_.get() + budget * size_t(i));
        if (length <= 0 || size_t(length) > budget) return false;
        lengths_[size_t(i)] = length;
        return true;
    }
    const uint8_t* Frame(int i) const { return coded_.get() + size_t(encoder_.BudgetBytes()) * size_t(i); }
    int Length(int i) const { return lengths_[size_t(i)]; }
    int BudgetBytes() const { return encoder_.BudgetBytes(); }

private:
    uint8_t* Luma() const { return planes_.Data(); }
    uint8_t* Cb() const { return planes_.Data() + kLumaBytes; }
    uint8_t* Cr() const { return Cb() + kChromaBytes; }

    int frames_;
    KVQ1Encoder encoder_;
    std::unique_ptr<uint8_t[]> coded_;
    CPlaneMemory planes_;
    std::vector<int> lengths_;
};

// The coded frames into slots with their marks and sound.
class CStingerSlotSource : public ISlotSource {
public:
    CStingerSlotSource(const CStinger& stinger, const CCodedEffectFrames& frames, int count, const uint8_t* sound)
        : stinger_(stinger), frames_(frames), count_(count), sound_(sound) {}

    int Next(uint8_t* slot, size_t bytes) override {
        if (next_ >= count_) return 0;
        const size_t video = kVideoAreaOffset;
        if (bytes < video + size_t(frames_.BudgetBytes())) return Fail("frame slot too small");
        std::memset(slot, 0, bytes);
        std::memcpy(slot + video, frames_.Frame(next_), size_t(frames_.Length(next_)));
        WriteAudioChunkHeader(slot, uint32_t(next_), kEffectAudioBytes);
        if (sound_) RegroupAudioToStored(sound_ + size_t(next_) * kEffectAudioBytes, slot + kAudioChunkHeaderBytes,
                                         kEffectAudioBytes);
        PutEffectMarks(slot + video, MarksOfFrame(stinger_, next_, count_));
        ++next_;
        return 1;
    }
    std::string Cause() const override { return cause_; }

private:
    int Fail(std::string why) {
        cause_ = std::move(why);
        return -1;
    }
    const CStinger& stinger_;
    const CCodedEffectFrames& frames_;
    int count_;
    const uint8_t* sound_;
    int next_ = 0;
    std::string cause_;
};

// The checks of every frame slot of an ".effect" file bound for a card of
// rate code `rateCode`: EffectSlotFault, and one keyframed kind for all the
// frames of an effect whose header says keyframed. Whether the first frame
// is of another rate (a file made for another card) is kept apart.
class CEffectSlotCheck {
public:
    CEffectSlotCheck(uint32_t frames, int rateCode, uint8_t switchByte)
        : frames_(frames), rateCode_(rateCode), kind_(EffectKindOfSwitch(switchByte)) {}
    const char* operator()(const uint8_t* slot, size_t bytes, uint32_t index) {
        if (index == 0) firstOfOtherRate_ = NormaliseFrameRateCode(slot[kSlotFrameOffset + 5]) !=
                                            NormaliseFrameRateCode(rateCode_);
        if (const char* fault = EffectSlotFault(slot, bytes, index, frames_, rateCode_, kind_)) return fault;
        const int kind = slot[kSlotFrameOffset + 18];
        if (index == 0) firstKind_ = kind;
        else if (kind != firstKind_) return "another transition kind than the first frame's";
        return nullptr;
    }
    bool FirstOfOtherRate() const { return firstOfOtherRate_; }

private:
    uint32_t frames_;
    int rateCode_;
    int kind_;
    int firstKind_ = -1;
    bool firstOfOtherRate_ = false;
};

// Slots of an ".effect" file, each checked again as it is copied (the file
// may have changed since the check before the question).
class CEffectFileSlotSource : public CFileSlotSource {
public:
    CEffectFileSlotSource(int fd, const std::string& path, uint32_t frames, const CEffectSlotCheck& check)
        : CFileSlotSource(fd, kEffectFileHeaderBytes), path_(path), frames_(frames), check_(check) {}
    int Next(uint8_t* slot, size_t bytes) override {
        if (index_ >= frames_) return 0;
        int r = CFileSlotSource::Next(slot, bytes);
        const std::string where = path_ + ": frame " + std::to_string(index_ + 1) + " of " + std::to_string(frames_);
        if (r != 1) {
            cause_ = where + ": " + (cause_.empty() ? "the file ends there" : cause_);
            return -1;
        }
        if (const char* fault = check_(slot, bytes, index_)) {
            cause_ = where + ": " + fault;
            return -1;
        }
        ++index_;
        return 1;
    }

private:
    std::string path_;
    uint32_t frames_;
    uint32_t index_ = 0;
    CEffectSlotCheck check_;
};

// The effect type and the sound, then with sound the WAV file. False when
// the person cancels. Only cut, wipe and mix are offered; an animated wipe
// that arrives all the same is made in full, anything else is a cancel.
bool AskEffectType(IOperator& op, int& effectType, std::string& soundPath) {
    EffectTypeChoice choice;
    choice.soundChoiceShown = true;
    choice.effectType = 0;
    choice.withSound = false;
    if (!op.ChooseEffectType(choice) || TransitionKindOfType(choice.effectType) < 0) return false;
    effectType = choice.effectType;
    soundPath.clear();
    if (choice.soundChoiceShown && choice.withSound) {
        FileChoice wav;
        wav.filter = LoadText(IDS_FILTER_WAV);
        wav.title = LoadText(IDS_TITLE_EFFECT_SOUND);
        std::string path;
        if (op.ChooseOpenFile(wav, path)) soundPath = path;
    }
    return true;
}

}  // namespace

EffectOpOutcome AddEffect(IOperator& op, CSDCard& card, int slot, std::string& rememberedPath) {
    if (!IsHdMode(card.VideoMode()) || slot < 0 || slot >= kEffectCount) return {};
    FileChoice choice;
    choice.filter = LoadText(IDS_FILTER_PNG_EFFECT);
    choice.title = LoadText(IDS_TITLE_ADD_EFFECT);
    choice.initialName = rememberedPath;
    std::string path;
    if (!op.ChooseOpenFile(choice, path)) return {};
    rememberedPath = path;
    op.Refresh(kRefreshCardLine);
    return AddEffectFromPath(op, card, slot, path);
}

int LowestFreeEffectSlot(const CardDirectory& dir) { return LowestFreeSlot(dir, CardItem::kEffect); }

EffectOpOutcome AddEffectFromPath(IOperator& op, CSDCard& card, int slot, const std::string& path) {
    if (ExtensionIs(path, ".effect")) return AddEffectFromEffectFile(op, card, slot, path);
    return AddEffectFromPictures(op, card, slot, path);
}

namespace {

// Loads every picture of the sequence into the effect's previews and codes
// its frame, with progress and Stop. False when a picture failed (`cause`
// names it) or Stop was asked for (`stopped`).
bool LoadAndCodePictures(IOperator& op, const std::vector<std::string>& files, CStinger& stinger,
                         CCodedEffectFrames& coded, bool& stopped, std::string& cause) {
    const int n = static_cast<int>(files.size());
    CEffectPictureStream stream(files);
    const EffectPlanes planes = coded.Planes();
    op.BeginProgress(ProgressScale{n + 1, ProgressUnit::kFrames, 0});
    bool ok = true;
    for (int i = 0; i < n && ok; ++i) {
        if (!stream.Next(stinger, planes)) {
            LogMessage(2, "AddEffectFromPictures(): %s", stream.Cause().c_str());
            cause = stream.Cause();
            ok = false;
        } else if (!coded.Code(i)) {
            LogMessage(2, "AddEffectFromPictures(): frame %d cannot be coded", i);
            cause = files[size_t(i)] + ": its frame cannot be coded";
            ok = false;
        } else {
            op.SetProgress(i + 1, false);
            if (op.PumpMessages()) {
                stopped = true;
                ok = false;
            }
        }
    }
    op.EndProgress();
    return ok;
}

// The sound chosen, converted for `frames` frames before the question to
// write: a file that is missing, not a file or not a sound refuses the
// effect with its name and cause. False when that message was shown.
bool ConvertChosenSound(IOperator& op, const std::string& soundPath, int frames, CEffectWorkFolder& work,
                        std::vector<uint8_t>& sound) {
    std::string why;
    if (!CheckInputPath(soundPath, &why)) {
        ErrorWithDetail(op, IDS_ERROR_OPENING_FILE, why);
        return false;
    }
    sound.assign(size_t(frames) * kEffectAudioBytes, 0);
    if (!ConvertSound(soundPath, sound.data(), sound.size(), work)) {
        ErrorWithDetail(op, IDS_ERROR_OPENING_FILE, soundPath + ": not a sound the conversion tool can read");
        return false;
    }
    return true;
}

}  // namespace

EffectOpOutcome AddEffectFromPictures(IOperator& op, CSDCard& card, int slot, const std::string& picturePath) {
    EffectOpOutcome out;
    if (!IsHdMode(card.VideoMode()) || slot < 0 || slot >= kEffectCount || card.Directory().Effect(slot).Used()) return out;
    PictureRunEnd end;
    std::vector<std::string> files = NumberedPictures(picturePath, kMaxEffectPictures, &end);
    // A FIFO or a folder in the run's place ends it: said before anything else.
    WarnPictureRunEnd(op, end, files.size());
    if (files.size() < 2) return Failed(op, IDS_VIDEO_TOO_SHORT);
    const int n = static_cast<int>(files.size());

    CEffectWorkFolder work;
    if (!work.Create()) {
        // The card is left as it was: nothing has been written yet.
        ErrorWithDetail(op, IDS_ERROR_OPENING_IMAGE, picturePath + ": " + work.Cause());
        EffectOpOutcome failedOut;
        failedOut.result = OpResult::kFailed;
        return failedOut;
    }
    CStinger stinger(picturePath);
    stinger.Pictures().Reserve(files.size());
    const VideoMode& mode = VideoModeAt(card.VideoMode());
    CCodedEffectFrames coded(n, mode.frameRate);
    if (!coded.Allocate()) return Failed(op, IDS_ERROR_OPENING_IMAGE);
    bool stopped = false;
    std::string cause;
    if (!LoadAndCodePictures(op, files, stinger, coded, stopped, cause)) {
        // The picture and why it failed, as the stream found it.
        ErrorWithDetail(op, IDS_ERROR_OPENING_IMAGE, cause);
        out.result = OpResult::kFailed;
        return out;
    }
    if (stopped) return out;
    stinger.ReadKeyframes();

    int effectType = 0;
    std::string soundPath;
    if (!AskEffectType(op, effectType, soundPath)) return out;
    const int kind = TransitionKindOfType(effectType);
    int param1 = 0;
    stinger.SetTransitionKind(kind);
    if (IsKeyframedKind(kind)) {
        if (effectType == 0) stinger.SetDefaultCut();
        KeyframeEdit edit;
        edit.effect = &stinger;
        edit.cutMode = effectType == 0;
        if (!op.EditKeyframes(edit)) return out;
    } else {
        param1 = kind == kTransitionVerticalWipe ? stinger.GetWipeWidth() : stinger.GetWipeHeight();
    }
    LogMessage(2, "AddEffectFromPictures(): effect type: %d, param1 = %d", effectType, param1);
    stinger.WriteKeyframes();

    const int cpf = kEffectClustersPerFrame;
    // The sound chosen is converted before the question: a file that is
    // missing, not a file or not a sound refuses the effect with its name
    // and cause, instead of an effect made silent without a word.
    std::vector<uint8_t> sound;
    if (!soundPath.empty() && !ConvertChosenSound(op, soundPath, n, work, sound)) {
        out.result = OpResult::kFailed;
        return out;
    }
    switch (ConfirmItemWrite(op, card, n, cpf)) {
    case WriteConfirm::kGo: break;
    case WriteConfirm::kNoRoom: out.result = OpResult::kFailed; return out;
    case WriteConfirm::kDeclined: return out;
    }
    LogMessage(2, "AddEffectFromPictures(): writing file %d, %d frames, %d clusters", slot, n, cpf * n);

    CStingerSlotSource source(stinger, coded, n, sound.empty() ? nullptr : sound.data());

    ItemPlan plan;
    plan.kind = CardItem::kEffect;
    plan.index = slot;
    plan.frames = uint64_t(n);
    plan.clustersPerFrame = cpf;
    plan.entryTail[0] = EffectSwitchOf(kind);
    plan.entryTail[1] = EffectHueOf(kind, param1);
    plan.sizeClass = 1;
    plan.thumbnailFrame = n / 2;
    plan.readErrorText = IDS_ERROR_READING_VIDEO;
    return Outcome(WriteItem(op, card, source, plan), n);
}

EffectOpOutcome AddEffectFromEffectFile(IOperator& op, CSDCard& card, int slot, const std::string& path) {
    EffectOpOutcome out;
    if (!IsHdMode(card.VideoMode()) || slot < 0 || slot >= kEffectCount || card.Directory().Effect(slot).Used()) return out;
    // Every refusal names the file and what is wrong with it.
    auto Fail = [&op](int textId, const std::string& detail) {
        ErrorWithDetail(op, textId, detail);
        EffectOpOutcome failed;
        failed.result = OpResult::kFailed;
        return failed;
    };
    std::string why;
    CFileHandle file(OpenInputFile(path, &why));
    if (file.fd < 0) return Fail(IDS_ERROR_OPENING_FILE, why);
    struct stat st {};
    if (::fstat(file.fd, &st) != 0) return Fail(IDS_ERROR_OPENING_FILE, FileCause(path, errno));
    uint8_t raw[kEffectFileHeaderBytes] = {};
    errno = 0;
    int r = ReadWholeAt(file.fd, 0, raw, sizeof raw);
    if (r < 0) return Fail(IDS_ERROR_OPENING_FILE, FileCause(path, errno ? errno : EIO));
    EffectFileHeader header;
    const int cpf = card.ClustersPerFrame();
    const uint64_t fileBytes = uint64_t(st.st_size);
    const EffectHeaderCheck check = ReadEffectFileHeader(raw, r == 1 ? sizeof raw : 0, fileBytes, cpf, header);
    const std::string fault = path + ": " + EffectHeaderFault(check, header, fileBytes, cpf);
    switch (check) {
    case EffectHeaderCheck::kOk: break;
    case EffectHeaderCheck::kInvalid: return Fail(IDS_INVALID_FILE_FORMAT, fault);
    case EffectHeaderCheck::kNotSupported: return Fail(IDS_FILE_NOT_SUPPORTED, fault);
    case EffectHeaderCheck::kBadLength: return Fail(IDS_ERROR_READING_VIDEO, fault);
    }
    const int n = header.frames;
    // Every frame is looked at before the question: a frame the device
    // cannot play (damaged, of another card's rate, with marks that
    // disagree) refuses the file while nothing is written yet.
    const int rate = VideoModeAt(card.VideoMode()).frameRate;
    const CEffectSlotCheck slotCheck(uint32_t(n), rate, header.switchByte);
    {
        CEffectSlotCheck scan = slotCheck;
        const std::string slotFault =
            FirstSlotFault(file.fd, kEffectFileHeaderBytes, uint32_t(n), uint64_t(cpf) * kClusterBytes,
                           [&scan](const uint8_t* s, size_t b, uint32_t i) { return scan(s, b, i); });
        if (!slotFault.empty())
            return Fail(scan.FirstOfOtherRate() ? IDS_FILE_NOT_SUPPORTED : IDS_ERROR_READING_VIDEO,
                        path + ": " + slotFault);
    }
    switch (ConfirmItemWrite(op, card, n, cpf)) {
    case WriteConfirm::kGo: break;
    case WriteConfirm::kNoRoom: out.result = OpResult::kFailed; return out;
    case WriteConfirm::kDeclined: return out;
    }
    LogMessage(2, "AddEffectFromEffectFile(): writing file %d, %d frames, %d clusters", slot, n, cpf * n);

    // The thumbnail block lies behind the slots, as much of it as the file
    // holds; what is missing stays black.
    std::vector<uint8_t> thumbnail(kThumbnailBytes, 0);
    MakeBlackThumbnail(thumbnail.data());
    {
        const uint64_t at = EffectFileSlotBytes(uint64_t(n), uint64_t(cpf));
        const size_t take = size_t(std::min<uint64_t>(fileBytes - at, kThumbnailBytes));
        std::vector<uint8_t> part(take);
        if (take > 0 && ReadWholeAt(file.fd, at, part.data(), take) == 1)
            std::memcpy(thumbnail.data(), part.data(), take);
        if (take < kThumbnailBytes)
            LogMessage(2, "AddEffectFromEffectFile(): %s: the thumbnail block holds %zu of 24576 bytes", path.c_str(), take);
    }
    ::posix_fadvise(file.fd, 0, 0, POSIX_FADV_SEQUENTIAL);
    CEffectFileSlotSource source(file.fd, path, uint32_t(n), slotCheck);

    ItemPlan plan;
    plan.kind = CardItem::kEffect;
    plan.index = slot;
    plan.frames = uint64_t(n);
    plan.clustersPerFrame = cpf;
    plan.entryTail[0] = header.switchByte;
    plan.entryTail[1] = header.hue;
    plan.sizeClass = 1;
    plan.thumbnailBlock = thumbnail.data();
    plan.readErrorText = IDS_ERROR_READING_VIDEO;
    return Outcome(WriteItem(op, card, source, plan), n);
}

EffectOpOutcome ReadEffect(IOperator& op, CSDCard& card, int slot) {
    if (slot < 0 || slot >= kEffectCount || !card.Directory().Effect(slot).Used()) return {};
    std::string path;
    if (!ChooseOutputFile(op, IDS_TITLE_READ_EFFECT, IDS_FILTER_EFFECT, "effect", path)) return {};
    return ReadEffectToFile(op, card, slot, path);
}

EffectOpOutcome ReadEffectToFile(IOperator& op, CSDCard& card, int slot, const std::string& path) {
    EffectOpOutcome out;
    if (slot < 0 || slot >= kEffectCount) return out;
    const CardDirectory& dir = card.Directory();
    ExportPlan plan;
    plan.head = dir.Effect(slot);
    if (!plan.head.Used()) return out;
    EffectFileHeader header;
    header.frames = plan.head.numFrames;
    header.clustersPerFrame = plan.head.clustersPerFrame;
    header.switchByte = dir.EffectSwitch(slot);
    header.hue = dir.EffectHue(slot);
    plan.header.resize(kEffectFileHeaderBytes);
    WriteEffectFileHeader(header, plan.header.data());
    plan.outputPath = path;
    plan.trailingClusters = 2;
    ExportOutcome r = ExportItem(op, card, plan);
    static_cast<OpOutcome&>(out) = r;
    out.frames = int(r.framesRead);
    if (out.Succeeded()) out.slot = slot;
    return out;
}

}  // namespace rk
