// reelkeep-cli as a user runs it: help, version, wrong usage, the texts of
// the user's language and the log level taken from the settings.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <signal.h>
#include <string>
#include <vector>

#include "support/test_files.h"

extern char** environ;
namespace fs = std::filesystem;

namespace {

struct Outcome {
    int code = -1;
    std::string out, err;
};

std::string Slurp(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
}

class CliTest : public ::testing::Test {
protected:
    void SetUp() override {
        cli_ = fs::current_path().string() + "/reelkeep-cli";
        if (!fs::exists(cli_)) GTEST_SKIP() << "reelkeep-cli is not built";
        ASSERT_FALSE(tmp_.Path().empty());
        dir_ = tmp_.Path();
        fs::create_directories(dir_ + "/config");
        fs::create_directories(dir_ + "/cards");
    }

    // Runs the program with a private settings and card folder, standard
    // input from /dev/null, and the given extra environment.
    Outcome Start(const std::vector<std::string>& args, std::map<std::string, std::string> env = {}) {
        env.emplace("XDG_CONFIG_HOME", dir_ + "/config");
        env.emplace("REELKEEP_CARD_DIR", dir_ + "/cards");
        env.emplace("LANG", "C.UTF-8");
        std::vector<std::string> envStrings;
        for (char** e = environ; *e; ++e) {
            std::string kv = *e;
            std::string key = kv.substr(0, kv.find('='));
            if (env.count(key) || key == "LC_ALL" || key == "LC_MESSAGES") continue;
            envStrings.push_back(kv);
        }
        for (auto& [k, v] : env) envStrings.push_back(k + "=" + v);
        std::vector<char*> envp;
        for (auto& s : envStrings) envp.push_back(s.data());
        envp.push_back(nullptr);
        std::vector<char*> argv{cli_.data()};
        std::vector<std::string> argsCopy = args;
        for (auto& a : argsCopy) argv.push_back(a.data());
        argv.push_back(nullptr);

        std::string outPath = dir_ + "/out.txt", errPath = dir_ + "/err.txt";
        posix_spawn_file_actions_t fa;
        posix_spawn_file_actions_init(&fa);
        posix_spawn_file_actions_addopen(&fa, 0, "/dev/null", O_RDONLY, 0);
        posix_spawn_file_actions_addopen(&fa, 1, outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        posix_spawn_file_actions_addopen(&fa, 2, errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        pid_t pid = -1;
        Outcome r;
        if (posix_spawn(&pid, cli_.c_str(), &fa, nullptr, argv.data(), envp.data()) == 0) {
            int status = 0;
            waitpid(pid, &status, 0);
            r.code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        }
        posix_spawn_file_actions_destroy(&fa);
        r.out = Slurp(outPath);
        r.err = Slurp(errPath);
        return r;
    }
    rk::test::TempDir tmp_{"rk_cli"};  // removed with the fixture
    std::string cli_, dir_;
};

TEST_F(CliTest, HelpVersionAndWrongUsage) {
    Outcome help = Start({"--help"});
    EXPECT_EQ(help.code, 0);
    EXPECT_NE(help.out.find("--yes"), std::string::npos) << help.out;
    EXPECT_NE(help.out.find("Ctrl-C"), std::string::npos);

    Outcome version = Start({"--version"});
    EXPECT_EQ(version.code, 0);
    EXPECT_NE(version.out.find("reelkeep-cli 0.1.0"), std::string::npos) << version.out;
    EXPECT_EQ(version.out.find("decodeSlice"), std::string::npos) << version.out;
    // With --verbose (before or after) it also tells each kernel slot's variant;
    // RK_KVQ1_KERNELS caps them.
    for (auto args : {std::vector<std::string>{"--version", "--verbose"}, {"--verbose", "--version"}}) {
        Outcome verbose = Start(args, {{"RK_KVQ1_KERNELS", "portable"}});
        EXPECT_EQ(verbose.code, 0);
        EXPECT_NE(verbose.out.find("reelkeep-cli 0.1.0"), std::string::npos) << verbose.out;
        EXPECT_NE(verbose.out.find("decodeSlice: portable"), std::string::npos) << verbose.out;
        EXPECT_NE(verbose.out.find("forwardTransform: portable"), std::string::npos) << verbose.out;
    }

    EXPECT_EQ(Start({}).code, 2);
    EXPECT_EQ(Start({"--no-such-option"}).code, 2);
    EXPECT_EQ(Start({"no-such-command"}).code, 2);
}

TEST_F(CliTest, TextsFollowTheUsersLanguage) {
    // With an empty card folder and no card reader the list is "No media".
    Outcome english = Start({"list"});
    if (english.out.find("No media") == std::string::npos) GTEST_SKIP() << "this machine has cards: " << english.out;
    Outcome russian = Start({"list"}, {{"LANG", "ru_RU.UTF-8"}});
    EXPECT_NE(russian.out.find("Нет носителя"), std::string::npos) << russian.out;
    Outcome german = Start({"list"}, {{"LANG", "de_DE.UTF-8"}});
    EXPECT_NE(german.out.find("No media"), std::string::npos);
}

TEST_F(CliTest, LogLevelComesFromTheSettings) {
    std::string log = cli_ + ".log";
    fs::remove(log);
    Start({"--version"});
    EXPECT_FALSE(fs::exists(log));  // no level: no file at all

    fs::create_directories(dir_ + "/config/Korvix");
    std::ofstream(dir_ + "/config/Korvix/Reelkeep.conf") << "[Debug]\nLog=1\n";
    Start({"--version"});
    ASSERT_TRUE(fs::exists(log));
    std::string bytes = Slurp(log);
    fs::remove(log);
    ASSERT_GE(bytes.size(), 2u);
    EXPECT_EQ(bytes.substr(0, 2), "\xFF\xFE");
    // "reelkeep-cli: start" in UTF-16LE.
    std::string wide;
    for (char c : std::string("reelkeep-cli: start")) {
        wide.push_back(c);
        wide.push_back('\0');
    }
    EXPECT_NE(bytes.find(wide), std::string::npos);
}

// Ctrl-C during an import: the operation stops at its next check, the
// question about the incomplete video is answered No even with --yes, and
// the card keeps a valid directory with no video on it.
TEST_F(CliTest, CtrlCStopsAnImportAndLeavesTheCardConsistent) {
    std::string bin = fs::path(cli_).parent_path().string();
    if (!fs::exists(bin + "/ffmpeg") || !fs::exists(bin + "/ffprobe")) GTEST_SKIP() << "no conversion tools";
    std::string card = dir_ + "/cards/a.img";
    ASSERT_EQ(Start({"create-image", card, "--size", "2G"}).code, 0);
    ASSERT_EQ(Start({"format", card, "--mode", "0", "--yes"}).code, 0);
    std::string source = dir_ + "/source.mp4";
    std::string make = "'" + bin + "/ffmpeg' -v error -f lavfi -i testsrc=size=320x240:rate=50 -t 30 -c:v mpeg4 -y '" +
                       source + "'";
    ASSERT_EQ(std::system(make.c_str()), 0);

    // Started by hand so that the test can read its progress while it runs.
    int errPipe[2];
    ASSERT_EQ(pipe(errPipe), 0);
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_addopen(&fa, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&fa, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_adddup2(&fa, errPipe[1], 2);
    posix_spawn_file_actions_addclose(&fa, errPipe[0]);
    std::string config = "XDG_CONFIG_HOME=" + dir_ + "/config", cards = "REELKEEP_CARD_DIR=" + dir_ + "/cards";
    std::vector<std::string> envStrings{config, cards, "LANG=C.UTF-8", "PATH=/usr/bin:/bin"};
    for (const char* keep : {"ASAN_OPTIONS", "UBSAN_OPTIONS", "LSAN_OPTIONS"})
        if (const char* v = std::getenv(keep)) envStrings.push_back(std::string(keep) + "=" + v);
    std::vector<char*> envp;
    for (auto& e : envStrings) envp.push_back(e.data());
    envp.push_back(nullptr);
    std::vector<std::string> args{cli_, "add-video", card, source, "--yes"};
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    pid_t pid = -1;
    ASSERT_EQ(posix_spawn(&pid, cli_.c_str(), &fa, nullptr, argv.data(), envp.data()), 0);
    posix_spawn_file_actions_destroy(&fa);
    close(errPipe[1]);

    // Once the frames are being written, press Ctrl-C twice.
    std::string err;
    bool signalled = false;
    char buf[512];
    ssize_t n;
    while ((n = read(errPipe[0], buf, sizeof(buf))) > 0) {
        err.append(buf, static_cast<size_t>(n));
        if (!signalled && err.find("progress: 10%") != std::string::npos) {
            kill(pid, SIGINT);
            kill(pid, SIGINT);
            signalled = true;
        }
    }
    close(errPipe[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    ASSERT_TRUE(signalled) << err;
    ASSERT_TRUE(WIFEXITED(status)) << "killed by a signal: " << err;
    EXPECT_EQ(WEXITSTATUS(status), 1) << err;
    EXPECT_NE(err.find("Stopping after the current step"), std::string::npos) << err;
    EXPECT_NE(err.find("incomplete video file on media? [y/N] n (stopping)"), std::string::npos) << err;

    Outcome videos = Start({"videos", card});
    EXPECT_EQ(videos.code, 0);
    EXPECT_EQ(videos.out, "") << videos.out;
    Outcome info = Start({"info", card});
    EXPECT_EQ(info.code, 0);
    EXPECT_NE(info.out.find("(100%)"), std::string::npos) << info.out;
}

}  // namespace
