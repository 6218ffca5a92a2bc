// Draws the window's screenshots for the documentation on the offscreen
// platform: the main window with a card's content, the About box, and the
// Format question in Russian. Each picture is the widget as Qt paints it,
// so a text cut off in a picture is cut off for the person too.
//
//   reelkeep_screenshots OUTPUT_FOLDER
//
// The card folder (REELKEEP_CARD_DIR) should hold one formatted card image
// with content; tools/screenshots.sh makes one.
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QListWidget>
#include <QPixmap>
#include <cstdio>

#include "app/about_box.h"
#include "app/control_ids.h"
#include "app/dlg_format.h"
#include "app/main_win.h"
#include "base/translate.h"

namespace {

void Settle(int ms) {
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < ms) QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
}

bool Save(QWidget& w, const QString& folder, const char* name) {
    const QString path = folder + QLatin1Char('/') + QLatin1String(name);
    const bool ok = w.grab().save(path, "PNG");
    std::fprintf(ok ? stdout : stderr, "%s %s\n", ok ? "wrote" : "could not write", path.toUtf8().constData());
    return ok;
}

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    if (argc != 2) {
        std::fputs("usage: reelkeep_screenshots OUTPUT_FOLDER\n", stderr);
        return 2;
    }
    const QString folder = QString::fromLocal8Bit(argv[1]);
    QDir().mkpath(folder);
    rk::CTranslate& tr = rk::CTranslate::Instance();
    tr.LoadPacks();
    tr.SetCurrent(0);
    bool ok = true;
    {
        rk::CMainWin win;
        win.resize(win.MinimumClientSize().expandedTo(QSize(900, 720)));
        win.show();
        for (int i = 0; i < 200 && win.ScanCount() == 0; ++i) Settle(50);
        Settle(300);
        if (win.Ready()) {
            win.SetCurrentPlaylist(0);
            win.List(rk::IDC_VIDEO_LIST)->setCurrentRow(0);
            win.UpdateControls();
        }
        Settle(200);
        ok = Save(win, folder, "main_window.png") && ok;

        rk::CAboutBox about(rk::BundledToolVersions(), &win);
        about.show();
        Settle(200);
        ok = Save(about, folder, "about_box.png") && ok;

        const QString card = win.ControlAs<QComboBox>(rk::IDC_MEDIA_LIST)->currentText();
        tr.ChooseLanguage(1049);
        rk::CDlgFormat format(nullptr, 0, card);
        format.show();
        Settle(200);
        ok = Save(format, folder, "format_question_ru.png") && ok;
        tr.SetCurrent(0);
    }
    return ok ? 0 : 1;
}
