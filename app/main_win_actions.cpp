// The page buttons of the main window. Each handler runs its operation on
// the user-interface thread; the operation itself lives in the core and
// reaches the person only through this window's IOperator side (messages,
// file choice, progress with Stop, refreshes).
//
// The operations that have not landed yet are hooks: they log that they were
// asked for and change nothing.
#include "app/main_win.h"
#include "base/log.h"

namespace rk {

namespace {
void NotYet(const char* what) { LogMessage(2, "%s: not available in this build", what); }
}  // namespace

void CMainWin::AddVideo() { NotYet("CMainWin::AddVideo()"); }
void CMainWin::DeleteVideo() { NotYet("CMainWin::DeleteVideo()"); }
void CMainWin::ReadVideo() { NotYet("CMainWin::ReadVideo()"); }
void CMainWin::AddStill() { NotYet("CMainWin::AddStill()"); }
void CMainWin::DeleteStill() { NotYet("CMainWin::DeleteStill()"); }
void CMainWin::ReadStill() { NotYet("CMainWin::ReadStill()"); }
void CMainWin::AddStinger() { NotYet("CMainWin::AddStinger()"); }
void CMainWin::DeleteStinger() { NotYet("CMainWin::DeleteStinger()"); }
void CMainWin::ReadStinger() { NotYet("CMainWin::ReadStinger()"); }
void CMainWin::AddLogo() { NotYet("CMainWin::AddLogo()"); }
void CMainWin::DeleteLogo() { NotYet("CMainWin::DeleteLogo()"); }
void CMainWin::ReadLogo() { NotYet("CMainWin::ReadLogo()"); }
void CMainWin::ClearPlaylist() { NotYet("CMainWin::ClearPlaylist()"); }
void CMainWin::RemoveClip() { NotYet("CMainWin::RemoveClip()"); }
void CMainWin::SetPlaylistLoop(bool) { NotYet("CMainWin::SetPlaylistLoop()"); }

}  // namespace rk
