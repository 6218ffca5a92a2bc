#include "app/main_app.h"

#include <QApplication>
#include <QCoreApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>
#include <cstdio>
#include <string_view>

#include "app/about_box.h"
#include "app/instance_channel.h"
#include "app/main_win.h"
#include "app/settings.h"
#include "app/single_instance.h"
#include "base/translate.h"
#include "card/sd_card.h"
#include "convert/pipe_folder.h"

namespace rk {

namespace {

constexpr const char* kUsage =
    "Usage: reelkeep [--help] [--version] [VIDEO...]\n"
    "Prepares the SD cards of the video playout device: formats them, adds and reads back videos,\n"
    "stills, effects and logos, and fills the playlists. Card images live in the card folder\n"
    "(REELKEEP_CARD_DIR overrides it). reelkeep-cli does the same from the command line.\n"
    "Videos named here are added to the selected card, as if dropped on the window; when the\n"
    "window is already open, it comes to the front and adds them.\n";

// --help and --version answer on standard output and end the program
// before any window or lock: -1 when neither was asked for.
int AnswerInfoOption(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        const std::string_view a = argv[i];
        if (a == "--version") {
            std::printf("reelkeep %s\n", ProgramVersion());
            return 0;
        }
        if (a == "--help" || a == "-h") {
            std::fputs(kUsage, stdout);
            return 0;
        }
    }
    return -1;
}

}  // namespace

bool InstallQtTranslation(QCoreApplication& app, const QLocale& locale) {
    auto* translator = new QTranslator(&app);
    if (!translator->load(locale, QStringLiteral("qtbase"), QStringLiteral("_"),
                          QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
        delete translator;
        return false;
    }
    app.installTranslator(translator);
    return true;
}

int CMainApp::Run(int argc, char** argv) {
    if (const int rc = AnswerInfoOption(argc, argv); rc >= 0) return rc;
    const QStringList files = StartFiles(argc, argv);
    // A second start ends here, before anything is shown and without a word:
    // the running window comes to the front and takes its files.
    if (AnotherInstanceRunning()) {
        QCoreApplication app(argc, argv);
        CInstanceChannel::SendToRunning(files);
        return 0;
    }

    QApplication app(argc, argv);
    QCoreApplication::setOrganizationName(QStringLiteral("Korvix"));
    QCoreApplication::setApplicationName(QStringLiteral("Reelkeep"));
    UseSettingsForLogLevel();
    // Verify after write as the "Verify" setting says (by device kind when unset).
    CSDCard::SetVerifyPolicy(ReadVerifyPolicy());

    LoadLanguagePacks();
    // Qt's own dialogs (file choice) speak the user's language too.
    InstallQtTranslation(app, QLocale::system());
    // Working folders of conversions whose process was killed.
    SweepAbandonedWorkFolders();

    // The main window is the program: its own loop runs until it closes.
    {
        CMainWin win;
        CInstanceChannel channel;
        QObject::connect(&channel, &CInstanceChannel::Called, &win, &CMainWin::CalledAgain);
        channel.Listen();
        if (!files.isEmpty()) win.OpenFiles(files);
        win.exec();
    }
    return 0;
}

}  // namespace rk
