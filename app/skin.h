#pragma once
// The artwork and colours shared by every skinned dialog.
#include <QColor>
#include <QCursor>
#include <QIcon>
#include <QPixmap>

namespace rk {

// Picture resource numbers the dialogs refer to.
enum ArtId : int {
    kArtAppIcon = 128,
    kArtBackground = 130,
    kArtDragCursor = 135,
    kArtDropCursor = 136,
    kArtListBackground = 138,
};

namespace skin {

inline const QColor kText{220, 220, 220};
inline const QColor kDialogBrush{48, 48, 48};
inline const QColor kHint{120, 120, 120};
inline const QColor kPageLabel{0, 200, 0};

// A picture by resource number (icons 301..304 included); a null pixmap for
// an unknown number, so a missing picture leaves its control empty.
QPixmap Picture(int id);
QIcon AppIcon();
QCursor DragCursor();
QCursor DropCursor();
// The style sheet giving buttons, lists and drop-down lists their faces.
const QString& StyleSheet();

}  // namespace skin
}  // namespace rk
