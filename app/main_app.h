#pragma once
// CMainApp: start-up and shutdown of the window program. One instance runs
// at a time; the language packs are loaded before the main window exists;
// the main window runs as the one modal dialog and the process ends when it
// closes.
namespace rk {

class CMainApp {
public:
    // Runs the program; the exit status of the process.
    static int Run(int argc, char** argv);
};

}  // namespace rk
