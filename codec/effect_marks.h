#pragma once
// The effect marks: bytes 12 to 19 of the KVQ1 frame header of every effect
// frame (every other producer leaves them zero), which the device reads at
// air time to know where the switch stands:
//   12: 0x40; 13, 14: 0;
//   15: low 8 bits of the position (keyframed kinds; else 0);
//   16: bits 8..10 of the position in bits 5..7, bits 0..4 zero;
//   17: the fade (keyframed kinds; else 0);
//   18: the transition kind 0..3 (0 mix, 1 wipe: keyframed; 2, 3 animated wipes);
//   19: frames after this one, limited to 0..255.
// The rule lives with the codec so that the card layer (scan recovery), the
// card check and the effect writer all read it the same way.
#include <cstddef>
#include <cstdint>

namespace rk {

inline constexpr uint8_t kEffectMarkByte = 0x40;
inline constexpr size_t kEffectMarksOffset = 12;  // in the KVQ1 frame header
inline constexpr int kEffectLastFramePosition = 2047;

// The marks of one frame.
struct EffectMarks {
    int kind = 0;        // transition kind 0..3
    int position = 0;    // 0..2047 (keyframed kinds)
    int fade = 0;        // 0..255 (keyframed kinds)
    int framesAfter = 0; // frames behind this one, stored limited to 0..255
};

inline bool IsKeyframedEffectKind(int kind) { return kind == 0 || kind == 1; }

// Reads bytes 12..19 of a KVQ1 frame header; false when byte 12 is not 0x40
// or the kind is not 0..3.
bool GetEffectMarks(const uint8_t* frameHeader, EffectMarks& marks);

// True when `slot` (at least kSlotFrameOffset + 20 bytes) holds effect frame `frame` of
// `frames`: the audio chunk magic, a "KVQ1" frame numbered `frame`, and
// effect marks whose frame count agrees.
bool IsEffectFrameSlot(const uint8_t* slot, size_t bytes, uint32_t frame, uint32_t frames);

// What is wrong with the marks (a few words, "byte 12 is not 0x40") of frame `frame` of an effect of `frames`
// frames, or nullptr when nothing is: the fixed bytes, a kind of 0..3 equal
// to `kind` (-1: any), the frames-after count, zero position and fade for
// the animated wipes, and for the keyframed kinds a position of 0..2046
// that becomes 2047 on the last frame. `frameHeader` holds 32 bytes.
const char* EffectMarksFault(const uint8_t* frameHeader, uint32_t frame, uint32_t frames, int kind);

}  // namespace rk
