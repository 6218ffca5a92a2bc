#pragma once
// An effect as it lies on the card and in an ".effect" file. Every frame is
// an ordinary frame slot whose KVQ1 header carries, in bytes 12 to 19 (left
// zero by every other producer), the effect marks the device reads at air
// time: 0x40, the position (11 bits), the fade, the transition kind and the
// frames still to come. An ".effect" file is a 32-byte header ("STND",
// width, height, frames, clusters per frame, switch, hue) followed by the
// effect's clusters exactly as on the card: the slots, then the thumbnail.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "codec/effect_marks.h"
#include "codec/kvq1_format.h"

namespace rk {

class CStinger;

inline constexpr int kEffectWidth = 1920;
inline constexpr int kEffectHeight = 1080;
inline constexpr int kEffectClustersPerFrame = 33;  // HD cards only
inline constexpr int kMaxEffectPictures = 250;
inline constexpr size_t kEffectFileHeaderBytes = 32;
inline constexpr uint8_t kEffectFileMagic[4] = {'S', 'T', 'N', 'D'};
// Sound bytes of every effect frame (960 stereo 24-bit samples), whatever
// the card's rate; the chunk length field says 1448 words.
inline constexpr int kEffectAudioBytes = 5760;
// The rate whose share 5760 bytes is, which every effect frame's chunk announces.
inline constexpr int kEffectSoundRateCode = 50;
inline constexpr int kEffectMaxSoundSeconds = 5;
// Offset of the frame header in the slot (the marks' rule: codec/effect_marks.h).
inline constexpr size_t kVideoAreaOffset = kSlotFrameOffset;

// Writes bytes 12..19 of a KVQ1 frame header.
void PutEffectMarks(uint8_t* frameHeader, const EffectMarks& marks);
// The marks of frame i of n of an effect made from `stinger` (its
// transition kind; position with the last-frame rule, so the last frame
// says 2047).
EffectMarks MarksOfFrame(const CStinger& stinger, int frame, int frames);

// Entry bytes 8 and 9: Switch (1 for keyframed kinds, else the kind) and Hue
// (the low 8 bits of the measured half extent of an animated wipe).
uint8_t EffectSwitchOf(int kind);
uint8_t EffectHueOf(int kind, int param1);

struct EffectFileHeader {
    uint16_t width = kEffectWidth;
    uint16_t height = kEffectHeight;
    uint16_t frames = 0;
    uint16_t clustersPerFrame = kEffectClustersPerFrame;
    uint8_t switchByte = 0;
    uint8_t hue = 0;
};

enum class EffectHeaderCheck : int {
    kOk = 0,
    kInvalid,       // "Invalid file format!": shorter than 32 bytes or not "STND"
    kNotSupported,  // "This file is not supported!": another size or clusters per frame
    kBadLength,     // "Error reading video file!": no frames, or the file ends
                    // inside its frame slots. Bytes behind the slots (a thumbnail
                    // block cut short, or more than one) are no fault.
};
// A few words on what a header check found ("the header says 65 clusters per
// frame, the card has 33"), for the detail beside the system's text.
std::string EffectHeaderFault(EffectHeaderCheck check, const EffectFileHeader& header, uint64_t fileBytes,
                              int cardClustersPerFrame);

void WriteEffectFileHeader(const EffectFileHeader& header, uint8_t* out32);
// Reads the header from the first `bytes` of a file; `fileBytes` is the
// file's whole length (0 when unknown: the length is then not checked) and
// `cardClustersPerFrame` the card's frame spacing.
EffectHeaderCheck ReadEffectFileHeader(const uint8_t* data, size_t bytes, uint64_t fileBytes,
                                       int cardClustersPerFrame, EffectFileHeader& header);
// The transition kind an entry's Switch byte promises of every frame's
// marks: 2 or 3 for the animated wipes, -1 for either keyframed kind (1).
int EffectKindOfSwitch(uint8_t switchByte);

// What is wrong with the head cluster and frame header of frame `frame` of
// an effect of `frames` frames bound for a card of rate code `rateCode`:
// the sound chunk (magic, frame number, the length of 5760 sound bytes on
// every card), an HD KVQ1 frame of the card's rate and the effect budget
// with the same frame number, and its marks (of kind `kind`, -1 either
// keyframed kind). nullptr when nothing is. `slot` holds at least the head
// cluster and the frame's 32-byte header.
const char* EffectSlotFault(const uint8_t* slot, size_t bytes, uint32_t frame, uint32_t frames, int rateCode,
                            int kind);

// Clusters of an effect (slots and the 2-cluster thumbnail) and the length
// of its ".effect" file.
uint64_t EffectClusters(uint64_t frames, uint64_t clustersPerFrame);
uint64_t EffectFileBytes(uint64_t frames, uint64_t clustersPerFrame);
// The length of its header and frame slots, without the thumbnail block.
uint64_t EffectFileSlotBytes(uint64_t frames, uint64_t clustersPerFrame);

// The numbered picture sequence from the chosen picture upwards: the last
// run of digits of the file name before its last three characters counts
// up (at least as wide as it was) until a name `exists` does not know, at
// most `limit` names. Empty when the name has no such digits. Only the file
// name is looked at, never the folders above it.
std::vector<std::string> PictureSequence(const std::string& path,
                                         const std::function<bool(const std::string&)>& exists,
                                         size_t limit = kMaxEffectPictures);
// The same against the file system (regular files only).
std::vector<std::string> PictureSequence(const std::string& path, size_t limit = kMaxEffectPictures);

}  // namespace rk
