#include "app/single_instance.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <string>

#include "base/log.h"

namespace rk {
namespace {

constexpr const char* kLockName = "Korvix_Reelkeep";

}  // namespace

bool IsPrivateFolder(const std::string& dir) {
    struct stat st{};
    if (::lstat(dir.c_str(), &st) != 0) return false;
    return S_ISDIR(st.st_mode) && st.st_uid == ::getuid() && (st.st_mode & 022) == 0;
}

std::string CSingleInstance::LockPath() {
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    if (runtime && *runtime && runtime[0] == '/') return std::string(runtime) + "/" + kLockName;
    return "/tmp/" + std::to_string(::getuid()) + "/" + kLockName;
}

CSingleInstance::~CSingleInstance() { Release(); }

void CSingleInstance::Release() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
}

bool CSingleInstance::Acquire() {
    if (fd_ >= 0) return true;
    std::string path = LockPath();
    std::string dir = path.substr(0, path.rfind('/'));
    if (::mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST) {
        LogMessage(2, "CSingleInstance::Acquire(): cannot make %s (%d)", dir.c_str(), errno);
        return true;
    }
    // /tmp/<uid> could have been made by someone else: a lock there proves nothing.
    if (!IsPrivateFolder(dir)) {
        LogMessage(2, "CSingleInstance::Acquire(): %s is not a private folder", dir.c_str());
        return true;
    }
    int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NOCTTY, 0600);
    if (fd < 0) {
        LogMessage(2, "CSingleInstance::Acquire(): cannot open %s (%d)", path.c_str(), errno);
        return true;
    }
    for (;;) {
        if (::flock(fd, LOCK_EX | LOCK_NB) == 0) break;
        if (errno == EINTR) continue;
        int err = errno;
        ::close(fd);
        if (err == EWOULDBLOCK) return false;
        LogMessage(2, "CSingleInstance::Acquire(): cannot lock %s (%d)", path.c_str(), err);
        return true;
    }
    fd_ = fd;
    return true;
}

bool AnotherInstanceRunning() {
    // Held until the process ends; the kernel releases it then.
    static CSingleInstance instance;
    return !instance.Acquire();
}

}  // namespace rk
