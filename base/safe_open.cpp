#include "base/safe_open.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "base/log.h"

namespace rk {

namespace {

bool KindAllowed(mode_t mode, FileUse use) {
    return S_ISREG(mode) || (use == FileUse::kCard && S_ISBLK(mode));
}

std::string WrongKind(const std::string& path, mode_t mode, FileUse use) {
    return path + ": is " + FileKindText(mode) +
           (use == FileUse::kCard ? ", neither a card image nor a block device" : ", not a regular file");
}

// The reason goes to the caller, who shows it with the failure it explains
// (or not at all, where a missing file is expected), and to the log.
void Tell(std::string* why, std::string text) {
    LogMessage(3, "OpenChecked(): %s", text.c_str());
    if (why) *why = std::move(text);
}

// The whole disk a block device number belongs to (itself for a disk):
// the kernel lists a partition inside its disk's folder.
dev_t DiskOf(dev_t device) {
    const std::string sys = "/sys/dev/block/" + std::to_string(major(device)) + ":" + std::to_string(minor(device));
    if (::access((sys + "/partition").c_str(), F_OK) != 0) return device;
    char text[32] = {};
    const int fd = ::open((sys + "/../dev").c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return device;
    const ssize_t n = ::read(fd, text, sizeof text - 1);
    ::close(fd);
    unsigned maj = 0, min = 0;
    if (n <= 0 || std::sscanf(text, "%u:%u", &maj, &min) != 2) return device;
    return makedev(maj, min);
}

}  // namespace

const char* FileKindText(unsigned mode) {
    switch (mode & S_IFMT) {
    case S_IFREG: return "a regular file";
    case S_IFDIR: return "a folder";
    case S_IFIFO: return "a FIFO";
    case S_IFSOCK: return "a socket";
    case S_IFCHR: return "a character device";
    case S_IFBLK: return "a block device";
    case S_IFLNK: return "a symbolic link";
    default: return "not a file";
    }
}

int OpenChecked(const std::string& path, int flags, FileUse use, std::string* why, int mode) {
    const bool truncate = (flags & O_TRUNC) != 0;
    const int fd = ::open(path.c_str(), (flags & ~O_TRUNC) | O_NONBLOCK | O_CLOEXEC | O_NOCTTY, mode);
    if (fd < 0) {
        const int err = errno;
        // A socket (and a FIFO opened for writing with no reader) refuses the
        // open itself: name the kind rather than "No such device or address".
        struct stat st {};
        if (::stat(path.c_str(), &st) == 0 && !KindAllowed(st.st_mode, use))
            Tell(why, WrongKind(path, st.st_mode, use));
        else
            Tell(why, path + ": " + std::strerror(err));
        errno = err;
        return -1;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0) {
        const int err = errno;
        Tell(why, path + ": " + std::strerror(err));
        ::close(fd);
        errno = err;
        return -1;
    }
    if (!KindAllowed(st.st_mode, use)) {
        Tell(why, WrongKind(path, st.st_mode, use));
        ::close(fd);
        errno = ENODEV;
        return -1;
    }
    const int fl = ::fcntl(fd, F_GETFL);
    if (fl >= 0) ::fcntl(fd, F_SETFL, fl & ~O_NONBLOCK);
    if (truncate && S_ISREG(st.st_mode) && ::ftruncate(fd, 0) != 0) {
        const int err = errno;
        Tell(why, path + ": " + std::strerror(err));
        ::close(fd);
        errno = err;
        return -1;
    }
    return fd;
}

int OpenInputFile(const std::string& path, std::string* why) {
    return OpenChecked(path, O_RDONLY, FileUse::kFile, why);
}

int OpenOutputFile(const std::string& path, std::string* why) {
    return OpenChecked(path, O_WRONLY | O_CREAT | O_TRUNC, FileUse::kFile, why);
}

// A path that names a regular file passes; with `absentPasses` one that
// names nothing passes too.
static bool CheckFilePath(const std::string& path, bool absentPasses, std::string* why) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) {
        if (absentPasses && errno == ENOENT) return true;
        Tell(why, path + ": " + std::strerror(errno));
        return false;
    }
    if (!S_ISREG(st.st_mode)) {
        Tell(why, WrongKind(path, st.st_mode, FileUse::kFile));
        return false;
    }
    return true;
}

bool CheckInputPath(const std::string& path, std::string* why) { return CheckFilePath(path, false, why); }

bool CheckOutputPath(const std::string& path, std::string* why) { return CheckFilePath(path, true, why); }

bool WritesOntoCard(const std::string& path, const std::string& cardPath, std::string* why) {
    struct stat card {}, out {};
    if (cardPath.empty() || ::stat(cardPath.c_str(), &card) != 0) return false;
    bool onCard = false;
    dev_t fileSystem = 0;
    if (::stat(path.c_str(), &out) == 0) {
        onCard = (out.st_dev == card.st_dev && out.st_ino == card.st_ino) ||
                 (S_ISBLK(out.st_mode) && S_ISBLK(card.st_mode) && out.st_rdev == card.st_rdev);
        fileSystem = out.st_dev;
    } else {
        const size_t slash = path.rfind('/');
        const std::string folder = slash == std::string::npos ? "." : path.substr(0, slash ? slash : 1);
        struct stat f {};
        if (::stat(folder.c_str(), &f) == 0) fileSystem = f.st_dev;
    }
    // A file system mounted from the card: its files are the card's bytes.
    if (!onCard && S_ISBLK(card.st_mode) && fileSystem != 0)
        onCard = fileSystem == card.st_rdev || DiskOf(fileSystem) == card.st_rdev;
    if (onCard && why) *why = path + ": is the card being read";
    return onCard;
}

}  // namespace rk
