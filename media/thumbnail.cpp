#include "media/thumbnail.h"

#include <cstring>
#include <new>

#include "card/sd_card.h"
#include "codec/kvq1_decoder.h"
#include "codec/kvq1_format.h"

namespace rk {

void MakeBlackThumbnail(uint8_t* block) {
    std::memset(block, 0, kThumbBlockBytes);
    // A cleared picture is black and opaque: every pair converts to
    // Cb 128, Y 16, Cr 128, Y 16. The block is filled directly rather than
    // through a temporary picture.
    const UYVYDepth depth;
    uint8_t black[4] = {0, 0, 0, 0};
    uint8_t pair[4];
    PairToUYVY(black, black, depth, pair, nullptr, nullptr);
    const size_t bytes = static_cast<size_t>(kThumbWidth) * kThumbHeight * 2;
    for (size_t i = 0; i < bytes; i += 4) std::memcpy(block + i, pair, 4);
}

bool ThumbnailFromBlock(const uint8_t* block, CPicture& picture) {
    if (picture.Width() != kThumbWidth || picture.Height() != kThumbHeight) {
        if (!picture.Create(kThumbWidth, kThumbHeight)) return false;
    }
    picture.FromUYVY(block);
    return true;
}

CThumbnailMaker::CThumbnailMaker(int sizeClass) {
    KVQ1Geometry g = KVQ1GeometryFor(sizeClass);
    width_ = g.width;
    height_ = g.height;
}

CThumbnailMaker::~CThumbnailMaker() = default;

bool CThumbnailMaker::EnsurePlanes() {
    if (planes_) return true;
    if (width_ <= 0 || height_ <= 0) return false;
    // Three planes of width x (height + 8): room for the coded height of
    // either size class in every plane.
    const size_t plane = static_cast<size_t>(width_) * static_cast<size_t>(height_ + 8);
    planes_.reset(new (std::nothrow) uint8_t[plane * 3]);
    return planes_ != nullptr;
}

bool CThumbnailMaker::Make(const uint8_t* slot, int clustersPerFrame, uint8_t* block) {
    std::memset(block, 0, kThumbBlockBytes);
    if (clustersPerFrame < 2 || !EnsurePlanes()) return false;
    const size_t plane = static_cast<size_t>(width_) * static_cast<size_t>(height_ + 8);
    uint8_t* y = planes_.get();
    uint8_t* cb = y + plane;
    uint8_t* cr = cb + plane;
    const size_t frameBytes = static_cast<size_t>(clustersPerFrame - 1) * kClusterSize;
    KVQ1Decoder decoder;
    if (!decoder.Decode(slot + kClusterSize, frameBytes, y, cb, cr)) return false;
    // A frame of another size class than the card's would not fit the planes'
    // picture; such a frame never gets past the header checks, but stay safe.
    if (decoder.Geometry().width != width_ || decoder.Geometry().height != height_) return false;
    FramePlanes frame{y, cb, cr, width_, height_};
    return MakeFromFrame(frame, block);
}

bool CThumbnailMaker::MakeFromFrame(const FramePlanes& frame, uint8_t* block) {
    std::memset(block, 0, kThumbBlockBytes);
    if (!FrameToPicture(frame, picture_)) return false;
    while (picture_.Width() > kThumbWidth) picture_.Halve();
    if (static_cast<size_t>(picture_.Width()) * picture_.Height() * 2 > kThumbBlockBytes) return false;
    picture_.ToUYVY(block);
    return true;
}

bool ReadThumbnail(CSDCard& card, uint32_t cluster, uint8_t* block, CPicture& picture) {
    if (!card.ReadClusters(cluster, block, 2)) return false;
    return ThumbnailFromBlock(block, picture);
}

}  // namespace rk
