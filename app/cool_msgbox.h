#pragma once
// CCoolMsgBox: the one message box. Kind 0 shows "OK" and answers 0; kind 1
// shows "Yes" (answers 1) and "No" (answers 2). The box has no caption and no
// close box, and neither Enter nor Escape closes it.
#include <QString>

#include "app/cool_dialog.h"

namespace rk {

class CCoolMsgBox : public CCoolDialog {
    Q_OBJECT
public:
    CCoolMsgBox(int kind, int icon, const QString& text, QWidget* owner);
    // Shows the box modally; the answer as above.
    int Run();
    int Result() const { return result_; }
    int Kind() const { return kind_; }
    int IconId() const { return icon_; }

private:
    void Answer(int result);
    int kind_;
    int icon_;
    int result_ = 0;
};

// Shows one message and answers as the box does.
int ShowMessageBox(int kind, int icon, const QString& text, QWidget* owner);

}  // namespace rk
