// The effects page of the main window: Add, Read, Delete and the swap of two
// effects, the effect list rows, and the window's answers to the questions
// effects ask (the effect type, the keyframe edit), each in its own dialog.
// The operations themselves live in the core.
#include <QListWidget>

#include "app/dlg_effect_type.h"
#include "app/dlg_stinger_editor.h"
#include "app/main_win.h"
#include "card/card_directory.h"
#include "card/video_modes.h"
#include "media/delete_ops.h"
#include "effects/effect_ops.h"
#include "effects/stinger.h"

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

bool CMainWin::ChooseEffectType(EffectTypeChoice& choice) {
    CDlgEffectType dlg(this);
    dlg.SetOffered(choice.offered);
    dlg.SetSoundChoiceShown(choice.soundChoiceShown);
    dlg.SetEffectType(choice.Offers(choice.effectType) ? choice.effectType : 0);
    dlg.SetWithSound(choice.withSound);
    if (!dlg.Run()) return false;
    choice.effectType = dlg.EffectType();
    choice.withSound = dlg.WithSound();
    return true;
}

bool CMainWin::EditKeyframes(const KeyframeEdit& edit) {
    if (!edit.effect) return false;
    CDlgStingerEditor dlg(this, *edit.effect, edit.cutMode);
    return dlg.Run();
}

// ---- Rows ----

QString CMainWin::EffectRowText(int slot) const {
    if (!Ready() || slot < 0 || slot >= kEffectCount || !card_.Directory().Effect(slot).Used())
        return QString::number(slot + 1);
    const std::string duration = FramesDurationText(card_.Directory().Effect(slot).numFrames, card_.DisplayRate());
    return QStringLiteral("%1 - %2").arg(slot + 1).arg(QString::fromStdString(duration));
}

// ---- Effects ----

void CMainWin::AddStinger() {
    if (busy_ || !Ready()) return;
    // Effects exist on HD cards only: elsewhere the button says so.
    if (!IsHdMode(card_.VideoMode())) {
        ShowMessage(kMsgNotice, kIconInformation, EffectsHdOnlyText());
        return;
    }
    const int slot = LowestFreeEffectSlot(card_.Directory());
    if (slot < 0) return;
    const EffectOpOutcome out = rk::AddEffect(*this, card_, slot, lastFiles_[kFileStinger]);
    // A written entry has had its lists refreshed by the operation itself.
    if (out.slot < 0) RefreshLists();
    UpdateCardLine();
    if (out.slot >= 0 && Ready() && card_.Directory().Effect(out.slot).Used())
        SelectRow(List(IDC_EFFECT_LIST), out.slot);
    UpdateControls();
}

void CMainWin::ReadStinger() {
    if (busy_ || !Ready()) return;
    const int row = SelectedRow(IDC_EFFECT_LIST);
    if (row < 0 || row >= kEffectCount || !card_.Directory().Effect(row).Used()) return;
    rk::ReadEffect(*this, card_, row);
    UpdateCardLine();
    UpdateControls();
}

void CMainWin::DeleteStinger() {
    if (busy_ || !Ready()) return;
    const int slot = SelectedRow(IDC_EFFECT_LIST);
    if (slot < 0 || slot >= kEffectCount || !card_.Directory().Effect(slot).Used()) return;
    BeginEdit(true);
    const DeleteOutcome out = rk::DeleteEffect(*this, card_, slot);
    EndEdit(out.result == OpResult::kFailed);
}

void CMainWin::SwapEffectsAt(int a, int b) {
    if (busy_ || !Ready() || a == b || a < 0 || b < 0 || a >= kEffectCount || b >= kEffectCount) return;
    if (!card_.Directory().Effect(a).Used()) return;
    BeginEdit(false);
    // Only a used effect onto another slot gets here: false is a refused write.
    const bool ok = rk::SwapEffects(*this, card_, a, b);
    EndEdit(!ok);
}

}  // namespace rk
