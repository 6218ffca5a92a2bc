#include "app/cool_dialog.h"

#include <QComboBox>
#include <QFrame>
#include <QKeyEvent>
#include <QListWidget>
#include <QMouseEvent>
#include <QPainter>
#include <QProgressBar>
#include <QPushButton>

#include "app/skin.h"
#include "app/dialog_texts.h"
#include "app/pic_ctrl.h"
#include "app/tick_slider.h"

namespace rk {

namespace {
// The dialog font: 8 points, as the templates were drawn for.
QFont DialogFont(const QFont& base) {
    QFont f = base;
    f.setPointSize(8);
    return f;
}
}  // namespace

bool IsSwallowedKey(int key) { return key == Qt::Key_Return || key == Qt::Key_Enter || key == Qt::Key_Escape; }

void CClickLabel::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint())) emit clicked();
    QLabel::mouseReleaseEvent(event);
}

CCoolDialog::CCoolDialog(const DialogTemplate& tmpl, QWidget* parent) : QDialog(parent), template_(tmpl) {
    setFont(DialogFont(font()));
    units_ = DialogUnits::ForFont(font());
    setStyleSheet(skin::StyleSheet());
    QPalette pal = palette();
    pal.setColor(QPalette::Window, skin::kDialogBrush);
    pal.setColor(QPalette::WindowText, skin::kText);
    pal.setColor(QPalette::Text, skin::kText);
    pal.setColor(QPalette::ButtonText, skin::kText);
    setPalette(pal);
    background_ = skin::Picture(kArtBackground);
    const char* caption = BuiltInDialogText(tmpl.id, kDialogCaption);
    if (!caption) caption = tmpl.caption;
    if (caption) setWindowTitle(QString::fromUtf8(caption));
    setWindowIcon(skin::AppIcon());

    int unnamed = -1;
    for (const ControlDef& def : tmpl.controls) {
        QWidget* w = MakeControl(def);
        const int key = def.id > 0 ? def.id : unnamed--;
        w->setObjectName(def.id > 0 ? QStringLiteral("c%1").arg(def.id) : QStringLiteral("rule%1").arg(-key));
        w->setProperty("controlId", def.id);
        controls_[key] = w;
        anchors_[key] = def.anchor;
        QRect r = units_.Rect(def.left, def.top, def.width, def.height);
        if (def.kind == ControlKind::DropList) r.setHeight(std::max(units_.Y(13), w->sizeHint().height()));
        if (def.kind == ControlKind::Rule) r.setHeight(std::max(1, r.height()));
        w->setGeometry(r);
        templateRects_[key] = r;
        w->installEventFilter(this);
        StyleControl(def.id, w);
        FitText(w);
    }
    resize(TemplateSize());
    previousSize_ = TemplateSize();
}

CCoolDialog::~CCoolDialog() = default;

QWidget* CCoolDialog::MakeControl(const ControlDef& def) {
    // The template texts live with the language packs; the table's own text
    // stands in for a control they do not name.
    const char* builtIn = def.id > 0 ? BuiltInDialogText(template_.id, def.id) : nullptr;
    const QString text = QString::fromUtf8(builtIn ? builtIn : (def.text ? def.text : ""));
    switch (def.kind) {
        case ControlKind::Label:
        case ControlKind::Text: {
            auto* l = new QLabel(text, this);
            l->setTextFormat(Qt::PlainText);
            l->setWordWrap(def.kind == ControlKind::Text);
            l->setAlignment(def.kind == ControlKind::Text ? Qt::AlignLeft | Qt::AlignTop : Qt::AlignLeft | Qt::AlignVCenter);
            return l;
        }
        case ControlKind::ClickLabel: {
            auto* l = new CClickLabel(text, this);
            l->setTextFormat(Qt::PlainText);
            l->setAlignment(Qt::AlignCenter);
            l->setCursor(Qt::PointingHandCursor);
            return l;
        }
        case ControlKind::Button: {
            auto* b = new QPushButton(text, this);
            b->setAutoDefault(false);
            b->setDefault(false);
            b->setFocusPolicy(Qt::TabFocus);
            return b;
        }
        case ControlKind::DropList: {
            auto* c = new QComboBox(this);
            c->setEditable(false);
            c->setMaxVisibleItems(std::max(4, def.height / 12));
            return c;
        }
        case ControlKind::ListView: {
            auto* l = new QListWidget(this);
            l->setViewMode(QListView::IconMode);
            l->setMovement(QListView::Static);
            l->setResizeMode(QListView::Adjust);
            l->setSelectionMode(QAbstractItemView::SingleSelection);
            l->setWordWrap(true);
            l->setUniformItemSizes(true);
            return l;
        }
        case ControlKind::Progress: {
            auto* p = new QProgressBar(this);
            p->setTextVisible(false);
            return p;
        }
        case ControlKind::Marker: {
            auto* f = new QFrame(this);
            f->setFrameShape(QFrame::NoFrame);
            f->setStyleSheet(QStringLiteral("QFrame { border: 1px solid rgb(0,200,0); border-radius: 3px;"
                                            " background: rgba(0,200,0,30); }"));
            f->lower();
            return f;
        }
        case ControlKind::Icon: {
            auto* l = new QLabel(this);
            l->setAlignment(Qt::AlignCenter);
            return l;
        }
        case ControlKind::Rule: {
            auto* f = new QFrame(this);
            f->setFrameShape(QFrame::NoFrame);
            f->setStyleSheet(QStringLiteral("QFrame { background: rgb(90,92,98); }"));
            return f;
        }
        case ControlKind::HSlider:
        case ControlKind::VSlider:
            return new CTickSlider(def.kind == ControlKind::HSlider ? Qt::Horizontal : Qt::Vertical, this);
        case ControlKind::Picture: return new CPicCtrl(this);
    }
    return new QWidget(this);
}

