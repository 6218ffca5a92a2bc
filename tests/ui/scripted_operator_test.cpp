// The scripted operator that every operation test drives: answers in order,
// file choices as cancels, Stop at the N-th pump, and the progress record.
#include <gtest/gtest.h>

#include "base/texts.h"
#include "ui/scripted_operator.h"

namespace {

TEST(ScriptedOperator, AnswersQuestionsInOrderThenTheDefault) {
    rk::CScriptedOperator op;
    op.answers = {rk::kResultNo, rk::kResultYes};
    op.defaultAnswer = rk::kResultNo;
    EXPECT_EQ(op.ShowMessage(rk::kMsgQuestion, rk::kIconQuestion, "a?"), rk::kResultNo);
    EXPECT_EQ(op.ShowMessage(rk::kMsgNotice, rk::kIconInformation, "done"), rk::kResultOk);  // takes no answer
    EXPECT_EQ(op.ShowMessage(rk::kMsgQuestion, rk::kIconQuestion, "b?"), rk::kResultYes);
    EXPECT_EQ(op.ShowMessage(rk::kMsgQuestion, rk::kIconQuestion, "c?"), rk::kResultNo);
    EXPECT_EQ(op.messages.size(), 4u);
    EXPECT_TRUE(op.Showed("done"));
    EXPECT_EQ(op.TextsWithIcon(rk::kIconQuestion), (std::vector<std::string>{"a?", "b?", "c?"}));
}

TEST(ScriptedOperator, FileChoicesAndCancels) {
    rk::CScriptedOperator op;
    op.openFiles = {"/a.mov", ""};
    op.saveFiles = {"/b.png"};
    std::string path;
    rk::FileChoice choice{"All files (*.*)|*.*||", "init", ""};
    EXPECT_TRUE(op.ChooseOpenFile(choice, path));
    EXPECT_EQ(path, "/a.mov");
    EXPECT_FALSE(op.ChooseOpenFile(choice, path));  // empty: cancel
    EXPECT_FALSE(op.ChooseOpenFile(choice, path));  // none left: cancel
    EXPECT_TRUE(op.ChooseSaveFile(choice, path));
    EXPECT_EQ(path, "/b.png");
    EXPECT_EQ(op.openChoices.size(), 3u);
    EXPECT_EQ(op.openChoices[0].initialName, "init");
}

TEST(ScriptedOperator, StopFromTheNthPumpAndProgressRecord) {
    rk::CScriptedOperator op;
    op.stopAtPump = 3;
    op.BeginProgress(10);
    EXPECT_TRUE(op.busy);
    EXPECT_FALSE(op.PumpMessages());
    EXPECT_FALSE(op.PumpMessages());
    EXPECT_TRUE(op.PumpMessages());
    EXPECT_TRUE(op.PumpMessages());
    op.SetProgress(4, false);
    op.SetProgress(10, true);
    op.EndProgress();
    EXPECT_FALSE(op.busy);
    EXPECT_EQ(op.progressTotal, 10);
    EXPECT_EQ(op.progress, (std::vector<int64_t>{4, 10}));
    EXPECT_EQ(op.progressErrors, (std::vector<bool>{false, true}));
    op.Refresh(rk::kRefreshLists | rk::kRescanMedia);
    EXPECT_EQ(op.rescans, 1);
    EXPECT_TRUE(op.refreshes & rk::kRefreshLists);
}

TEST(ScriptedOperator, EffectTypeAnswersInOrderThenThePreselection) {
    rk::CScriptedOperator op;
    op.effectTypeAnswers = {{true, 2, true}, {false, 0, false}};
    rk::EffectTypeChoice c;
    ASSERT_TRUE(op.ChooseEffectType(c));
    EXPECT_EQ(c.effectType, 2);
    EXPECT_TRUE(c.withSound);
    rk::EffectTypeChoice d;
    EXPECT_FALSE(op.ChooseEffectType(d));  // cancelled
    rk::EffectTypeChoice e;
    e.effectType = 1;
    e.withSound = true;
    e.soundChoiceShown = false;
    ASSERT_TRUE(op.ChooseEffectType(e));  // none left: the preselection, no sound when hidden
    EXPECT_EQ(e.effectType, 1);
    EXPECT_FALSE(e.withSound);
    ASSERT_EQ(op.effectTypeChoices.size(), 3u);
    EXPECT_TRUE(op.effectTypeChoices[0].Offers(2));
    EXPECT_FALSE(op.effectTypeChoices[0].Offers(3));
    EXPECT_FALSE(op.effectTypeChoices[0].Offers(-1));
    // A keyframe edit without an effect is never accepted.
    EXPECT_FALSE(op.EditKeyframes({nullptr, true}));
    EXPECT_EQ(op.keyframeEditCutModes, std::vector<bool>{true});
    // The seam's own defaults.
    struct Plain : rk::CScriptedOperator {
        bool Type(rk::EffectTypeChoice& ch) { return IOperator::ChooseEffectType(ch); }
    } plain;
    rk::EffectTypeChoice f;
    f.effectType = 4;
    EXPECT_FALSE(plain.Type(f)) << "a preselection that is not offered is no answer";
}

TEST(OperatorSeam, MessageByIdAndErrorById) {
    rk::CScriptedOperator op;
    rk::MessageById(op, rk::kMsgNotice, rk::kIconError, rk::IDS_NOT_ENOUGH_SPACE, "1.2 GB");
    rk::ErrorById(op, rk::IDS_MEDIA_ACCESS_ERROR);
    rk::MessageById(op, rk::kMsgNotice, rk::kIconWarning, rk::IDS_OPERATION_ABORTED);
    ASSERT_EQ(op.messages.size(), 3u);
    EXPECT_EQ(op.messages[0].text, "Not enough space on media!\n1.2 GB more needed.");
    EXPECT_EQ(op.messages[1].text, "Media access error!");
    EXPECT_EQ(op.messages[1].kind, rk::kMsgNotice);
    EXPECT_EQ(op.messages[1].icon, rk::kIconError);
    EXPECT_EQ(op.messages[2].text, "Operation aborted.");
    EXPECT_EQ(op.messages[2].icon, rk::kIconWarning);
}

}  // namespace
