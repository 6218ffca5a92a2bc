#pragma once
// CDlgStingerEditor: the keyframe editor. The operator steps through the
// effect's frames (or plays them at 50 frames a second), sees each over a
// checkerboard, and sets the position and fade keys of the effect in place;
// for a simple cut (cut mode) only the frame at which the cut happens.
// Cancel does not undo the keys: the caller then drops the effect.
#include <QElapsedTimer>
#include <QTimer>

#include "app/cool_dialog.h"

namespace rk {

class IEffectKeys;
class CPicCtrl;
class CTickSlider;

class CDlgStingerEditor : public CCoolDialog {
    Q_OBJECT
public:
    CDlgStingerEditor(QWidget* owner, IEffectKeys& effect, bool cutMode);
    ~CDlgStingerEditor() override;

    // Shows the dialog modally; true for OK.
    bool Run();

    int CurrentFrame() const { return current_; }
    bool CutMode() const { return cutMode_; }
    bool Playing() const { return playing_; }
    CPicCtrl* Preview() const;
    CTickSlider* FrameSlider() const;
    CTickSlider* PositionSlider() const;
    CTickSlider* FadeSlider() const;

    // The position text of a position (1023 gives "50% / 50%") and the
    // fade text of a fade (128 gives "50%").
    static QString PositionText(int position);
    static QString FadeText(int fade);

signals:
    // Every frame shown, in order (play shows each one).
    void frameShown(int frame);
    void playFinished();

protected:
    void StyleControl(int id, QWidget* control) override;

private:
    bool KeyCommandAllowed() const;
    void ShowPosition(bool moveSlider);
    void ShowFade(bool moveSlider);
    void SetTicks();
    void ShowCurrentFrame();
    void SetCurrent(int frame);

    void OnPrevious();
    void OnNext();
    void OnPlay();
    void OnPlayTick();
    void OnFrameSlider(int value);
    void OnPositionSlider(int value);
    void OnFadeSlider(int value);
    void OnPositionText();
    void OnFadeText();
    void OnAddKey();
    void OnDeleteKey();
    void OnClearKeys();
    void OnSetCut();
    void OnPreviewPress(QPoint point);

    IEffectKeys& effect_;
    bool cutMode_;
    int current_ = 0;
    bool playing_ = false;
    int playNext_ = 0;
    QElapsedTimer playClock_;
    QTimer playTimer_;
};

}  // namespace rk
