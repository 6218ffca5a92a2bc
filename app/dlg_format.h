#pragma once
// CDlgFormat: the format question with the video mode list. Accepting answers
// the chosen mode; "No" cancels.
#include "app/cool_dialog.h"

namespace rk {

class CDlgFormat : public CCoolDialog {
    Q_OBJECT
public:
    CDlgFormat(QWidget* owner, int presetMode);
    // Shows the dialog modally; true when "Yes" was pressed.
    bool Run();
    int Mode() const { return mode_; }

private:
    int mode_;
};

}  // namespace rk
