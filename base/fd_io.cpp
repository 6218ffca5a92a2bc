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

namespace {

// Moves `bytes` at `offset` through `transfer(fd, pointer, count, offset)`
// (pread or pwrite) until all are through: 1 done, 0 no progress, -1 error.
template <typename Pointer, typename Transfer>
int TransferWholeAt(int fd, std::uint64_t offset, Pointer p, std::size_t bytes, Transfer transfer) {
    std::size_t done = 0;
    while (done < bytes) {
        ssize_t n = transfer(fd, p + done, bytes - done, static_cast<off_t>(offset + done));
        if (n < 0) {
            if (errno == EINTR) continue;
            return -1;
        }
        if (n == 0) return 0;
        done += static_cast<std::size_t>(n);
    }
    return 1;
}

}  // namespace

int ReadWholeAt(int fd, std::uint64_t offset, void* data, std::size_t bytes) {
    return TransferWholeAt(fd, offset, static_cast<char*>(data), bytes, ::pread);
}

int WriteWholeAt(int fd, std::uint64_t offset, const void* data, std::size_t bytes) {
    return TransferWholeAt(fd, offset, static_cast<const char*>(data), bytes, ::pwrite);
}

}  // namespace rk
