#pragma once
// The operator seam: everything an operation asks of the person in front of
// the machine goes through this one interface, so that the window, the
// terminal and the tests run the same operations.
//
// The seam asks in types: a message has a kind, an icon and a typed answer;
// a choice of files or of one of several options is a question of its own;
// progress is counted in a named unit. Stop has one channel only: the answer
// of PumpMessages.
#include <cstdint>
#include <iosfwd>
#include <string>
#include <vector>

namespace rk {

class IEffectKeys;  // ui/effect_keys.h: the effect whose keys are edited

enum class MsgKind : int { kNotice = 0, kQuestion = 1 };
enum class MsgIcon : int { kWarning = 301, kInformation = 302, kError = 303, kQuestion = 304 };
enum class MsgResult : int { kOk = 0, kYes = 1, kNo = 2 };

// Printed as their numbers (test failures, logs).
std::ostream& operator<<(std::ostream& os, MsgKind v);
std::ostream& operator<<(std::ostream& os, MsgIcon v);
std::ostream& operator<<(std::ostream& os, MsgResult v);

// The short names every operation uses.
inline constexpr MsgKind kMsgNotice = MsgKind::kNotice;
inline constexpr MsgKind kMsgQuestion = MsgKind::kQuestion;
inline constexpr MsgIcon kIconWarning = MsgIcon::kWarning;
inline constexpr MsgIcon kIconInformation = MsgIcon::kInformation;
inline constexpr MsgIcon kIconError = MsgIcon::kError;
inline constexpr MsgIcon kIconQuestion = MsgIcon::kQuestion;
inline constexpr MsgResult kResultOk = MsgResult::kOk;
inline constexpr MsgResult kResultYes = MsgResult::kYes;
inline constexpr MsgResult kResultNo = MsgResult::kNo;

// What the front-end should show again after an operation changed the card.
enum RefreshWhat : unsigned {
    kRefreshCardLine = 1u << 0,  // the free-space text and the controls' states
    kRefreshLists = 1u << 1,     // the item lists
    kRescanMedia = 1u << 2,      // a rescan of the drives (after a write error)
};

struct FileChoice {
    // Filter in the "Name (*.a;*.b)|*.a;*.b|Other|*.c||" form.
    std::string filter;
    std::string initialName;
    std::string defaultExtension;  // without the dot; save dialogs only
    // What the choice is for ("Add video"); a front-end may title its dialog with it.
    std::string title;
};

// What an option choice is for, so that a front-end may give a choice its
// own dialog (the window shows the logo speed in the "Write logo?" question).
enum class OptionPurpose : int { kGeneral = 0, kLogoSpeed };

// One of several options, for example a logo's speed.
struct OptionChoice {
    std::string title;                 // what is being chosen
    std::vector<std::string> options;  // the texts shown, in order
    int initial = 0;                   // the option offered first
    // A short machine name per option ("cut", "wipe"), for front-ends that
    // take the answer from the command line; may be empty.
    std::vector<std::string> keys;
    OptionPurpose purpose = OptionPurpose::kGeneral;
};

// The effect type of an effect made from pictures (0 simple cut, 1 wipe,
// 2 mix, 3 vertical and 4 horizontal animated wipe) and whether a sound goes
// with it. The front-end offers only the types in `offered`; the animated
// wipes never are. It answers in effectType and withSound, which hold the
// preselection when it is asked.
struct EffectTypeChoice {
    static constexpr unsigned kCutWipeMix = 0x7;  // types 0, 1 and 2
    unsigned offered = kCutWipeMix;               // bit t: type t is offered
    bool soundChoiceShown = true;                 // hidden: the answer is "no sound"
    int effectType = 0;
    bool withSound = false;

    bool Offers(int type) const { return type >= 0 && type < 32 && ((offered >> type) & 1u) != 0; }
};

// The keyframe edit: the person steps through the effect's frames and sets
// its position and fade keys in place, or in cut mode (a simple cut) only
// the frame at which the cut happens. Cancel does not undo the keys; the
// operation then drops the effect.
struct KeyframeEdit {
    IEffectKeys* effect = nullptr;  // not owned; frame count and kind are fixed
    bool cutMode = false;
};

// A numbered picture chosen where a video is added: the run of pictures it
// begins (by the sequence rule) may be imported whole as one video, or the
// picture alone as before. The front-end answers in `whole`, which holds the
// preselection (the picture alone) when it is asked.
struct PictureSequenceChoice {
    std::string firstPicture;
    int pictures = 0;      // in the run, the chosen one first
    int64_t frames = 0;    // of the video the run makes on the card
    std::string duration;  // of that video, as the lists show durations
    bool whole = false;
};

// A still picture of another shape than the card's frame: stretched over
// the whole frame (the preselection), or kept in shape on black bars (`pad`).
struct PictureFitChoice {
    std::string picture;
    int width = 0, height = 0;  // the picture's pixels
    bool pad = false;
};

// What one step of progress counts, so that a front-end can show a rate and
// the time left in the operation's own unit.
enum class ProgressUnit : int {
    kSteps = 0,   // no unit worth naming
    kFrames,      // frame slots
    kClusters,    // 12288-byte card Clusters
    kBytes,
    kItems,       // whole items (a compaction's moves, a queue of files)
};

struct ProgressScale {
    int64_t total = 0;
    ProgressUnit unit = ProgressUnit::kSteps;
    // Bytes one unit moves (0 when not known): the front-end may show MB/s.
    int64_t bytesPerUnit = 0;
};

// One message: the system's own text, and what the command line and the log
// add to it (the file or card concerned and the cause). The window shows the
// text alone.
struct Message {
    MsgKind kind = MsgKind::kNotice;
    MsgIcon icon = MsgIcon::kInformation;
    std::string text;
    std::string detail;
};

class IOperator {
public:
    virtual ~IOperator() = default;

