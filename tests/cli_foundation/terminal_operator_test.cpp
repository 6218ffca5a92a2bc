// The terminal operator: message prefixes, questions from a terminal, from
// --yes and without a terminal, file choices, the progress bar and lines,
// and Ctrl-C as a stop request.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <pthread.h>

#include <atomic>
#include <chrono>
#include <regex>
#include <thread>
#include <string>

#include "base/string_ids.h"
#include "cli/terminal_operator.h"
#include "effects/stinger.h"

using rk::cli::CTerminalOperator;

namespace {

// Pipes standing in for the terminal: what the operator reads and writes.
class TerminalTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(pipe(in_), 0);
        ASSERT_EQ(pipe(err_), 0);
        fcntl(err_[0], F_SETFL, O_NONBLOCK);
        CTerminalOperator::ClearStopRequest();
    }
    void TearDown() override {
        for (int fd : {in_[0], in_[1], err_[0], err_[1]})
            if (fd >= 0) close(fd);
        CTerminalOperator::ClearStopRequest();
    }
    CTerminalOperator::Streams Streams(bool inTerminal, bool errTerminal) {
        CTerminalOperator::Streams s;
        s.in = in_[0];
        s.err = err_[1];
        s.inIsTerminal = inTerminal;
        s.errIsTerminal = errTerminal;
        return s;
    }
    void Type(const std::string& s) { ASSERT_EQ(write(in_[1], s.data(), s.size()), static_cast<ssize_t>(s.size())); }
    void EndInput() {
        close(in_[1]);
        in_[1] = -1;
    }
    std::string Shown() {
        std::string s;
        char buf[4096];
        ssize_t n;
        while ((n = read(err_[0], buf, sizeof(buf))) > 0) s.append(buf, static_cast<size_t>(n));
        return s;
    }
    int in_[2] = {-1, -1}, err_[2] = {-1, -1};
    bool yes_ = false;
};

TEST_F(TerminalTest, TheCauseGoesWithItsOwnMessageOnly) {
    CTerminalOperator op(&yes_, Streams(false, false));
    op.ShowMessage(rk::Message{rk::kMsgNotice, rk::kIconError,
                               "Media write error!\nPlease ensure that media is not write-protected.",
                               "card.img: writing: No space left on device"});
    op.ShowMessage(rk::kMsgNotice, rk::kIconError, "Media access error!");
    op.ShowMessage(rk::Message{rk::kMsgNotice, rk::kIconError, "Can't open video file!", "a.mp4: it holds no picture"});
    EXPECT_EQ(Shown(),
              "error: Media write error!\n"
              "       Please ensure that media is not write-protected.\n"
              "       (card.img: writing: No space left on device)\n"
              "error: Media access error!\n"
              "error: Can't open video file! (a.mp4: it holds no picture)\n");
}

TEST_F(TerminalTest, NoticesGoToStandardErrorWithTheirKind) {
    CTerminalOperator op(&yes_, Streams(false, false));
    EXPECT_EQ(op.ShowMessage(rk::kMsgNotice, rk::kIconError, "Media access error!"), rk::kResultOk);
    EXPECT_EQ(op.ShowMessage(rk::kMsgNotice, rk::kIconWarning, "Operation aborted."), rk::kResultOk);
    EXPECT_EQ(op.ShowMessage(rk::kMsgNotice, rk::kIconInformation, "Format complete.\n\nDO NOT REFORMAT"), rk::kResultOk);
    EXPECT_EQ(Shown(),
              "error: Media access error!\n"
              "warning: Operation aborted.\n"
              "info: Format complete.\n\n      DO NOT REFORMAT\n");
}

