#pragma once
// CDlgAnimLogo: the "Write logo?" question with the playback speed, the five
// speeds of the string table ("Normal (50 fps)", "Slow x2" ... "Slow x5").
// "Yes" takes the chosen speed; "No" declines.
#include "app/cool_dialog.h"

namespace rk {

class CDlgAnimLogo : public CCoolDialog {
    Q_OBJECT
public:
    // `speedIndex` is preselected (0..4; anything else selects the first).
    explicit CDlgAnimLogo(QWidget* owner, int speedIndex = 0);
    // Shows the dialog modally; true for "Yes".
    bool Run();
    int SpeedIndex() const { return speed_; }

private:
    int speed_ = 0;
};

}  // namespace rk
