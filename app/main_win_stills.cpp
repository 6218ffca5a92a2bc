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
    if (out.result == OpResult::kDone && out.slot >= 0 && Ready() && card_.Directory().Still(out.slot).Used())
        SelectListRow(IDC_STILL_LIST, out.slot);
    UpdateControls();
}

void CMainWin::ReadStill() {
    ReadSelectedEntry(IDC_STILL_LIST, CardItem::kStill, [this](int s) { rk::ReadStill(*this, card_, s); });
}

void CMainWin::DeleteStill() {
    DeleteSelectedEntry(IDC_STILL_LIST, CardItem::kStill, [this](int s) { return rk::DeleteStill(*this, card_, s); });
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
