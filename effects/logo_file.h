#pragma once
// The animated logo file (".animlogo"): a 32-byte header, then the logo's
// Clusters as they lie on the card (frame slots, then the thumbnail block).
// Header fields are little-endian: "ANML", width 1920, height 1080,
// NumFrames, ClustersPerFrame of the entry, 20 zero bytes.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "card/card_directory.h"

namespace rk {

inline constexpr size_t kAnimLogoHeaderBytes = 32;
inline constexpr int kLogoWidth = 1920;
inline constexpr int kLogoHeight = 1080;
// Every logo frame is an HD frame at rate code 50 in a 33-cluster slot,
// whatever the card; on a 3840 x 2160 card the slots lie 65 clusters apart.
inline constexpr int kLogoRateCode = 50;
inline constexpr int kLogoSlotClusters = 33;

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
// What is wrong with the head cluster and frame header of logo frame
// `frame`: a sound chunk numbered `frame` of rate code 50's share, and an HD
// KVQ1 frame at rate code 50 with a 33-cluster slot's budget carrying the
// same number. nullptr when nothing is. `slot` holds at least the head
// cluster and the frame's 32-byte header.
const char* AnimLogoSlotFault(const uint8_t* slot, size_t bytes, uint32_t frame);
// A few words on what a header check found, for the detail beside the
// system's text.
std::string AnimLogoHeaderFault(AnimLogoCheck check, const AnimLogoHeader& header, int cardClustersPerFrame);

// The header of a file read back from an entry.
std::vector<uint8_t> MakeAnimLogoHeader(const EntryHead& head);

}  // namespace rk
