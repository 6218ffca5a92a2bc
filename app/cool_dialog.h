#pragma once
// CCoolDialog: the dark skin every dialog of the program shares. It builds
// the controls of a dialog template at their rectangles (dialog units of the
// dialog's font), moves them by their anchor flags when the dialog is
// resized, paints the stretched background, colours the labels, makes
// control 11111 a bold title bar, translates itself through the language
// packs, and swallows Enter and Escape so that no key closes a dialog by
// itself: a question answers them through its own buttons (SetEscapeButton).
#include <QDialog>
#include <QLabel>
#include <QPixmap>
#include <QSize>
#include <map>

#include "app/dialog_template.h"
#include "app/dialog_units.h"

namespace rk {

// A label that reports a left click (page labels, loop labels).
class CClickLabel : public QLabel {
    Q_OBJECT
public:
    using QLabel::QLabel;
signals:
    void clicked();

protected:
    void mouseReleaseEvent(QMouseEvent* event) override;
};

class CCoolDialog : public QDialog {
    Q_OBJECT
public:
    CCoolDialog(const DialogTemplate& tmpl, QWidget* parent);
    ~CCoolDialog() override;

    int TemplateId() const { return template_.id; }
    const DialogUnits& Units() const { return units_; }
    // The control with a template id; null for an unknown id.
    QWidget* Control(int id) const;
    template <class T>
    T* ControlAs(int id) const {
        return qobject_cast<T*>(Control(id));
    }
    // The anchor flags of a control (0 for ids that never move).
    unsigned AnchorOf(int id) const;
    // Where a control sits in the template, in pixels, before any resize.
    QRect TemplateRect(int id) const;
    // Client size of the template in pixels.
    QSize TemplateSize() const;

    // Gives every control and the caption the chosen language's text; a
    // control without a translation keeps its template text.
    void Translate();
    // Sets a control's text (labels, buttons); the title control keeps its
    // two-space prefix.
    void SetControlText(int id, const QString& text);
    QString ControlText(int id) const;

    // A word-wrapped text control whose text needs more lines than it has
    // grows downwards; the controls below it move down with the dialog's
    // bottom edge, and a fixed-size dialog grows by as much.
    void GrowTextDown(int id);

    // Gives a drop-down list a smaller font (down to 6 points) when its
    // longest entry would not show whole.
    void FitDropList(int id);

    // Shows the skin's picture `picture` in label `id`, scaled into the
    // label's template rectangle; nothing when the skin has no such picture.
    void ShowPicture(int id, int picture);

    void ShowControl(int id, bool shown);
    void EnableControl(int id, bool enabled);

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    // Escape and the close box reach reject(); a skinned dialog closes only
    // through its own buttons unless a subclass says otherwise.
    void reject() override;
    // Called for every control made from the template (colours per id).
    virtual void StyleControl(int id, QWidget* control);

    // Runs StyleControl again for every control: a subclass calls this from
    // its constructor, since the base constructor reaches only its own.
    void RestyleControls();

    // Lets reject() close the dialog (closing through the window frame).
    void SetCloseAllowed(bool allowed) { closeAllowed_ = allowed; }
    // A question or dialog that answers from the keyboard: Escape clicks
    // button `id` (its No or Cancel), Enter the button that has the focus.
    // Without one (the main window) both keys do nothing.
    void SetEscapeButton(int id) { escapeButton_ = id; }

private:
    QWidget* MakeControl(const ControlDef& def);
    void FitText(QWidget* w);
    void ApplyAnchors(QSize previous, QSize now);
    // Escape or Enter as SetEscapeButton says: true when a button was clicked.
    bool AnswerKey(int key);

    const DialogTemplate& template_;
    DialogUnits units_;
    std::map<int, QWidget*> controls_;
    std::map<int, unsigned> anchors_;
    std::map<int, QRect> templateRects_;
    QPixmap background_;
    QPixmap stretched_;
    QSize previousSize_;
    bool closeAllowed_ = false;
    int escapeButton_ = 0;
};

// True for the keys a skinned dialog never lets through.
bool IsSwallowedKey(int key);

}  // namespace rk
