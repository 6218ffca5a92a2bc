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
#include <string>
#include <vector>

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
        char tmpl[] = "/tmp/rk_cli_XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        dir_ = tmpl;
        fs::create_directories(dir_ + "/config");
        fs::create_directories(dir_ + "/cards");
    }
    void TearDown() override {
        if (!dir_.empty()) fs::remove_all(dir_);
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

}  // namespace
