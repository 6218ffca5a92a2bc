// reelkeep-cli encode and export, run as a process: usage errors, failures,
// a round trip, and Ctrl-C in the middle of an import leaving nothing behind.
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstring>
#include <memory>

#include "convert/media_fixture.h"
#include "convert/tool_folder.h"

extern char** environ;

namespace rk {
namespace {

struct CliRun {
    int status = -1;
    std::string output;  // standard output and error together
};

class CliConvertTest : public ::testing::Test {
protected:
    void SetUp() override {
        SetProgramFolder("");
        tmp = std::make_unique<test::TempDir>();
    }

    pid_t Start(const std::vector<std::string>& args) {
        std::vector<std::string> env;
        for (char** e = environ; *e; ++e)
            if (strncmp(*e, "TMPDIR=", 7) != 0) env.push_back(*e);
        env.push_back("TMPDIR=" + tmp->Path());
        std::vector<char*> envp, argv;
        for (auto& e : env) envp.push_back(e.data());
        envp.push_back(nullptr);
        std::string exe = ProgramFile("reelkeep-cli");
        argv.push_back(exe.data());
        std::vector<std::string> copy = args;
        for (auto& a : copy) argv.push_back(a.data());
        argv.push_back(nullptr);
        posix_spawn_file_actions_t fa;
        posix_spawn_file_actions_init(&fa);
        posix_spawn_file_actions_addopen(&fa, 0, "/dev/null", O_RDONLY, 0);
        posix_spawn_file_actions_addopen(&fa, 1, logPath().c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        posix_spawn_file_actions_adddup2(&fa, 1, 2);
        pid_t pid = -1;
        posix_spawn(&pid, exe.c_str(), &fa, nullptr, argv.data(), envp.data());
        posix_spawn_file_actions_destroy(&fa);
        return pid;
    }

    CliRun Finish(pid_t pid) {
        CliRun r;
        int status = 0;
        waitpid(pid, &status, 0);
        r.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        test::ReadFile(logPath(), r.output);
        return r;
    }

    CliRun Cli(const std::vector<std::string>& args) { return Finish(Start(args)); }

    std::string logPath() { return out.File("cli.log"); }

    // No tool of ours still runs: nothing names our private temporary folder.
    bool NoToolLeft() {
        for (const std::string& name : test::ListDir("/proc")) {
            if (name.find_first_not_of("0123456789") != std::string::npos) continue;
            std::string cmd;
            if (!test::ReadFile("/proc/" + name + "/cmdline", cmd)) continue;
            if (cmd.find(tmp->Path()) != std::string::npos) return false;
        }
        return true;
    }

    test::TempDir out;
    std::unique_ptr<test::TempDir> tmp;
};

TEST_F(CliConvertTest, UsageErrors) {
    EXPECT_EQ(Cli({"encode", "a.mp4", "b.kavq1"}).status, 2);  // --mode is required
    EXPECT_EQ(Cli({"encode", "a.mp4", "b.kavq1", "--mode", "9"}).status, 2);
    EXPECT_EQ(Cli({"encode", "a.mp4", "b.kavq1", "--mode", "0", "--range", "wide"}).status, 2);
    EXPECT_EQ(Cli({"encode", "a.mp4", "b.kavq1", "--mode", "0", "--deinterlace", "maybe"}).status, 2);
    EXPECT_EQ(Cli({"export", "a.kavq1"}).status, 2);
}

TEST_F(CliConvertTest, FailuresAreReportedInTheSystemsWords) {
    CliRun r = Cli({"encode", out.File("absent.mp4"), out.File("b.kavq1"), "--mode", "0"});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.output.find("Can't open video file!"), std::string::npos) << r.output;
    EXPECT_FALSE(test::FileExists(out.File("b.kavq1")));

    test::WriteFile(out.File("short.kavq1"), std::string(1000, 'x'));
    r = Cli({"export", out.File("short.kavq1"), out.File("c.mov")});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.output.find("Invalid video file format!"), std::string::npos) << r.output;
    r = Cli({"export", out.File("absent.kavq1"), out.File("c.mov")});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.output.find("Can't open video file!"), std::string::npos) << r.output;
}

TEST_F(CliConvertTest, EncodeThenExportRoundTrip) {
    ASSERT_TRUE(test::MakeMedia("-f lavfi -i testsrc2=size=160x120:rate=25 -f lavfi -i sine=frequency=440 -t 0.12 "
                                "-c:v mpeg4 -c:a pcm_s16le -y \"%s\"",
                                {out.File("in put.mkv")}));
    CliRun r = Cli({"encode", out.File("in put.mkv"), out.File("clip.kavq1"), "--mode", "0", "--deinterlace", "off"});
    ASSERT_EQ(r.status, 0) << r.output;
    EXPECT_NE(r.output.find("Write completed."), std::string::npos) << r.output;
    struct stat st;
    ASSERT_EQ(stat(out.File("clip.kavq1").c_str(), &st), 0);
    EXPECT_EQ(st.st_size, 6 * 33 * 12288);  // 0.12 s at 50

    r = Cli({"export", out.File("clip.kavq1"), out.File("clip.mov")});
    ASSERT_EQ(r.status, 0) << r.output;
    std::string probe;
    ASSERT_TRUE(test::RunTool("ffprobe", "-v quiet -count_frames -show_streams \"%s\"", {out.File("clip.mov")}, &probe));
    EXPECT_EQ(test::ProbeValue(probe, "codec_name"), "prores");
    EXPECT_EQ(test::ProbeValue(probe, "nb_read_frames"), "6");
    EXPECT_NE(probe.find("codec_name=pcm_s24le"), std::string::npos);
    EXPECT_TRUE(test::ListDir(tmp->Path()).empty());  // no capture, sound or pipe files left
}

TEST_F(CliConvertTest, CtrlCDuringAnImportStopsAndLeavesNothingBehind) {
    ASSERT_TRUE(test::MakeMedia("-f lavfi -i testsrc2=size=160x120:rate=25 -f lavfi -i sine -t 30 "
                                "-c:v mpeg4 -c:a pcm_s16le -y \"%s\"",
                                {out.File("long.mkv")}));
    pid_t pid = Start({"encode", out.File("long.mkv"), out.File("long.kavq1"), "--mode", "0"});
    ASSERT_GT(pid, 0);
    // Once frames are being written, ask for a stop.
    ASSERT_TRUE(test::Eventually([&] {
        struct stat st;
        return stat(out.File("long.kavq1").c_str(), &st) == 0 && st.st_size >= 33 * 12288;
    }, 60000));
    kill(pid, SIGINT);
    CliRun r = Finish(pid);
    EXPECT_EQ(r.status, 1) << r.output;
    EXPECT_NE(r.output.find("Operation aborted."), std::string::npos) << r.output;
    EXPECT_TRUE(test::Eventually([&] { return NoToolLeft(); }));
    EXPECT_TRUE(test::ListDir(tmp->Path()).empty());
}

}  // namespace
}  // namespace rk
