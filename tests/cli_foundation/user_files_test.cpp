// The person's files and the machine around reelkeep-cli: no tool outlives a
// killed program and the next start leaves the temporary folder clean; an
// output that is the card being read is refused whatever the answer; names
// with "%d" in them are files, not patterns.
#include <gtest/gtest.h>

#include <dirent.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "support/cli_run.h"
#include "support/test_files.h"

namespace {

using rk::test::FileExists;
using rk::test::TempDir;

void SleepMs(int ms) {
    struct timespec ts {0, ms * 1000L * 1000L};
    ::nanosleep(&ts, nullptr);
}

// The children of every thread of `pid`.
std::set<pid_t> ChildrenOf(pid_t pid) {
    std::set<pid_t> children;
    const std::string tasks = "/proc/" + std::to_string(pid) + "/task";
    DIR* d = ::opendir(tasks.c_str());
    if (!d) return children;
    while (dirent* e = ::readdir(d)) {
        if (e->d_name[0] == '.') continue;
        std::string text;
        rk::test::ReadFile(tasks + "/" + e->d_name + "/children", text);
        std::istringstream words(text);
        for (pid_t c; words >> c;) children.insert(c);
    }
    ::closedir(d);
    return children;
}

// Running: in /proc and not a zombie waiting for whoever adopted it.
bool Runs(pid_t pid) {
    std::string stat;
    if (!rk::test::ReadFile("/proc/" + std::to_string(pid) + "/stat", stat) || stat.empty()) return false;
    const size_t close = stat.rfind(')');
    return close != std::string::npos && close + 2 < stat.size() && stat[close + 2] != 'Z';
}

int WaitExit(pid_t pid) {
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// The whole file in one read (the card is 64 MB).
std::string Bytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary | std::ios::ate);
    std::string bytes(in ? size_t(in.tellg()) : 0, '\0');
    in.seekg(0);
    in.read(bytes.data(), std::streamsize(bytes.size()));
    return bytes;
}

std::vector<std::string> Entries(const std::string& folder) {
    std::vector<std::string> names;
    std::error_code ec;
    for (const auto& e : std::filesystem::directory_iterator(folder, ec)) names.push_back(e.path().filename());
    return names;
}

class UserFiles : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        if (::access("./reelkeep-cli", X_OK) != 0 || ::access("./ffmpeg", X_OK) != 0) return;
        dir_ = new TempDir("rk-user-files");
        std::error_code ec;
        std::filesystem::copy_file("loop.png", Picture(), ec);
        std::filesystem::copy_file("loop.png", dir_->File("fx_01.png"), ec);
        std::filesystem::copy_file("loop.png", dir_->File("fx_02.png"), ec);
        ok_ = !ec;
        for (const char* c : {"encode {P} {K} --mode 0", "create-image {C} --size 64M",
                                     "format {C} --mode 0 --yes", "add-video {C} {K} --yes", "add-still {C} {P} --yes",
                                     "-y playlist {C} 1 add 1"})
            ok_ = ok_ && Run(c).status == 0;
    }
    static void TearDownTestSuite() {
        delete dir_;
        dir_ = nullptr;
    }
    void SetUp() override {
        if (!dir_) GTEST_SKIP() << "reelkeep-cli or ffmpeg not built beside the tests";
        ASSERT_TRUE(ok_) << "setting up the card failed";
    }
    // {C} the card, {K} a good KAVQ1 file, {P} a picture, {D} the folder.
    static std::vector<std::string> Words(const std::string& command) {
        std::vector<std::string> args;
        std::istringstream words(command);
        for (std::string w; words >> w;) {
            for (const auto& [from, to] : {std::pair<std::string, std::string>{"{C}", Card()},
                                           {"{K}", dir_->File("good.kavq1")},
                                           {"{P}", Picture()},
                                           {"{D}", dir_->Path()}})
                for (size_t p; (p = w.find(from)) != std::string::npos;) w.replace(p, from.size(), to);
            args.push_back(w);
        }
        return args;
    }
    struct Result {
        int status;
        std::string err;
    };
    static Result Run(const std::string& command, const std::vector<std::string>& env = {}) {
        const std::string err = dir_->File("run.err");
        const pid_t pid = rk::test::StartCli(Words(command), err, env);
        Result r{pid > 0 ? WaitExit(pid) : -1, {}};
        rk::test::ReadFile(err, r.err);
        return r;
    }
    static std::string Card() { return dir_->File("card.img"); }
    static std::string Picture() { return dir_->File("picture.png"); }

    static TempDir* dir_;
    static bool ok_;
};