TEST_F(TerminalTest, QuestionsReadTheTerminal) {
    CTerminalOperator op(&yes_, Streams(true, true));
    Type("y\n  YES \nn\n\nmaybe\n");
    EXPECT_EQ(op.ShowMessage(rk::kMsgQuestion, rk::kIconQuestion, "Delete logo?"), rk::kResultYes);
    EXPECT_EQ(op.ShowMessage(rk::kMsgQuestion, rk::kIconQuestion, "Delete logo?"), rk::kResultYes);
    EXPECT_EQ(op.ShowMessage(rk::kMsgQuestion, rk::kIconQuestion, "Delete logo?"), rk::kResultNo);
    EXPECT_EQ(op.ShowMessage(rk::kMsgQuestion, rk::kIconQuestion, "Delete logo?"), rk::kResultNo);  // empty: No
    EXPECT_EQ(op.ShowMessage(rk::kMsgQuestion, rk::kIconQuestion, "Delete logo?"), rk::kResultNo);
    EndInput();
    EXPECT_EQ(op.ShowMessage(rk::kMsgQuestion, rk::kIconQuestion, "Delete logo?"), rk::kResultNo);  // end of input
    std::string shown = Shown();
    EXPECT_NE(shown.find("question: Delete logo? [y/N] "), std::string::npos);
}

TEST_F(TerminalTest, YesAnswersEverythingAndIsReadAtEachQuestion) {
    CTerminalOperator op(&yes_, Streams(false, false));
    EXPECT_EQ(op.ShowMessage(rk::kMsgQuestion, rk::kIconQuestion, "Format media?"), rk::kResultNo);
    yes_ = true;  // as a --yes parsed after the operator was made
    EXPECT_EQ(op.ShowMessage(rk::kMsgQuestion, rk::kIconQuestion, "Format media?"), rk::kResultYes);
    std::string shown = Shown();
    EXPECT_NE(shown.find("question: Format media? [y/N] n (standard input is not a terminal"), std::string::npos);
    EXPECT_NE(shown.find("question: Format media? [y/N] y (--yes)"), std::string::npos);
}

TEST_F(TerminalTest, WithoutTerminalQuestionsAreNoAndInputIsNotRead) {
    CTerminalOperator op(&yes_, Streams(false, false));
    Type("y\n");
    EXPECT_EQ(op.ShowMessage(rk::kMsgQuestion, rk::kIconQuestion, "Write logo to media?"), rk::kResultNo);
    char c;
    EXPECT_EQ(read(in_[0], &c, 1), 1);  // still there
}

TEST_F(TerminalTest, StopRequestAnswersNo) {
    CTerminalOperator op(&yes_, Streams(true, false));
    Type("y\n");
    CTerminalOperator::RequestStop();
    EXPECT_EQ(op.ShowMessage(rk::kMsgQuestion, rk::kIconQuestion, "Delete video?"), rk::kResultNo);
    yes_ = true;  // even --yes does not override a stop
    EXPECT_EQ(op.ShowMessage(rk::kMsgQuestion, rk::kIconQuestion,
                             "Operation aborted.\nDo you want to leave incomplete video file on media?"),
              rk::kResultNo);
    EXPECT_TRUE(op.PumpMessages());
}

TEST_F(TerminalTest, CtrlCSetsTheAbortFlagAndNeverKills) {
    CTerminalOperator::InstallSignalHandlers();
    CTerminalOperator op(&yes_, Streams(false, false));
    op.BeginProgress(10);
    EXPECT_FALSE(op.PumpMessages());
    raise(SIGINT);
    EXPECT_TRUE(op.PumpMessages());
    raise(SIGINT);  // a second Ctrl-C: still alive, still stopping
    raise(SIGTERM);
    EXPECT_TRUE(op.PumpMessages());
    // BeginProgress of a following operation does not forget the request.
    op.EndProgress();
    op.BeginProgress(5);
    EXPECT_TRUE(op.PumpMessages());
    op.EndProgress();
    signal(SIGINT, SIG_DFL);
    signal(SIGTERM, SIG_DFL);
    signal(SIGHUP, SIG_DFL);
}

