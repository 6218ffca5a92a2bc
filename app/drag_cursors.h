#pragma once
// The two cursors of drag and drop among the main window's lists, drawn
// here: 135 adds the dragged item to another list, 136 moves it within its
// own list. A drop that is not allowed shows the system's no-entry cursor.
#include <QCursor>
#include <QPixmap>

#include "app/drag_rules.h"

namespace rk {

// The pictures (32 x 32, hot spot at the arrow's tip, 1,1).
QPixmap AddCursorPicture();   // 135
QPixmap MoveCursorPicture();  // 136
QCursor AddCursor();
QCursor MoveCursor();
// The cursor for a verdict of the drag rules.
QCursor CursorFor(DragCursor which);

}  // namespace rk
