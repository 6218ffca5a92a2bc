#include "convert/pipe_folder.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "convert/tool_folder.h"

namespace rk {

bool CPipeFolder::Create() {
    Remove();
    std::string name = TempFolder() + "/reelkeep-XXXXXX";
    if (!mkdtemp(name.data())) return false;
    folder_ = name;
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

void CPipeFolder::Remove() {
    for (const std::string& f : fifos_) unlink(f.c_str());
    fifos_.clear();
    if (!folder_.empty()) rmdir(folder_.c_str());
    folder_.clear();
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