TEST_F(TerminalTest, AfterStopTheProgressKeepsItsPlace) {
    CTerminalOperator op(&yes_, Streams(false, false));
    op.BeginProgress(100);
    op.SetProgress(30, false);
    CTerminalOperator::RequestStop();
    op.SetProgress(100, true);  // an operation's closing report after Stop
    op.EndProgress();
    std::string shown = Shown();
    EXPECT_NE(shown.find("progress: 30% (30 of 100)"), std::string::npos) << shown;
    EXPECT_EQ(shown.find("100%"), std::string::npos) << shown;
}

TEST_F(TerminalTest, CtrlCWhileAQuestionWaitsAnswersNo) {
    CTerminalOperator::InstallSignalHandlers();
    CTerminalOperator op(&yes_, Streams(true, false));
    std::atomic<bool> answered{false};
    pthread_t asking = pthread_self();
    // Nobody types; Ctrl-C arrives (again and again until the question gives up).
    std::thread presser([&] {
        while (!answered) {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
            if (!answered) pthread_kill(asking, SIGINT);
        }
    });
    rk::MsgResult r = op.ShowMessage(rk::kMsgQuestion, rk::kIconQuestion, "Format media?");
    answered = true;
    presser.join();
    EXPECT_EQ(r, rk::kResultNo);
    EXPECT_TRUE(op.PumpMessages());
    signal(SIGINT, SIG_DFL);
}

TEST_F(TerminalTest, ClosedStandardErrorDoesNotKill) {
    CTerminalOperator::InstallSignalHandlers();
    close(err_[0]);
    err_[0] = -1;
    CTerminalOperator op(&yes_, Streams(false, false));
    op.ShowMessage(rk::kMsgNotice, rk::kIconError, "Media write error!");  // EPIPE, not SIGPIPE
    op.BeginProgress(3);
    op.SetProgress(3, false);
    op.EndProgress();
    SUCCEED();
}

TEST_F(TerminalTest, FileChoicesComeFromTheCommandLineFirst) {
    CTerminalOperator op(&yes_, Streams(false, false));
    rk::FileChoice save{"PNG files (*.png)|*.png||", "", "png"};
    std::string path;
    op.QueueOpenFile("/in/a b.mov");
    op.QueueSaveFile("/out/still");
    op.QueueSaveFile("/out/still.PNG");
    op.QueueSaveFile("/out.d/x");
    op.QueueSaveFile("/out/.hidden");
    EXPECT_TRUE(op.ChooseOpenFile({"All files (*.*)|*.*||", "", ""}, path));
    EXPECT_EQ(path, "/in/a b.mov");
    EXPECT_FALSE(op.ChooseOpenFile({"All files (*.*)|*.*||", "", ""}, path));  // none left, no terminal: cancel
    EXPECT_TRUE(op.ChooseSaveFile(save, path));
    EXPECT_EQ(path, "/out/still.png");
    EXPECT_TRUE(op.ChooseSaveFile(save, path));
    EXPECT_EQ(path, "/out/still.PNG");
    EXPECT_TRUE(op.ChooseSaveFile(save, path));
    EXPECT_EQ(path, "/out.d/x.png");
    EXPECT_TRUE(op.ChooseSaveFile(save, path));
    EXPECT_EQ(path, "/out/.hidden.png");
}

TEST_F(TerminalTest, FileChoiceAsksTheTerminalWhenNoneWasGiven) {
    CTerminalOperator op(&yes_, Streams(true, false));
    std::string path;
    Type("/tmp/x.kavq1\n\n");
    EXPECT_TRUE(op.ChooseSaveFile({"KAVQ1 video (*.kavq1)|*.kavq1||", "", "kavq1"}, path));
    EXPECT_EQ(path, "/tmp/x.kavq1");
    EXPECT_TRUE(op.ChooseOpenFile({"All files (*.*)|*.*||", "/last/video.mp4", ""}, path));  // empty takes the offer
    EXPECT_EQ(path, "/last/video.mp4");
    EndInput();
    EXPECT_FALSE(op.ChooseOpenFile({"All files (*.*)|*.*||", "", ""}, path));
    EXPECT_NE(Shown().find("File to write (KAVQ1 video (*.kavq1)): "), std::string::npos);
}

