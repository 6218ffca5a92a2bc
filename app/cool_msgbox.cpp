#include "app/cool_msgbox.h"

#include <QPushButton>

#include "app/dialog_texts.h"
#include "ui/operator.h"

namespace rk {

CCoolMsgBox::CCoolMsgBox(MsgKind kind, MsgIcon icon, const QString& text, QWidget* owner)
    : CCoolDialog(MessageBoxTemplate(), owner), kind_(kind == kMsgQuestion ? kMsgQuestion : kMsgNotice), icon_(icon) {
    setWindowFlags(Qt::Dialog | Qt::FramelessWindowHint);
    setModal(true);
    Translate();
    ShowPicture(IDC_BOX_ICON, static_cast<int>(icon_));
    ShowControl(IDC_BOX_OK, kind_ == kMsgNotice);
    ShowControl(IDC_BOX_YES, kind_ == kMsgQuestion);
    ShowControl(IDC_BOX_NO, kind_ == kMsgQuestion);
    SetControlText(IDC_BOX_TEXT, text);
    connect(ControlAs<QPushButton>(IDC_BOX_YES), &QPushButton::clicked, this, [this] { Answer(kResultYes); });
    connect(ControlAs<QPushButton>(IDC_BOX_NO), &QPushButton::clicked, this, [this] { Answer(kResultNo); });
    connect(ControlAs<QPushButton>(IDC_BOX_OK), &QPushButton::clicked, this, [this] { Answer(kResultOk); });
    // Escape answers No (a notice: OK); Enter the button with the focus.
    SetEscapeButton(kind_ == kMsgQuestion ? IDC_BOX_NO : IDC_BOX_OK);

    // A long text gets the room it needs below the icon; the buttons move with it.
    GrowTextDown(IDC_BOX_TEXT);
    setFixedSize(size());
}

void CCoolMsgBox::Answer(MsgResult result) {
    result_ = result;
    done(static_cast<int>(result));
}

MsgResult CCoolMsgBox::Run() {
    result_ = kResultOk;
    exec();
    return result_;
}

MsgResult ShowMessageBox(MsgKind kind, MsgIcon icon, const QString& text, QWidget* owner) {
    CCoolMsgBox box(kind, icon, text, owner);
    return box.Run();
}

}  // namespace rk
