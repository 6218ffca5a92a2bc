#pragma once
// Shape of a KVQ1 frame and of the frame slots that carry it: picture and slot
// geometry per size class and frame rate codes, each from one table, and the
// fixed header layout. Shared by the encoder, the decoder, the parser, the
// frame slots and the tools' command lines.
//
// Plane layouts used everywhere in the codec (encoder input, decoder output):
//   luma:   width x codedHeight bytes, line stride = width
//   Cb, Cr: width/2 x codedHeight/2 bytes each, line stride = width/2
// Size class 1 is a 1920 x 1080 picture coded as 1920 x 1088: luma lines 1080
// to 1087 (chroma lines 540 to 543) are filler. Producers fill them with luma 0
// and chroma 128; readers drop them. Size class 2 (3840 x 2160) has no filler.
#include <cstddef>
#include <cstdint>

namespace rk {

inline constexpr int kKVQ1HeaderBytes = 32;
inline constexpr int kKVQ1SliceHeaderBytes = 4;
inline constexpr uint8_t kKVQ1Magic[4] = {'K', 'V', 'Q', '1'};

// The six blocks of a macroblock in coding order are luma top left, luma top
// right, Cb, Cr, luma bottom left, luma bottom right; this is the plane of
// each (0 luma, 1 Cb, 2 Cr), which also picks its DC predictor.
inline constexpr int kKVQ1BlockPlane[6] = {0, 0, 1, 2, 0, 0};

// Quantisers run from 1 to 64; 65 stands for "every slice empty".
inline constexpr int kKVQ1MaxQuantiser = 64;
inline constexpr int kKVQ1EmptyQuantiser = 65;

struct KVQ1Geometry {
    int sizeClass = 0;    // 1 or 2; 0 when the size class is unknown
    int width = 0;        // picture width: 1920 or 3840
    int height = 0;       // picture height: 1080 or 2160
    int codedHeight = 0;  // luma lines the planes must hold: 1088 or 2160
    int rows = 0;         // macroblock rows (slices): 68 or 135
    int columns = 0;      // macroblocks per row: 120 or 240

    bool Valid() const { return sizeClass == 1 || sizeClass == 2; }
    size_t LumaBytes() const { return size_t(width) * size_t(codedHeight); }
    size_t ChromaBytes() const { return size_t(width / 2) * size_t(codedHeight / 2); }
    int ChromaWidth() const { return width / 2; }
    int ChromaCodedHeight() const { return codedHeight / 2; }
    int ChromaHeight() const { return height / 2; }
};

// Geometry of size class 1 or 2; an invalid (all-zero) geometry otherwise.
KVQ1Geometry KVQ1GeometryFor(int sizeClass);

// Frame slots: clusters-per-frame x 12288 bytes. The head cluster carries the
// frame's audio chunk; the KVQ1 frame starts right behind it.
inline constexpr int kClusterBytes = 12288;
inline constexpr int kSlotHeadBytes = kClusterBytes;    // the audio cluster of a slot
inline constexpr int kSlotFrameOffset = kSlotHeadBytes;  // where a slot's KVQ1 frame starts

struct SlotGeometry {
    int sizeClass = 0;         // 1 or 2; 0 when unknown
    int clustersPerFrame = 0;  // 33 or 65
    int slotBytes = 0;         // 405504 or 798720
    int budgetSectors = 0;     // 768 or 1536
    int budgetBytes = 0;       // 393216 or 786432: the video area
    bool Valid() const { return sizeClass == 1 || sizeClass == 2; }
};

// The slot of size class 1 or 2; an invalid (all-zero) geometry otherwise.
SlotGeometry SlotGeometryFor(int sizeClass);
// A frame's budget in 512-byte sectors: its slot less the head cluster.
constexpr int FrameBudgetSectors(int clustersPerFrame) { return (clustersPerFrame - 1) * (kClusterBytes / 512); }
// The budget of a 1920 x 1080 slot (33 clusters, 768 sectors): logos are
// coded at it on every card, effects on the HD cards they exist on.
inline constexpr int kHdBudgetSectors = FrameBudgetSectors(33);
// The bytes of a slot whose video area is `budgetBytes`.
constexpr int SlotBytesForBudget(int budgetBytes) { return kSlotHeadBytes + budgetBytes; }

// Frame rate codes: 25, 29 (30000/1001), 30, 50, 59 (60000/1001), 60. A code of
// 0 is read as 50 wherever a code is used.
struct KVQ1FrameRate {
    int code;
    int numerator, denominator;  // the exact rate
    int nominal;                 // the whole frames per second it is counted in: 30 for 29.97
    const char* toolText;        // the rate on ffmpeg's command line
};
inline constexpr KVQ1FrameRate kKVQ1FrameRates[] = {
    {25, 25, 1, 25, "25"},    {29, 30000, 1001, 30, "30000/1001"}, {30, 30, 1, 30, "30"},
    {50, 50, 1, 50, "50"},    {59, 60000, 1001, 60, "60000/1001"}, {60, 60, 1, 60, "60"},
};
int NormaliseFrameRateCode(int code);
bool IsKnownFrameRateCode(int code);  // after normalising
// The table row of a code (after normalising); nullptr for an unknown code.
const KVQ1FrameRate* FindFrameRate(int code);
// The row of a code, or of 50 for an unknown one (the tools' default).
const KVQ1FrameRate& FrameRateOrDefault(int code);
// The rate as a fraction (e.g. 30000/1001 for code 29); false for unknown codes.
bool FrameRateFraction(int code, int& numerator, int& denominator);

// Big-endian helpers for the headers.
inline uint16_t ReadBE16(const uint8_t* p) { return uint16_t((p[0] << 8) | p[1]); }
inline uint32_t ReadBE32(const uint8_t* p) {
    return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | uint32_t(p[3]);
}
inline void WriteBE16(uint8_t* p, uint32_t v) {
    p[0] = uint8_t(v >> 8);
    p[1] = uint8_t(v);
}
inline void WriteBE32(uint8_t* p, uint32_t v) {
    p[0] = uint8_t(v >> 24);
    p[1] = uint8_t(v >> 16);
    p[2] = uint8_t(v >> 8);
    p[3] = uint8_t(v);
}

}  // namespace rk
