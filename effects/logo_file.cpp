#include "effects/logo_file.h"

#include <cstring>

#include "codec/kavq1_slot.h"
#include "codec/kvq1_format.h"

namespace rk {

namespace {

uint16_t LE16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
void PutLE16(uint8_t* p, uint16_t v) {
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
}

}  // namespace

AnimLogoCheck ParseAnimLogoHeader(const uint8_t* data, size_t size, AnimLogoHeader& header) {
    header = AnimLogoHeader();
    if (!data || size < kAnimLogoHeaderBytes || std::memcmp(data, "ANML", 4) != 0) return AnimLogoCheck::kInvalid;
    header.width = LE16(data + 4);
    header.height = LE16(data + 6);
    header.numFrames = LE16(data + 8);
    header.clustersPerFrame = LE16(data + 10);
    // A logo without frames would leave a free entry behind "Write completed.".
    if (header.numFrames == 0) return AnimLogoCheck::kInvalid;
    return AnimLogoCheck::kOk;
}

AnimLogoCheck CheckAnimLogoHeader(const AnimLogoHeader& header, int cardClustersPerFrame) {
    if (header.width != kLogoWidth || header.height != kLogoHeight ||
        static_cast<int>(header.clustersPerFrame) != cardClustersPerFrame)
        return AnimLogoCheck::kUnsupported;
    return AnimLogoCheck::kOk;
}

uint64_t AnimLogoFileBytes(const AnimLogoHeader& header) {
    return kAnimLogoHeaderBytes +
           (uint64_t(header.numFrames) * header.clustersPerFrame + kThumbnailClusters) * uint64_t(kClusterSize);
}

const char* AnimLogoSlotFault(const uint8_t* slot, size_t bytes, uint32_t frame) {
    if (bytes < size_t(kSlotFrameOffset) + kKVQ1HeaderBytes) return "the slot is short";
    if (const char* fault =
            KAVQ1SlotFault(slot, bytes, 1, kLogoRateCode, kLogoSlotClusters * kClusterBytes, frame))
        return fault;
    if (ReadBE32(slot + kSlotFrameOffset + 8) != frame) return "the frame header's number is out of sequence";
    return nullptr;
}

std::string AnimLogoHeaderFault(AnimLogoCheck check, const AnimLogoHeader& h, int cardClustersPerFrame) {
    switch (check) {
    case AnimLogoCheck::kOk: return {};
    case AnimLogoCheck::kInvalid:
        // The parse fills the fields only behind a sound magic.
        return h.width != 0 || h.height != 0 || h.clustersPerFrame != 0
                   ? "the header says 0 frames"
                   : "no logo file header (\"ANML\" and 32 bytes)";
    case AnimLogoCheck::kUnsupported:
        if (h.width != kLogoWidth || h.height != kLogoHeight)
            return "the header says " + std::to_string(h.width) + " x " + std::to_string(h.height) + ", not 1920 x 1080";
        return "the header says " + std::to_string(h.clustersPerFrame) + " clusters per frame, the card has " +
               std::to_string(cardClustersPerFrame);
    }
    return {};
}

std::vector<uint8_t> MakeAnimLogoHeader(const EntryHead& head) {
    std::vector<uint8_t> h(kAnimLogoHeaderBytes, 0);
    std::memcpy(h.data(), "ANML", 4);
    PutLE16(h.data() + 4, kLogoWidth);
    PutLE16(h.data() + 6, kLogoHeight);
    PutLE16(h.data() + 8, head.numFrames);
    PutLE16(h.data() + 10, head.clustersPerFrame);
    return h;
}

}  // namespace rk
