#pragma once
// The thumbnail image list shared by the six lists of the main window: 156
// pictures of 120 x 68, black at start. Video slot v uses image v (0..98),
// image 99 is the blank image, still s uses 100 + s, effect e 132 + e and
// logo l 148 + l.
#include <QIcon>
#include <QImage>
#include <QPixmap>
#include <array>

namespace rk {

class CThumbnailList {
public:
    static constexpr int kCount = 156;
    static constexpr int kWidth = 120;
    static constexpr int kHeight = 68;
    static constexpr int kBlank = 99;
    static constexpr int VideoImage(int v) { return v; }
    static constexpr int StillImage(int s) { return 100 + s; }
    static constexpr int EffectImage(int e) { return 132 + e; }
    static constexpr int LogoImage(int l) { return 148 + l; }

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
