#pragma once
// CMainApp: start-up and shutdown of the window program. One instance runs
// at a time; the language packs are loaded before the main window exists;
// the main window runs as the one modal dialog and the process ends when it
// closes.
class QCoreApplication;
class QLocale;

namespace rk {

// Loads Qt's own translation (qtbase_<language>) for `locale` and installs
// it in `app`; false when there is none.
bool InstallQtTranslation(QCoreApplication& app, const QLocale& locale);

class CMainApp {
public:
    // Runs the program; the exit status of the process.
    static int Run(int argc, char** argv);
};

}  // namespace rk
