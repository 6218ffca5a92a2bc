// The logos page of the main window: Add, Read, Delete and the swap of two
// logos, and the window's answer to the logo speed question (CDlgAnimLogo).
// The operations themselves live in the core.
#include <QListWidget>

#include "app/dlg_anim_logo.h"
#include "app/main_win.h"
#include "card/card_directory.h"
#include "effects/logo_ops.h"
#include "media/delete_ops.h"

namespace rk {

// ---- Questions ----

bool CMainWin::ChooseOption(const OptionChoice& choice, int& chosen) {
    if (choice.purpose != OptionPurpose::kLogoSpeed) return IOperator::ChooseOption(choice, chosen);
    CDlgAnimLogo dlg(this, choice.initial);
    if (!dlg.Run()) return false;
    chosen = dlg.SpeedIndex();
    return true;
}

// ---- Logos ----

void CMainWin::AddLogo() {
    if (busy_ || !Ready()) return;
    const int slot = LowestFreeLogoSlot(card_.Directory());
    if (slot < 0) return;
    LogoOptions options;
    options.limitedRange = yuvRange_ == 1;
    const AddLogoOutcome out = rk::AddLogo(*this, card_, slot, lastFiles_[kFileLogo], options);
    ShowAddedEntry(out, CardItem::kLogo, IDC_LOGO_LIST, out.slot);
}

void CMainWin::ReadLogo() {
    ReadSelectedEntry(IDC_LOGO_LIST, CardItem::kLogo, [this](int l) { rk::ReadLogo(*this, card_, l); });
}

void CMainWin::DeleteLogo() {
    DeleteSelectedEntry(IDC_LOGO_LIST, CardItem::kLogo, [this](int l) { return rk::DeleteLogo(*this, card_, l); });
}

void CMainWin::SwapLogosAt(int a, int b) {
    SwapEntriesAt(a, b, CardItem::kLogo, [this](int x, int y) { return rk::SwapLogos(*this, card_, x, y); });
}

}  // namespace rk
