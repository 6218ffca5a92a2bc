#pragma once
// The cause behind the system's fixed failure texts. The operations show
// their own texts ("Media write error!...", "Error opening file!"); where a
// lower layer knows more (a full disk, an I/O error, a FIFO named as a file)
// it notes that here, the log records it, and the command line prints it
// under the next error message shown. The window shows the system's text
// only.
#include <string>

namespace rk {

// Records `cause` (logged at level 2) for the next error message. A later
// note replaces an earlier one.
void NoteFailureCause(const std::string& cause);
// "what: strerror(error)".
void NoteFailureErrno(const std::string& what, int error);
// The cause noted since the last take, and forgets it; empty when none.
std::string TakeFailureCause();
// Forgets any noted cause (an operation starting afresh).
void ClearFailureCause();

}  // namespace rk
