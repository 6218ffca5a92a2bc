#pragma once
// Whole transfers on file descriptors: a read or write that stops short is
// retried until every byte is through, and anything less is a failure.
#include <cstddef>
#include <cstdint>

namespace rk {

// Owns a file descriptor (-1 for none) and closes it when it goes, so every
// early return of a reader or writer closes its file.
struct CFileHandle {
    int fd = -1;
    CFileHandle() = default;
    explicit CFileHandle(int f) : fd(f) {}
    ~CFileHandle() { Close(); }
    CFileHandle(const CFileHandle&) = delete;
    CFileHandle& operator=(const CFileHandle&) = delete;
    // Closes now; false when close reports an error (a write that did not
    // reach the disk). Closing nothing succeeds.
    bool Close();
};

// Reads exactly `bytes` at `offset`, retrying after signals and short reads.
// 1: all read; 0: the file ended first (nothing or part of it there);
// -1: a read error, left in errno.
int ReadWholeAt(int fd, std::uint64_t offset, void* data, std::size_t bytes);
// Writes exactly `bytes` at `offset`, retrying after signals and partial
// writes. 1: all written; 0: a write made no progress (the end of a device);
// -1: a write error, left in errno.
int WriteWholeAt(int fd, std::uint64_t offset, const void* data, std::size_t bytes);

// Writes all `bytes`, retrying after signals and partial writes; false on an
// error or a write that makes no progress.
bool WriteWhole(int fd, const void* data, std::size_t bytes);

}  // namespace rk
