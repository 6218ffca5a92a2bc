#include "app/empty_text.h"

#include <QEvent>
#include <QListWidget>

#include "app/skin.h"

namespace rk {

CEmptyText::CEmptyText(QListWidget* list) : QLabel(list->viewport()), list_(list) {
    setObjectName(QStringLiteral("emptyText"));
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setTextFormat(Qt::PlainText);
    setWordWrap(true);
    setAlignment(Qt::AlignCenter);
    setStyleSheet(QStringLiteral("QLabel { color: %1; background: transparent; }").arg(skin::kHint.name()));
    list->viewport()->installEventFilter(this);
    hide();
}

void CEmptyText::Say(const QString& text) {
    setText(text);
    Place();
    setVisible(!text.isEmpty() && list_->count() == 0);
}

void CEmptyText::Place() {
    const QRect r = list_->viewport()->rect();
    setGeometry(r.adjusted(12, 8, -12, -8));
}

bool CEmptyText::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::Resize) Place();
    return QLabel::eventFilter(watched, event);
}

}  // namespace rk
