#include "cli/terminal_operator.h"

#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "base/fd_io.h"
#include "base/path_util.h"
#include "base/string_ids.h"
#include "base/texts.h"
#include "ui/effect_keys.h"

namespace rk::cli {
namespace {

std::atomic<bool> gStop{false};
static_assert(std::atomic<bool>::is_always_lock_free, "the stop flag is set from a signal handler");

void OnStopSignal(int) {
    int saved = errno;
    // Only async-signal-safe calls here: an atomic flag and write() (WriteWhole
    // is no more than a loop over it).
    static const char kFirst[] = "\nStopping after the current step...\n";
    static const char kAgain[] = "\nAlready stopping; the card is being left consistent (Ctrl-\\ ends at once).\n";
    if (!gStop.exchange(true)) {
        WriteWhole(2, kFirst, sizeof(kFirst) - 1);
    } else {
        WriteWhole(2, kAgain, sizeof(kAgain) - 1);
    }
    errno = saved;
}

int64_t MonotonicNs() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<int64_t>(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

// The first word of a filter ("PNG files (*.png)|*.png||" gives "PNG files (*.png)").
std::string FilterName(const std::string& filter) {
    std::size_t bar = filter.find('|');
    return bar == std::string::npos ? filter : filter.substr(0, bar);
}

constexpr int64_t kRedrawNs = 100 * 1000 * 1000;  // a terminal bar is drawn at most ten times a second
constexpr std::size_t kMaxAnswer = 4096;

}  // namespace

CTerminalOperator::Streams CTerminalOperator::Streams::Standard() {
    Streams s;
    s.in = 0;
    s.err = 2;
    s.inIsTerminal = ::isatty(0) == 1;
    s.errIsTerminal = ::isatty(2) == 1;
    return s;
}

CTerminalOperator::CTerminalOperator(const bool* yes, Streams streams) : yes_(yes), io_(streams) {}

CTerminalOperator::~CTerminalOperator() {
    if (lineOpen_) Write("\n", 1);
}

void CTerminalOperator::InstallSignalHandlers() {
    // SA_RESTART: reads and writes of the card, the tools' pipes and waits for
    // the tools go on undisturbed; the operation sees the flag at its next
    // check. That is safe only because no call restarted here can wait for
    // ever: every file a command names is opened non-blocking and kept only
    // when it is a regular file or a card's block device (base/safe_open.h),
    // the FIFOs to and from the tools are read and written through poll(),
    // and a question waiting for an answer polls too; poll() is never
    // restarted and always returns on a signal.
    struct sigaction sa{};
    sa.sa_handler = OnStopSignal;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);
    sigaction(SIGHUP, &sa, nullptr);
    // A closed standard error (reelkeep-cli ... 2>&1 | head) must not kill the
    // program in the middle of a write to the card: writes then just fail.
    struct sigaction ignore{};
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    sigaction(SIGPIPE, &ignore, nullptr);
}

bool CTerminalOperator::StopRequested() { return gStop.load(); }
void CTerminalOperator::RequestStop() { gStop.store(true); }
void CTerminalOperator::ClearStopRequest() { gStop.store(false); }

const char* CTerminalOperator::Prefix(MsgKind kind, MsgIcon icon) {
    if (kind == kMsgQuestion) return "question: ";
    switch (icon) {
        case kIconError: return "error: ";
        case kIconWarning: return "warning: ";
        default: return "info: ";
    }
}

// A failed write of a message or the bar is not an error of the operation.
void CTerminalOperator::Write(const char* data, std::size_t size) { WriteWhole(io_.err, data, size); }

double CTerminalOperator::Elapsed() const { return static_cast<double>(MonotonicNs() - startNs_) / 1e9; }

MsgResult CTerminalOperator::ShowMessage(const Message& message) {
    const MsgKind kind = message.kind;
    const MsgIcon icon = message.icon;
    if (Quiet() && kind != kMsgQuestion && icon != kIconError) return kResultOk;
    std::string text = message.text;
    // The detail (the file or card and the cause) follows a one-line text
    // in brackets, and goes on a line of its own under a longer one.
    if (!message.detail.empty())
        text += (text.find('\n') == std::string::npos ? " (" : "\n(") + message.detail + ")";
    // The Ctrl-C notice has already ended the bar's line.
    if (lineOpen_) {
        if (!StopRequested()) Write("\n", 1);
        lineOpen_ = false;
        lastDrawNs_ = 0;
    }
    // Continuation lines are indented under the text's first line.
    const std::string prefix = command_.empty() ? std::string(Prefix(kind, icon)) : command_ + ": " + Prefix(kind, icon);
    std::string indent(prefix.size(), ' ');
    std::string out = prefix;
    for (std::size_t i = 0; i < text.size(); ++i) {
        out.push_back(text[i]);
        if (text[i] == '\n' && i + 1 < text.size() && text[i + 1] != '\n') out += indent;
    }
    if (kind != kMsgQuestion) {
        out.push_back('\n');
        Write(out);
        return kResultOk;
    }
    out += " [y/N] ";
    // A question answered without the person is shown with its answer,
    // except with -q: only a question put to the person is.
    // After Ctrl-C every question is No, --yes or not: the operator asked to stop.
    if (StopRequested()) {
        if (!Quiet()) Write(out + "n (stopping)\n");
        return kResultNo;
    }
    if (yes_ && *yes_) {
        if (!Quiet()) Write(out + "y (--yes)\n");
        return kResultYes;
    }
    if (!io_.inIsTerminal) {
        if (!Quiet()) Write(out + "n (standard input is not a terminal; --yes answers Yes)\n");
        return kResultNo;
    }
    Write(out);
    std::string answer;
    if (!ReadLine(answer)) {
        Write("\n", 1);
        return kResultNo;
    }
    // Surrounding blanks do not count; "y" and "yes" in any case are Yes.
    std::size_t b = answer.find_first_not_of(" \t\r");
    std::size_t e = answer.find_last_not_of(" \t\r");
    answer = b == std::string::npos ? std::string() : answer.substr(b, e - b + 1);
    for (char& c : answer) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    return (answer == "y" || answer == "yes") ? kResultYes : kResultNo;
}

bool CTerminalOperator::ReadLine(std::string& line) {
    line.clear();
    for (;;) {
        if (StopRequested()) return false;  // Ctrl-C: no answer
        pollfd pfd{io_.in, POLLIN, 0};
        int ready = ::poll(&pfd, 1, -1);
        if (ready < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        char c;
        ssize_t n = ::read(io_.in, &c, 1);
        if (n < 0) {
            if (errno == EINTR || errno == EAGAIN) continue;
            return false;  // a read error: no answer
        }
        if (n == 0) return !line.empty();  // end of input
        if (c == '\n') return true;
        if (line.size() < kMaxAnswer) line.push_back(c);
    }
}

bool CTerminalOperator::AskPath(const char* what, const FileChoice& choice, std::string& path) {
    if (!io_.inIsTerminal || StopRequested()) return false;
    // The choice's own title says what the file is for ("Read video to file").
    std::string prompt = (choice.title.empty() ? std::string(what) : choice.title) + " (" + FilterName(choice.filter) + ")";
    if (!choice.initialName.empty()) prompt += " [" + choice.initialName + "]";
    prompt += ": ";
    Write(prompt);
    std::string answer;
    if (!ReadLine(answer)) {
        Write("\n", 1);
        return false;
    }
    if (answer.empty()) answer = choice.initialName;
    if (answer.empty()) return false;
    path = answer;
    return true;
}

bool CTerminalOperator::ChooseOpenFile(const FileChoice& choice, std::string& path) {
    if (!openFiles_.empty()) {
        path = openFiles_.front();
        openFiles_.pop_front();
        return !path.empty();
    }
    return AskPath("File to open", choice, path);
}

bool CTerminalOperator::ChooseSaveFile(const FileChoice& choice, std::string& path) {
    if (!saveFiles_.empty()) {
        path = saveFiles_.front();
        saveFiles_.pop_front();
        if (path.empty()) return false;
        // A name without an extension gets the default one, as a save dialog would give it.
        if (ExtensionOf(path).empty() && !choice.defaultExtension.empty()) {
            const std::string& ext = choice.defaultExtension;
            path += ext[0] == '.' ? ext : "." + ext;
        }
        return true;
    }
    return AskPath("File to write", choice, path);
}

bool CTerminalOperator::ChooseOpenFiles(const FileChoice& choice, std::vector<std::string>& paths) {
    if (!openFiles_.empty()) {
        paths.assign(openFiles_.begin(), openFiles_.end());
        openFiles_.clear();
        return true;
    }
    std::string path;
    if (!AskPath("File to open", choice, path)) return false;
    paths.assign(1, path);
    return true;
}

bool CTerminalOperator::ChooseOption(const OptionChoice& choice, int& chosen) {
    const int n = static_cast<int>(choice.options.size());
    if (n == 0) return false;
    auto Match = [&](const std::string& answer) {
        for (int i = 0; i < n; ++i) {
            if (i < static_cast<int>(choice.keys.size()) && answer == choice.keys[i]) return i;
            if (answer == choice.options[i] || answer == std::to_string(i + 1)) return i;
        }
        return -1;
    };
    if (!options_.empty()) {
        std::string answer = options_.front();
        options_.pop_front();
        int i = Match(answer);
        if (i < 0) return false;
        chosen = i;
        return true;
    }
    const int initial = choice.initial >= 0 && choice.initial < n ? choice.initial : 0;
    if ((yes_ && *yes_) || !io_.inIsTerminal || StopRequested()) {
        if (StopRequested()) return false;
        chosen = initial;
        return true;
    }
    std::string menu = choice.title + ":\n";
    for (int i = 0; i < n; ++i) menu += "  " + std::to_string(i + 1) + ") " + choice.options[i] + "\n";
    menu += "choice [" + std::to_string(initial + 1) + "]: ";
    Write(menu);
    std::string answer;
    if (!ReadLine(answer)) {
        Write("\n", 1);
        return false;
    }
    if (answer.empty()) {
        chosen = initial;
        return true;
    }
    int i = Match(answer);
    if (i < 0) return false;
    chosen = i;
    return true;
}

bool CTerminalOperator::ChooseEffectType(EffectTypeChoice& choice) {
    if (!choice.soundChoiceShown) choice.withSound = false;
    if (!effectTypes_.empty()) {
        const auto [type, withSound] = effectTypes_.front();
        effectTypes_.pop_front();
        if (!choice.Offers(type)) return false;
        choice.effectType = type;
        choice.withSound = choice.soundChoiceShown && withSound;
        return true;
    }
    if (StopRequested()) return false;
    if ((yes_ && *yes_) || !io_.inIsTerminal) return choice.Offers(choice.effectType);
    // On a terminal: the offered types as a menu, then the sound.
    static const int kTypeTexts[] = {IDS_EFFECT_TYPE_CUT, IDS_EFFECT_TYPE_WIPE, IDS_EFFECT_TYPE_MIX,
                                     IDS_EFFECT_TYPE_VWIPE, IDS_EFFECT_TYPE_HWIPE};
    static const char* const kTypeKeys[] = {"cut", "wipe", "mix", "vertical", "horizontal"};
    OptionChoice types;
    types.title = "Effect type";
    std::vector<int> offered;
    for (int t = 0; t < 5; ++t) {
        if (!choice.Offers(t)) continue;
        if (t == choice.effectType) types.initial = static_cast<int>(offered.size());
        offered.push_back(t);
        types.options.push_back(LoadText(kTypeTexts[t]));
        types.keys.push_back(kTypeKeys[t]);
    }
    int chosen = 0;
    if (offered.empty() || !ChooseOption(types, chosen)) return false;
    choice.effectType = offered[static_cast<size_t>(chosen)];
    if (choice.soundChoiceShown) {
        OptionChoice sound;
        sound.title = "Sound";
        sound.options = {LoadText(IDS_NO_SOUND), LoadText(IDS_WITH_SOUND)};
        sound.keys = {"none", "sound"};
        sound.initial = choice.withSound ? 1 : 0;
        int withSound = 0;
        if (!ChooseOption(sound, withSound)) return false;
        choice.withSound = withSound == 1;
    }
    return true;
}

bool CTerminalOperator::ChoosePictureSequence(PictureSequenceChoice& choice) {
    if (!sequences_.empty()) {
        choice.whole = sequences_.front();
        sequences_.pop_front();
        return true;
    }
    if (StopRequested()) return false;
    if ((yes_ && *yes_) || !io_.inIsTerminal) {
        ShowMessage(Message{kMsgNotice, kIconInformation,
                            choice.firstPicture + " begins a run of " + std::to_string(choice.pictures) +
                                " numbered pictures; --sequence imports them as one video",
                            std::string()});
        return true;
    }
    return IOperator::ChoosePictureSequence(choice);
}

bool CTerminalOperator::ChoosePictureFit(PictureFitChoice& choice) {
    if (!fits_.empty()) {
        choice.pad = fits_.front();
        fits_.pop_front();
        return true;
    }
    if (StopRequested()) return false;
    if ((yes_ && *yes_) || !io_.inIsTerminal) return true;
    return IOperator::ChoosePictureFit(choice);
}

bool CTerminalOperator::EditKeyframes(const KeyframeEdit& edit) {
    if (!edit.effect || StopRequested()) return false;
    if (cuts_.empty()) return true;
    int frame = cuts_.front();
    cuts_.pop_front();
    if (!edit.cutMode) return true;
    const int frames = edit.effect->FrameCount();
    if (frames < 1) return true;
    if (frame >= frames) {
        const std::string note = "the effect has " + std::to_string(frames) + " frames: it cuts at frame " +
                                 std::to_string(frames) + "\n";
        if (!Quiet()) Write((command_.empty() ? std::string() : command_ + ": ") + Prefix(kMsgNotice, kIconWarning) + note);
        frame = frames - 1;
    }
    edit.effect->SetCutPosition(frame < 0 ? 0 : frame);
    return true;
}

int CTerminalOperator::FormatProgressLine(char* out, int size, int64_t position, int64_t total, double seconds,
                                          const char* unitName, double bytesPerUnit, bool error) {
    if (size <= 0) return 0;
    if (total <= 0) total = 1;
    if (position < 0) position = 0;
    if (position > total) position = total;
    constexpr int kWidth = 30;
    int filled = static_cast<int>(position * kWidth / total);
    int percent = static_cast<int>(position * 100 / total);
    char bar[kWidth + 1];
    for (int i = 0; i < kWidth; ++i) bar[i] = i < filled ? '#' : '.';
    bar[kWidth] = '\0';

    const ProgressPace pace = ProgressPaceOf(position, total, seconds, unitName ? unitName : "", bytesPerUnit);
    int n = std::snprintf(out, static_cast<std::size_t>(size), "[%s] %3d%%  %s  %s left%s", bar, percent,
                          pace.rate.c_str(), pace.left.c_str(), error ? "  error" : "");
    return n < 0 ? 0 : (n >= size ? size - 1 : n);
}

void CTerminalOperator::BeginProgress(const ProgressScale& scale) {
    total_ = scale.total;
    unitName_ = ProgressUnitName(scale.unit);
    bytesPerUnit_ = static_cast<double>(scale.bytesPerUnit);
    lastPosition_ = -1;
    lastTenth_ = -1;
    startNs_ = MonotonicNs();
    lastDrawNs_ = 0;
    SetProgress(0, false);
}

void CTerminalOperator::SetProgress(int64_t position, bool error) {
    if (total_ <= 0 || Quiet()) return;
    // Once stopping, an operation reports its end as the whole total: the bar
    // keeps the place it had reached instead.
    if (StopRequested() && lastPosition_ >= 0) return;
    int64_t now = MonotonicNs();
    if (io_.errIsTerminal) {
        bool final = position >= total_ || error;
        if (!final && lastDrawNs_ != 0 && now - lastDrawNs_ < kRedrawNs) return;
        lastDrawNs_ = now;
        char line[192];
        line[0] = '\r';
        int n = FormatProgressLine(line + 1, static_cast<int>(sizeof(line)) - 5, position, total_, Elapsed(), unitName_,
                                   bytesPerUnit_, error);
        std::memcpy(line + 1 + n, "\033[K", 3);  // clear what a longer line left behind
        Write(line, static_cast<std::size_t>(n) + 4);
        lineOpen_ = true;
    } else {
        int64_t p = position < 0 ? 0 : (position > total_ ? total_ : position);
        int tenth = static_cast<int>(p * 10 / total_);
        if (tenth <= lastTenth_ && !(error && lastPosition_ != position)) return;
        lastTenth_ = tenth > lastTenth_ ? tenth : lastTenth_;
        char line[96];
        int n = std::snprintf(line, sizeof(line), "progress: %d%% (%lld of %lld)%s\n", static_cast<int>(p * 100 / total_),
                              static_cast<long long>(p), static_cast<long long>(total_), error ? " error" : "");
        if (n > 0) Write(line, static_cast<std::size_t>(n < static_cast<int>(sizeof(line)) ? n : sizeof(line) - 1));
    }
    lastPosition_ = position;
}

bool CTerminalOperator::PumpMessages() { return StopRequested(); }

void CTerminalOperator::EndProgress() {
    if (lineOpen_ && !StopRequested()) Write("\n", 1);
    lineOpen_ = false;
    total_ = 0;
}

void CTerminalOperator::Refresh(unsigned) {}

}  // namespace rk::cli
