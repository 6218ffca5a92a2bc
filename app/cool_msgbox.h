#pragma once
// CCoolMsgBox: the one message box. Kind 0 shows "OK" and answers 0; kind 1
// shows "Yes" (answers 1) and "No" (answers 2). The box has no caption and no
// close box, and neither Enter nor Escape closes it.
#include <QString>

#include "app/cool_dialog.h"
#include "ui/operator.h"

namespace rk {

class CCoolMsgBox : public CCoolDialog {
    Q_OBJECT
public:
    CCoolMsgBox(MsgKind kind, MsgIcon icon, const QString& text, QWidget* owner);
    // Shows the box modally; the answer as above.
    MsgResult Run();
    MsgResult Result() const { return result_; }
    MsgKind Kind() const { return kind_; }
    MsgIcon IconId() const { return icon_; }

private:
    void Answer(MsgResult result);
    MsgKind kind_;
    MsgIcon icon_;
    MsgResult result_ = kResultOk;
};

// Shows one message and answers as the box does.
MsgResult ShowMessageBox(MsgKind kind, MsgIcon icon, const QString& text, QWidget* owner);

}  // namespace rk