void CCoolDialog::StyleControl(int id, QWidget* control) {
    if (auto* l = qobject_cast<QLabel*>(control)) {
        l->setStyleSheet(QStringLiteral("QLabel { color: %1; background: transparent; }"
                                        " QLabel:disabled { color: #6e6e6e; }")
                             .arg(skin::kText.name()));
        l->setAutoFillBackground(false);
        if (id == kDialogTitleControl) {
            QFont f = font();
            f.setWeight(QFont::Bold);
            l->setFont(f);
            if (!l->text().startsWith(QStringLiteral("  "))) l->setText(QStringLiteral("  ") + l->text());
        }
    }
}

void CCoolDialog::RestyleControls() {
    for (const auto& [id, w] : controls_)
        if (id > 0) StyleControl(id, w);
}

QWidget* CCoolDialog::Control(int id) const {
    auto it = controls_.find(id);
    return it == controls_.end() ? nullptr : it->second;
}

unsigned CCoolDialog::AnchorOf(int id) const {
    auto it = anchors_.find(id);
    return it == anchors_.end() ? 0u : it->second;
}

QRect CCoolDialog::TemplateRect(int id) const {
    auto it = templateRects_.find(id);
    return it == templateRects_.end() ? QRect() : it->second;
}

QSize CCoolDialog::TemplateSize() const { return QSize(units_.X(template_.width), units_.Y(template_.height)); }

void CCoolDialog::SetControlText(int id, const QString& text) {
    QWidget* w = Control(id);
    if (!w) return;
    const QString shown = id == kDialogTitleControl ? QStringLiteral("  ") + text : text;
    if (auto* l = qobject_cast<QLabel*>(w)) {
        l->setText(shown);
    } else if (auto* b = qobject_cast<QPushButton*>(w)) {
        b->setText(shown);
    }
    FitText(w);
}

void CCoolDialog::FitText(QWidget* w) {
    // A one-line text that a translation made longer than its control keeps
    // the dialog's font: the control grows instead, into the free room beside
    // it (both ways for a centred label, leftwards for one anchored to the
    // right edge), never over another control or past the dialog's edge.
    auto* l = qobject_cast<QLabel*>(w);
    auto* b = qobject_cast<QPushButton*>(w);
    if ((!l && !b) || (l && l->wordWrap())) return;
    const QString text = l ? l->text() : b->text();
    const int need = QFontMetrics(w->font()).boundingRect(QRect(), 0, text).width() + (b ? 10 : 2);
    QRect r = w->geometry();
    if (need <= r.width()) return;
    // The free room left and right of the control on its row.
    int leftRoom = r.left();
    int rightRoom = std::max(width(), TemplateSize().width()) - r.right() - 1;
    for (const auto& [key, other] : controls_) {
        // Plain frames (the page markers, rules) lie under other controls.
        if (other == w || other->metaObject() == &QFrame::staticMetaObject) continue;
        const QRect o = other->geometry();
        if (o.bottom() < r.top() || o.top() > r.bottom()) continue;
        if (o.left() > r.right()) rightRoom = std::min(rightRoom, o.left() - r.right() - 1);
        if (o.right() < r.left()) leftRoom = std::min(leftRoom, r.left() - o.right() - 1);
    }
    int grow = need - r.width();
    const int id = w->property("controlId").toInt();
    if (l && (l->alignment() & Qt::AlignHCenter)) {
        const int half = std::min(std::max(0, std::min(leftRoom, rightRoom)), (grow + 1) / 2);
        r.adjust(-half, 0, half, 0);
    } else if (AnchorOf(id) & kMoveRight) {
        r.setLeft(r.left() - std::min(grow, std::max(0, leftRoom - 2)));
    } else {
        r.setRight(r.right() + std::min(grow, std::max(0, rightRoom - 2)));
    }
    w->setGeometry(r);
    // What still does not fit shows whole in its tool tip.
    if (need > r.width()) w->setToolTip(text);
}

void CCoolDialog::GrowTextDown(int id) {
    auto* label = qobject_cast<QLabel*>(Control(id));
    if (!label || !label->wordWrap()) return;
    const int need = label->heightForWidth(label->width());
    const int extra = need - label->height();
    if (extra <= 0) return;
    const int bottom = label->geometry().bottom();
    label->resize(label->width(), need);
    for (const auto& [key, w] : controls_)
        if (w != label && w->y() > bottom) w->move(w->x(), w->y() + extra);
    const bool fixed = minimumSize() == maximumSize() && minimumWidth() > 0;
    const QSize grown(width(), height() + extra);
    previousSize_ = grown;  // the anchors have been applied by hand
    if (fixed)
        setFixedSize(grown);
    else
        resize(grown);
}

