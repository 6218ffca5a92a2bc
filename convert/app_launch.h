#pragma once
// CAppLaunch runs one external tool from the program's folder once, with an
// argument vector (no shell), optionally capturing its standard output in a
// file of a working folder. The tool never outlives the thread that started
// it (a parent-death signal): a program killed mid-conversion leaves no tool
// behind waiting on a FIFO.
//
// Argument templates are written like command lines ("-i \"%s\" -y %s"): the
// template is split into words first (double quotes group, \" inside quotes
// is a literal quote) and only then is each %s or %d filled into its word, so
// a value with spaces, quotes, '$' or backslashes reaches the tool as one
// argument, untouched.
#include <sys/types.h>

#include <functional>
#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

#include "convert/pipe_folder.h"

namespace rk {

// Splits `argTemplate` into words and fills the placeholders (%s and %d both
// take the next value as text; %% is a percent sign). False when the number
// of placeholders and values differ or a quote is left open.
bool BuildArguments(std::string_view argTemplate, const std::vector<std::string>& values,
                    std::vector<std::string>& words);

class CAppLaunch {
public:
    // Starts `tool` (a file name in the program's folder) with the words of
    // `args`. `started` tells whether it runs. A missing tool, a failed start
    // or a malformed template leaves started false.
    // `workFolder`, when given, is the tool's working directory (an
    // operation's private folder); otherwise the program's folder is.
    CAppLaunch(const std::string& tool, const std::vector<std::string>& args, bool captureOutput,
               const std::string& workFolder = std::string());
    CAppLaunch(const std::string& tool, std::string_view argTemplate,
               std::initializer_list<std::string> values, bool captureOutput,
               const std::string& workFolder = std::string());
    // Destroy: when the tool has ended its exit code is read; the capture
    // file is deleted. A tool still running is not stopped, but it is reaped
    // in the background when it ends, so no zombie is left.
    virtual ~CAppLaunch();

    CAppLaunch(const CAppLaunch&) = delete;
    CAppLaunch& operator=(const CAppLaunch&) = delete;

    // False at once when not started. Otherwise waits up to `timeoutMs`
    // (-1: no limit; 0: just look); when the tool has ended, reads its exit
    // code, closes the handles, clears `started` and returns true.
    bool Wait(int timeoutMs);
    // Closes the handles and clears `started`; the capture file stays until
    // destruction. A running tool is reaped in the background.
    void CloseHandles();
    // Ends a running tool: SIGTERM, then SIGKILL after `graceMs`; reaps it.
    // True when the tool is no longer running afterwards.
    bool Terminate(int graceMs = 500);

    // Process id of the running tool, -1 when none.
    pid_t Pid() const { return pid_; }
    // A descriptor that becomes readable when the tool ends (a pidfd), for
    // poll together with pipes; -1 when none (then poll with a time-out).
    int EndHandle() const { return pidfd_; }

    bool started = false;
    // The tool ran and has ended: its exit code has been read.
    bool ended = false;
    // The tool's exit status: 0 until read; a tool ended by a signal reads
    // as 128 + the signal number.
    int exitCode = 0;
    // The capture file; empty when not capturing or it could not be made.
    std::string capturePath;

private:
    void Start(const std::string& tool, const std::vector<std::string>& args, bool captureOutput,
               const std::string& workFolder);
    void Collect(int status);
    void Release();

    pid_t pid_ = -1;
    int pidfd_ = -1;
    int outputFd_ = -1;
    CPipeFolder captureFolder_;  // holds the capture file
};

// Stop for the waits on a tool's start-up (a probe that stalls before it
// prints anything). While a scope lives on a thread, WaitOrStop on that
// thread asks `stopRequested` every 100 ms and gives up as soon as it
// answers true; scopes nest, the innermost one counts.
class CToolStopScope {
public:
    explicit CToolStopScope(std::function<bool()> stopRequested);
    ~CToolStopScope();
    CToolStopScope(const CToolStopScope&) = delete;
    CToolStopScope& operator=(const CToolStopScope&) = delete;
    // Whether Stop ended a wait while this scope lived.
    bool Fired() const { return fired_; }
    // Asks the innermost scope of this thread (false when there is none);
    // a true answer marks it fired.
    static bool StopRequested();

private:
    std::function<bool()> stop_;
    CToolStopScope* outer_ = nullptr;
    bool fired_ = false;
};

// Wait(timeoutMs) in steps of at most 100 ms, ending early when the thread's
// CToolStopScope says Stop: then the tool is ended (Terminate) and false
// comes back with `stopped` set.
bool WaitOrStop(CAppLaunch& tool, int timeoutMs, bool& stopped);

}  // namespace rk
