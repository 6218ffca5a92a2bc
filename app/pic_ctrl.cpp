#include "app/pic_ctrl.h"

#include <QMouseEvent>
#include <QPainter>
#include <algorithm>
#include <cstring>

namespace rk {

CPicCtrl::CPicCtrl(QWidget* parent) : QWidget(parent) {
    // The paint covers the whole control: nothing to erase first.
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void CPicCtrl::CreateBitmap() {
    if (bitmap_.width() == kWidth && bitmap_.height() == kHeight) return;
    bitmap_ = QImage(kWidth, kHeight, QImage::Format_RGB32);
    bitmap_.fill(Qt::black);
    if (picture_.Create(kWidth, kHeight)) picture_.Clear();
}

void CPicCtrl::Redraw() {
    if (HasBitmap() && picture_.Width() == kWidth && picture_.Height() == kHeight) {
        // B, G, R bytes as they are; the fourth byte of RGB32 must be 0xff.
        for (int y = 0; y < kHeight; ++y) {
            const uint8_t* src = picture_.Row(y);
            auto* dst = reinterpret_cast<uint32_t*>(bitmap_.scanLine(y));
            for (int x = 0; x < kWidth; ++x) {
                uint32_t v;
                std::memcpy(&v, src + 4 * x, 4);
                dst[x] = v | 0xff000000u;
            }
        }
    }
    update();
}

void CPicCtrl::SetMarker(int perMille) {
    const int m = perMille < 0 ? -1 : perMille;
    if (m == marker_) return;
    marker_ = m;
    update();
}

bool CPicCtrl::MarkerSpan(int width, int perMille, int& left, int& right) {
    if (perMille < 0 || width <= 0) return false;
    const int x = static_cast<int>(static_cast<long long>(width) * perMille / 1000);
    left = std::max(0, x - 2);
    right = std::min(width - 1, x + 3);
    return left <= right;
}

void CPicCtrl::paintEvent(QPaintEvent*) {
    if (!HasBitmap()) return;
    QPainter p(this);
    // Nearest pixels when stretched, as a plain colour-on-colour stretch.
    if (size() == bitmap_.size()) p.drawImage(0, 0, bitmap_);
    else p.drawImage(rect(), bitmap_);
    int left = 0, right = 0;
    if (!MarkerSpan(width(), marker_, left, right)) return;
    // The white outline and hatch are or-ed into the picture (black adds
    // nothing), so the bar shows over any content.
    p.setCompositionMode(QPainter::RasterOp_SourceOrDestination);
    p.setPen(QPen(Qt::white, 1));
    p.setBrush(QBrush(Qt::white, Qt::BDiagPattern));
    p.setBackgroundMode(Qt::TransparentMode);
    p.drawRect(QRect(left, 0, right - left, height() - 1));
}

void CPicCtrl::mousePressEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton) emit pressed(event->position().toPoint());
    QWidget::mousePressEvent(event);
}

}  // namespace rk
