// The videos page of the main window: Add, Read and Delete. Each handler
// runs its operation on the user-interface thread; the operation itself
// lives in the core and reaches the person only through this window's
// IOperator side (messages, file choice, progress with Stop, refreshes).
#include <QListWidget>

#include "app/main_win.h"
#include "card/card_directory.h"
#include "media/delete_ops.h"
#include "media/video_ops.h"

namespace rk {

void CMainWin::AddVideo() {
    if (busy_ || !Ready()) return;
    const int slot = LowestFreeVideoSlot(card_.Directory());
    if (slot < 0) return;
    ImportOptions options;
    options.limitedRange = yuvRange_ == 1;
    options.deinterlace = deinterlace_ == 0;
    const AddVideoOutcome out = rk::AddVideo(*this, card_, slot, lastFiles_[kFileVideo], options);
    ShowAddedEntry(out, CardItem::kVideo, IDC_VIDEO_LIST,
                   out.slot >= 0 ? ListPositionOfVideo(card_.Directory(), out.slot) : -1);
}

void CMainWin::ReadVideo() {
    if (busy_ || !Ready()) return;
    const int row = SelectedRow(IDC_VIDEO_LIST);
    if (row < 0) return;
    rk::ReadVideo(*this, card_, row);
    UpdateCardLine();
    UpdateControls();
}

void CMainWin::DeleteVideo() {
    if (busy_ || !Ready()) return;
    const int slot = SelectedVideoSlot();
    if (slot < 0) return;
    BeginEdit(true);
    const DeleteOutcome out = rk::DeleteVideo(*this, card_, slot);
    EndEdit(out.result == OpResult::kFailed);
}

}  // namespace rk
