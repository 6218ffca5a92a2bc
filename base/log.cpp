#include "base/log.h"

#include <cstdarg>
#include <cstdio>
#include <mutex>

namespace rk {

struct CDebug::State {
    std::mutex lock;
    std::function<int()> source;
    std::string path;
    bool configured = false;
    int level = 0;
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
    state().path = std::move(path);
}

void CDebug::Reset() {
    std::lock_guard g(state().lock);
    state().configured = false;
    state().level = 0;
}

void CDebug::Write(int, const char*, va_list) {}

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
