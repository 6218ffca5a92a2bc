#include "app/tick_slider.h"

#include <QPainter>
#include <QStyle>
#include <QStyleOptionSlider>
#include <algorithm>

namespace rk {

CTickSlider::CTickSlider(Qt::Orientation orientation, QWidget* parent) : QSlider(orientation, parent) {
    setPageStep(1);
    setSingleStep(1);
    setTickPosition(QSlider::NoTicks);
    setFocusPolicy(Qt::StrongFocus);
}

void CTickSlider::ClearTicks() {
    if (ticks_.empty()) return;
    ticks_.clear();
    update();
}

void CTickSlider::AddTick(int value) {
    auto at = std::lower_bound(ticks_.begin(), ticks_.end(), value);
    if (at != ticks_.end() && *at == value) return;
    ticks_.insert(at, value);
    update();
}

void CTickSlider::paintEvent(QPaintEvent* event) {
    QSlider::paintEvent(event);
    if (ticks_.empty()) return;
    QStyleOptionSlider opt;
    initStyleOption(&opt);
    const QRect handle = style()->subControlRect(QStyle::CC_Slider, &opt, QStyle::SC_SliderHandle, this);
    QPainter p(this);
    p.setPen(QColor(220, 220, 220));
    // The handle's centre travels over the span the style leaves it.
    if (orientation() == Qt::Horizontal) {
        const int span = width() - handle.width();
        for (int v : ticks_) {
            const int x = QStyle::sliderPositionFromValue(minimum(), maximum(), v, span, opt.upsideDown) +
                          handle.width() / 2;
            p.drawLine(x, height() - 4, x, height() - 1);
        }
    } else {
        const int span = height() - handle.height();
        for (int v : ticks_) {
            const int y = QStyle::sliderPositionFromValue(minimum(), maximum(), v, span, opt.upsideDown) +
                          handle.height() / 2;
            p.drawLine(width() - 4, y, width() - 1, y);
        }
    }
}

}  // namespace rk