TempDir* UserFiles::dir_ = nullptr;
bool UserFiles::ok_ = false;

TEST_F(UserFiles, NoToolOutlivesAKilledProgramAndTheNextStartSweeps) {
    const std::vector<std::string> commands = {
        "encode {P} {D}/o.kavq1 --mode 0", "add-video {C} {P} --yes",  "export {K} {D}/o.mov",
        "read-video {C} 1 {D}/o.mov --yes", "add-still {C} {P} --yes",  "read-still {C} 1 {D}/o.png --yes",
        "add-effect {C} {D}/fx_01.png --yes", "add-logo {C} {D}/fx_01.png --yes", "-y playlist {C} 1 add 1",
    };
    for (const std::string& c : commands) {
        TempDir tmp("rk-kill-tmp");
        const std::vector<std::string> env = {"TMPDIR=" + tmp.Path()};
        const pid_t cli = rk::test::StartCli(Words(c), dir_->File("kill.err"), env);
        ASSERT_GT(cli, 0) << c;
        // Killed as soon as it has started a tool.
        std::set<pid_t> tools;
        for (int waited = 0; tools.empty() && waited < 60000; waited += 2) {
            tools = ChildrenOf(cli);
            if (tools.empty()) SleepMs(2);
        }
        ::kill(cli, SIGKILL);
        WaitExit(cli);
        EXPECT_FALSE(tools.empty()) << c << ": no tool was seen";
        for (pid_t t : tools) {
            for (int waited = 0; Runs(t) && waited < 10000; waited += 20) SleepMs(20);
            EXPECT_FALSE(Runs(t)) << c << ": tool " << t << " outlived the program";
            if (Runs(t)) ::kill(t, SIGKILL);
        }
        // The next start sweeps what the killed one left.
        EXPECT_EQ(Run("list", env).status, 0) << c;
        EXPECT_EQ(Entries(tmp.Path()), std::vector<std::string>{}) << c;
    }
    // The card stays usable after every cut.
    EXPECT_NE(Run("check {C}").status, 8);
}

// Every command that needs a working folder says where it could not make one
// and why, and leaves the card as it was (a playlist edit too: its title
// card could not be drawn, so the edit is not written).
TEST_F(UserFiles, AnUnusableTemporaryFolderIsNamedWithItsCauseAndTheCardStays) {
    const std::vector<std::string> commands = {
        "encode {P} {D}/o.kavq1 --mode 0",  "export {K} {D}/o.mov",          "add-video {C} {P} --yes",
        "read-video {C} 1 {D}/o.mov --yes", "add-still {C} {P} --yes",       "read-still {C} 1 {D}/o.png --yes",
        "add-effect {C} {D}/fx_01.png --yes", "add-logo {C} {D}/fx_01.png --yes", "-y playlist {C} 1 add 1",
    };
    const std::string before = Bytes(Card());
    for (const char* tmp : {"/nonexistent-rk-tmp", "/proc/self"}) {
        const std::vector<std::string> env = {std::string("TMPDIR=") + tmp};
        for (const std::string& c : commands) {
            const Result r = Run(c, env);
            EXPECT_EQ(r.status, 1) << c << " in " << tmp << "\n" << r.err;
            EXPECT_NE(r.err.find(std::string("no working folder in ") + tmp + ": "), std::string::npos)
                << c << "\n" << r.err;
            EXPECT_TRUE(Bytes(Card()) == before) << c << " in " << tmp << " changed the card";
        }
    }
}

