#pragma once
// The diagnostic log: one process-wide file beside the executable, written in
// UTF-16 little-endian with CRLF line ends, filtered by the level read once
// from the settings ("Debug"/"Log").
#include <functional>
#include <string>

namespace rk {

// Appends one line when the configured level is at least `level` (1 start and
// end, 2 notable events, 3 details). Safe from any thread.
void LogMessage(int level, const char* format, ...) __attribute__((format(printf, 2, 3)));

// True when the log has been configured and its level is greater than 2.
bool LogVerbose();

class CDebug {
public:
    static CDebug& Instance();

    // Where the level comes from on the first log call (the front-ends read
    // "Debug"/"Log" from the settings here). Without a source the level is 0.
    void SetLevelSource(std::function<int()> source);
    // Overrides the log path (tests); empty means beside the executable.
    void SetPath(std::string path);
    // Forgets the configuration so that the next line reads the level again (tests).
    void Reset();

    void Write(int level, const char* format, va_list args);
    bool Verbose();

private:
    CDebug() = default;
    struct State;
    State& state();
};

}  // namespace rk
