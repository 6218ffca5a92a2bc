#include "convert/app_launch.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <mutex>
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

    if (captureOutput) {
        std::string name = TempFolder() + "/tmpXXXXXX";
        int fd = mkostemp(name.data(), O_CLOEXEC);
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

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    if (outputFd_ >= 0)
        posix_spawn_file_actions_adddup2(&actions, outputFd_, 1);
    else
        posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addchdir_np(&actions, workFolder.empty() ? folder.c_str() : workFolder.c_str());
    // Nothing else of ours reaches the tool, whoever forgot O_CLOEXEC.
    posix_spawn_file_actions_addclosefrom_np(&actions, 3);

    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    sigset_t none, defaults;
    sigemptyset(&none);
    sigemptyset(&defaults);
    for (int s : {SIGPIPE, SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGCHLD, SIGUSR1, SIGUSR2}) sigaddset(&defaults, s);
    posix_spawnattr_setsigmask(&attr, &none);
    posix_spawnattr_setsigdefault(&attr, &defaults);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);

    pid_t pid = -1;
    int rc = posix_spawn(&pid, path.c_str(), &actions, &attr, argv.data(), environ);
    posix_spawnattr_destroy(&attr);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) {
        LogMessage(2, "CAppLaunch::CAppLaunch(): cannot start %s (%s)", path.c_str(), strerror(rc));
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
