#include "ui/scripted_operator.h"

#include <algorithm>

#include "ui/effect_keys.h"

namespace rk {

MsgResult CScriptedOperator::ShowMessage(const Message& message) {
    messages.push_back(message);
    if (message.kind != kMsgQuestion) return kResultOk;
    if (answers.empty()) return defaultAnswer;
    MsgResult a = answers.front();
    answers.pop_front();
    return a;
}

static bool Take(std::deque<std::string>& queue, std::string& path) {
    if (queue.empty()) return false;
    path = queue.front();
    queue.pop_front();
    return !path.empty();
}

bool CScriptedOperator::ChooseOpenFile(const FileChoice& choice, std::string& path) {
    openChoices.push_back(choice);
    return Take(openFiles, path);
}

bool CScriptedOperator::ChooseSaveFile(const FileChoice& choice, std::string& path) {
    saveChoices.push_back(choice);
    return Take(saveFiles, path);
}

bool CScriptedOperator::ChooseOpenFiles(const FileChoice& choice, std::vector<std::string>& paths) {
    openChoices.push_back(choice);
    if (openFileLists.empty()) {
        // Without lists, the single-file queue answers with one file.
        std::string path;
        if (!Take(openFiles, path)) return false;
        paths.assign(1, path);
        return true;
    }
    paths = openFileLists.front();
    openFileLists.pop_front();
    return !paths.empty();
}

bool CScriptedOperator::ChooseOption(const OptionChoice& choice, int& chosen) {
    optionChoices.push_back(choice);
    if (optionAnswers.empty()) return IOperator::ChooseOption(choice, chosen);
    int a = optionAnswers.front();
    optionAnswers.pop_front();
    if (a < 0 || a >= static_cast<int>(choice.options.size())) return false;
    chosen = a;
    return true;
}

bool CScriptedOperator::ChooseEffectType(EffectTypeChoice& choice) {
    effectTypeChoices.push_back(choice);
    if (effectTypeAnswers.empty()) return IOperator::ChooseEffectType(choice);
    const EffectTypeAnswer a = effectTypeAnswers.front();
    effectTypeAnswers.pop_front();
    if (!a.accept) return false;
    // A script may answer what no dialog offers (the animated wipes): it is
    // passed on as it stands, for the operation to handle.
    choice.effectType = a.effectType;
    choice.withSound = a.withSound;
    return true;
}

bool CScriptedOperator::ChoosePictureSequence(PictureSequenceChoice& choice) {
    sequenceChoices.push_back(choice);
    if (!sequenceAnswers.empty()) {
        choice.whole = sequenceAnswers.front();
        sequenceAnswers.pop_front();
    }
    return true;
}

bool CScriptedOperator::ChoosePictureFit(PictureFitChoice& choice) {
    fitChoices.push_back(choice);
    if (!fitAnswers.empty()) {
        choice.pad = fitAnswers.front();
        fitAnswers.pop_front();
    }
    return true;
}

bool CScriptedOperator::EditKeyframes(const KeyframeEdit& edit) {
    keyframeEditCutModes.push_back(edit.cutMode);
    if (!edit.effect) return false;
    if (keyframeEdits.empty()) return true;
    auto edit1 = std::move(keyframeEdits.front());
    keyframeEdits.pop_front();
    return edit1 ? edit1(*edit.effect, edit.cutMode) : true;
}

void CScriptedOperator::BeginProgress(const ProgressScale& scale) {
    ++begins;
    busy = true;
    progressTotal = scale.total;
    progressUnit = scale.unit;
}

void CScriptedOperator::SetProgress(int64_t position, bool error) {
    progress.push_back(position);
    progressErrors.push_back(error);
}

bool CScriptedOperator::StopRequestedWhileWaiting() {
    ++waits;
    return stopWhileWaiting || (stopAtPump > 0 && pumps >= stopAtPump);
}

bool CScriptedOperator::PumpMessages() {
    ++pumps;
    return stopAtPump > 0 && pumps >= stopAtPump;
}

void CScriptedOperator::EndProgress() {
    ++ends;
    busy = false;
}

void CScriptedOperator::Refresh(unsigned what) {
    refreshes |= what;
    if (what & kRescanMedia) ++rescans;
}

std::vector<std::string> CScriptedOperator::TextsWithIcon(MsgIcon icon) const {
    std::vector<std::string> out;
    for (const auto& m : messages)
        if (m.icon == icon) out.push_back(m.text);
    return out;
}

bool CScriptedOperator::Showed(const std::string& text) const {
    return std::any_of(messages.begin(), messages.end(), [&](const Message& m) { return m.text == text; });
}

}  // namespace rk
