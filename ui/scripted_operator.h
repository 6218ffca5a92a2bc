#pragma once
// An operator that answers from a script: for tests and for unattended runs.
// Every message and progress call is recorded so that tests can check what
// the person would have seen.
#include <cstdint>
#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "ui/operator.h"

namespace rk {

class CScriptedOperator : public IOperator {
public:
    using Message = rk::Message;

    // Answers for questions in order; when none is left, `defaultAnswer` is used.
    std::deque<MsgResult> answers;
    MsgResult defaultAnswer = kResultYes;
    // Paths handed to the file choosers in order; an empty string or an
    // exhausted queue is a cancel.
    std::deque<std::string> openFiles;
    std::deque<std::string> saveFiles;
    // Stop is reported from the N-th PumpMessages call on (1-based; 0 never).
    int64_t stopAtPump = 0;
    // Stop asked for while a tool starts up (StopRequestedWhileWaiting);
    // such waits are not counted as pumps, so stopAtPump stays exact.
    bool stopWhileWaiting = false;
    int64_t waits = 0;  // StopRequestedWhileWaiting calls
    // Answers for ChooseOption in order (an index; -1 cancels); when none is
    // left, the choice's initial option is taken.
    std::deque<int> optionAnswers;
    // Several files per ChooseOpenFiles call; an empty or missing list cancels.
    std::deque<std::vector<std::string>> openFileLists;

    // Answers for ChooseEffectType in order; when none is left the
    // preselection is taken.
    struct EffectTypeAnswer {
        bool accept = true;
        int effectType = 0;
        bool withSound = false;
    };
    std::deque<EffectTypeAnswer> effectTypeAnswers;
    // Each keyframe edit runs the next of these on the effect: it edits the
    // keys as the person would and answers accepted (true) or cancelled.
    // With none left the keys are accepted as they are.
    std::deque<std::function<bool(IEffectKeys& effect, bool cutMode)>> keyframeEdits;
    // Answers for ChoosePictureSequence and ChoosePictureFit in order (true:
    // the whole sequence, the picture on bars); with none left the
    // preselection is taken. Every such question is kept as asked.
    std::deque<bool> sequenceAnswers, fitAnswers;
    std::vector<PictureSequenceChoice> sequenceChoices;
    std::vector<PictureFitChoice> fitChoices;

    std::vector<Message> messages;
    std::vector<EffectTypeChoice> effectTypeChoices;  // every effect type question as asked
    std::vector<bool> keyframeEditCutModes;           // the cut mode of every keyframe edit
    std::vector<FileChoice> openChoices, saveChoices;
    std::vector<OptionChoice> optionChoices;
    ProgressUnit progressUnit = ProgressUnit::kSteps;
    std::vector<int64_t> progress;  // every SetProgress position
    std::vector<bool> progressErrors;
    int64_t progressTotal = -1;
    int64_t pumps = 0;
    int begins = 0, ends = 0;
    bool busy = false;
    unsigned refreshes = 0;  // every RefreshWhat bit asked for
    int rescans = 0;

    using IOperator::BeginProgress;
    using IOperator::ShowMessage;
    MsgResult ShowMessage(const Message& message) override;
    bool ChooseOpenFile(const FileChoice& choice, std::string& path) override;
    bool ChooseSaveFile(const FileChoice& choice, std::string& path) override;
    bool ChooseOpenFiles(const FileChoice& choice, std::vector<std::string>& paths) override;
    bool ChooseOption(const OptionChoice& choice, int& chosen) override;
    bool ChooseEffectType(EffectTypeChoice& choice) override;
    bool EditKeyframes(const KeyframeEdit& edit) override;
    bool ChoosePictureSequence(PictureSequenceChoice& choice) override;
    bool ChoosePictureFit(PictureFitChoice& choice) override;
    void BeginProgress(const ProgressScale& scale) override;
    void SetProgress(int64_t position, bool error) override;
    bool PumpMessages() override;
    bool StopRequestedWhileWaiting() override;
    void EndProgress() override;
    void Refresh(unsigned what) override;

    // The texts shown with the given icon, in order.
    std::vector<std::string> TextsWithIcon(MsgIcon icon) const;
    bool Showed(const std::string& text) const;
};

}  // namespace rk
