// The tool runner: argument templates, starting only from the program's
// folder, capture files, waiting, exit codes, and what the tool inherits.
#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>

#include <gtest/gtest.h>

#include "convert/app_launch.h"
#include "convert/test_util.h"
#include "convert/tool_folder.h"

namespace rk {
namespace {

using test::TempDir;

TEST(BuildArguments, QuotesGroupWordsBeforeValuesAreFilledIn) {
    std::vector<std::string> words;
    const std::string hostile = "/tmp/my \"clip\" $(rm -rf ~) `x` \\back\\ 'q' ünï %s.mp4";
    ASSERT_TRUE(BuildArguments("-v quiet -i \"%s\" -vf \"fps=%s,scale=%d:%d:out_range=%s%s\" -y %s",
                               {hostile, "30000/1001", "1920", "1080", "pc", "", "/p/video.yuv"}, words));
    std::vector<std::string> expected = {"-v", "quiet", "-i", hostile, "-vf", "fps=30000/1001,scale=1920:1080:out_range=pc",
                                         "-y", "/p/video.yuv"};
    EXPECT_EQ(words, expected);
}

TEST(BuildArguments, QuotedTextKeepsSpacesAndEscapedQuotes) {
    std::vector<std::string> words;
    ASSERT_TRUE(BuildArguments("-fill \"#0008\" -draw \"image over 1,2 0,0 'loop.png'\" -annotate +0+420 \"%s\" a\"b c\"d",
                               {"say \"hi\""}, words));
    std::vector<std::string> expected = {"-fill", "#0008", "-draw", "image over 1,2 0,0 'loop.png'", "-annotate",
                                         "+0+420", "say \"hi\"", "ab cd"};
    EXPECT_EQ(words, expected);

    ASSERT_TRUE(BuildArguments("\"a \\\"quoted\\\" word\" 100%% \"\"", {}, words));
    expected = {"a \"quoted\" word", "100%", ""};
    EXPECT_EQ(words, expected);
}

TEST(BuildArguments, RefusesMismatchedValuesAndOpenQuotes) {
    std::vector<std::string> words;
    EXPECT_FALSE(BuildArguments("-i %s -o %s", {"a"}, words));
    EXPECT_FALSE(BuildArguments("-i %s", {"a", "b"}, words));
    EXPECT_FALSE(BuildArguments("-i \"%s", {"a"}, words));
    EXPECT_TRUE(BuildArguments("", {}, words));
    EXPECT_TRUE(words.empty());
}

// Tools are scripts in a private program folder.
class RunnerTest : public ::testing::Test {
protected:
    void SetUp() override {
        SetProgramFolder(dir.Path());
        test::WriteScript(dir.File("echoargs"), "for a in \"$@\"; do printf '%s\\n' \"$a\"; done");
        test::WriteScript(dir.File("exitwith"), "exit \"$1\"");
        test::WriteScript(dir.File("sleeper"), "exec sleep \"$1\"");
        test::WriteScript(dir.File("where"), "pwd; ls /proc/$$/fd; cat; echo end");
        test::WriteScript(dir.File("shouts"), "echo out; echo err >&2");
        test::WriteScript(dir.File("tunables"), "printf '%s' \"$GLIBC_TUNABLES\"");
    }
    void TearDown() override { SetProgramFolder(""); }

    std::string Captured(CAppLaunch& tool) {
        std::string text;
        test::ReadFile(tool.capturePath, text);
        return text;
    }

