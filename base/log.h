#pragma once
// The diagnostic log: one process-wide file beside the executable (in the
// state folder for an installed program), written in
// UTF-16 little-endian with CRLF line ends, filtered by the level read once
// from the settings ("Debug"/"Log").
#include <cstdarg>
#include <cstddef>
#include <functional>
#include <string>

namespace rk {

// Appends one line when the configured level is at least `level` (1 start and
// end, 2 notable events, 3 details). The format is a UTF-8 printf format.
// Safe from any thread; never reports an error.
void LogMessage(int level, const char* format, ...) __attribute__((format(printf, 2, 3)));

// True when the log has been configured (by a first line) and its level is
// greater than 2: callers skip building expensive detail otherwise.
bool LogVerbose();

class CDebug {
public:
    // Lines kept back while the file cannot be opened; later ones are dropped.
    static constexpr std::size_t kMaxPending = 100;
    // The longest message, in UTF-16 units, after the time prefix.
    static constexpr std::size_t kMaxMessage = 511;

    static CDebug& Instance();

    // Where the level comes from on the first log call (the front-ends read
    // "Debug"/"Log" from the settings here). Without a source the level is 0.
    // The source is called under the log's lock and must not log itself.
    void SetLevelSource(std::function<int()> source);
    // Overrides the log path (tests); empty means beside the executable.
    void SetPath(std::string path);
    // Lines at `level` and below also go to `echoFd` (UTF-8, one a line),
    // whatever the file's level (reelkeep-cli -v); 0 turns the echo off.
    void SetEcho(int level, int echoFd = 2);
    // Forgets the configuration and the pending lines so that the next line
    // reads the level again (tests).
    void Reset();

    void Write(int level, const char* format, va_list args);
    bool Verbose();

    // The configured level (0 before the first line) and the file in use
    // (empty while the log is off).
    int Level();
    std::string Path();
    std::size_t PendingCount();

    // The default log path: beside a build tree's or a portable copy's
    // executable, its path with the extension, if any, replaced by ".log".
    // An installed program (IsInstalledFolder), or one whose folder is not
    // writable, logs under the same name in the user's state folder
    // ($XDG_STATE_HOME, else ~/.local/state, then Korvix/Reelkeep/) — even
    // as root, who could write the installed folder.
    static std::string DefaultPath();
    // True for the folder the package installs the programs into
    // (PREFIX/libexec/reelkeep), wherever the prefix is.
    static bool IsInstalledFolder(const std::string& folder);
    // The state folder the log goes to for an installed program.
    static std::string StateFolder();
    // The log path for an executable path.
    static std::string PathForExecutable(const std::string& exe);

private:
    CDebug() = default;
    struct State;
    State& state();
};

// Appends `utf8` as UTF-16 little-endian to `out`, at most `maxUnits` 16-bit
// units (never splitting a surrogate pair). Invalid sequences become U+FFFD.
// Answers the number of units appended.
std::size_t AppendUtf16Le(std::string& out, const char* utf8, std::size_t length, std::size_t maxUnits);

}  // namespace rk
