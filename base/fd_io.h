#pragma once
// Whole transfers on file descriptors: a write that stops short is retried
// until every byte is out, and anything less is a failure.
#include <cstddef>

namespace rk {

// Writes all `bytes`, retrying after signals and partial writes; false on an
// error or a write that makes no progress.
bool WriteWhole(int fd, const void* data, std::size_t bytes);

}  // namespace rk
