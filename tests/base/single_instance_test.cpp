// A second start while one instance runs exits at once; the lock goes with
// the process that held it, however it ended.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

#include "app/single_instance.h"
#include "support/test_files.h"

extern char** environ;
namespace fs = std::filesystem;

namespace {

struct Child {
    pid_t pid = -1;
    int in = -1;   // its standard input
    int out = -1;  // its standard output
};

Child Start(const std::string& program, const std::vector<std::string>& args = {}) {
    int inPipe[2], outPipe[2];
    EXPECT_EQ(pipe(inPipe), 0);
    EXPECT_EQ(pipe(outPipe), 0);
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_adddup2(&fa, inPipe[0], 0);
    posix_spawn_file_actions_adddup2(&fa, outPipe[1], 1);
    posix_spawn_file_actions_adddup2(&fa, outPipe[1], 2);
    posix_spawn_file_actions_addclose(&fa, inPipe[1]);
    posix_spawn_file_actions_addclose(&fa, outPipe[0]);
    std::vector<char*> argv{const_cast<char*>(program.c_str())};
    for (auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    Child c;
    EXPECT_EQ(posix_spawn(&c.pid, program.c_str(), &fa, nullptr, argv.data(), environ), 0);
    posix_spawn_file_actions_destroy(&fa);
    close(inPipe[0]);
    close(outPipe[1]);
    c.in = inPipe[1];
    c.out = outPipe[0];
    return c;
}

std::string ReadAll(int fd) {
    std::string s;
    char buf[256];
    ssize_t n;
    while ((n = read(fd, buf, sizeof(buf))) > 0) s.append(buf, static_cast<size_t>(n));
    return s;
}

std::string ReadLine(int fd) {
    std::string s;
    char c;
    while (read(fd, &c, 1) == 1 && c != '\n') s.push_back(c);
    return s;
}

// Waits for the child's end; a child that has not ended after a minute is
// killed and reported as -1, so a regression fails instead of hanging.
int Wait(pid_t pid) {
    for (int i = 0; i < 600; ++i) {
        int status = 0;
        pid_t r = waitpid(pid, &status, WNOHANG);
        if (r == pid) return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
    return -1;
}

class SingleInstanceTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_FALSE(tmp_.Path().empty());
        runtime_ = tmp_.Path();
        setenv("XDG_RUNTIME_DIR", runtime_.c_str(), 1);
        probe_ = fs::current_path().string() + "/rk_single_instance_probe";
        ASSERT_TRUE(fs::exists(probe_)) << probe_;
    }
    void TearDown() override {
        unsetenv("XDG_RUNTIME_DIR");
    }
    rk::test::TempDir tmp_{"rk_runtime"};  // removed with the fixture, after TearDown
    std::string runtime_, probe_;
};

TEST_F(SingleInstanceTest, LockLivesInTheRuntimeFolder) {
    EXPECT_EQ(rk::CSingleInstance::LockPath(), runtime_ + "/Korvix_Reelkeep");
    unsetenv("XDG_RUNTIME_DIR");
    EXPECT_EQ(rk::CSingleInstance::LockPath(), "/tmp/" + std::to_string(getuid()) + "/Korvix_Reelkeep");
    setenv("XDG_RUNTIME_DIR", "relative/dir", 1);
    EXPECT_EQ(rk::CSingleInstance::LockPath(), "/tmp/" + std::to_string(getuid()) + "/Korvix_Reelkeep");
}

TEST_F(SingleInstanceTest, SecondProcessExitsAtOnceAndTheLockGoesWithTheFirst) {
    Child first = Start(probe_);
    ASSERT_EQ(ReadLine(first.out), "ready");

    Child second = Start(probe_);
    EXPECT_EQ(Wait(second.pid), 3);
    EXPECT_EQ(ReadAll(second.out), "");  // nothing shown
    close(second.in);
    close(second.out);

    // In this process too.
    {
        rk::CSingleInstance mine;
        EXPECT_FALSE(mine.Acquire());
    }

    close(first.in);  // the first instance ends normally
    EXPECT_EQ(Wait(first.pid), 0);
    close(first.out);

    Child third = Start(probe_);
    ASSERT_EQ(ReadLine(third.out), "ready");
    kill(third.pid, SIGKILL);  // a crash leaves no stale lock
    Wait(third.pid);
    close(third.in);
    close(third.out);

    rk::CSingleInstance after;
    EXPECT_TRUE(after.Acquire());
    EXPECT_TRUE(after.Held());
    Child fourth = Start(probe_);
    EXPECT_EQ(Wait(fourth.pid), 3);
    close(fourth.in);
    close(fourth.out);
}

TEST_F(SingleInstanceTest, UnusableRuntimeFolderDoesNotKeepTheOperatorOut) {
    // A folder others may write is not trusted with the lock; the program runs.
    std::string shared = runtime_ + "/shared";
    ASSERT_EQ(mkdir(shared.c_str(), 0777), 0);
    ASSERT_EQ(chmod(shared.c_str(), 0777), 0);
    setenv("XDG_RUNTIME_DIR", shared.c_str(), 1);
    rk::CSingleInstance a;
    EXPECT_TRUE(a.Acquire());
    EXPECT_FALSE(a.Held());
    // A lock name that is a link is never followed.
    ASSERT_EQ(chmod(shared.c_str(), 0700), 0);
    ASSERT_EQ(symlink((runtime_ + "/elsewhere").c_str(), (shared + "/Korvix_Reelkeep").c_str()), 0);
    rk::CSingleInstance b;
    EXPECT_TRUE(b.Acquire());
    EXPECT_FALSE(b.Held());
    EXPECT_FALSE(fs::exists(runtime_ + "/elsewhere"));
}

TEST_F(SingleInstanceTest, TheWindowProgramExitsSilentlyWhileAnotherRuns) {
    std::string reelkeep = fs::current_path().string() + "/reelkeep";
    const char* src = std::getenv("RK_SOURCE_DIR");
    if (!fs::exists(reelkeep) || !src) GTEST_SKIP() << "no reelkeep program in this build";
    std::string mainText;
    for (const char* file : {"/app/main.cpp", "/app/main_app.cpp"}) {
        std::ifstream f(std::string(src) + file);
        mainText.append(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
    }
    if (mainText.find("AnotherInstanceRunning") == std::string::npos)
        GTEST_SKIP() << "the window's main() does not check for another instance yet";

    rk::CSingleInstance held;
    ASSERT_TRUE(held.Acquire());
    ASSERT_TRUE(held.Held());
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    Child second = Start(reelkeep);
    close(second.in);
    // It ends by itself (a window would wait for the operator).
    EXPECT_NE(Wait(second.pid), -1);
    close(second.out);
}

}  // namespace
