#include "codec/effect_marks.h"

#include <algorithm>
#include <cstring>

#include "codec/kavq1_slot.h"
#include "codec/kvq1_format.h"

namespace rk {

bool GetEffectMarks(const uint8_t* h, EffectMarks& m) {
    if (h[12] != kEffectMarkByte || h[18] > 3) return false;
    m.kind = h[18];
    m.position = h[15] | ((h[16] & 0xE0) << 3);
    m.fade = h[17];
    m.framesAfter = h[19];
    return true;
}

bool IsEffectFrameSlot(const uint8_t* slot, size_t bytes, uint32_t frame, uint32_t frames) {
    if (bytes < size_t(kSlotFrameOffset) + kKVQ1HeaderBytes || frame >= frames) return false;
    if (std::memcmp(slot, kAudioChunkMagic, 4) != 0) return false;
    const uint8_t* h = slot + kSlotFrameOffset;
    if (std::memcmp(h, kKVQ1Magic, 4) != 0 || ReadBE32(h + 8) != frame) return false;
    EffectMarks m;
    if (!GetEffectMarks(h, m)) return false;
    return m.framesAfter == int(std::min<uint32_t>(frames - 1 - frame, 255));
}

const char* EffectMarksFault(const uint8_t* h, uint32_t frame, uint32_t frames, int kind) {
    if (h[12] != kEffectMarkByte) return "byte 12 is not 0x40";
    if (h[13] != 0 || h[14] != 0 || (h[16] & 0x1F) != 0) return "bits set that must be zero";
    EffectMarks m;
    if (!GetEffectMarks(h, m)) return "no transition kind 0 to 3";
    if (kind >= 0 && m.kind != kind) return "another transition kind than the entry's";
    if (frame < frames && m.framesAfter != int(std::min<uint32_t>(frames - 1 - frame, 255)))
        return "frames after it disagree with the entry";
    if (!IsKeyframedEffectKind(m.kind)) {
        if (h[15] != 0 || h[16] != 0 || h[17] != 0) return "an animated wipe with a position or fade";
        return nullptr;
    }
    const bool last = frame + 1 == frames;
    if (last && m.position != kEffectLastFramePosition) return "the last frame's position is not 2047";
    if (!last && m.position == kEffectLastFramePosition) return "position 2047 before the last frame";
    return nullptr;
}

}  // namespace rk
