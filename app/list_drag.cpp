#include "app/list_drag.h"

#include <QApplication>
#include <QLabel>
#include <QListWidget>
#include <QMouseEvent>
#include <QPainter>
#include <QStyledItemDelegate>

#include "app/drag_cursors.h"

namespace rk {

namespace {

constexpr int kListCount = 6;
// Where the drag image sits from the pointer: its top-left corner is this
// far below and right of the hot spot.
constexpr QPoint kImageOffset(10, 14);

// Paints the drop highlight over an item marked as the drop target.
class CDropHighlightDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;
    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override {
        QStyledItemDelegate::paint(painter, option, index);
        if (!index.data(CListDrag::kDropHighlightRole).toBool()) return;
        painter->save();
        painter->setRenderHint(QPainter::Antialiasing);
        painter->setPen(QPen(QColor(240, 196, 60), 2));
        painter->setBrush(QColor(240, 196, 60, 56));
        painter->drawRoundedRect(QRectF(option.rect).adjusted(1.5, 1.5, -1.5, -1.5), 4, 4);
        painter->restore();
    }
};

// The dragged item's picture: its thumbnail in a thin frame with the first
// line of its text below, a little transparent.
QPixmap DragPicture(const QListWidgetItem* item, const QSize& iconSize, const QFont& font) {
    const QPixmap icon = item->icon().pixmap(iconSize);
    const QString text = item->text().section(QLatin1Char('\n'), 0, 0);
    const QFontMetrics fm(font);
    const int w = iconSize.width() + 2;
    const int h = iconSize.height() + 2 + (text.isEmpty() ? 0 : fm.height() + 2);
    QPixmap pm(w, h);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setOpacity(0.8);
    p.drawPixmap(1, 1, icon);
    p.setPen(QColor(220, 220, 220));
    p.drawRect(0, 0, w - 1, iconSize.height() + 1);
    if (!text.isEmpty()) {
        p.setFont(font);
        p.drawText(QRect(0, iconSize.height() + 2, w, fm.height() + 2), Qt::AlignHCenter | Qt::AlignVCenter,
                   fm.elidedText(text, Qt::ElideRight, w));
    }
    return pm;
}

}  // namespace

CListDrag::CListDrag(Host host, QObject* parent) : QObject(parent), host_(std::move(host)) {}

CListDrag::~CListDrag() {
    if (cursorSet_) QApplication::restoreOverrideCursor();
}

void CListDrag::Attach() {
    for (int l = 0; l < kListCount; ++l) {
        QListWidget* list = host_.listWidget(l);
        if (!list) continue;
        list->viewport()->installEventFilter(this);
        list->setItemDelegate(new CDropHighlightDelegate(list));
    }
}

QWidget* CListDrag::DragImage() const { return image_.get(); }

int CListDrag::ListOfViewport(QObject* viewport) const {
    for (int l = 0; l < kListCount; ++l) {
        QListWidget* list = host_.listWidget(l);
        if (list && list->viewport() == viewport) return l;
    }
    return -1;
}

void CListDrag::HitTest(const QPoint& global, int& list, int& item) const {
    list = -1;
    item = -1;
    for (int l = 0; l < kListCount; ++l) {
        QListWidget* w = host_.listWidget(l);
        // The pages share one area: only a shown list can be under the pointer.
        if (!w || !w->isVisible()) continue;
        const QPoint local = w->viewport()->mapFromGlobal(global);
        if (!w->viewport()->rect().contains(local)) continue;
        list = l;
        if (QListWidgetItem* it = w->itemAt(local)) item = w->row(it);
        return;
    }
}

bool CListDrag::Begin(int list, int item, const QPoint& global) {
    if (dragging_ || list < 0 || list >= kListCount || !host_.mayStart()) return false;
    QListWidget* w = host_.listWidget(list);
    if (!w || item < 0 || item >= w->count()) return false;
    facts_ = host_.facts(list, item);
    if (!DragMayBegin(list, item, facts_)) return false;
    dragging_ = true;
    sourceList_ = list;
    sourceItem_ = item;
    targetList_ = list;
    targetItem_ = -1;

    image_ = std::make_unique<QLabel>(nullptr, Qt::ToolTip | Qt::FramelessWindowHint | Qt::WindowTransparentForInput |
                                                   Qt::WindowDoesNotAcceptFocus);
    image_->setObjectName(QStringLiteral("dragImage"));
    image_->setAttribute(Qt::WA_TransparentForMouseEvents);
    image_->setAttribute(Qt::WA_ShowWithoutActivating);
    image_->setAttribute(Qt::WA_TranslucentBackground);
    image_->setStyleSheet(QStringLiteral("background: transparent; border: none;"));
    const QPixmap picture = DragPicture(w->item(item), w->iconSize(), w->font());
    image_->setPixmap(picture);
    image_->resize(picture.size());
    image_->move(global + kImageOffset);
    image_->show();
    ShowCursor(DragCursor::kNoEntry);
    return true;
}

