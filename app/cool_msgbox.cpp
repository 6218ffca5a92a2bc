#include "app/cool_msgbox.h"

#include <QPushButton>

#include "base/dialog_texts.h"
#include "ui/operator.h"

namespace rk {

CCoolMsgBox::CCoolMsgBox(MsgKind kind, MsgIcon icon, const QString& text, QWidget* owner)
    : CCoolDialog(MessageBoxTemplate(), owner), kind_(kind == kMsgQuestion ? kMsgQuestion : kMsgNotice), icon_(icon) {
    setWindowFlags(Qt::Dialog | Qt::FramelessWindowHint);
    setModal(true);
    Translate();
    ShowPicture(1005, static_cast<int>(icon_));
    ShowControl(1002, kind_ == kMsgNotice);
    ShowControl(1000, kind_ == kMsgQuestion);
    ShowControl(1001, kind_ == kMsgQuestion);
    SetControlText(1003, text);
    connect(ControlAs<QPushButton>(1000), &QPushButton::clicked, this, [this] { Answer(kResultYes); });
    connect(ControlAs<QPushButton>(1001), &QPushButton::clicked, this, [this] { Answer(kResultNo); });
    connect(ControlAs<QPushButton>(1002), &QPushButton::clicked, this, [this] { Answer(kResultOk); });

    // A long text gets the room it needs below the icon; the buttons move with it.
    auto* textLabel = ControlAs<QLabel>(1003);
    const int need = textLabel->heightForWidth(textLabel->width());
    const int extra = need - textLabel->height();
    if (extra > 0) {
        textLabel->resize(textLabel->width(), need);
        for (int id : {1000, 1001, 1002})
            if (QWidget* b = Control(id)) b->move(b->x(), b->y() + extra);
        if (QWidget* rule = findChild<QWidget*>(QStringLiteral("rule1"))) rule->move(rule->x(), rule->y() + extra);
        setFixedSize(width(), height() + extra);
    } else {
        setFixedSize(size());
    }
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
