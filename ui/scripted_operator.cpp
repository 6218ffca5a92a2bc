#include "ui/scripted_operator.h"

#include <algorithm>

namespace rk {

int CScriptedOperator::ShowMessage(int kind, int icon, const std::string& text) {
    messages.push_back({kind, icon, text});
    if (kind != kMsgQuestion) return kResultOk;
    if (answers.empty()) return defaultAnswer;
    int a = answers.front();
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

void CScriptedOperator::BeginProgress(int64_t total) {
    ++begins;
    busy = true;
    progressTotal = total;
}

void CScriptedOperator::SetProgress(int64_t position, bool error) {
    progress.push_back(position);
    progressErrors.push_back(error);
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

std::vector<std::string> CScriptedOperator::TextsWithIcon(int icon) const {
    std::vector<std::string> out;
    for (const auto& m : messages)
        if (m.icon == icon) out.push_back(m.text);
    return out;
}

bool CScriptedOperator::Showed(const std::string& text) const {
    return std::any_of(messages.begin(), messages.end(), [&](const Message& m) { return m.text == text; });
}

}  // namespace rk
