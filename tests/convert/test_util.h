#pragma once
// Helpers shared by the conversion tests: tool scripts and looking at
// processes (temporary folders and files: support/test_files.h).
#include <sys/types.h>

#include <cstdint>
#include <string>
#include <vector>

#include "support/test_files.h"

namespace rk::test {

// Writes an executable shell script.
void WriteScript(const std::string& path, const std::string& body);
// True while `pid` exists (also as a zombie).
bool ProcessExists(pid_t pid);
// True when `pid` is a zombie child.
bool IsZombie(pid_t pid);
// The pids of our own children (any state).
std::vector<pid_t> ChildPids();
// Waits up to `ms` for `condition` to hold; true when it did.
template <class F>
bool Eventually(F condition, int ms = 10000);
// Entries of a folder (without "." and "..").
std::vector<std::string> ListDir(const std::string& path);
// The bin folder of this build (where the tools are linked).
std::string BinFolder();

}  // namespace rk::test

#include <chrono>
#include <thread>

template <class F>
bool rk::test::Eventually(F condition, int ms) {
    auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (std::chrono::steady_clock::now() < end) {
        if (condition()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return condition();
}