    // A notice has one "OK" button and answers kOk; a question answers
    // kYes or kNo.
    virtual MsgResult ShowMessage(const Message& message) = 0;
    MsgResult ShowMessage(MsgKind kind, MsgIcon icon, const std::string& text) {
        return ShowMessage(Message{kind, icon, text, std::string()});
    }

    // Returns false when the person cancels.
    virtual bool ChooseOpenFile(const FileChoice& choice, std::string& path) = 0;
    virtual bool ChooseSaveFile(const FileChoice& choice, std::string& path) = 0;
    // Several files at once, in the order the person gave them. The default
    // asks for one.
    virtual bool ChooseOpenFiles(const FileChoice& choice, std::vector<std::string>& paths);
    // One of several options; false when the person cancels. The default
    // takes the initial option.
    virtual bool ChooseOption(const OptionChoice& choice, int& chosen);
    // The effect type and the sound; false when the person cancels. The
    // default takes the preselection (without sound when the choice is hidden).
    virtual bool ChooseEffectType(EffectTypeChoice& choice);
    // Accepted (true) or cancelled. The default accepts the keys as they are.
    virtual bool EditKeyframes(const KeyframeEdit& edit);
    // Whether to import a numbered picture's whole sequence; false when the
    // person cancels. The default asks a Yes/No question (Yes: the whole
    // sequence) through ShowMessage.
    virtual bool ChoosePictureSequence(PictureSequenceChoice& choice);
    // Whether to keep a picture's shape on black bars; false when the
    // person cancels. The default asks a Yes/No question (Yes: bars)
    // through ShowMessage.
    virtual bool ChoosePictureFit(PictureFitChoice& choice);

    // The progress protocol. BeginProgress marks the front-end busy;
    // PumpMessages keeps it responsive and answers whether Stop was asked for.
    virtual void BeginProgress(const ProgressScale& scale) = 0;
    void BeginProgress(int64_t total) { BeginProgress(ProgressScale{total, ProgressUnit::kSteps, 0}); }
    void BeginProgress(int64_t total, ProgressUnit unit, int64_t bytesPerUnit = 0) {
        BeginProgress(ProgressScale{total, unit, bytesPerUnit});
    }
    virtual void SetProgress(int64_t position, bool error) = 0;
    virtual bool PumpMessages() = 0;
    // Whether Stop was asked for, from a wait that is not a step of the
    // operation's progress (a tool's start-up). The default pumps.
    virtual bool StopRequestedWhileWaiting() { return PumpMessages(); }
    virtual void EndProgress() = 0;

    virtual void Refresh(unsigned what) = 0;
};

// A message by string id, loaded through the language packs and formatted.
MsgResult MessageById(IOperator& op, MsgKind kind, MsgIcon icon, int stringId, ...);
// An error notice by string id.
void ErrorById(IOperator& op, int stringId);
// Asks where a read-back goes: the save dialog with the kind's title and
// filter; `extension` (no dot) is added to a name typed without one. False
// when the person cancels.
bool ChooseOutputFile(IOperator& op, int titleId, int filterId, const std::string& extension, std::string& path);
// An error notice by string id with its detail: the file or card concerned
// and the cause ("clips/intro.mp4: No such file or directory").
void ErrorWithDetail(IOperator& op, int stringId, const std::string& detail);
// Never onto the card being read, whatever was answered before: an output
// that is the card, or lies on it, is refused with the error shown (true).
bool RefuseOutputOntoCard(IOperator& op, const std::string& outputPath, const std::string& cardPath);
// "PATH: strerror(errnum)", the usual detail of a failed file operation.
std::string FileCause(const std::string& path, int errnum);

// Short name of a unit ("frames", "clusters", ...), for progress lines.
const char* ProgressUnitName(ProgressUnit unit);

// The pace of a progress as both front-ends show it: the rate ("24.1
// frames/s", or "3.2 MB/s" when the bytes of a step are known) and the time
// left ("1:05" or "1:02:03"); "--" and "--:--" until a rate can be told.
// The unit names come from the caller, in the caller's language.
struct ProgressPace {
    std::string rate = "--";
    std::string left = "--:--";
};
ProgressPace ProgressPaceOf(int64_t position, int64_t total, double seconds, const std::string& unitName,
                            double bytesPerUnit, const std::string& megabytesName = "MB");
// "1:05" or "1:02:03"; a negative time reads as none.
std::string DurationClockText(double seconds);

}  // namespace rk