void CCoolDialog::FitDropList(int id) {
    auto* c = qobject_cast<QComboBox*>(Control(id));
    if (!c) return;
    QFont f = font();
    // Room left of the arrow, less the padding of the skin.
    const int room = c->width() - units_.X(10) - 8;
    auto widest = [c](const QFont& font) {
        const QFontMetrics fm(font);
        int w = 0;
        for (int i = 0; i < c->count(); ++i) w = std::max(w, fm.horizontalAdvance(c->itemText(i)));
        return w;
    };
    for (int size = f.pointSize(); size > 6 && widest(f) > room; --size) f.setPointSize(size - 1);
    c->setFont(f);
}

void CCoolDialog::ShowPicture(int id, int picture) {
    auto* l = qobject_cast<QLabel*>(Control(id));
    if (!l) return;
    const QPixmap pic = skin::Picture(picture);
    if (!pic.isNull())
        l->setPixmap(pic.scaled(TemplateRect(id).size(), Qt::KeepAspectRatio, Qt::SmoothTransformation));
}

QString CCoolDialog::ControlText(int id) const {
    QWidget* w = Control(id);
    if (auto* l = qobject_cast<QLabel*>(w)) return l->text();
    if (auto* b = qobject_cast<QPushButton*>(w)) return b->text();
    return {};
}

void CCoolDialog::ShowControl(int id, bool shown) {
    if (QWidget* w = Control(id)) w->setVisible(shown);
}

void CCoolDialog::EnableControl(int id, bool enabled) {
    if (QWidget* w = Control(id)) w->setEnabled(enabled);
}

void CCoolDialog::Translate() {
    std::string text;
    if (TranslatedDialogText(template_.id, kDialogCaption, text)) setWindowTitle(QString::fromStdString(text));
    for (const auto& [id, w] : controls_) {
        if (id <= 0) continue;
        if (TranslatedDialogText(template_.id, id, text)) SetControlText(id, QString::fromStdString(text));
    }
}

void CCoolDialog::paintEvent(QPaintEvent*) {
    QPainter p(this);
    if (background_.isNull()) {
        p.fillRect(rect(), skin::kDialogBrush);
        return;
    }
    // The stretched picture is kept until the client size changes.
    if (stretched_.size() != size())
        stretched_ = background_.scaled(size(), Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    p.drawPixmap(0, 0, stretched_);
}

void CCoolDialog::ApplyAnchors(QSize previous, QSize now) {
    const int dx = now.width() - previous.width();
    const int dy = now.height() - previous.height();
    for (const auto& [id, flags] : anchors_) {
        if (!flags) continue;
        QWidget* w = controls_[id];
        QRect r = w->geometry();
        if (flags & kMoveRight) r.moveLeft(r.left() + dx);
        if (flags & kMoveDown) r.moveTop(r.top() + dy);
        if (flags & kGrowWidth) r.setWidth(r.width() + dx);
        if (flags & kGrowHeight) r.setHeight(r.height() + dy);
        w->setGeometry(r);
    }
}

void CCoolDialog::resizeEvent(QResizeEvent* event) {
    QDialog::resizeEvent(event);
    const QSize now = size();
    if (now.width() > 1 && now.height() > 1 && previousSize_.isValid()) {
        if (now != previousSize_) ApplyAnchors(previousSize_, now);
        previousSize_ = now;
        update();
    }
}

bool CCoolDialog::AnswerKey(int key) {
    if (escapeButton_ == 0) return false;
    QPushButton* button = nullptr;
    if (key == Qt::Key_Escape) {
        button = ControlAs<QPushButton>(escapeButton_);
    } else if (key == Qt::Key_Return || key == Qt::Key_Enter) {
        button = qobject_cast<QPushButton*>(focusWidget());
        if (button && button->window() != this) button = nullptr;
    }
    if (!button || !button->isVisible() || !button->isEnabled()) return false;
    button->click();
    return true;
}

void CCoolDialog::keyPressEvent(QKeyEvent* event) {
    if (IsSwallowedKey(event->key())) {
        event->accept();
        AnswerKey(event->key());
        return;
    }
    QDialog::keyPressEvent(event);
}

bool CCoolDialog::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::KeyPress || event->type() == QEvent::ShortcutOverride) {
        auto* key = static_cast<QKeyEvent*>(event);
        if (IsSwallowedKey(key->key())) {
            // A drop-down list that shows its popup closes it on Escape; that is
            // the list's own business, not the dialog's.
            event->accept();
            if (event->type() != QEvent::KeyPress) return false;
            // A drop-down list's open popup is not a child of the dialog:
            // the key reaches the dialog only from its own controls.
            AnswerKey(key->key());
            return true;
        }
    }
    return QDialog::eventFilter(watched, event);
}

void CCoolDialog::reject() {
    if (closeAllowed_) QDialog::reject();
}

}  // namespace rk
