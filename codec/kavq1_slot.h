#pragma once
// Frame slots: the unit of the card and of KAVQ1 files (".kavq1"). A slot is
// clusters-per-frame x 12288 bytes: the head cluster carries the frame's audio
// chunk, the video area from byte 12288 carries one KVQ1 frame whose budget
// field equals the area's size in sectors. A KAVQ1 file is slots back to back
// with no header, index or trailer.
//
// Audio: 48000 Hz stereo, 24-bit signed. The chunk stores 12-byte groups of two
// stereo sample frames: the upper 16 bits of L0 R0 L1 R1 as big-endian words,
// then the four low bytes.
#include <cstddef>
#include <cstdint>

#include "codec/kvq1_format.h"

namespace rk {

inline constexpr int kAudioChunkHeaderBytes = 32;
inline constexpr int kMaxAudioChunkBytes = kClusterBytes - kAudioChunkHeaderBytes;  // 12256
inline constexpr int kAudioGroupBytes = 12;
inline constexpr int kAudioBytesPerSecond = 288000;  // 48000 x 2 x 3
inline constexpr uint8_t kAudioChunkMagic[4] = {'K', 'A', 'Q', '1'};

// Audio bytes in the chunk of frame `frameNumber` at rate code `rateCode`
// (0 read as 50): 288000 / F, plus 24 (code 29) or 12 (code 59) when
// frameNumber mod 5 is 2 or 4. 0 for an unknown rate code.
int AudioShareBytes(int rateCode, uint32_t frameNumber);
// The chunk length field (in 32-bit words, header included) for a share.
int AudioChunkLengthWords(int shareBytes);

// Writes the 32-byte chunk header at `head` (magic, 0x85, frame number, the
// length field for shareBytes; the rest zero).
void WriteAudioChunkHeader(uint8_t* head, uint32_t frameNumber, int shareBytes);

// Interleaved little-endian 24-bit stereo to the stored order and back. `bytes`
// is rounded down to whole 12-byte groups; returns the bytes converted. The
// buffers must not overlap.
size_t RegroupAudioToStored(const uint8_t* interleaved, uint8_t* stored, size_t bytes);
size_t RegroupAudioToInterleaved(const uint8_t* stored, uint8_t* interleaved, size_t bytes);

// Fills the head cluster (12288 bytes) of a slot: zero, the chunk header, and
// when `audio` holds at least one share (audioBytes >= share) the first share
// regrouped at offset 32. Returns the share used (bytes to drop from the
// caller's audio buffer), or 0 when the audio bytes stayed silent.
int FillAudioChunk(uint8_t* head, uint32_t frameNumber, int rateCode, const uint8_t* audio,
                   size_t audioBytes);

// Reader side: the audio bytes a head cluster announces (chunk length x 4 - 32),
// 0 when that is 0 or less, never more than 12256 so that a reader stays in
// the head cluster. The magic is not checked.
int AudioChunkBytes(const uint8_t* head);

// Frames in a KAVQ1 file: whole slots only.
uint64_t KAVQ1FrameCount(uint64_t fileBytes, int slotBytes);

// The checks of adding a KAVQ1 file to a card, on its first slot (at least
// 12288 + 32 readable bytes).
enum class KAVQ1Check : int {
    Ok = 0,
    Invalid,      // "Invalid video file format!": no "KVQ1" at 12288 or size class not 1/2
    Unsupported,  // "Unsupported video file format!": other size class, rate or slot size
};
KAVQ1Check CheckKAVQ1Slot(const uint8_t* slot, size_t bytes, int cardSizeClass, int cardRateCode,
                          int cardSlotBytes);

// The cheap checks of every slot copied from a KAVQ1 file, beyond
// CheckKAVQ1Slot's: the head cluster's chunk header (magic, 0x85, frame
// number `expectedFrame`, chunk length of that frame's share at the rate) and
// the frame header (magic, size class, rate, budget). nullptr when the slot
// passes, else what is wrong with it. A full decode is not done here.
// `chunkRateCode` is the rate whose share the chunk length announces, when
// it is not the frame's (effects announce the share of rate code 50 on
// every card); 0 for the frame's own.
const char* KAVQ1SlotFault(const uint8_t* slot, size_t bytes, int cardSizeClass, int cardRateCode, int cardSlotBytes,
                           uint32_t expectedFrame, int chunkRateCode = 0);

// What the export converter reads from the first slot's frame header.
struct KAVQ1StreamInfo {
    int sizeClass = 0;
    int rateCode = 0;      // 0 read as 50
    int budgetBytes = 0;   // a budget field of 0 reads 600064 (class 1) or 1200128 (class 2)
    int slotBytes = 0;     // budgetBytes + 12288
};
// False ("Invalid video file format!") when the size class byte is not 1 or 2
// or fewer than 12288 + 8 bytes are given.
bool ReadKAVQ1StreamInfo(const uint8_t* slot, size_t bytes, KAVQ1StreamInfo& info);

}  // namespace rk
