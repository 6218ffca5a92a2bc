#include "convert/app_launch.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <pthread.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string_view>
#include <thread>

#include "base/log.h"
#include "convert/tool_folder.h"

extern char** environ;

namespace rk {

namespace {

// Tools released while still running are waited for here, so that none of
// them stays behind as a zombie. The reaper only ever waits for the pids it
// was given, never for "any child".
class CReaper {
public:
    static CReaper& Instance() {
        static CReaper* reaper = new CReaper;  // lives until exit, with its thread
        return *reaper;
    }

    void Adopt(pid_t pid) {
        std::lock_guard<std::mutex> lock(mutex_);
        pids_.push_back(pid);
        if (!running_) {
            running_ = true;
            std::thread([this] { Run(); }).detach();
        }
    }

private:
    void Run() {
        for (;;) {
            {
                std::lock_guard<std::mutex> lock(mutex_);
                for (size_t i = 0; i < pids_.size();) {
                    int status = 0;
                    pid_t r = waitpid(pids_[i], &status, WNOHANG);
                    if (r == pids_[i] || (r < 0 && errno == ECHILD)) {
                        pids_[i] = pids_.back();
                        pids_.pop_back();
                    } else {
                        ++i;
                    }
                }
                if (pids_.empty()) {
                    running_ = false;
                    return;
                }
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
    }

    std::mutex mutex_;
    std::vector<pid_t> pids_;
    bool running_ = false;
};

int OpenPidFd(pid_t pid) {
#ifdef SYS_pidfd_open
    long fd = syscall(SYS_pidfd_open, pid, 0);
    if (fd >= 0) {
        fcntl(static_cast<int>(fd), F_SETFD, FD_CLOEXEC);
        return static_cast<int>(fd);
    }
#endif
    (void)pid;
    return -1;
}

}  // namespace

bool BuildArguments(std::string_view tmpl, const std::vector<std::string>& values,
                    std::vector<std::string>& words) {
    words.clear();
    size_t next = 0;
    std::string word;
    bool inWord = false, quoted = false;
    for (size_t i = 0; i < tmpl.size(); ++i) {
        char c = tmpl[i];
        if (c == '%' && i + 1 < tmpl.size()) {
            char k = tmpl[i + 1];
            if (k == '%') {
                word += '%';
                inWord = true;
                ++i;
                continue;
            }
            if (k == 's' || k == 'd') {
                if (next >= values.size()) return false;
                // The value joins the word as it stands: its characters are
                // never looked at for quotes or spaces.
                word += values[next++];
                inWord = true;
                ++i;
                continue;
            }
        }
        if (quoted) {
            if (c == '\\' && i + 1 < tmpl.size() && tmpl[i + 1] == '"') {
                word += '"';
                ++i;
            } else if (c == '"') {
                quoted = false;
            } else {
                word += c;
            }
            continue;
        }
        if (c == '"') {
            quoted = true;
            inWord = true;
        } else if (c == ' ' || c == '\t' || c == '\n' || c == '\r') {
            if (inWord) words.push_back(std::move(word));
            word.clear();
            inWord = false;
        } else {
            word += c;
            inWord = true;
        }
    }
    if (quoted || next != values.size()) return false;
    if (inWord) words.push_back(std::move(word));
    return true;
}

CAppLaunch::CAppLaunch(const std::string& tool, const std::vector<std::string>& args, bool captureOutput,
                       const std::string& workFolder) {
    Start(tool, args, captureOutput, workFolder);
}

CAppLaunch::CAppLaunch(const std::string& tool, std::string_view argTemplate,
                       std::initializer_list<std::string> values, bool captureOutput,
                       const std::string& workFolder) {
    std::vector<std::string> words;
    if (!BuildArguments(argTemplate, std::vector<std::string>(values), words)) {
        LogMessage(2, "CAppLaunch::CAppLaunch(): malformed arguments for %s", tool.c_str());
        return;
    }
    Start(tool, words, captureOutput, workFolder);
}

namespace {

// Moves a descriptor above standard input, output and error (closing the
// original), so that dup2 onto 0, 1 and 2 in the child always copies it.
int AboveStandardFds(int fd) {
    if (fd < 0 || fd > 2) return fd;
    const int moved = fcntl(fd, F_DUPFD_CLOEXEC, 3);
    close(fd);
    return moved;
}

// The tools' environment: ours, with glibc asked to back the tools' large
// allocations by the kernel's large pages and to keep them once freed. A
// picture tool touches fresh buffers of many megabytes (ImageMagick's pixel
// cache, ffmpeg's frames and the packet it writes each picture from), and
// each 4 KiB page of them is a fault on first touch. In 2 MiB pages
// ImageMagick's title-card run takes a third less CPU. With glibc's own
// thresholds, a picture-sized block is mapped and unmapped or trimmed off
// the heap again and again, faulting in anew every time; kept below a fixed
// mapping threshold of 32 MiB (glibc's largest) and a trim threshold of
// 256 MiB, the import's picture decode reuses the same pages, 3% of the
// import's CPU. No byte a tool writes depends on it. A tunable the person
// set stays theirs.
std::vector<std::string> ToolEnvironment() {
    constexpr std::string_view kName = "GLIBC_TUNABLES=";
    constexpr std::array<std::string_view, 3> kOurs = {"glibc.malloc.hugetlb=1",
                                                       "glibc.malloc.mmap_threshold=33554432",
                                                       "glibc.malloc.trim_threshold=268435456"};
    std::vector<std::string> env;
    std::string tunables(kName);
    for (char** e = environ; e && *e; ++e) {
        if (std::string_view(*e).starts_with(kName)) tunables = *e;
        else env.emplace_back(*e);
    }
    for (const std::string_view ours : kOurs) {
        if (tunables.find(ours.substr(0, ours.find('=') + 1)) != std::string::npos) continue;
        if (tunables.size() > kName.size()) tunables += ':';
        tunables += ours;
    }
    env.push_back(std::move(tunables));
    return env;
}

// What the child between fork and exec needs, all made before the fork: it
// may only make async-signal-safe calls.
struct ChildPlan {
    const char* path;
    char* const* argv;
    char* const* envp;
    const char* workFolder;
    int input;   // becomes 0
    int output;  // becomes 1
    int error;   // becomes 2
    int report;  // where a failed exec writes its errno (close-on-exec)
    pid_t parent;
};

[[noreturn]] void RunChild(const ChildPlan& plan) {
    // Our handlers mean nothing in the tool, and none may run before exec.
    for (int s = 1; s < NSIG; ++s) {
        struct sigaction dfl {};
        dfl.sa_handler = SIG_DFL;
        sigaction(s, &dfl, nullptr);
    }
    // The tool dies with us, however we end (kill -9 included): otherwise
    // an ffmpeg waiting for a FIFO that nobody will open waits forever.
    // The parent may already be gone by now; then the signal never comes.
    int err = 0;
    if (prctl(PR_SET_PDEATHSIG, SIGKILL) != 0 || getppid() != plan.parent) {
        err = ESRCH;
    } else if (dup2(plan.input, 0) < 0 || dup2(plan.output, 1) < 0 || dup2(plan.error, 2) < 0 ||
               chdir(plan.workFolder) != 0) {
        err = errno;
    } else {
        // Nothing else of ours reaches the tool, whoever forgot O_CLOEXEC;
        // the report descriptor closes itself at exec.
        if (plan.report > 3) close_range(3, static_cast<unsigned>(plan.report) - 1, 0);
        close_range(static_cast<unsigned>(plan.report) + 1, ~0U, 0);
        sigset_t none;
        sigemptyset(&none);
        sigprocmask(SIG_SETMASK, &none, nullptr);
        execve(plan.path, plan.argv, plan.envp);
        err = errno;
    }
    while (write(plan.report, &err, sizeof err) < 0 && errno == EINTR) {
    }
    _exit(127);
}

}  // namespace

void CAppLaunch::Start(const std::string& tool, const std::vector<std::string>& args, bool captureOutput,
                       const std::string& workFolder) {
    // Only plain file names in the program's folder: no paths, no PATH.
    if (tool.empty() || tool.find('/') != std::string::npos) return;
    const std::string folder = ProgramFolder();
    const std::string path = folder + tool;
    if (access(path.c_str(), X_OK) != 0) {
        LogMessage(2, "CAppLaunch::CAppLaunch(): %s not found", path.c_str());
        return;
    }

    if (captureOutput && captureFolder_.Create()) {
        // The captured output lives in a working folder of its own, so that
        // a process killed mid-probe leaves nothing the next start keeps.
        const std::string name = captureFolder_.AddFile("output.txt");
        const int fd = AboveStandardFds(open(name.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600));
        if (fd >= 0) {
            outputFd_ = fd;
            capturePath = name;
        }
    }

    std::vector<char*> argv;
    argv.reserve(args.size() + 2);
    argv.push_back(const_cast<char*>(path.c_str()));
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    const std::vector<std::string> env = ToolEnvironment();
    std::vector<char*> envp;
    envp.reserve(env.size() + 1);
    for (const std::string& e : env) envp.push_back(const_cast<char*>(e.c_str()));
    envp.push_back(nullptr);

    const int devNull = AboveStandardFds(open("/dev/null", O_RDWR | O_CLOEXEC));
    int report[2] = {-1, -1};
    if (devNull < 0 || pipe2(report, O_CLOEXEC) != 0) {
        LogMessage(2, "CAppLaunch::CAppLaunch(): cannot start %s (%s)", path.c_str(), strerror(errno));
        if (devNull >= 0) close(devNull);
        return;
    }
    report[0] = AboveStandardFds(report[0]);
    report[1] = AboveStandardFds(report[1]);
    const ChildPlan plan{path.c_str(),
                         argv.data(),
                         envp.data(),
                         workFolder.empty() ? folder.c_str() : workFolder.c_str(),
                         devNull,
                         outputFd_ >= 0 ? outputFd_ : devNull,
                         devNull,
                         report[1],
                         getpid()};

    // posix_spawn cannot ask for the parent-death signal, so the child is
    // forked here. Every signal stays blocked across the fork, so none of
    // our handlers ever runs in the child.
    sigset_t all, old;
    sigfillset(&all);
    pthread_sigmask(SIG_SETMASK, &all, &old);
    const pid_t pid = report[0] >= 0 && report[1] >= 0 ? fork() : -1;
    if (pid == 0) RunChild(plan);
    const int forkErr = errno;
    pthread_sigmask(SIG_SETMASK, &old, nullptr);
    close(devNull);
    if (report[1] >= 0) close(report[1]);

    int childErr = 0;
    if (pid > 0) {
        ssize_t n;
        while ((n = read(report[0], &childErr, sizeof childErr)) < 0 && errno == EINTR) {
        }
        if (n != static_cast<ssize_t>(sizeof childErr)) childErr = 0;  // exec closed the report: started
    }
    if (report[0] >= 0) close(report[0]);
    if (pid < 0 || childErr != 0) {
        if (pid > 0) {
            int status = 0;
            while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
            }
        }
        LogMessage(2, "CAppLaunch::CAppLaunch(): cannot start %s (%s)", path.c_str(),
                   strerror(pid < 0 ? forkErr : childErr));
        return;
    }
    pid_ = pid;
    pidfd_ = OpenPidFd(pid);
    started = true;
    LogMessage(3, "CAppLaunch::CAppLaunch(): %s started, pid %d", tool.c_str(), static_cast<int>(pid));
}

void CAppLaunch::Collect(int status) {
    if (WIFEXITED(status))
        exitCode = WEXITSTATUS(status);
    else if (WIFSIGNALED(status))
        exitCode = 128 + WTERMSIG(status);
    else
        exitCode = -1;
    ended = true;
    pid_ = -1;
    Release();
}

void CAppLaunch::Release() {
    if (pid_ > 0) CReaper::Instance().Adopt(pid_);
    pid_ = -1;
    if (pidfd_ >= 0) close(pidfd_);
    pidfd_ = -1;
    if (outputFd_ >= 0) close(outputFd_);
    outputFd_ = -1;
    started = false;
}

bool CAppLaunch::Wait(int timeoutMs) {
    if (!started || pid_ <= 0) return false;
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs < 0 ? 0 : timeoutMs);
    int sleepMs = 1;
    for (;;) {
        int status = 0;
        pid_t r = waitpid(pid_, &status, WNOHANG);
        if (r == pid_) {
            Collect(status);
            return true;
        }
        if (r < 0 && errno != EINTR) {
            // Someone else reaped it; the exit code is lost.
            exitCode = -1;
            ended = true;
            pid_ = -1;
            Release();
            return true;
        }
        int remaining = 1000;
        if (timeoutMs >= 0) {
            auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
            if (left <= 0) return false;
            remaining = static_cast<int>(left);
        }
        if (pidfd_ >= 0) {
            pollfd p{pidfd_, POLLIN, 0};
            poll(&p, 1, remaining);
        } else {
            int ms = sleepMs < remaining ? sleepMs : remaining;
            std::this_thread::sleep_for(std::chrono::milliseconds(ms));
            if (sleepMs < 10) ++sleepMs;
        }
    }
}

void CAppLaunch::CloseHandles() { Release(); }

bool CAppLaunch::Terminate(int graceMs) {
    if (!started || pid_ <= 0) return true;
    kill(pid_, SIGTERM);
    if (Wait(graceMs)) return true;
    kill(pid_, SIGKILL);
    return Wait(-1);
}

CAppLaunch::~CAppLaunch() {
    if (started && pid_ > 0) {
        int status = 0;
        if (waitpid(pid_, &status, WNOHANG) == pid_) Collect(status);
    }
    Release();
    if (!capturePath.empty()) unlink(capturePath.c_str());
}

namespace {
thread_local CToolStopScope* t_stopScope = nullptr;
}

CToolStopScope::CToolStopScope(std::function<bool()> stopRequested)
    : stop_(std::move(stopRequested)), outer_(t_stopScope) {
    t_stopScope = this;
}

CToolStopScope::~CToolStopScope() { t_stopScope = outer_; }

bool CToolStopScope::StopRequested() {
    CToolStopScope* s = t_stopScope;
    if (s == nullptr || !s->stop_ || !s->stop_()) return false;
    s->fired_ = true;
    return true;
}

bool WaitOrStop(CAppLaunch& tool, int timeoutMs, bool& stopped) {
    stopped = false;
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs < 0 ? 0 : timeoutMs);
    for (;;) {
        int step = 100;
        if (timeoutMs >= 0) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
            if (left <= 0) return tool.Wait(0);
            if (left < step) step = int(left);
        }
        if (tool.Wait(step)) return true;
        if (!tool.started) return false;
        if (CToolStopScope::StopRequested()) {
            LogMessage(2, "CAppLaunch: stopped while waiting for the tool (pid %d)", int(tool.Pid()));
            tool.Terminate();
            stopped = true;
            return false;
        }
    }
}

}  // namespace rk
