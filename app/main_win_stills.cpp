// The stills page of the main window: Add, Read, Delete and the swap of two
// stills. The work is the core's; the window picks the still from its list.
#include <QListWidget>

#include "app/main_win.h"
#include "card/card_directory.h"
#include "media/delete_ops.h"
#include "media/still_ops.h"

namespace rk {

void CMainWin::AddStill() {
    if (busy_ || !Ready()) return;
    ImportOptions options;
    options.limitedRange = yuvRange_ == 1;
    options.deinterlace = deinterlace_ == 0;
    // The operation asks for the picture (remembering the path), shows its
    // progress and outcome, and rescans after a card write error.
    const OpOutcome out = rk::AddStill(*this, card_, lastFiles_[kFileStill], options);
    UpdateCardLine();
    if (out.result == OpResult::kDone && out.slot >= 0 && Ready() && card_.Directory().Still(out.slot).Used()) {
        QListWidget* stills = List(IDC_STILL_LIST);
        stills->setCurrentRow(out.slot);
        if (QListWidgetItem* item = stills->item(out.slot)) stills->scrollToItem(item);
        stills->setFocus();
    }
    UpdateControls();
}

void CMainWin::ReadStill() {
    if (busy_ || !Ready()) return;
    const int slot = SelectedRow(IDC_STILL_LIST);
    if (slot < 0 || slot >= kStillCount || !card_.Directory().Still(slot).Used()) return;
    // The operation asks for the file and shows the outcome ("Read
    // completed." or "Error writing file!"); a failed card read is reported
    // by the card.
    rk::ReadStill(*this, card_, slot);
    UpdateCardLine();
    UpdateControls();
}

void CMainWin::DeleteStill() {
    if (busy_ || !Ready()) return;
    const int slot = SelectedRow(IDC_STILL_LIST);
    if (slot < 0 || slot >= kStillCount || !card_.Directory().Still(slot).Used()) return;
    BeginEdit(true);
    const DeleteOutcome out = rk::DeleteStill(*this, card_, slot);
    EndEdit(out.result == OpResult::kFailed);
}

void CMainWin::SwapStillsAt(int a, int b) {
    if (busy_ || !Ready()) return;
    // The pictures change places: the thumbnails are read again.
    BeginEdit(false);
    const OpOutcome out = rk::SwapStills(*this, card_, a, b);
    // A swap stopped half-way has changed the card; the lists show it as it is.
    if (out.result != OpResult::kDone) RefreshLists();
    EndEdit(out.writeError);
}

}  // namespace rk
