#pragma once
// Thumbnails: the 2-Cluster block behind every item's frames holding a
// 120-pixel-wide UYVY picture, the maker that fills it from a frame slot,
// the black default, and the readers that turn a block back into a picture.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "media/picture.h"

namespace rk {

class CSDCard;

inline constexpr size_t kThumbBlockBytes = 24576;  // 2 Clusters
inline constexpr int kThumbWidth = 120;
// Pictures are read and shown as 120 x 68; the maker writes 120 x 67 (the
// 68th row stays zero in the block and reads back as a dark green row).
inline constexpr int kThumbHeight = 68;

// Fills `block` (24576 bytes) with the black default: a cleared 120 x 68
// picture in UYVY (Y = 16, Cb = Cr = 128), zero behind it.
void MakeBlackThumbnail(uint8_t* block);

// Converts the first 120 x 68 pixels of a thumbnail block into `picture`
// (created 120 x 68 when its size differs). False when it cannot be created.
bool ThumbnailFromBlock(const uint8_t* block, CPicture& picture);

// Makes thumbnails from frame slots for one card picture size. Owns the
// decode planes and the full-size picture, allocated once on first use and
// reused: one maker serves a whole operation.
class CThumbnailMaker {
public:
    // `sizeClass` 1 (1920 x 1080) or 2 (3840 x 2160).
    explicit CThumbnailMaker(int sizeClass);
    ~CThumbnailMaker();
    CThumbnailMaker(const CThumbnailMaker&) = delete;
    CThumbnailMaker& operator=(const CThumbnailMaker&) = delete;

    // Clears `block` (24576 bytes), decodes the KVQ1 frame at byte 12288 of
    // `slot` ((clustersPerFrame - 1) x 12288 bytes long), shrinks it by
    // halving while wider than 120 and writes it as UYVY into `block`.
    // False when the frame does not decode (the block is then all zero; the
    // caller uses the black default).
    bool Make(const uint8_t* slot, int clustersPerFrame, uint8_t* block);

    // The same from an already decoded frame.
    bool MakeFromFrame(const FramePlanes& frame, uint8_t* block);

private:
    bool EnsurePlanes();
    int width_ = 0;
    int height_ = 0;
    std::unique_ptr<uint8_t[]> planes_;  // Y, Cb, Cr of width x (height + 8) bytes each
    CPicture picture_;
};

// Reads the 2-Cluster thumbnail block at `cluster` of the card into `block`
// (24576 bytes) and converts it into `picture` (120 x 68). A failed read
// answers false and leaves `picture` untouched, so a list keeps its old image;
// the card layer has then reported the error once.
bool ReadThumbnail(CSDCard& card, uint32_t cluster, uint8_t* block, CPicture& picture);

// Writes 24-bit RGB rows (R, G, B) as an 8-bit truecolour PNG. No compression
// library is needed: the image data goes out in stored deflate blocks. On
// failure `why` (when given) names the file and the cause.
bool WritePNG(const std::string& path, int width, int height, const uint8_t* rgb, std::string* why = nullptr);

// Writes a picture's colour (its transparency dropped) as a PNG.
bool WritePicturePNG(const std::string& path, const CPicture& picture, std::string* why = nullptr);

}  // namespace rk
