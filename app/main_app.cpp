#include "app/main_app.h"

#include <QApplication>

#include "app/main_win.h"
#include "app/settings.h"
#include "app/single_instance.h"
#include "base/translate.h"
#include "card/sd_card.h"
#include "convert/pipe_folder.h"

namespace rk {

int CMainApp::Run(int argc, char** argv) {
    // A second start ends here, before anything is shown and without a word.
    if (AnotherInstanceRunning()) return 0;

    QApplication app(argc, argv);
    QCoreApplication::setOrganizationName(QStringLiteral("Korvix"));
    QCoreApplication::setApplicationName(QStringLiteral("Reelkeep"));
    UseSettingsForLogLevel();
    // Verify after write as the "Verify" setting says (by device kind when unset).
    CSDCard::SetVerifyPolicy(ReadVerifyPolicy());

    LoadLanguagePacks();
    // Working folders of conversions whose process was killed.
    SweepAbandonedWorkFolders();

    // The main window is the program: its own loop runs until it closes.
    {
        CMainWin win;
        win.exec();
    }
    return 0;
}

}  // namespace rk
