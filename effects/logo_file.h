#pragma once
// The animated logo file (".animlogo"): a 32-byte header, then the logo's
// Clusters as they lie on the card (frame slots, then the thumbnail block).
// Header fields are little-endian: "ANML", width 1920, height 1080,
// NumFrames, ClustersPerFrame of the entry, 20 zero bytes.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "card/card_directory.h"

namespace rk {

inline constexpr size_t kAnimLogoHeaderBytes = 32;
inline constexpr int kLogoWidth = 1920;
inline constexpr int kLogoHeight = 1080;

struct AnimLogoHeader {
    uint16_t width = 0;
    uint16_t height = 0;
    uint16_t numFrames = 0;
    uint16_t clustersPerFrame = 0;
};

enum class AnimLogoCheck : int {
    kOk = 0,
    kInvalid,      // "Invalid file format!": too short, another magic, no frames
    kUnsupported,  // "This file is not supported!": another size or frame spacing
};

// Reads the header from the first `size` bytes of a file.
AnimLogoCheck ParseAnimLogoHeader(const uint8_t* data, size_t size, AnimLogoHeader& header);
// Whether a parsed header fits a card whose frames are `cardClustersPerFrame` apart.
AnimLogoCheck CheckAnimLogoHeader(const AnimLogoHeader& header, int cardClustersPerFrame);
// Bytes a complete file of this header holds: the header, the frames and
// the thumbnail block.
uint64_t AnimLogoFileBytes(const AnimLogoHeader& header);
// The header of a file read back from an entry.
std::vector<uint8_t> MakeAnimLogoHeader(const EntryHead& head);

}  // namespace rk
