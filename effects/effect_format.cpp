#include "effects/effect_format.h"

#include "convert/picture_run.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstring>

#include "base/path_util.h"
#include "card/card_directory.h"
#include "codec/kavq1_slot.h"
#include "codec/kvq1_format.h"
#include "effects/stinger.h"

namespace rk {

namespace {

uint16_t ReadLE16(const uint8_t* p) { return uint16_t(p[0] | (p[1] << 8)); }
void WriteLE16(uint8_t* p, uint32_t v) {
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
}

}  // namespace

static_assert(kLastFramePosition == kEffectLastFramePosition, "one last-frame position");

void PutEffectMarks(uint8_t* h, const EffectMarks& m) {
    bool keyed = IsKeyframedKind(m.kind);
    int position = keyed ? std::clamp(m.position, 0, kLastFramePosition) : 0;
    h[12] = kEffectMarkByte;
    h[13] = 0;
    h[14] = 0;
    h[15] = uint8_t(position & 0xFF);
    h[16] = uint8_t((position >> 3) & 0xE0);
    h[17] = keyed ? uint8_t(std::clamp(m.fade, 0, kMaxFade)) : 0;
    h[18] = uint8_t(std::clamp(m.kind, 0, 3));
    h[19] = uint8_t(std::clamp(m.framesAfter, 0, 255));
}

EffectMarks MarksOfFrame(const CStinger& stinger, int frame, int frames) {
    EffectMarks m;
    m.kind = stinger.TransitionKind();
    if (IsKeyframedKind(m.kind)) {
        m.position = stinger.PositionAt(frame, true);
        m.fade = stinger.FadeAt(frame);
    }
    m.framesAfter = std::clamp(frames - 1 - frame, 0, 255);
    return m;
}

uint8_t EffectSwitchOf(int kind) { return IsKeyframedKind(kind) ? 1 : uint8_t(kind); }

uint8_t EffectHueOf(int kind, int param1) { return IsKeyframedKind(kind) ? 0 : uint8_t(param1 & 0xFF); }

void WriteEffectFileHeader(const EffectFileHeader& h, uint8_t* out) {
    std::memset(out, 0, kEffectFileHeaderBytes);
    std::memcpy(out, kEffectFileMagic, 4);
    WriteLE16(out + 4, h.width);
    WriteLE16(out + 6, h.height);
    WriteLE16(out + 8, h.frames);
    WriteLE16(out + 10, h.clustersPerFrame);
    out[12] = h.switchByte;
    out[13] = h.hue;
}

EffectHeaderCheck ReadEffectFileHeader(const uint8_t* data, size_t bytes, uint64_t fileBytes,
                                       int cardClustersPerFrame, EffectFileHeader& h) {
    if (bytes < kEffectFileHeaderBytes || std::memcmp(data, kEffectFileMagic, 4) != 0)
        return EffectHeaderCheck::kInvalid;
    h.width = ReadLE16(data + 4);
    h.height = ReadLE16(data + 6);
    h.frames = ReadLE16(data + 8);
    h.clustersPerFrame = ReadLE16(data + 10);
    h.switchByte = data[12];
    h.hue = data[13];
    if (h.width != kEffectWidth || h.height != kEffectHeight || h.clustersPerFrame != cardClustersPerFrame)
        return EffectHeaderCheck::kNotSupported;
    // A switch the device does not know would be aired as garbage.
    if (h.switchByte < 1 || h.switchByte > 3) return EffectHeaderCheck::kNotSupported;
    if (h.frames == 0) return EffectHeaderCheck::kBadLength;
    // A thumbnail block cut short, or bytes behind it, put no bad frame on
    // the card: only a file that ends inside its frames is refused.
    if (fileBytes != 0 && fileBytes < EffectFileSlotBytes(h.frames, h.clustersPerFrame))
        return EffectHeaderCheck::kBadLength;
    return EffectHeaderCheck::kOk;
}

std::string EffectHeaderFault(EffectHeaderCheck check, const EffectFileHeader& h, uint64_t fileBytes,
                              int cardClustersPerFrame) {
    switch (check) {
    case EffectHeaderCheck::kOk: return {};
    case EffectHeaderCheck::kInvalid: return "no effect file header (\"STND\" and 32 bytes)";
    case EffectHeaderCheck::kNotSupported:
        if (h.width != kEffectWidth || h.height != kEffectHeight)
            return "the header says " + std::to_string(h.width) + " x " + std::to_string(h.height) + ", not 1920 x 1080";
        if (h.clustersPerFrame != cardClustersPerFrame)
            return "the header says " + std::to_string(h.clustersPerFrame) + " clusters per frame, the card has " +
                   std::to_string(cardClustersPerFrame);
        return "the header's switch byte is " + std::to_string(int(h.switchByte)) + ", not 1 to 3";
    case EffectHeaderCheck::kBadLength:
        if (h.frames == 0) return "the header says 0 frames";
        return "the file ends inside its frames (" + std::to_string(fileBytes) + " bytes, " +
               std::to_string(h.frames) + " frames need " +
               std::to_string(EffectFileSlotBytes(h.frames, h.clustersPerFrame)) + ")";
    }
    return {};
}

int EffectKindOfSwitch(uint8_t switchByte) { return switchByte == 2 || switchByte == 3 ? switchByte : -1; }

const char* EffectSlotFault(const uint8_t* slot, size_t bytes, uint32_t frame, uint32_t frames, int rateCode,
                            int kind) {
    if (bytes < size_t(kSlotFrameOffset) + kKVQ1HeaderBytes) return "the slot is short";
    // Every effect frame's chunk announces 5760 sound bytes, the share of
    // rate code 50, whatever the card's rate.
    if (const char* fault = KAVQ1SlotFault(slot, bytes, 1, rateCode, kEffectClustersPerFrame * kClusterBytes, frame,
                                           kEffectSoundRateCode))
        return fault;
    const uint8_t* h = slot + kSlotFrameOffset;
    if (ReadBE32(h + 8) != frame) return "the frame header's number is out of sequence";
    if (const char* fault = EffectMarksFault(h, frame, frames, kind)) return fault;
    if (kind < 0 && !IsKeyframedEffectKind(h[18])) return "an animated wipe's marks in a keyframed effect";
    return nullptr;
}

uint64_t EffectClusters(uint64_t frames, uint64_t clustersPerFrame) { return frames * clustersPerFrame + kThumbnailClusters; }

uint64_t EffectFileBytes(uint64_t frames, uint64_t clustersPerFrame) {
    return kEffectFileHeaderBytes + uint64_t(kClusterBytes) * EffectClusters(frames, clustersPerFrame);
}

uint64_t EffectFileSlotBytes(uint64_t frames, uint64_t clustersPerFrame) {
    return kEffectFileHeaderBytes + uint64_t(kClusterBytes) * frames * clustersPerFrame;
}

std::vector<std::string> PictureSequence(const std::string& path,
                                         const std::function<bool(const std::string&)>& exists, size_t limit) {
    return NumberedPictures(path, exists, limit);
}

std::vector<std::string> PictureSequence(const std::string& path, size_t limit) {
    return NumberedPictures(path, limit);
}

}  // namespace rk