void CListDrag::MoveTo(const QPoint& global) {
    if (!dragging_) return;
    if (image_) image_->move(global + kImageOffset);
    int list = -1, item = -1;
    HitTest(global, list, item);
    if (list == targetList_ && item == targetItem_) return;
    targetList_ = list;
    targetItem_ = item;
    const DragCursor cursor = DragCursorFor(sourceList_, sourceItem_, list, item, facts_);
    if (cursor != DragCursor::kNoEntry && item >= 0) SetHighlight(list, item);
    else SetHighlight(-1, -1);
    ShowCursor(cursor);
}

void CListDrag::Release(const QPoint& global) {
    if (!dragging_) return;
    int list = -1, item = -1;
    HitTest(global, list, item);
    const DropAction action = DropActionFor(sourceList_, sourceItem_, list, item, facts_);
    const int sourceItem = sourceItem_;
    EndVisuals();
    Reset();
    if (action != DropAction::kNone) host_.drop(action, sourceItem, item);
}

void CListDrag::Cancel() {
    if (!dragging_) return;
    EndVisuals();
    Reset();
}

void CListDrag::SetHighlight(int list, int item) {
    if (list == highlightList_ && item == highlightItem_) return;
    if (highlightList_ >= 0) {
        QListWidget* w = host_.listWidget(highlightList_);
        if (w && highlightItem_ >= 0 && highlightItem_ < w->count())
            w->item(highlightItem_)->setData(kDropHighlightRole, QVariant());
    }
    highlightList_ = -1;
    highlightItem_ = -1;
    if (list < 0 || item < 0) return;
    QListWidget* w = host_.listWidget(list);
    if (!w || item >= w->count()) return;
    w->item(item)->setData(kDropHighlightRole, true);
    highlightList_ = list;
    highlightItem_ = item;
}

void CListDrag::ShowCursor(DragCursor cursor) {
    cursor_ = cursor;
    if (cursorSet_) {
        QApplication::changeOverrideCursor(CursorFor(cursor));
    } else {
        QApplication::setOverrideCursor(CursorFor(cursor));
        cursorSet_ = true;
    }
}

void CListDrag::EndVisuals() {
    image_.reset();
    SetHighlight(-1, -1);
    if (cursorSet_) {
        QApplication::restoreOverrideCursor();
        cursorSet_ = false;
    }
}

void CListDrag::Reset() {
    dragging_ = false;
    sourceList_ = sourceItem_ = targetList_ = targetItem_ = -1;
    cursor_ = DragCursor::kNoEntry;
    pressList_ = pressItem_ = -1;
}

bool CListDrag::eventFilter(QObject* watched, QEvent* event) {
    const QEvent::Type type = event->type();
    if (type != QEvent::MouseButtonPress && type != QEvent::MouseMove && type != QEvent::MouseButtonRelease)
        return QObject::eventFilter(watched, event);
    const int list = ListOfViewport(watched);
    if (list < 0) return QObject::eventFilter(watched, event);
    auto* me = static_cast<QMouseEvent*>(event);
    const QPoint global = me->globalPosition().toPoint();
    switch (type) {
        case QEvent::MouseButtonPress:
            if (dragging_) Cancel();
            pressList_ = -1;
            pressItem_ = -1;
            if (me->button() == Qt::LeftButton) {
                QListWidget* w = host_.listWidget(list);
                if (QListWidgetItem* it = w->itemAt(me->position().toPoint())) {
                    pressList_ = list;
                    pressItem_ = w->row(it);
                    pressAt_ = global;
                }
            }
            return false;  // the list selects the pressed item as usual
        case QEvent::MouseMove:
            if (dragging_) {
                MoveTo(global);
                return true;  // the source list must not follow with its selection
            }
            if ((me->buttons() & Qt::LeftButton) && pressList_ == list && pressItem_ >= 0 &&
                (global - pressAt_).manhattanLength() >= QApplication::startDragDistance()) {
                const int item = pressItem_;
                pressList_ = pressItem_ = -1;
                if (Begin(list, item, global)) {
                    MoveTo(global);
                    return true;
                }
            }
            return false;
        case QEvent::MouseButtonRelease:
            if (dragging_ && me->button() == Qt::LeftButton) Release(global);
            pressList_ = pressItem_ = -1;
            // The list sees its release too, so that it leaves its pressed state.
            return false;
        default: return false;
    }
}

}  // namespace rk
