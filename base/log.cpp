#include "base/log.h"

#include "base/path_util.h"
#include "base/fd_io.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <deque>
#include <mutex>

namespace rk {

struct CDebug::State {
    std::mutex lock;
    std::function<int()> source;
    std::string overridePath;
    std::string path;  // the file in use once configured; empty while off
    bool configured = false;
    int level = 0;
    int echoLevel = 0;
    int echoFd = 2;
    std::deque<std::string> pending;  // UTF-16LE lines, CRLF included
    std::string line;                 // reused for every line
};

CDebug& CDebug::Instance() {
    static CDebug instance;
    return instance;
}

CDebug::State& CDebug::state() {
    static State s;
    return s;
}

void CDebug::SetLevelSource(std::function<int()> source) {
    std::lock_guard g(state().lock);
    state().source = std::move(source);
}

void CDebug::SetPath(std::string path) {
    std::lock_guard g(state().lock);
    state().overridePath = std::move(path);
}

void CDebug::SetEcho(int level, int echoFd) {
    std::lock_guard g(state().lock);
    state().echoLevel = level;
    state().echoFd = echoFd;
}

void CDebug::Reset() {
    std::lock_guard g(state().lock);
    state().configured = false;
    state().level = 0;
    state().path.clear();
    state().pending.clear();
}

int CDebug::Level() {
    std::lock_guard g(state().lock);
    return state().level;
}

std::string CDebug::Path() {
    std::lock_guard g(state().lock);
    return state().path;
}

std::size_t CDebug::PendingCount() {
    std::lock_guard g(state().lock);
    return state().pending.size();
}

std::string CDebug::PathForExecutable(const std::string& exe) {
    // A dot that begins the name ("/x/.hidden") is no extension.
    return exe.substr(0, exe.size() - ExtensionOf(exe).size()) + ".log";
}

std::string CDebug::StateFolder() {
    std::string base;
    const char* state = std::getenv("XDG_STATE_HOME");
    if (state && state[0] == '/') {
        base = state;
    } else {
        const char* home = std::getenv("HOME");
        if (!home || !*home) return std::string();
        base = std::string(home) + "/.local/state";
    }
    return base + "/Korvix/Reelkeep";
}

bool CDebug::IsInstalledFolder(const std::string& folder) {
    static const std::string kInstalled = std::string("/") + RK_INSTALL_FOLDER;
    return folder.size() >= kInstalled.size() &&
           folder.compare(folder.size() - kInstalled.size(), kInstalled.size(), kInstalled) == 0;
}

std::string CDebug::DefaultPath() {
    char buf[PATH_MAX];
    ssize_t n = readlink("/proc/self/exe", buf, sizeof(buf) - 1);
    if (n <= 0) return std::string();
    const std::string exe(buf, static_cast<std::size_t>(n));
    const std::size_t slash = exe.rfind('/');
    const std::string folder = slash == std::string::npos ? std::string(".") : exe.substr(0, slash ? slash : 1);
    if (!IsInstalledFolder(folder) && ::access(folder.c_str(), W_OK) == 0) return PathForExecutable(exe);
    // Installed: the program's folder belongs to the system, not to its log.
    const std::string state = StateFolder();
    if (state.empty()) return std::string();
    for (std::size_t at = 1; at != std::string::npos; at = state.find('/', at + 1))
        ::mkdir(state.substr(0, at).c_str(), 0700);
    ::mkdir(state.c_str(), 0700);
    return PathForExecutable(state + exe.substr(slash));
}

namespace {

void PutUnit(std::string& out, unsigned u) {
    out.push_back(static_cast<char>(u & 0xFF));
    out.push_back(static_cast<char>((u >> 8) & 0xFF));
}

void AppendAscii(std::string& out, const char* s) {
    for (; *s; ++s) PutUnit(out, static_cast<unsigned char>(*s));
}


// Opens the log for appending, creating it; another writer holding it makes
// the open fail, as the file is shared with no other writer. -1 on failure.
int OpenLog(const std::string& path) {
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC | O_NOCTTY, 0644);
    if (fd < 0) return -1;
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

}  // namespace

std::size_t AppendUtf16Le(std::string& out, const char* s, std::size_t length, std::size_t maxUnits) {
    std::size_t units = 0;
    std::size_t i = 0;
    const auto* p = reinterpret_cast<const unsigned char*>(s);
    while (i < length) {
        unsigned c = p[i];
        unsigned cp = 0xFFFD;
        std::size_t need = 0;
        if (c < 0x80) {
            cp = c;
        } else if (c >= 0xC2 && c <= 0xDF) {
            need = 1;
            cp = c & 0x1F;
        } else if (c >= 0xE0 && c <= 0xEF) {
            need = 2;
            cp = c & 0x0F;
        } else if (c >= 0xF0 && c <= 0xF4) {
            need = 3;
            cp = c & 0x07;
        }
        std::size_t used = 1;
        if (need > 0) {
            // The second byte's range excludes overlong forms, surrogates and
            // values past U+10FFFF; a broken sequence is replaced as a whole
            // up to its first bad byte.
            unsigned lo = 0x80, hi = 0xBF;
            if (c == 0xE0) lo = 0xA0;
            else if (c == 0xED) hi = 0x9F;
            else if (c == 0xF0) lo = 0x90;
            else if (c == 0xF4) hi = 0x8F;
            std::size_t k = 1;
            for (; k <= need && i + k < length; ++k) {
                unsigned b = p[i + k];
                if (k == 1 ? (b < lo || b > hi) : (b & 0xC0) != 0x80) break;
                cp = (cp << 6) | (b & 0x3F);
            }
            used = k;
            if (k <= need) cp = 0xFFFD;
        }
        std::size_t n = cp >= 0x10000 ? 2 : 1;
        if (units + n > maxUnits) break;
        if (n == 2) {
            unsigned v = cp - 0x10000;
            PutUnit(out, 0xD800 | (v >> 10));
            PutUnit(out, 0xDC00 | (v & 0x3FF));
        } else {
            PutUnit(out, cp);
        }
        units += n;
        i += used;
    }
    return units;
}

void CDebug::Write(int level, const char* format, va_list args) {
    State& s = state();
    std::lock_guard g(s.lock);
    if (!s.configured) {
        s.level = s.source ? s.source() : 0;
        if (s.level > 0) s.path = s.overridePath.empty() ? DefaultPath() : s.overridePath;
        s.configured = true;
    }
    if (level <= s.echoLevel) {
        va_list copy;
        va_copy(copy, args);
        char text[kMaxMessage * 4 + 4];
        int m = std::vsnprintf(text, sizeof(text) - 1, format, copy);
        va_end(copy);
        if (m > 0) {
            std::size_t len = std::min(static_cast<std::size_t>(m), sizeof(text) - 2);
            text[len] = '\n';
            WriteWhole(s.echoFd, "log: ", 5);
            WriteWhole(s.echoFd, text, len + 1);
        }
    }
    if (s.level < level || s.level <= 0 || s.path.empty()) return;

    // The time prefix, then the message.
    timespec ts{};
    clock_gettime(CLOCK_REALTIME, &ts);
    tm t{};
    localtime_r(&ts.tv_sec, &t);
    char prefix[64];
    std::snprintf(prefix, sizeof(prefix), "%02d.%02d.%04d %02d:%02d:%02d.%03d - ", t.tm_mday, t.tm_mon + 1,
                  t.tm_year + 1900, t.tm_hour, t.tm_min, t.tm_sec, static_cast<int>(ts.tv_nsec / 1000000));
    // 511 UTF-16 units never need more than 4 bytes each.
    char message[kMaxMessage * 4 + 4];
    int n = std::vsnprintf(message, sizeof(message), format, args);
    std::size_t length = n < 0 ? 0 : std::min(static_cast<std::size_t>(n), sizeof(message) - 1);

    std::string& line = s.line;
    line.clear();
    AppendAscii(line, prefix);
    AppendUtf16Le(line, message, length, kMaxMessage);
    AppendAscii(line, "\r\n");

    int fd = OpenLog(s.path);
    if (fd < 0) {
        if (s.pending.size() < kMaxPending) s.pending.push_back(line);
        return;
    }
    struct stat st{};
    bool ok = true;
    if (::fstat(fd, &st) == 0 && st.st_size == 0) ok = WriteWhole(fd, "\xFF\xFE", 2);
    while (ok && !s.pending.empty()) {
        ok = WriteWhole(fd, s.pending.front().data(), s.pending.front().size());
        if (ok) s.pending.pop_front();
    }
    if (ok) ok = WriteWhole(fd, line.data(), line.size());
    ::close(fd);
}

bool CDebug::Verbose() {
    std::lock_guard g(state().lock);
    return state().configured && state().level > 2;
}

void LogMessage(int level, const char* format, ...) {
    va_list args;
    va_start(args, format);
    CDebug::Instance().Write(level, format, args);
    va_end(args);
}

bool LogVerbose() { return CDebug::Instance().Verbose(); }

}  // namespace rk