TEST_F(TerminalTest, FileQuestionIsTitledByWhatTheFileIsFor) {
    CTerminalOperator op(&yes_, Streams(true, false));
    std::string path;
    Type("/tmp/x.kavq1\n");
    EXPECT_TRUE(op.ChooseSaveFile({"KAVQ1 video (*.kavq1)|*.kavq1||", "", "kavq1", "Read video to file"}, path));
    EXPECT_NE(Shown().find("Read video to file (KAVQ1 video (*.kavq1)): "), std::string::npos) << Shown();
}

TEST_F(TerminalTest, ProgressLineShowsPercentageRateAndTimeLeft) {
    char line[160];
    CTerminalOperator::FormatProgressLine(line, sizeof(line), 0, 200, 0.0, "frames", 0, false);
    EXPECT_STREQ(line, "[..............................]   0%  --  --:-- left");
    CTerminalOperator::FormatProgressLine(line, sizeof(line), 50, 200, 10.0, "frames", 0, false);
    EXPECT_STREQ(line, "[#######.......................]  25%  5.0 frames/s  0:30 left");
    CTerminalOperator::FormatProgressLine(line, sizeof(line), 100, 200, 2.0, "", 12288.0, true);
    EXPECT_STREQ(line, "[###############...............]  50%  0.6 MB/s  0:02 left  error");
    CTerminalOperator::FormatProgressLine(line, sizeof(line), 1, 100, 4040.0, "", 0, false);
    EXPECT_NE(std::string(line).find("111:06:00 left"), std::string::npos) << line;
    // Out-of-range positions and totals are clamped, and a small buffer is never overrun.
    CTerminalOperator::FormatProgressLine(line, sizeof(line), 300, 200, 1.0, "", 0, false);
    EXPECT_NE(std::string(line).find("100%"), std::string::npos);
    CTerminalOperator::FormatProgressLine(line, sizeof(line), -5, 0, 1.0, "", 0, false);
    EXPECT_NE(std::string(line).find("  0%"), std::string::npos);
    char small[8];
    int n = CTerminalOperator::FormatProgressLine(small, sizeof(small), 5, 10, 1.0, "", 0, false);
    EXPECT_EQ(n, 7);
    EXPECT_EQ(std::string(small), "[######");
}

TEST_F(TerminalTest, TerminalBarIsRedrawnInPlaceAndClosedAtTheEnd) {
    CTerminalOperator op(&yes_, Streams(false, true));
    op.BeginProgress(4);
    op.SetProgress(4, false);
    op.ShowMessage(rk::kMsgNotice, rk::kIconInformation, "Write completed.");
    op.EndProgress();
    std::string shown = Shown();
    EXPECT_EQ(shown.rfind("\r[", 0), 0u);
    EXPECT_NE(shown.find("100%"), std::string::npos);
    EXPECT_NE(shown.find("\033[K\ninfo: Write completed.\n"), std::string::npos) << shown;
}

TEST_F(TerminalTest, WithoutTerminalProgressIsAFewQuietLines) {
    CTerminalOperator op(&yes_, Streams(false, false));
    op.BeginProgress(1000);
    for (int i = 1; i <= 1000; ++i) op.SetProgress(i, false);
    op.EndProgress();
    std::string shown = Shown();
    size_t lines = 0;
    for (char c : shown) lines += c == '\n';
    EXPECT_EQ(lines, 11u);  // 0%, 10% ... 100%
    EXPECT_EQ(shown.rfind("progress: 0% (0 of 1000)\n", 0), 0u);
    EXPECT_NE(shown.find("progress: 100% (1000 of 1000)\n"), std::string::npos);
    EXPECT_EQ(shown.find('\r'), std::string::npos);

    // A total of 0 shows nothing.
    op.BeginProgress(0);
    op.SetProgress(5, false);
    op.EndProgress();
    EXPECT_EQ(Shown(), "");
}

