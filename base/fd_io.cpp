#include "base/fd_io.h"

#include <unistd.h>

#include <cerrno>

namespace rk {

bool WriteWhole(int fd, const void* data, std::size_t bytes) {
    const char* p = static_cast<const char*>(data);
    while (bytes > 0) {
        ssize_t n = ::write(fd, p, bytes);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        p += n;
        bytes -= static_cast<std::size_t>(n);
    }
    return true;
}

bool CFileHandle::Close() {
    if (fd < 0) return true;
    const int rc = ::close(fd);
    fd = -1;
    return rc == 0;
}

int ReadWholeAt(int fd, std::uint64_t offset, void* data, std::size_t bytes) {
    char* p = static_cast<char*>(data);
    std::size_t done = 0;
    while (done < bytes) {
        ssize_t n = ::pread(fd, p + done, bytes - done, static_cast<off_t>(offset + done));
        if (n < 0) {
            if (errno == EINTR) continue;
            return -1;
        }
        if (n == 0) return 0;
        done += static_cast<std::size_t>(n);
    }
    return 1;
}

}  // namespace rk
