#pragma once
// The thumbnail image list shared by the six lists of the main window: 156
// pictures of 120 x 68, black at start. Video slot v uses image v (0..98),
// image 99 is the blank image, still s uses 100 + s, effect e 132 + e and
// logo l 148 + l.
#include <QIcon>
#include <QImage>
#include <QPixmap>
#include <array>

#include "card/card_directory.h"

namespace rk {

class CThumbnailList {
public:
    static constexpr int kWidth = 120;
    static constexpr int kHeight = 68;
    // One image per item slot of the card, in the directory's order.
    static constexpr int kBlank = kVideoCount;
    static constexpr int kFirstStill = kBlank + 1;
    static constexpr int kFirstEffect = kFirstStill + kStillCount;
    static constexpr int kFirstLogo = kFirstEffect + kEffectCount;
    static constexpr int kCount = kFirstLogo + kLogoCount;
    static_assert(kBlank == 99 && kFirstStill == 100 && kFirstEffect == 132 && kFirstLogo == 148 && kCount == 156);
    static constexpr int VideoImage(int v) { return v; }
    static constexpr int StillImage(int s) { return kFirstStill + s; }
    static constexpr int EffectImage(int e) { return kFirstEffect + e; }
    static constexpr int LogoImage(int l) { return kFirstLogo + l; }

    CThumbnailList();
    // Replaces image `index` (scaled to 120 x 68 when it has another size);
    // out-of-range indexes are ignored.
    void Set(int index, const QImage& picture);
    // Back to black.
    void Clear(int index);
    const QPixmap& Image(int index) const;
    QIcon Icon(int index) const;

private:
    std::array<QPixmap, kCount> images_;
};

}  // namespace rk