// The effect questions: --type and --sound answer the type question,
// --cut-at the keyframe edit of a simple cut; without them the preselection
// (or a terminal) decides.
TEST_F(TerminalTest, EffectQuestionsComeFromTheOptions) {
    CTerminalOperator op(&yes_, Streams(false, false));
    rk::EffectTypeChoice c;
    op.QueueEffectType(2, true);
    ASSERT_TRUE(op.ChooseEffectType(c));
    EXPECT_EQ(c.effectType, 2);
    EXPECT_TRUE(c.withSound);
    // With the sound choice hidden the answer is no sound.
    rk::EffectTypeChoice hidden;
    hidden.soundChoiceShown = false;
    op.QueueEffectType(1, true);
    ASSERT_TRUE(op.ChooseEffectType(hidden));
    EXPECT_EQ(hidden.effectType, 1);
    EXPECT_FALSE(hidden.withSound);
    // An answer that is not offered is a cancel; none queued takes the preselection.
    rk::EffectTypeChoice animated;
    op.QueueEffectType(3, false);
    EXPECT_FALSE(op.ChooseEffectType(animated));
    rk::EffectTypeChoice preset;
    preset.effectType = 1;
    ASSERT_TRUE(op.ChooseEffectType(preset));
    EXPECT_EQ(preset.effectType, 1);
    EXPECT_FALSE(preset.withSound);

    rk::CStinger s("/nonexistent/p_01.png");
    ASSERT_TRUE(s.ReadKeyframesFor(6));
    s.SetFadeKey(4, 10);
    rk::KeyframeEdit edit{&s, true};
    // Nothing queued: the keys as they are.
    EXPECT_TRUE(op.EditKeyframes(edit));
    EXPECT_EQ(s.PositionKeys(), (rk::CStinger::KeyMap{{0, 0}, {5, 2046}}));
    // "Set cut position" at frame 2 (--cut-at 3); the fade key stays.
    op.QueueCutPosition(2);
    EXPECT_TRUE(op.EditKeyframes(edit));
    EXPECT_EQ(s.PositionKeys(), (rk::CStinger::KeyMap{{1, 0}, {2, 2046}}));
    EXPECT_EQ(s.FadeKey(4), 10);
    // Past the end: the last frame, with a warning.
    op.QueueCutPosition(40);
    EXPECT_TRUE(op.EditKeyframes(edit));
    EXPECT_EQ(s.PositionKeys(), (rk::CStinger::KeyMap{{4, 0}, {5, 2046}}));
    EXPECT_NE(Shown().find("warning: the effect has 6 frames: it cuts at frame 6"), std::string::npos);
    // Not in cut mode a queued cut changes nothing.
    op.QueueCutPosition(1);
    EXPECT_TRUE(op.EditKeyframes({&s, false}));
    EXPECT_EQ(s.PositionKeys(), (rk::CStinger::KeyMap{{4, 0}, {5, 2046}}));
    // Ctrl-C cancels both questions.
    CTerminalOperator::RequestStop();
    EXPECT_FALSE(op.EditKeyframes(edit));
    EXPECT_FALSE(op.ChooseEffectType(c));
}

TEST_F(TerminalTest, EffectTypeAsksTheTerminal) {
    CTerminalOperator op(&yes_, Streams(true, false));
    Type("wipe\n2\n");
    rk::EffectTypeChoice c;
    ASSERT_TRUE(op.ChooseEffectType(c));
    EXPECT_EQ(c.effectType, 1);
    EXPECT_TRUE(c.withSound);
    const std::string shown = Shown();
    EXPECT_NE(shown.find("1) Stinger transition - simple cut"), std::string::npos) << shown;
    EXPECT_NE(shown.find("3) Stinger transition - mix"), std::string::npos);
    EXPECT_EQ(shown.find("animated"), std::string::npos) << "the animated wipes are never offered";
}

}  // namespace
