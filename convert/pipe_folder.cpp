#include "convert/pipe_folder.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <ctime>

#include "base/log.h"
#include "convert/tool_folder.h"

namespace rk {

namespace {

constexpr const char* kFolderPrefix = "reelkeep-";
constexpr size_t kFolderNameLength = 9 + 6;  // "reelkeep-" + the six mkdtemp characters

}  // namespace

bool CPipeFolder::Create() {
    Remove();
    std::string name = TempFolder() + "/" + kFolderPrefix + "XXXXXX";
    if (!mkdtemp(name.data())) return false;
    folder_ = name;
    // The owner mark: held for the folder's life, released by the system
    // when this process ends however it ends.
    const std::string mark = folder_ + "/" + kOwnerMarkName;
    ownerFd_ = open(mark.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (ownerFd_ < 0 || flock(ownerFd_, LOCK_EX | LOCK_NB) != 0) {
        LogMessage(2, "CPipeFolder::Create(): cannot mark %s", folder_.c_str());
        Remove();
        return false;
    }
    return true;
}

std::string CPipeFolder::MakeFifo(const char* name) {
    if (folder_.empty()) return {};
    std::string path = folder_ + "/" + name;
    unlink(path.c_str());
    if (mkfifo(path.c_str(), 0600) != 0) return {};
    fifos_.push_back(path);
    return path;
}

std::string CPipeFolder::AddFile(const char* name) {
    if (folder_.empty()) return {};
    std::string path = folder_ + "/" + name;
    fifos_.push_back(path);
    return path;
}

bool CPipeFolder::Link(const char* name, const std::string& target) {
    std::string path = AddFile(name);
    if (path.empty()) return false;
    unlink(path.c_str());
    return symlink(target.c_str(), path.c_str()) == 0;
}

void CPipeFolder::Remove() {
    for (const std::string& f : fifos_) unlink(f.c_str());
    fifos_.clear();
    if (!folder_.empty()) {
        // Whatever a tool left beside our files goes too: nobody else can
        // write into a 0700 folder of ours.
        if (DIR* d = opendir(folder_.c_str())) {
            while (dirent* e = readdir(d)) {
                if (std::strcmp(e->d_name, ".") == 0 || std::strcmp(e->d_name, "..") == 0 ||
                    std::strcmp(e->d_name, kOwnerMarkName) == 0)
                    continue;
                unlinkat(dirfd(d), e->d_name, 0);
            }
            closedir(d);
        }
        // The mark goes last but one, while the lock is still held, so a
        // sweep never takes a live folder for an abandoned one.
        if (ownerFd_ >= 0) unlink((folder_ + "/" + kOwnerMarkName).c_str());
        rmdir(folder_.c_str());
    }
    if (ownerFd_ >= 0) close(ownerFd_);
    ownerFd_ = -1;
    folder_.clear();
}

int SweepAbandonedWorkFolders(const std::string& tempFolderIn, int unmarkedAgeSeconds) {
    const std::string base = tempFolderIn.empty() ? TempFolder() : tempFolderIn;
    DIR* d = opendir(base.c_str());
    if (!d) return 0;
    int removed = 0;
    const uid_t me = getuid();
    const time_t now = time(nullptr);
    while (dirent* e = readdir(d)) {
        const std::string name = e->d_name;
        if (name.size() != kFolderNameLength || name.compare(0, 9, kFolderPrefix) != 0) continue;
        const std::string folder = base + "/" + name;
        struct stat st {};
        if (lstat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != me) continue;
        const std::string mark = folder + "/" + kOwnerMarkName;
        int fd = open(mark.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
        bool abandoned = false;
        if (fd >= 0) {
            // Free lock: the owner is gone. Held while sweeping, so that
            // two sweeps do not trip over each other.
            abandoned = flock(fd, LOCK_EX | LOCK_NB) == 0;
        } else if (errno == ENOENT) {
            abandoned = now - st.st_mtime > unmarkedAgeSeconds;
        }
        if (abandoned) {
            if (DIR* inner = opendir(folder.c_str())) {
                while (dirent* f = readdir(inner)) {
                    const std::string entry = folder + "/" + f->d_name;
                    struct stat fs {};
                    if (lstat(entry.c_str(), &fs) == 0 && (S_ISFIFO(fs.st_mode) || S_ISREG(fs.st_mode)))
                        unlink(entry.c_str());
                }
                closedir(inner);
            }
            if (rmdir(folder.c_str()) == 0) {
                ++removed;
                LogMessage(2, "removed the abandoned working folder %s", folder.c_str());
            }
        }
        if (fd >= 0) close(fd);
    }
    closedir(d);
    return removed;
}

int OpenFifoForReading(const std::string& path) {
    // Non-blocking: a FIFO opened for reading does not wait for a writer,
    // and reads never block; poll tells when there is something to read.
    int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return -1;
    fcntl(fd, F_SETPIPE_SZ, 1048576);  // best effort; the default is 64 KiB
    return fd;
}

}  // namespace rk
