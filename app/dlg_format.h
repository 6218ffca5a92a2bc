#pragma once
// CDlgFormat: the format question with the video mode list. Accepting answers
// the chosen mode; "No" cancels. The question names the card it is about
// (as the media list shows it: label and size) on a line of its own.
#include "app/cool_dialog.h"

namespace rk {

class CDlgFormat : public CCoolDialog {
    Q_OBJECT
public:
    CDlgFormat(QWidget* owner, int presetMode, const QString& cardName = QString());
    // Shows the dialog modally; true when "Yes" was pressed.
    bool Run();
    int Mode() const { return mode_; }

private:
    int mode_;
};

}  // namespace rk
