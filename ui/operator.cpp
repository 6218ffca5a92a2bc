#include "ui/operator.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <ostream>

#include "base/log.h"
#include "base/path_util.h"
#include "base/safe_open.h"
#include "base/string_ids.h"
#include "base/texts.h"

namespace rk {

std::ostream& operator<<(std::ostream& os, MsgKind v) { return os << static_cast<int>(v); }
std::ostream& operator<<(std::ostream& os, MsgIcon v) { return os << static_cast<int>(v); }
std::ostream& operator<<(std::ostream& os, MsgResult v) { return os << static_cast<int>(v); }

bool IOperator::ChooseOpenFiles(const FileChoice& choice, std::vector<std::string>& paths) {
    std::string path;
    if (!ChooseOpenFile(choice, path)) return false;
    paths.assign(1, path);
    return true;
}

bool IOperator::ChooseOption(const OptionChoice& choice, int& chosen) {
    if (choice.options.empty()) return false;
    chosen = choice.initial >= 0 && choice.initial < static_cast<int>(choice.options.size()) ? choice.initial : 0;
    return true;
}

bool IOperator::ChooseEffectType(EffectTypeChoice& choice) {
    if (!choice.soundChoiceShown) choice.withSound = false;
    return choice.Offers(choice.effectType);
}

bool IOperator::EditKeyframes(const KeyframeEdit& edit) { return edit.effect != nullptr; }

bool IOperator::ChoosePictureSequence(PictureSequenceChoice& choice) {
    const std::string name = choice.firstPicture.substr(choice.firstPicture.rfind('/') + 1);
    const std::string text = FormatText(IDS_IMPORT_SEQUENCE_QUESTION, name.c_str(), choice.pictures,
                                        choice.duration.c_str());
    choice.whole = ShowMessage(Message{kMsgQuestion, kIconQuestion, text, choice.firstPicture}) == kResultYes;
    return true;
}

bool IOperator::ChoosePictureFit(PictureFitChoice& choice) {
    const std::string text = FormatText(IDS_PICTURE_FIT_QUESTION, choice.width, choice.height);
    choice.pad = ShowMessage(Message{kMsgQuestion, kIconQuestion, text, choice.picture}) == kResultYes;
    return true;
}

MsgResult MessageById(IOperator& op, MsgKind kind, MsgIcon icon, int stringId, ...) {
    va_list args;
    va_start(args, stringId);
    std::string text = FormatTextV(stringId, args);
    va_end(args);
    return op.ShowMessage(kind, icon, text);
}

bool ChooseOutputFile(IOperator& op, int titleId, int filterId, const std::string& extension, std::string& path) {
    FileChoice choice;
    choice.title = LoadText(titleId);
    choice.filter = LoadText(filterId);
    choice.defaultExtension = extension;
    if (!op.ChooseSaveFile(choice, path)) return false;
    if (ExtensionOf(path).empty()) path += "." + extension;
    return true;
}

void ErrorById(IOperator& op, int stringId) { op.ShowMessage(kMsgNotice, kIconError, LoadText(stringId)); }

void ErrorWithDetail(IOperator& op, int stringId, const std::string& detail) {
    Message m{kMsgNotice, kIconError, LoadText(stringId), detail};
    if (!detail.empty()) LogMessage(2, "%s (%s)", m.text.c_str(), detail.c_str());
    op.ShowMessage(m);
}

bool RefuseOutputOntoCard(IOperator& op, const std::string& outputPath, const std::string& cardPath) {
    std::string why;
    if (!WritesOntoCard(outputPath, cardPath, &why)) return false;
    ErrorWithDetail(op, IDS_ERROR_WRITING_FILE, why);
    return true;
}

std::string FileCause(const std::string& path, int errnum) {
    return path + ": " + std::strerror(errnum);
}

const char* ProgressUnitName(ProgressUnit unit) {
    switch (unit) {
    case ProgressUnit::kFrames: return "frames";
    case ProgressUnit::kClusters: return "clusters";
    case ProgressUnit::kBytes: return "bytes";
    case ProgressUnit::kItems: return "items";
    case ProgressUnit::kSteps: break;
    }
    return "";
}

std::string DurationClockText(double seconds) {
    const long s = seconds < 0 ? 0 : static_cast<long>(seconds + 0.5);
    char out[32];
    if (s >= 3600)
        std::snprintf(out, sizeof(out), "%ld:%02ld:%02ld", s / 3600, (s / 60) % 60, s % 60);
    else
        std::snprintf(out, sizeof(out), "%ld:%02ld", s / 60, s % 60);
    return out;
}

ProgressPace ProgressPaceOf(int64_t position, int64_t total, double seconds, const std::string& unitName,
                            double bytesPerUnit, const std::string& megabytesName) {
    ProgressPace pace;
    if (position <= 0 || seconds <= 0.05) return pace;
    position = std::min(position, std::max<int64_t>(total, 1));
    const double perSecond = static_cast<double>(position) / seconds;
    char rate[64];
    if (bytesPerUnit > 0)
        std::snprintf(rate, sizeof(rate), "%.1f %s/s", perSecond * bytesPerUnit / 1e6, megabytesName.c_str());
    else
        std::snprintf(rate, sizeof(rate), "%.1f %s/s", perSecond, unitName.empty() ? "steps" : unitName.c_str());
    pace.rate = rate;
    pace.left = DurationClockText(static_cast<double>(std::max<int64_t>(total - position, 0)) / perSecond);
    return pace;
}

}  // namespace rk
