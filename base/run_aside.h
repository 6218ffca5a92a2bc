#pragma once
// Work that overlaps the caller's: a read ahead, the next picture's decode.
#include <future>
#include <system_error>
#include <type_traits>

namespace rk {

// Runs `work` on a thread of its own; when no thread is to be had, when its
// result is taken instead. Either way the caller takes the result with get().
template <class Work>
std::future<std::invoke_result_t<Work&>> RunAside(Work work) {
    try {
        return std::async(std::launch::async, work);
    } catch (const std::system_error&) {
        return std::async(std::launch::deferred, work);
    }
}

}  // namespace rk