    TempDir dir;
};

TEST_F(RunnerTest, HostileArgumentsReachTheToolUntouched) {
    const std::string hostile = "a b \"c\" $(touch /tmp/rk-pwned) $HOME `id` \\n \\\" ünïcødé ; | & > x";
    CAppLaunch tool("echoargs", "first \"%s\" last", {hostile}, true);
    ASSERT_TRUE(tool.started);
    ASSERT_TRUE(tool.Wait(-1));
    EXPECT_EQ(tool.exitCode, 0);
    EXPECT_EQ(Captured(tool), "first\n" + hostile + "\nlast\n");
    EXPECT_FALSE(test::FileExists("/tmp/rk-pwned"));
}

TEST_F(RunnerTest, ExitCodesAndSignals) {
    CAppLaunch ok("exitwith", std::vector<std::string>{"0"}, false);
    CAppLaunch three("exitwith", std::vector<std::string>{"3"}, false);
    ASSERT_TRUE(ok.Wait(-1));
    ASSERT_TRUE(three.Wait(-1));
    EXPECT_EQ(ok.exitCode, 0);
    EXPECT_EQ(three.exitCode, 3);
    EXPECT_FALSE(three.started);

    CAppLaunch sleeper("sleeper", std::vector<std::string>{"30"}, false);
    ASSERT_TRUE(sleeper.started);
    EXPECT_TRUE(sleeper.Terminate(2000));
    EXPECT_EQ(sleeper.exitCode, 128 + SIGTERM);
    EXPECT_FALSE(sleeper.started);
}

TEST_F(RunnerTest, WaitTimesOutWithoutChangingAnything) {
    CAppLaunch sleeper("sleeper", std::vector<std::string>{"30"}, false);
    ASSERT_TRUE(sleeper.started);
    const pid_t pid = sleeper.Pid();
    EXPECT_FALSE(sleeper.Wait(0));
    EXPECT_FALSE(sleeper.Wait(20));
    EXPECT_TRUE(sleeper.started);
    EXPECT_EQ(sleeper.Pid(), pid);
    EXPECT_EQ(sleeper.exitCode, 0);
    sleeper.Terminate();
}

TEST_F(RunnerTest, ToolsComeOnlyFromTheProgramFolder) {
    // "sh" and "ls" are on PATH, but not in the program folder.
    CAppLaunch sh("sh", std::vector<std::string>{"-c", "exit 0"}, false);
    EXPECT_FALSE(sh.started);
    EXPECT_FALSE(sh.Wait(-1));  // at once: it never started
    CAppLaunch path("/bin/true", std::vector<std::string>{}, false);
    EXPECT_FALSE(path.started);
    CAppLaunch up("../bin/true", std::vector<std::string>{}, false);
    EXPECT_FALSE(up.started);
    CAppLaunch malformed("echoargs", "\"%s", {"x"}, false);
    EXPECT_FALSE(malformed.started);

    // A file that is there but cannot run.
    test::WriteFile(dir.File("notexec"), "#!/bin/sh\nexit 0\n");
    CAppLaunch notexec("notexec", std::vector<std::string>{}, false);
    EXPECT_FALSE(notexec.started);
}

TEST_F(RunnerTest, ChildSeesProgramFolderNullInputAndNoOtherDescriptors) {
    // A descriptor without close-on-exec must not reach the tool.
    int leaky = open("/dev/null", O_RDONLY);
    ASSERT_GE(leaky, 3);
    CAppLaunch tool("where", std::vector<std::string>{}, true);
    ASSERT_TRUE(tool.started);
    ASSERT_TRUE(tool.Wait(-1));
    close(leaky);
    std::string text = Captured(tool);
    std::string folder = dir.Path();
    EXPECT_EQ(text.substr(0, folder.size() + 1), folder + "\n");
    // The shell's own descriptors: 0, 1, 2 and the one it lists with (ls's
    // own /proc listing may add one of its own, but never ours).
    std::string fds = text.substr(folder.size() + 1);
    EXPECT_EQ(fds.find("\n" + std::to_string(leaky) + "\n"), std::string::npos) << fds;
    EXPECT_NE(fds.find("end\n"), std::string::npos);  // stdin gave EOF at once
}

// The tools' large buffers in large pages, kept once freed: asked for beside
// whatever tunables the person set, never instead of their own choice of one.
TEST_F(RunnerTest, ToolsAreAskedForLargePagesBesideTheirOwnTunables) {
    const char* before = std::getenv("GLIBC_TUNABLES");
    const std::string saved = before ? before : "";
    struct Row {
        const char* ours;  // nullptr: not set
        const char* tool;
    };
    const std::string kept = "glibc.malloc.mmap_threshold=33554432:glibc.malloc.trim_threshold=268435456";
    const std::string all = "glibc.malloc.hugetlb=1:" + kept;
    const std::string arena = "glibc.malloc.arena_max=2:" + all;
    const std::string noLarge = "glibc.malloc.hugetlb=0:" + kept;
    for (const Row r : {Row{nullptr, all.c_str()}, Row{"", all.c_str()}, Row{"glibc.malloc.arena_max=2", arena.c_str()},
                        Row{"glibc.malloc.hugetlb=0", noLarge.c_str()},
                        Row{"glibc.malloc.trim_threshold=0:glibc.malloc.hugetlb=0",
                            "glibc.malloc.trim_threshold=0:glibc.malloc.hugetlb=0:glibc.malloc.mmap_threshold=33554432"}}) {
        if (r.ours) setenv("GLIBC_TUNABLES", r.ours, 1);
        else unsetenv("GLIBC_TUNABLES");
        CAppLaunch tool("tunables", std::vector<std::string>{}, true);
        ASSERT_TRUE(tool.started);
        ASSERT_TRUE(tool.Wait(-1));
        EXPECT_EQ(Captured(tool), r.tool) << (r.ours ? r.ours : "(unset)");
    }
    if (before) setenv("GLIBC_TUNABLES", saved.c_str(), 1);
    else unsetenv("GLIBC_TUNABLES");
}

TEST_F(RunnerTest, CaptureFileHoldsOnlyStandardOutputAndGoesWithDestroy) {
    std::string path;
    {
        CAppLaunch tool("shouts", std::vector<std::string>{}, true);
        ASSERT_TRUE(tool.started);
        ASSERT_FALSE(tool.capturePath.empty());
        path = tool.capturePath;
        // In a working folder of ours, which goes with it.
        EXPECT_NE(path.find("/reelkeep-"), std::string::npos) << path;
        EXPECT_TRUE(test::FileExists(path.substr(0, path.rfind('/') + 1) + ".owner")) << path;
        ASSERT_TRUE(tool.Wait(-1));
        tool.CloseHandles();
        EXPECT_TRUE(test::FileExists(path));  // kept for the caller to read
        EXPECT_EQ(Captured(tool), "out\n");
    }
    EXPECT_FALSE(test::FileExists(path));
    EXPECT_FALSE(test::FileExists(path.substr(0, path.rfind('/'))));

    CAppLaunch quiet("shouts", std::vector<std::string>{}, false);
    EXPECT_TRUE(quiet.capturePath.empty());
    quiet.Wait(-1);
}

TEST_F(RunnerTest, NoZombieAfterReleasingARunningTool) {
    pid_t pid;
    {
        CAppLaunch tool("sleeper", std::vector<std::string>{"0.2"}, true);
        ASSERT_TRUE(tool.started);
        pid = tool.Pid();
    }  // destroyed while the tool still runs: it is not stopped
    EXPECT_TRUE(test::Eventually([&] { return !test::ProcessExists(pid); }));

    pid_t closed;
    {
        CAppLaunch tool("sleeper", std::vector<std::string>{"0.2"}, false);
        closed = tool.Pid();
        tool.CloseHandles();
        EXPECT_FALSE(tool.started);
        EXPECT_FALSE(tool.Wait(-1));
    }
    EXPECT_TRUE(test::Eventually([&] { return !test::ProcessExists(closed); }));
}

TEST(RunnerRealFolder, BundledToolsLieBesideThePrograms) {
    SetProgramFolder("");
    const std::string folder = ProgramFolder();
    ASSERT_EQ(folder, test::BinFolder());
    for (const char* name : {kToolFfmpeg, kToolFfprobe, kToolImgConvert})
        EXPECT_EQ(access((folder + name).c_str(), X_OK), 0) << name;
    for (const char* name : {kLoopPicture, kTitleFont}) EXPECT_TRUE(test::FileExists(folder + name)) << name;

    // img_convert is ImageMagick 6 itself, whatever "convert" PATH offers.
    CAppLaunch im(kToolImgConvert, std::vector<std::string>{"-version"}, true);
    ASSERT_TRUE(im.started);
    ASSERT_TRUE(im.Wait(-1));
    std::string text;
    test::ReadFile(im.capturePath, text);
    EXPECT_NE(text.find("ImageMagick 6"), std::string::npos) << text;

    // loop.png is a picture with transparency.
    CAppLaunch probe(kToolFfprobe, "-v quiet -show_streams \"%s\"", {ProgramFile(kLoopPicture)}, true);
    ASSERT_TRUE(probe.Wait(-1));
    test::ReadFile(probe.capturePath, text);
    EXPECT_NE(text.find("pix_fmt=rgba"), std::string::npos) << text;
}

}  // namespace
}  // namespace rk
