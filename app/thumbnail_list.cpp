#include "app/thumbnail_list.h"

namespace rk {

namespace {
QPixmap Black() {
    QPixmap p(CThumbnailList::kWidth, CThumbnailList::kHeight);
    p.fill(Qt::black);
    return p;
}
}  // namespace

CThumbnailList::CThumbnailList() { images_.fill(Black()); }

void CThumbnailList::Set(int index, const QImage& picture) {
    if (index < 0 || index >= kCount || picture.isNull()) return;
    QImage img = picture.convertToFormat(QImage::Format_RGB32);
    if (img.width() != kWidth || img.height() != kHeight) {
        // Narrower pictures keep their size in the top-left corner over black,
        // as a 120 x 67 thumbnail leaves its last row dark.
        QImage framed(kWidth, kHeight, QImage::Format_RGB32);
        framed.fill(Qt::black);
        for (int y = 0; y < std::min(kHeight, img.height()); ++y)
            std::copy_n(reinterpret_cast<const QRgb*>(img.constScanLine(y)), std::min(kWidth, img.width()),
                        reinterpret_cast<QRgb*>(framed.scanLine(y)));
        img = framed;
    }
    images_[static_cast<size_t>(index)] = QPixmap::fromImage(img);
}

void CThumbnailList::Clear(int index) {
    if (index < 0 || index >= kCount) return;
    images_[static_cast<size_t>(index)] = Black();
}

const QPixmap& CThumbnailList::Image(int index) const {
    if (index < 0 || index >= kCount) return images_[kBlank];
    return images_[static_cast<size_t>(index)];
}

QIcon CThumbnailList::Icon(int index) const { return QIcon(Image(index)); }

}  // namespace rk
