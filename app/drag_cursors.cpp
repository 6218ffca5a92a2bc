#include "app/drag_cursors.h"

#include <QPainter>
#include <QPainterPath>
#include <QPolygonF>

namespace rk {

namespace {

constexpr int kSize = 32;

// The common arrow: white with a dark outline, tip at (1,1).
void PaintArrow(QPainter& p) {
    const QPolygonF arrow({QPointF(1, 1), QPointF(1, 21), QPointF(6, 16.5), QPointF(9.5, 24.5), QPointF(12.5, 23),
                           QPointF(9, 15.5), QPointF(15.5, 15.5)});
    p.setPen(QPen(QColor(16, 16, 16), 1.2, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.setBrush(QColor(250, 250, 250));
    p.drawPolygon(arrow);
}

// The badge below and right of the arrow: a rounded square.
void PaintBadge(QPainter& p, const QColor& fill, const QColor& edge) {
    p.setPen(QPen(edge, 1.2));
    p.setBrush(fill);
    p.drawRoundedRect(QRectF(15.5, 16.5, 15, 14), 3, 3);
}

QPixmap Canvas() {
    QPixmap pm(kSize, kSize);
    pm.fill(Qt::transparent);
    return pm;
}

// The arrow with a badge of `fill` edged in `edge`; `sign` paints the
// badge's white sign with the painter made ready for it.
template <class Sign>
QPixmap BadgedArrow(const QColor& fill, const QColor& edge, Sign&& sign) {
    QPixmap pm = Canvas();
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    PaintArrow(p);
    PaintBadge(p, fill, edge);
    p.setPen(Qt::NoPen);
    p.setBrush(Qt::white);
    sign(p);
    return pm;
}

}  // namespace

QPixmap AddCursorPicture() {
    // A plus: the item joins the list under the pointer.
    return BadgedArrow(QColor(46, 154, 74), QColor(18, 74, 34), [](QPainter& p) {
        p.drawRect(QRectF(21.8, 19, 2.4, 9));
        p.drawRect(QRectF(18.5, 22.3, 9, 2.4));
    });
}

QPixmap MoveCursorPicture() {
    // Two opposed arrow heads: the items change places.
    return BadgedArrow(QColor(42, 127, 212), QColor(13, 58, 102), [](QPainter& p) {
        p.drawPolygon(QPolygonF({QPointF(18, 21), QPointF(22, 18), QPointF(22, 20), QPointF(27, 20), QPointF(27, 22),
                                 QPointF(22, 22), QPointF(22, 24)}));
        p.drawPolygon(QPolygonF({QPointF(28, 26), QPointF(24, 23), QPointF(24, 25), QPointF(19, 25), QPointF(19, 27),
                                 QPointF(24, 27), QPointF(24, 29)}));
    });
}

// Drawn when asked (only when the drop target changes), so no picture
// outlives the application.
QCursor AddCursor() { return QCursor(AddCursorPicture(), 1, 1); }
QCursor MoveCursor() { return QCursor(MoveCursorPicture(), 1, 1); }

QCursor CursorFor(DragCursor which) {
    switch (which) {
        case DragCursor::kAdd: return AddCursor();
        case DragCursor::kMove: return MoveCursor();
        case DragCursor::kNoEntry: break;
    }
    return QCursor(Qt::ForbiddenCursor);
}

}  // namespace rk
