#pragma once
// The terminal side of the operator seam for reelkeep-cli.
//
// Messages go to standard error with a prefix that names their kind
// ("error: ", "warning: ", "info: "). Questions are answered Yes by --yes;
// otherwise they are asked on the terminal ("[y/N]") and, when standard input
// is not a terminal, answered No. Progress is a bar with percentage, rate and
// time left on standard error when it is a terminal, else a quiet line at
// every tenth.
//
// Ctrl-C never kills the program: it sets the abort flag that PumpMessages
// answers, so the running operation stops at its next check and leaves the
// card consistent (item data first, directory last). A second Ctrl-C does
// not kill either; it only repeats that the program is stopping. SIGQUIT
// (Ctrl-backslash) still ends the program at once, mid-write if it must.
// SIGTERM and SIGHUP are treated like Ctrl-C; SIGPIPE is ignored.
#include <atomic>
#include <cstdint>
#include <deque>
#include <string>
#include <utility>
#include <vector>

#include "ui/operator.h"

namespace rk::cli {

class CTerminalOperator : public IOperator {
public:
    struct Streams {
        int in = 0;    // where answers are read
        int err = 2;   // where messages and progress go
        bool inIsTerminal = false;
        bool errIsTerminal = false;
        // Standard input and standard error, with isatty().
        static Streams Standard();
    };

    // `yes` is read at every question, so that a --yes parsed later counts.
    explicit CTerminalOperator(const bool* yes, Streams streams = Streams::Standard());
    ~CTerminalOperator() override;

    using IOperator::BeginProgress;
    using IOperator::ShowMessage;
    // A message's detail (the file or card concerned and the cause) follows
    // its text in brackets.
    MsgResult ShowMessage(const Message& message) override;
    // The CLI names its files on the command line: a command queues them
    // here before running an operation. With none queued, a terminal is
    // asked for a path; otherwise the choice is cancelled.
    bool ChooseOpenFile(const FileChoice& choice, std::string& path) override;
    bool ChooseSaveFile(const FileChoice& choice, std::string& path) override;
    // Every queued file at once (a terminal is asked for one).
    bool ChooseOpenFiles(const FileChoice& choice, std::vector<std::string>& paths) override;
    // A queued answer (an option's key or its number from 1) decides; with
    // none, --yes or no terminal takes the initial option, and a terminal
    // is asked.
    bool ChooseOption(const OptionChoice& choice, int& chosen) override;
    // A queued effect type decides (--type, --sound); with none, --yes or no
    // terminal takes the preselection, and a terminal is asked.
    bool ChooseEffectType(EffectTypeChoice& choice) override;
    // A queued cut frame (--cut-at) is set as "Set cut position" sets it, in
    // cut mode only (a frame past the end cuts at the last frame); otherwise
    // the keys are taken as they are. Cancelled only by Ctrl-C.
    bool EditKeyframes(const KeyframeEdit& edit) override;
    // A queued answer (--sequence) decides; with none, --yes or no terminal
    // takes the picture alone and says that --sequence takes the run, and a
    // terminal is asked.
    bool ChoosePictureSequence(PictureSequenceChoice& choice) override;
    // A queued answer (--fit) decides; with none, --yes or no terminal
    // stretches the picture (the default), and a terminal is asked.
    bool ChoosePictureFit(PictureFitChoice& choice) override;
    void BeginProgress(const ProgressScale& scale) override;
    void SetProgress(int64_t position, bool error) override;
    bool PumpMessages() override;
    void EndProgress() override;
    void Refresh(unsigned what) override;

    void QueueOpenFile(const std::string& path) { openFiles_.push_back(path); }
    void QueueSaveFile(const std::string& path) { saveFiles_.push_back(path); }
    void QueueOption(const std::string& answer) { options_.push_back(answer); }
    void QueueEffectType(int effectType, bool withSound) {
        effectTypes_.push_back({effectType, withSound});
    }
    void QueueSequence(bool whole) { sequences_.push_back(whole); }
    void QueueFit(bool pad) { fits_.push_back(pad); }
    // The 0-based frame at which a simple cut switches.
    void QueueCutPosition(int frame) { cuts_.push_back(frame); }
    // The name messages are prefixed with ("reelkeep-cli add-video: ").
    void SetCommandName(const std::string& name) { command_ = name; }
    // Read at every message and progress step: when true, only errors are
    // shown: no progress, no notices, and of the questions only those the
    // person at the terminal answers.
    void SetQuietFlag(const bool* quiet) { quiet_ = quiet; }

    // The process-wide stop request (Ctrl-C, SIGTERM, SIGHUP).
    static void InstallSignalHandlers();
    static bool StopRequested();
    static void RequestStop();        // as Ctrl-C does (tests)
    static void ClearStopRequest();   // tests

    // The prefix of a message kind/icon ("error: " ...).
    static const char* Prefix(MsgKind kind, MsgIcon icon);
    // Formats the progress line into `out` (no allocation): bar, percentage,
    // rate and time left. Answers its length.
    static int FormatProgressLine(char* out, int size, int64_t position, int64_t total, double seconds,
                                  const char* unitName, double bytesPerUnit, bool error);

private:
    bool ReadLine(std::string& line);
    bool AskPath(const char* what, const FileChoice& choice, std::string& path);
    void Write(const char* data, std::size_t size);
    void Write(const std::string& s) { Write(s.data(), s.size()); }
    double Elapsed() const;

    bool Quiet() const { return quiet_ && *quiet_; }

    const bool* yes_;
    const bool* quiet_ = nullptr;
    Streams io_;
    std::deque<std::string> openFiles_, saveFiles_, options_;
    std::deque<std::pair<int, bool>> effectTypes_;
    std::deque<int> cuts_;
    std::deque<bool> sequences_, fits_;
    std::string command_;
    int64_t total_ = 0;
    int64_t lastPosition_ = -1;
    int lastTenth_ = -1;
    int64_t startNs_ = 0;
    int64_t lastDrawNs_ = 0;
    bool lineOpen_ = false;  // a progress bar is on the terminal's current line
    const char* unitName_ = "";
    double bytesPerUnit_ = 0;
};

}  // namespace rk::cli
