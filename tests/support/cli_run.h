#pragma once
// Runs the built reelkeep-cli as a person would, for the command-line tests
// of every subsystem: stdin closed, stdout and the exit status kept, stderr
// dropped or (Stderr::kKeep) kept in the same text, in the order written.
#include <sys/wait.h>

#include <cstdio>
#include <string>

#include "convert/tool_folder.h"

namespace rk::test {

struct CliResult {
    int status = -1;  // the exit status, or -1 when the program did not exit
    std::string out;
};

enum class Stderr { kDrop, kKeep };

// `args` is pasted into a shell command line after the program's name, so
// the caller quotes what needs quoting.
inline CliResult RunCli(const std::string& args, Stderr stderrTo = Stderr::kDrop) {
    CliResult r;
    const std::string cmd = "'" + ProgramFile("reelkeep-cli") + "' " + args +
                            (stderrTo == Stderr::kKeep ? " 2>&1" : " 2>/dev/null") + " </dev/null";
    FILE* p = ::popen(cmd.c_str(), "r");
    if (!p) return r;
    char buf[4096];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) r.out.append(buf, n);
    const int st = ::pclose(p);
    r.status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
    return r;
}

}  // namespace rk::test
