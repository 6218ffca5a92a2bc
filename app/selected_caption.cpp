#include "app/selected_caption.h"

#include <QEvent>
#include <QListWidget>
#include <QPainter>
#include <QScrollBar>
#include <QTextLayout>
#include <QTimer>

namespace rk {

namespace {

constexpr int kPad = 2;  // pixels around the text

QTextOption CaptionOption() {
    QTextOption o(Qt::AlignHCenter | Qt::AlignTop);
    o.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    return o;
}

}  // namespace

int CCaptionPanel::TextHeight(const QString& text, const QFont& font, int width) {
    if (width <= 0) return 0;
    qreal height = 0;
    QString t = text;
    t.replace(QLatin1Char('\n'), QChar::LineSeparator);
    QTextLayout layout(t, font);
    layout.setTextOption(CaptionOption());
    layout.beginLayout();
    for (;;) {
        QTextLine line = layout.createLine();
        if (!line.isValid()) break;
        line.setLineWidth(width);
        height += line.height();
    }
    layout.endLayout();
    return static_cast<int>(std::ceil(height));
}

CCaptionPanel::CCaptionPanel(QListWidget* list) : QWidget(list->viewport()), list_(list) {
    setObjectName(QStringLiteral("captionPanel"));
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setFocusPolicy(Qt::NoFocus);
    hide();
    auto follow = [this] {
        // After the view has laid its items out for the change.
        QTimer::singleShot(0, this, &CCaptionPanel::Follow);
    };
    connect(list_, &QListWidget::itemSelectionChanged, this, follow);
    connect(list_, &QListWidget::itemChanged, this, follow);
    connect(list_->model(), &QAbstractItemModel::modelReset, this, follow);
    connect(list_->model(), &QAbstractItemModel::rowsRemoved, this, follow);
    connect(list_->model(), &QAbstractItemModel::rowsInserted, this, follow);
    connect(list_->verticalScrollBar(), &QScrollBar::valueChanged, this, &CCaptionPanel::Follow);
    connect(list_->horizontalScrollBar(), &QScrollBar::valueChanged, this, &CCaptionPanel::Follow);
    list_->viewport()->installEventFilter(this);
    list_->installEventFilter(this);
}

bool CCaptionPanel::eventFilter(QObject* watched, QEvent* event) {
    switch (event->type()) {
        case QEvent::Resize:
        case QEvent::Show:
        case QEvent::Hide:
        case QEvent::EnabledChange:
        case QEvent::FontChange:
            QTimer::singleShot(0, this, &CCaptionPanel::Follow);
            break;
        default:
            break;
    }
    return QWidget::eventFilter(watched, event);
}

void CCaptionPanel::Follow() {
    const QList<QListWidgetItem*> sel = list_->selectedItems();
    QListWidgetItem* item = sel.size() == 1 ? sel.first() : nullptr;
    if (!item || !list_->isVisible() || item->text().isEmpty()) {
        hide();
        return;
    }
    const QRect cell = list_->visualItemRect(item);
    if (!cell.isValid() || !list_->viewport()->rect().intersects(cell)) {
        hide();
        return;
    }
    text_ = item->text();
    // The text's place in the cell: below the picture, the cell's width.
    const int width = std::max(list_->gridSize().width(), cell.width());
    const int left = cell.center().x() - width / 2 + 1;
    const int top = cell.top() + list_->iconSize().height() + kPad;
    const int height = TextHeight(text_, list_->font(), width - 2 * kPad) + 2 * kPad;
    setFont(list_->font());
    setGeometry(left, top, width, height);
    show();
    raise();
    update();
}

void CCaptionPanel::paintEvent(QPaintEvent*) {
    QPainter p(this);
    // Opaque, in the colours of the skin's selected item, so the captions
    // beneath do not show through.
    const bool enabled = list_->isEnabled();
    p.fillRect(rect(), enabled ? QColor(28, 78, 132) : QColor(60, 60, 64));
    p.setPen(enabled ? QColor(138, 180, 232) : QColor(90, 92, 98));
    p.drawRect(rect().adjusted(0, 0, -1, -1));
    p.setPen(enabled ? QColor(220, 220, 220) : QColor(140, 140, 140));
    QString t = text_;
    t.replace(QLatin1Char('\n'), QChar::LineSeparator);
    p.drawText(QRectF(rect().adjusted(kPad, kPad, -kPad, -kPad)), t, CaptionOption());
}

}  // namespace rk
