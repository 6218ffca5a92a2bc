#pragma once
// Runs the built reelkeep-cli as a person would, for the command-line tests
// of every subsystem: stdin closed, stdout and the exit status kept, stderr
// dropped, kept in the same text in the order written (Stderr::kKeep), or
// kept apart in `err` (Stderr::kApart).
#include <fcntl.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <string>
#include <vector>

#include "support/test_files.h"

namespace rk::test {

struct CliResult {
    int status = -1;  // the exit status, or -1 when the program did not exit
    std::string out;
    std::string err;  // Stderr::kApart only
};

enum class Stderr { kDrop, kKeep, kApart };

// The folder of this test program, where the build puts every program.
inline std::string ProgramBeside(const std::string& name) {
    char buf[4096];
    const ssize_t n = ::readlink("/proc/self/exe", buf, sizeof buf - 1);
    std::string self = n > 0 ? std::string(buf, size_t(n)) : std::string("./x");
    return self.substr(0, self.rfind('/') + 1) + name;
}

// `args` is pasted into a shell command line after the program's name, and
// `env` (NAME=value words) before it, so the caller quotes what needs quoting.
inline CliResult RunCli(const std::string& args, Stderr stderrTo = Stderr::kDrop, const std::string& env = "") {
    CliResult r;
    TempDir errDir("rk-cli-err");
    const std::string errFile = errDir.File("stderr");
    const std::string errTo = stderrTo == Stderr::kKeep    ? " 2>&1"
                              : stderrTo == Stderr::kApart ? " 2>'" + errFile + "'"
                                                           : " 2>/dev/null";
    const std::string cmd = env + " '" + ProgramBeside("reelkeep-cli") + "' " + args + errTo + " </dev/null";
    FILE* p = ::popen(cmd.c_str(), "r");
    if (!p) return r;
    char buf[4096];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) r.out.append(buf, n);
    const int st = ::pclose(p);
    r.status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
    if (stderrTo == Stderr::kApart) ReadFile(errFile, r.err);
    return r;
}

// Starts the built reelkeep-cli with `args` (no shell) and `env` added to
// ours ("NAME=value"), standard input and output /dev/null, standard error
// into `errFile` (none by default). The pid, or -1; the caller waits for it
// (WaitCli).
inline pid_t StartCli(const std::vector<std::string>& args, const std::string& errFile = "/dev/null",
                      const std::vector<std::string>& env = {}) {
    std::string prog = ProgramBeside("reelkeep-cli");
    std::vector<std::string> words = args, vars = env;
    std::vector<char*> argv{prog.data()}, envp;
    for (auto& w : words) argv.push_back(w.data());
    argv.push_back(nullptr);
    for (auto& v : vars) envp.push_back(v.data());
    for (char** e = ::environ; *e; ++e) envp.push_back(*e);  // the first of a name counts
    envp.push_back(nullptr);
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_addopen(&fa, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&fa, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&fa, 2, errFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    pid_t pid = -1;
    const int rc = posix_spawn(&pid, prog.c_str(), &fa, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&fa);
    return rc == 0 ? pid : -1;
}

// Waits for a program started by StartCli: its exit status, or -1 when a
// signal ended it.
inline int WaitCli(pid_t pid) {
    int st = 0;
    while (::waitpid(pid, &st, 0) < 0)
        if (errno != EINTR) return -1;
    return WIFEXITED(st) ? WEXITSTATUS(st) : -1;
}

}  // namespace rk::test