// A journal that cannot be written is said once per card opened, with the
// folder and the cause, and the card's write goes ahead.
TEST_F(UserFiles, AJournalThatCannotBeWrittenIsSaidOnceAndTheWriteGoesAhead) {
    const std::string blocker = dir_->File("state-is-a-file");
    std::ofstream(blocker) << "not a folder";
    const std::vector<std::string> env = {"XDG_STATE_HOME=" + blocker};
    Result r = Run("-y playlist {C} 2 add 1", env);
    EXPECT_EQ(r.status, 0) << r.err;
    size_t said = 0;
    for (size_t at = 0; (at = r.err.find("journal could not be written", at)) != std::string::npos; ++at) ++said;
    EXPECT_EQ(said, 1u) << r.err;
    EXPECT_NE(r.err.find(blocker), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("Not a directory"), std::string::npos) << r.err;
    EXPECT_EQ(Run("-y playlist {C} 2 clear").status, 0);
}

TEST_F(UserFiles, AnOutputThatIsTheCardIsRefusedWhateverTheAnswer) {
    ASSERT_EQ(::link(Card().c_str(), dir_->File("hard.img").c_str()), 0);
    ASSERT_EQ(::symlink(Card().c_str(), dir_->File("soft.mov").c_str()), 0);
    const std::string before = Bytes(Card());
    for (const std::string c : {"read-video {C} 1 {C} --yes", "read-video {C} 1 {D}/hard.img --yes",
                                 "read-video {C} 1 {D}/soft.mov --yes", "thumbnail {C} 1 {D}/hard.img --yes",
                                 "read-still {C} 1 {C} --yes", "title-card {C} 1 {D}/soft.mov --yes",
                                 "backup {C} {D}/hard.img --yes"}) {
        const Result r = Run(c);
        EXPECT_EQ(r.status, 1) << c << "\n" << r.err;
        if (c.rfind("backup", 0) != 0) {
            EXPECT_NE(r.err.find("is the card being read"), std::string::npos) << c << r.err;
        }
        EXPECT_TRUE(Bytes(Card()) == before) << c << " changed the card";
    }
    ::unlink(dir_->File("hard.img").c_str());
    ::unlink(dir_->File("soft.mov").c_str());
}

TEST_F(UserFiles, NamesWithPercentAreFilesNotPatterns) {
    ASSERT_TRUE(rk::test::WriteFile(dir_->File("out001.png"), "an older picture"));
    std::error_code ec;
    std::filesystem::copy_file(Picture(), dir_->File("100%d.png"), ec);
    ASSERT_FALSE(ec);
    struct Case {
        std::string command;
        int status;
        std::string written;  // in {D}, a picture or film after the command
    };
    const std::vector<Case> cases = {
        {"read-still {C} 1 {D}/out%03d.png", 0, "out%03d.png"},
        {"read-still {C} 1 {D}/out%03d.png", 1, "out%03d.png"},  // now it exists: the question, answered No
        {"read-still {C} 1 {D}/out%03d.png --yes", 0, "out%03d.png"},
        {"read-still {C} 1 {D}/a*b?[c]{d}.png", 0, "a*b?[c]{d}.png"},
        {"add-still {C} {D}/100%d.png --yes", 0, "100%d.png"},
        {"add-logo {C} {D}/100%d.png --yes", 0, "100%d.png"},
        {"export {K} {D}/film%d.mov", 0, "film%d.mov"},
        {"read-video {C} 1 {D}/v%d.png.mov", 0, "v%d.png.mov"},
    };
    for (const Case& k : cases) {
        const Result r = Run(k.command);
        EXPECT_EQ(r.status, k.status) << k.command << "\n" << r.err;
        struct stat st {};
        EXPECT_TRUE(::stat(dir_->File(k.written).c_str(), &st) == 0 && st.st_size > 1000) << k.command;
    }
    std::string older;
    EXPECT_TRUE(rk::test::ReadFile(dir_->File("out001.png"), older) && older == "an older picture");
    for (const char* never : {"out000.png", "out002.png", "film1.mov", "v1.png.mov", "1001.png"})
        EXPECT_FALSE(FileExists(dir_->File(never))) << never;
}

}  // namespace
