#include "app/skin.h"

#include <QString>

static void InitArtwork() { Q_INIT_RESOURCE(artwork); }

namespace rk::skin {
namespace {

QString PathOf(int id) {
    switch (id) {
        case kArtAppIcon: return QStringLiteral(":/art/app_icon.png");
        case kArtBackground: return QStringLiteral(":/art/background.png");
        case kArtDragCursor: return QStringLiteral(":/art/cursor_drag.png");
        case kArtDropCursor: return QStringLiteral(":/art/cursor_drop.png");
        case kArtListBackground: return QStringLiteral(":/art/list_background.png");
        case 301: return QStringLiteral(":/art/icon_warning.png");
        case 302: return QStringLiteral(":/art/icon_information.png");
        case 303: return QStringLiteral(":/art/icon_error.png");
        case 304: return QStringLiteral(":/art/icon_question.png");
        default: return {};
    }
}

void EnsureResources() {
    static const bool once = [] {
        InitArtwork();
        return true;
    }();
    (void)once;
}

}  // namespace

QPixmap Picture(int id) {
    EnsureResources();
    const QString path = PathOf(id);
    if (path.isEmpty()) return {};
    return QPixmap(path);
}

QIcon AppIcon() { return QIcon(Picture(kArtAppIcon)); }
QCursor DragCursor() { return QCursor(Picture(kArtDragCursor), 1, 1); }
QCursor DropCursor() { return QCursor(Picture(kArtDropCursor), 1, 1); }

const QString& StyleSheet() {
    EnsureResources();
    static const QString sheet = QStringLiteral(
        "QPushButton { color: rgb(220,220,220); border-image: url(:/art/button_normal.png) 4 4 4 4 stretch stretch;"
        "  border-width: 4px; padding: 0px; }"
        "QPushButton:hover { border-image: url(:/art/button_hover.png) 4 4 4 4 stretch stretch; }"
        // The keyboard's focus shows plainly: a lit button, a framed list.
        "QPushButton:focus { color: rgb(255,255,255); border-image: url(:/art/button_hover.png) 4 4 4 4 stretch stretch; }"
        "QPushButton:pressed { border-image: url(:/art/button_pressed.png) 4 4 4 4 stretch stretch; }"
        "QPushButton:disabled { color: rgb(120,120,120);"
        "  border-image: url(:/art/button_disabled.png) 4 4 4 4 stretch stretch; }"
        "QComboBox { color: rgb(220,220,220); background: rgb(36,37,41); border: 1px solid rgb(20,21,24);"
        "  padding: 0px 4px; }"
        "QComboBox:disabled { color: rgb(120,120,120); }"
        "QComboBox:focus { border: 1px solid rgb(138,180,232); }"
        "QComboBox QAbstractItemView { color: rgb(220,220,220); background: rgb(36,37,41);"
        "  selection-background-color: rgb(42,127,212); }"
        "QListWidget { color: rgb(220,220,220); border: 1px solid rgb(20,21,24);"
        "  background-image: url(:/art/list_background.png); }"
        "QListWidget:disabled { color: rgb(140,140,140); }"
        "QListWidget:focus { border: 1px solid rgb(138,180,232); }"
        "QListWidget::item:selected { background: rgba(42,127,212,140); border: 1px solid rgb(138,180,232); }"
        "QProgressBar { color: rgb(220,220,220); background: rgb(30,31,34); border: 1px solid rgb(20,21,24);"
        "  text-align: center; }"
        "QProgressBar::chunk { background: rgb(42,127,212); }"
        "QScrollBar:vertical { background: rgb(30,31,34); width: 12px; margin: 0px; }"
        "QScrollBar:horizontal { background: rgb(30,31,34); height: 12px; margin: 0px; }"
        "QScrollBar::handle { background: rgb(78,82,90); border-radius: 4px; min-height: 20px; min-width: 20px;"
        "  margin: 2px; }"
        "QScrollBar::handle:hover { background: rgb(100,105,115); }"
        "QScrollBar::add-line, QScrollBar::sub-line { width: 0px; height: 0px; }"
        "QScrollBar::add-page, QScrollBar::sub-page { background: none; }");
    return sheet;
}

}  // namespace rk::skin
