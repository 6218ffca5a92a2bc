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

namespace {

// Selects row `row` of list `list` and brings it into view.
void SelectRow(QListWidget* list, int row) {
    if (!list || row < 0 || row >= list->count()) return;
    list->setCurrentRow(row);
    if (QListWidgetItem* item = list->item(row)) list->scrollToItem(item);
    list->setFocus();
}

}  // namespace

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
    if (out.slot < 0) RefreshLists();
    UpdateCardLine();
    if (out.slot >= 0 && Ready() && card_.Directory().Logo(out.slot).Used()) SelectRow(List(IDC_LOGO_LIST), out.slot);
    UpdateControls();
}

void CMainWin::ReadLogo() {
    if (busy_ || !Ready()) return;
    const int row = SelectedRow(IDC_LOGO_LIST);
    if (row < 0 || row >= kLogoCount || !card_.Directory().Logo(row).Used()) return;
    rk::ReadLogo(*this, card_, row);
    UpdateCardLine();
    UpdateControls();
}

void CMainWin::DeleteLogo() {
    if (busy_ || !Ready()) return;
    const int slot = SelectedRow(IDC_LOGO_LIST);
    if (slot < 0 || slot >= kLogoCount || !card_.Directory().Logo(slot).Used()) return;
    BeginEdit(true);
    const DeleteOutcome out = rk::DeleteLogo(*this, card_, slot);
    EndEdit(out.result == OpResult::kFailed);
}

void CMainWin::SwapLogosAt(int a, int b) {
    if (busy_ || !Ready() || a == b || a < 0 || b < 0 || a >= kLogoCount || b >= kLogoCount) return;
    if (!card_.Directory().Logo(a).Used()) return;
    BeginEdit(false);
    const bool ok = rk::SwapLogos(*this, card_, a, b);
    EndEdit(!ok);
}

}  // namespace rk
