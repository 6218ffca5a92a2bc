#pragma once
// CDlgEffectType: which effect to make of the pictures (simple cut, wipe or
// mix; the animated wipes are never offered) and whether a sound goes with
// it. A click on an option's text chooses it; a frame marks the choice.
#include "app/cool_dialog.h"

namespace rk {

class CDlgEffectType : public CCoolDialog {
    Q_OBJECT
public:
    explicit CDlgEffectType(QWidget* owner);

    // Set before Run: whether the sound options show, and the preselection.
    void SetSoundChoiceShown(bool shown) { soundShown_ = shown; }
    // Bit t offers type t; the animated wipes (3, 4) never show.
    void SetOffered(unsigned mask) { offered_ = mask; }
    void SetEffectType(int type) { type_ = type; }
    void SetWithSound(bool withSound) { withSound_ = withSound; }

    // Shows the dialog modally; true for OK.
    bool Run();
    int EffectType() const { return type_; }
    // Always false when the sound choice is hidden.
    bool WithSound() const { return soundShown_ && withSound_; }

    // What a click on the text of type option `type` (0..4) or of a sound
    // option does.
    void ChooseType(int type);
    void ChooseSound(bool withSound);

protected:
    void StyleControl(int id, QWidget* control) override;
    void showEvent(QShowEvent* event) override;

private:
    void Open();
    void UpdateFrames();
    bool Offered(int type) const;

    bool soundShown_ = true;
    unsigned offered_ = 0x7;
    int type_ = 0;
    bool withSound_ = false;
};

}  // namespace rk
