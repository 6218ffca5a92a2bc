#include "app/player_view.h"

#include <QPainter>
#include <algorithm>

#include "app/pic_ctrl.h"
#include "media/rgba_frame.h"

namespace rk {

namespace {

// The effect editor's board: 8-pixel squares of white and grey 160 on its
// 640-pixel-wide picture; here the squares keep that share of the width.
QPixmap BoardTile(int square) {
    QPixmap tile(2 * square, 2 * square);
    tile.fill(QColor(255, 255, 255));
    QPainter p(&tile);
    p.fillRect(square, 0, square, square, QColor(160, 160, 160));
    p.fillRect(0, square, square, square, QColor(160, 160, 160));
    return tile;
}

}  // namespace

CPlayerView::CPlayerView(QWidget* parent) : QWidget(parent) {
    setAttribute(Qt::WA_OpaquePaintEvent);
    setMinimumSize(CPicCtrl::kWidth / 2, CPicCtrl::kHeight / 2);
    setFocusPolicy(Qt::NoFocus);
}

void CPlayerView::SetFrame(const RgbaFrame& frame, bool alpha) {
    // A view over the frame's own bytes; an opaque item's alpha bytes are
    // all 255 and need no blending.
    image_ = QImage(frame.Bits(), frame.Width(), frame.Height(), qsizetype(frame.Stride()),
                    alpha ? QImage::Format_RGBA8888 : QImage::Format_RGBX8888);
    alpha_ = alpha;
    alphaStale_ = true;
    update();
}

void CPlayerView::ClearFrame() {
    image_ = QImage();
    alphaImage_ = QImage();
    update();
}

void CPlayerView::SetShowAlpha(bool on) {
    if (showAlpha_ == on) return;
    showAlpha_ = on;
    update();
}

void CPlayerView::SetMarks(int markerPerMille, const QString& positionText, const QString& fadeText) {
    marker_ = markerPerMille < 0 ? -1 : markerPerMille;
    positionText_ = positionText;
    fadeText_ = fadeText;
    update();
}

QRect CPlayerView::PictureRect() const {
    if (image_.isNull()) return rect();
    QSize s = image_.size().scaled(size(), Qt::KeepAspectRatio);
    if (s.isEmpty()) s = size();
    return QRect(QPoint((width() - s.width()) / 2, (height() - s.height()) / 2), s);
}

const QImage& CPlayerView::AlphaImage() {
    if (!alphaStale_ && !alphaImage_.isNull()) return alphaImage_;
    alphaImage_ = QImage(image_.size(), QImage::Format_Grayscale8);
    for (int y = 0; y < image_.height(); ++y) {
        const uchar* src = image_.constScanLine(y);
        uchar* dst = alphaImage_.scanLine(y);
        for (int x = 0; x < image_.width(); ++x) dst[x] = src[4 * x + 3];
    }
    alphaStale_ = false;
    return alphaImage_;
}

void CPlayerView::paintEvent(QPaintEvent*) {
    QPainter p(this);
    const QRect target = PictureRect();
    // The bands beside the picture.
    p.fillRect(rect(), Qt::black);
    if (image_.isNull()) return;
    if (alpha_ && showAlpha_) {
        p.drawImage(target, AlphaImage());
    } else {
        if (alpha_) {
            const int square = std::max(2, target.width() * 8 / CPicCtrl::kWidth);
            p.setBrushOrigin(target.topLeft());
            p.fillRect(target, QBrush(BoardTile(square)));
        }
        p.drawImage(target, image_);
    }

    int left = 0, right = 0;
    if (CPicCtrl::MarkerSpan(target.width(), marker_, left, right)) {
        // As the editor draws it: white or-ed into the picture, so the bar
        // shows over any content.
        p.setCompositionMode(QPainter::RasterOp_SourceOrDestination);
        p.setPen(QPen(Qt::white, 1));
        p.setBrush(QBrush(Qt::white, Qt::BDiagPattern));
        p.setBackgroundMode(Qt::TransparentMode);
        p.drawRect(QRect(target.left() + left, target.top(), right - left, target.height() - 1));
        p.setCompositionMode(QPainter::CompositionMode_SourceOver);
    }
    if (!positionText_.isEmpty() || !fadeText_.isEmpty()) {
        p.setPen(QColor(0, 200, 0));
        const QRect band = target.adjusted(6, 4, -6, -4);
        if (!positionText_.isEmpty()) p.drawText(band, Qt::AlignLeft | Qt::AlignTop, positionText_);
        if (!fadeText_.isEmpty()) p.drawText(band, Qt::AlignRight | Qt::AlignTop, fadeText_);
    }
}

}  // namespace rk
