#include "base/failure_cause.h"

#include <cstring>
#include <mutex>

#include "base/log.h"

namespace rk {

namespace {

std::mutex gMutex;
std::string gCause;

}  // namespace

void NoteFailureCause(const std::string& cause) {
    LogMessage(2, "failure cause: %s", cause.c_str());
    std::lock_guard<std::mutex> lock(gMutex);
    gCause = cause;
}

void NoteFailureErrno(const std::string& what, int error) {
    NoteFailureCause(what + ": " + std::strerror(error));
}

std::string TakeFailureCause() {
    std::lock_guard<std::mutex> lock(gMutex);
    std::string c;
    c.swap(gCause);
    return c;
}

void ClearFailureCause() {
    std::lock_guard<std::mutex> lock(gMutex);
    gCause.clear();
}

}  // namespace rk
