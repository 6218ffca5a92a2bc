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
    ShowAddedEntry(out, CardItem::kEffect, IDC_EFFECT_LIST, out.slot);
}

void CMainWin::ReadStinger() {
    ReadSelectedEntry(IDC_EFFECT_LIST, CardItem::kEffect, [this](int e) { rk::ReadEffect(*this, card_, e); });
}

void CMainWin::DeleteStinger() {
    DeleteSelectedEntry(IDC_EFFECT_LIST, CardItem::kEffect, [this](int e) { return rk::DeleteEffect(*this, card_, e); });
}

void CMainWin::SwapEffectsAt(int a, int b) {
    SwapEntriesAt(a, b, CardItem::kEffect, [this](int x, int y) { return rk::SwapEffects(*this, card_, x, y); });
}

}  // namespace rk
