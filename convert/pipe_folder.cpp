#include "convert/pipe_folder.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "base/fd_io.h"
#include "base/log.h"
#include "convert/tool_folder.h"

namespace rk {

namespace {

constexpr const char* kFolderPrefix = "reelkeep-";
constexpr const char* kMarkTitle = "reelkeep working folder";
constexpr size_t kMarkMaxBytes = 256;
// Deeper than anything a tool of ours makes; a deeper tree is left alone.
constexpr int kMaxDepth = 16;

std::string ReadSmallFile(int dirFd, const char* name, size_t limit) {
    const int fd = ::openat(dirFd, name, O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
    if (fd < 0) return {};
    std::string text;
    struct stat st {};
    if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_uid == ::getuid() &&
        static_cast<size_t>(st.st_size) <= limit) {
        text.resize(limit);
        const ssize_t n = ::read(fd, text.data(), limit);
        text.resize(n > 0 ? static_cast<size_t>(n) : 0);
    }
    ::close(fd);
    return text;
}

const std::string& BootId() {
    static const std::string id = [] {
        std::string text = ReadSmallFile(AT_FDCWD, "/proc/sys/kernel/random/boot_id", 64);
        while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) text.pop_back();
        return text;
    }();
    return id;
}

std::string MarkText(const ProcessStamp& s) {
    return std::string(kMarkTitle) + "\npid " + std::to_string(s.pid) + "\nstart " + std::to_string(s.startTicks) +
           "\nboot " + s.bootId + "\n";
}

// The stamp a mark holds; false when the text is not a mark of ours.
bool ParseMark(const std::string& text, ProcessStamp& s) {
    char title[32] = {}, boot[64] = {};
    int pid = 0, used = 0;
    unsigned long long start = 0;
    if (std::sscanf(text.c_str(), "%31[^\n]\npid %d\nstart %llu\nboot %63[0-9a-f-]\n%n", title, &pid, &start, boot,
                    &used) != 4 ||
        std::strcmp(title, kMarkTitle) != 0 || pid <= 0 || static_cast<size_t>(used) != text.size())
        return false;
    s.pid = pid;
    s.startTicks = start;
    s.bootId = boot;
    return true;
}

// "reelkeep-<pid>-XXXXXX": the pid, or 0 for any other name.
pid_t PidOfFolderName(const std::string& name) {
    const size_t prefix = std::strlen(kFolderPrefix);
    if (name.compare(0, prefix, kFolderPrefix) != 0) return 0;
    const size_t dash = name.find('-', prefix);
    if (dash == std::string::npos || dash == prefix || dash > prefix + 10 || name.size() != dash + 7) return 0;
    long pid = 0;
    for (size_t i = prefix; i < dash; ++i) {
        if (name[i] < '0' || name[i] > '9') return 0;
        pid = pid * 10 + (name[i] - '0');
    }
    for (size_t i = dash + 1; i < name.size(); ++i)
        if (!std::isalnum(static_cast<unsigned char>(name[i]))) return 0;
    return pid > 0 && pid <= 0x7fffffff ? static_cast<pid_t>(pid) : 0;
}

// Empties the folder open as `dirFd` (which this call closes): every entry
// is unlinked where it is, sub-folders of the same file system emptied first.
// Links are removed, never followed.
void EmptyFolder(int dirFd, dev_t device, int depth, const char* keep = nullptr) {
    DIR* d = ::fdopendir(dirFd);
    if (!d) {
        ::close(dirFd);
        return;
    }
    while (dirent* e = ::readdir(d)) {
        if (std::strcmp(e->d_name, ".") == 0 || std::strcmp(e->d_name, "..") == 0) continue;
        if (keep && std::strcmp(e->d_name, keep) == 0) continue;
        struct stat st {};
        if (::fstatat(::dirfd(d), e->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0) continue;
        if (S_ISDIR(st.st_mode)) {
            if (st.st_dev != device || depth >= kMaxDepth) continue;
            const int sub = ::openat(::dirfd(d), e->d_name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
            if (sub < 0) continue;
            EmptyFolder(sub, device, depth + 1);
            ::unlinkat(::dirfd(d), e->d_name, AT_REMOVEDIR);
        } else {
            ::unlinkat(::dirfd(d), e->d_name, 0);
        }
    }
    ::closedir(d);
}

// Removes `name` in the folder `parentFd` whole; the owner mark goes last, so
// a folder cut short in its removal still says whose it was.
bool RemoveWholeFolder(int parentFd, const std::string& name) {
    const int fd = ::openat(parentFd, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) return false;
    struct stat st {};
    if (::fstat(fd, &st) != 0) {
        ::close(fd);
        return false;
    }
    const int walkFd = ::fcntl(fd, F_DUPFD_CLOEXEC, 0);
    if (walkFd >= 0) EmptyFolder(walkFd, st.st_dev, 0, kOwnerMarkName);
    ::unlinkat(fd, kOwnerMarkName, 0);
    ::close(fd);
    return ::unlinkat(parentFd, name.c_str(), AT_REMOVEDIR) == 0;
}

}  // namespace

bool StampOfProcess(pid_t pid, ProcessStamp& stamp) {
    char path[40];
    std::snprintf(path, sizeof path, "/proc/%d/stat", static_cast<int>(pid));
    const std::string text = ReadSmallFile(AT_FDCWD, path, 4096);
    // The command name may hold spaces and brackets: the fields after it
    // start behind the last ')'. The start time is the 20th of them.
    const size_t close = text.rfind(')');
    if (close == std::string::npos) return false;
    const char* p = text.c_str() + close + 1;
    for (int field = 0; field < 19; ++field) {
        while (*p == ' ') ++p;
        while (*p && *p != ' ') ++p;
    }
    char* end = nullptr;
    const unsigned long long start = std::strtoull(p, &end, 10);
    if (end == p) return false;
    stamp.pid = pid;
    stamp.startTicks = start;
    stamp.bootId = BootId();
    return true;
}

bool CPipeFolder::Create() {
    Remove();
    cause_.clear();
    ProcessStamp me;
    if (!StampOfProcess(::getpid(), me) || me.bootId.empty()) {
        LogMessage(2, "CPipeFolder::Create(): cannot tell who this process is");
        cause_ = "no working folder: this process cannot be told from others (/proc is not readable)";
        return false;
    }
    std::string name = TempFolder() + "/" + kFolderPrefix + std::to_string(me.pid) + "-XXXXXX";
    if (!::mkdtemp(name.data())) {
        const int error = errno;
        LogMessage(2, "CPipeFolder::Create(): cannot make %s (%s)", name.c_str(), std::strerror(error));
        cause_ = "no working folder in " + TempFolder() + ": " + std::strerror(error);
        return false;
    }
    folder_ = name;
    const std::string mark = folder_ + "/" + kOwnerMarkName;
    const std::string text = MarkText(me);
    const int fd = ::open(mark.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
    const bool written = fd >= 0 && WriteWhole(fd, text.data(), text.size());
    if (fd >= 0 && ::close(fd) != 0) LogMessage(2, "CPipeFolder::Create(): closing the mark failed");
    if (!written) {
        const int error = errno ? errno : EIO;
        LogMessage(2, "CPipeFolder::Create(): cannot mark %s", folder_.c_str());
        cause_ = "no working folder in " + TempFolder() + ": " + std::strerror(error);
        Remove();
        return false;
    }
    return true;
}

std::string CPipeFolder::MakeFifo(const char* name) {
    if (folder_.empty()) return {};
    std::string path = folder_ + "/" + name;
    ::unlink(path.c_str());
    if (::mkfifo(path.c_str(), 0600) != 0) return {};
    return path;
}

std::string CPipeFolder::AddFile(const char* name) const {
    if (folder_.empty()) return {};
    return folder_ + "/" + name;
}

bool CPipeFolder::Link(const char* name, const std::string& target) {
    std::string path = AddFile(name);
    if (path.empty()) return false;
    ::unlink(path.c_str());
    return ::symlink(target.c_str(), path.c_str()) == 0;
}

std::string CPipeFolder::LiteralName(const char* stem, const std::string& path) {
    if (folder_.empty() || path.empty()) return {};
    // Most names hold nothing a tool reads as a pattern: they are handed on
    // as they are, and a full temporary folder needs no room for a link.
    const std::string absolute = AbsolutePath(path);
    if (absolute.find_first_of("%*?[{") == std::string::npos) return absolute;
    std::string name = stem;
    const size_t slash = path.rfind('/');
    const size_t dot = path.rfind('.');
    if (dot != std::string::npos && (slash == std::string::npos || dot > slash + 1)) {
        std::string ext;
        for (size_t i = dot + 1; i < path.size(); ++i)
            if (std::isalnum(static_cast<unsigned char>(path[i]))) ext += path[i];
        if (!ext.empty()) name += "." + ext;
    }
    return Link(name.c_str(), absolute) ? name : std::string();
}

void CPipeFolder::Remove() {
    if (folder_.empty()) return;
    // Whatever a tool left beside our files goes too: nobody else can write
    // into a 0700 folder of ours.
    if (!RemoveWholeFolder(AT_FDCWD, folder_))
        LogMessage(2, "CPipeFolder::Remove(): %s stays (%s)", folder_.c_str(), std::strerror(errno));
    folder_.clear();
}

int SweepAbandonedWorkFolders(const std::string& tempFolderIn) {
    const std::string base = tempFolderIn.empty() ? TempFolder() : tempFolderIn;
    const int baseFd = ::open(base.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (baseFd < 0) return 0;
    DIR* d = ::fdopendir(baseFd);
    if (!d) {
        ::close(baseFd);
        return 0;
    }
    int removed = 0;
    const uid_t me = ::getuid();
    while (dirent* e = ::readdir(d)) {
        const std::string name = e->d_name;
        const pid_t namedPid = PidOfFolderName(name);
        if (namedPid == 0) continue;
        struct stat st {};
        if (::fstatat(baseFd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISDIR(st.st_mode) ||
            st.st_uid != me || (st.st_mode & 0077) != 0)
            continue;
        const int folderFd = ::openat(baseFd, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (folderFd < 0) continue;
        bool abandoned = false;
        struct stat markSt {};
        if (::fstatat(folderFd, kOwnerMarkName, &markSt, AT_SYMLINK_NOFOLLOW) == 0) {
            ProcessStamp owner, now;
            if (ParseMark(ReadSmallFile(folderFd, kOwnerMarkName, kMarkMaxBytes), owner) && owner.pid == namedPid) {
                // The same pid with the same start time in the same boot is
                // the owner still at work; anything else means it is gone.
                const bool running = StampOfProcess(owner.pid, now) && now.startTicks == owner.startTicks &&
                                     now.bootId == owner.bootId;
                abandoned = !running;
            }
        } else if (errno == ENOENT) {
            // Killed between making the folder and marking it: an empty
            // folder whose named process is gone.
            ProcessStamp now;
            abandoned = !StampOfProcess(namedPid, now) && ::unlinkat(baseFd, name.c_str(), AT_REMOVEDIR) == 0;
            if (abandoned) {
                ++removed;
                LogMessage(2, "removed the empty working folder %s/%s", base.c_str(), name.c_str());
            }
            abandoned = false;
        }
        ::close(folderFd);
        if (abandoned && RemoveWholeFolder(baseFd, name)) {
            ++removed;
            LogMessage(2, "removed the abandoned working folder %s/%s", base.c_str(), name.c_str());
        }
    }
    ::closedir(d);
    return removed;
}

int OpenFifoForReading(const std::string& path, int* capacity) {
    // Non-blocking: a FIFO opened for reading does not wait for a writer,
    // and reads never block; poll tells when there is something to read.
    int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return -1;
    const int widened = WidenPipe(fd);
    if (capacity) *capacity = widened;
    return fd;
}

int WidenPipe(int fd) {
    // Read once: the limit is the system's, not the pipe's.
    static const int limit = [] {
        long most = 1048576;
        if (FILE* f = std::fopen("/proc/sys/fs/pipe-max-size", "r")) {
            long v = 0;
            if (std::fscanf(f, "%ld", &v) == 1 && v > 0) most = v;
            std::fclose(f);
        }
        return static_cast<int>(std::clamp<long>(most, 65536, 16L << 20));
    }();
    if (::fcntl(fd, F_SETPIPE_SZ, limit) < 0) ::fcntl(fd, F_SETPIPE_SZ, 1048576);
    return ::fcntl(fd, F_GETPIPE_SZ);
}

void LetPipeFill(int fd, int capacity, size_t rest) {
    if (capacity <= 0 || rest == 0) return;
    int held = 0;
    if (::ioctl(fd, FIONREAD, &held) != 0 || size_t(held) >= std::min(rest, size_t(capacity) / 4)) return;
    const timespec pause{0, 150'000};
    ::nanosleep(&pause, nullptr);
}

}  // namespace rk
