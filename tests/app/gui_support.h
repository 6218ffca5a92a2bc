#pragma once
// Helpers for the widget tests: a private settings and card folder per test,
// card images, and answering the modal dialogs the window opens.
#include <QString>
#include <QTimer>
#include <QTemporaryDir>
#include <QWidget>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/main_win.h"

namespace rk::test {

// A fresh settings folder and card folder for one test (and the window at
// its normal size, not maximized).
class GuiEnv {
public:
    GuiEnv();
    ~GuiEnv();
    std::string CardPath(const char* name) const;
    // A sparse card image of `mib` MiB in the card folder; formatted for
    // `mode` unless mode is -1.
    std::string MakeCard(const char* name, int mib, int mode);
    QString CardFolder() const { return cards_.path(); }

private:
    QTemporaryDir config_;
    QTemporaryDir cards_;
};

// A main window, shown, after its first scan.
std::unique_ptr<CMainWin> OpenWindow();
// Waits until the window is neither busy nor scanning.
void WaitIdle(CMainWin& win);

// Runs `action` on the next modal dialog of type T that opens (checked every
// few milliseconds for up to 10 s) from inside its own event loop.
// Answers the watcher, which a test deletes when no dialog is expected after all.
QTimer* OnNextModal(const char* className, std::function<void(QWidget*)> action);
// Clicks the button with control id `id` of a skinned dialog.
void ClickControl(QWidget* dialog, int id);
// Answers the next message boxes in turn with `buttons` (control ids),
// recording each box's text in `texts`. The watcher of the box awaited now
// is answered; delete it when no more boxes are expected after all.
QTimer* AnswerBoxes(std::vector<QString>& texts, std::vector<int> buttons);
// Clicks the window's Stop button (a real mouse click) as soon as it shows
// and `when` holds, once; the watcher answered goes away with the window.
QTimer* ClickStopWhen(CMainWin& win, std::function<bool()> when);

}  // namespace rk::test
