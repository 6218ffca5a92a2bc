// Every command of reelkeep-cli that names a file, fed a FIFO, a folder,
// /dev/zero and a socket in that file's place: each must refuse with a
// message and end promptly, never wait on the file (a FIFO nobody writes
// would otherwise hold an open or a read for ever, past Ctrl-C).
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cstring>
#include <sstream>
#include <string>
#include <vector>

#include "support/test_files.h"

extern char** environ;

namespace {

using rk::test::TempDir;

struct CliRun {
    bool finished = false;  // ended by itself within the time limit
    int status = -1;
    std::string err;
};

// Runs ./reelkeep-cli with `args` (no shell), standard input /dev/null,
// standard error captured; killed when it has not ended after `limitMs`.
CliRun Cli(const std::vector<std::string>& args, const std::string& errFile, int limitMs = 20000) {
    std::vector<char*> argv;
    std::string prog = "./reelkeep-cli";
    argv.push_back(prog.data());
    std::vector<std::string> copy = args;
    for (auto& a : copy) argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_addopen(&fa, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&fa, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&fa, 2, errFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    CliRun r;
    pid_t pid = -1;
    const int rc = posix_spawn(&pid, prog.c_str(), &fa, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&fa);
    if (rc != 0) return r;
    int status = 0;
    for (int waited = 0;; waited += 20) {
        pid_t got = ::waitpid(pid, &status, WNOHANG);
        if (got == pid) {
            r.finished = true;
            break;
        }
        if (waited >= limitMs) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, &status, 0);
            break;
        }
        struct timespec ts {0, 20 * 1000 * 1000};
        ::nanosleep(&ts, nullptr);
    }
    r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    rk::test::ReadFile(errFile, r.err);
    return r;
}

class HostileFiles : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        if (::access("./reelkeep-cli", X_OK) != 0 || ::access("./ffmpeg", X_OK) != 0) return;
        dir_ = new TempDir("rk-hostile");
        const std::string err = dir_->File("setup.err");
        // A real video and a card holding it, so that the output side of
        // each command is reached.
        ok_ = Cli({"encode", "loop.png", Good(), "--mode", "0"}, err).status == 0 &&
              Cli({"create-image", Card(), "--size", "64M"}, err).status == 0 &&
              Cli({"format", Card(), "--mode", "0", "--yes"}, err).status == 0 &&
              Cli({"add-video", Card(), Good(), "--yes"}, err).status == 0;
        // The four kinds of file that are not files, each under three names.
        for (const char* ext : {"", ".kavq1", ".mov"}) {
            const std::string e = ext;
            ok_ = ok_ && ::mkfifo(dir_->File("fifo" + e).c_str(), 0600) == 0;
            ok_ = ok_ && ::mkdir(dir_->File("folder" + e).c_str(), 0700) == 0;
            int s = ::socket(AF_UNIX, SOCK_STREAM, 0);
            sockaddr_un sa{};
            sa.sun_family = AF_UNIX;
            std::strncpy(sa.sun_path, dir_->File("socket" + e).c_str(), sizeof sa.sun_path - 1);
            ok_ = ok_ && s >= 0 && ::bind(s, reinterpret_cast<sockaddr*>(&sa), sizeof sa) == 0;
            sockets_.push_back(s);
        }
    }
    static void TearDownTestSuite() {
        for (int s : sockets_) ::close(s);
        sockets_.clear();
        delete dir_;
        dir_ = nullptr;
    }
    void SetUp() override {
        if (!dir_) GTEST_SKIP() << "reelkeep-cli or ffmpeg not built beside the tests";
        ASSERT_TRUE(ok_) << "setting up the card and the hostile files failed";
    }
    static std::string Good() { return dir_->File("good.kavq1"); }
    static std::string Card() { return dir_->File("card.img"); }

    static TempDir* dir_;
    static bool ok_;
    static std::vector<int> sockets_;
};

TempDir* HostileFiles::dir_ = nullptr;
bool HostileFiles::ok_ = false;
std::vector<int> HostileFiles::sockets_;

TEST_F(HostileFiles, EveryCommandRefusesEveryKindPromptly) {
    // {H} is the hostile file, {H.kavq1} / {H.mov} the same kind under that
    // name; {K} a good KAVQ1 file, {C} a good card, {O} a fresh output.
    const std::vector<std::string> commands = {
        "decode {H} {O}",          "decode {K} {H}",
        "export {H} {O}.mov",      "export {K} {H.mov}",
        "encode {H} {O} --mode 0", "encode loop.png {H} --mode 0",
        "add-video {C} {H} --yes", "add-video {C} {H.kavq1} --yes",
        "add-video {H} {K} --yes", "read-video {C} 1 {H}",
        "read-video {C} 1 {H.mov}", "read-video {C} 1 {H.kavq1}",
        "thumbnail {C} 1 {H}",     "info {H}",
        "videos {H}",              "format {H} --mode 0 --yes",
        "defrag {H} --yes",        "create-image {H} --size 64M",
        "recover {H} --yes",       "recover {H} --scan --force --yes",
    };
    const std::vector<uint8_t> cardBefore = rk::test::ReadFileBytes(Card());
    for (const char* kind : {"fifo", "folder", "socket", "/dev/zero"}) {
        const bool device = kind[0] == '/';
        for (const std::string& c : commands) {
            if (device && c.find("{H.") != std::string::npos) continue;  // one name only
            std::vector<std::string> args;
            std::istringstream words(c);
            for (std::string w; words >> w;) {
                auto replace = [&](const std::string& from, const std::string& to) {
                    for (size_t p; (p = w.find(from)) != std::string::npos;) w.replace(p, from.size(), to);
                };
                const std::string h = device ? kind : dir_->File(kind);
                replace("{H.kavq1}", h + ".kavq1");
                replace("{H.mov}", h + ".mov");
                replace("{H}", h);
                replace("{K}", Good());
                replace("{C}", Card());
                replace("{O}", dir_->File("out"));
                args.push_back(w);
            }
            const CliRun r = Cli(args, dir_->File("run.err"));
            const std::string what = std::string(kind) + ": " + c;
            EXPECT_TRUE(r.finished) << what << " did not end: " << r.err;
            EXPECT_EQ(r.status, 1) << what << "\n" << r.err;
            EXPECT_FALSE(r.err.empty()) << what << " said nothing";
            ::unlink(dir_->File("out").c_str());
            ::unlink(dir_->File("out.mov").c_str());
        }
    }
    // Nothing of it touched the card, and the hostile files are still what they were.
    EXPECT_EQ(rk::test::ReadFileBytes(Card()), cardBefore);
    struct stat st {};
    ASSERT_EQ(::stat(dir_->File("fifo").c_str(), &st), 0);
    EXPECT_TRUE(S_ISFIFO(st.st_mode));
}

// Frames that do not decode: reading the video back as .mov (and exporting
// the file) fails with the system's text and the cause, never silently.
TEST_F(HostileFiles, FramesThatDoNotDecodeAreReported) {
    auto damage = [](const std::string& path, uint64_t frameAt) {
        std::vector<uint8_t> bytes = rk::test::ReadFileBytes(path);
        // Keep the head cluster and the frame header, spoil the slices behind it.
        for (uint64_t i = frameAt + 64; i < frameAt + 31 * 12288 && i < bytes.size(); ++i) bytes[i] = 0xFF;
        return rk::test::WriteFile(path, std::string(bytes.begin(), bytes.end()));
    };
    const std::string card = dir_->File("damaged.img"), file = dir_->File("damaged.kavq1");
    std::vector<uint8_t> c = rk::test::ReadFileBytes(Card()), k = rk::test::ReadFileBytes(Good());
    ASSERT_TRUE(rk::test::WriteFile(card, std::string(c.begin(), c.end())));
    ASSERT_TRUE(rk::test::WriteFile(file, std::string(k.begin(), k.end())));
    ASSERT_TRUE(damage(card, 1652ull * 12288));  // the first video of an HD card starts at Cluster 1651
    ASSERT_TRUE(damage(file, 12288));
    for (const auto& args : std::vector<std::vector<std::string>>{{"read-video", card, "1", dir_->File("x.mov")},
                                                                   {"export", file, dir_->File("y.mov")}}) {
        const CliRun r = Cli(args, dir_->File("run.err"), 60000);
        EXPECT_TRUE(r.finished) << args[0];
        EXPECT_EQ(r.status, 1) << args[0];
        EXPECT_NE(r.err.find("error: Error reading video file!"), std::string::npos) << args[0] << ": " << r.err;
        EXPECT_NE(r.err.find("cause: a frame does not decode"), std::string::npos) << args[0] << ": " << r.err;
    }
}

// A .kavq1 whose later slots are damaged: add-video checks every slot as it
// copies and stops with "Error reading video file!", the card keeps no entry.
TEST_F(HostileFiles, DamagedLaterSlotsAreRefused) {
    const std::vector<uint8_t> one = rk::test::ReadFileBytes(Good());
    ASSERT_GT(one.size(), 12288u + 8);
    const size_t slot = one.size();
    auto threeFrames = [&] {
        std::vector<uint8_t> f;
        for (uint8_t i = 0; i < 3; ++i) {
            f.insert(f.end(), one.begin(), one.end());
            f[i * slot + 11] = i;  // frame number, big-endian at 8
        }
        return f;
    };
    struct Case {
        const char* what;
        size_t at;
        uint8_t value;
    } cases[] = {
        {"", 0, 0},                                    // sound: added
        {"frame magic", 2 * slot + 12288, 'X'},
        {"size class", 1 * slot + 12288 + 4, 2},
        {"rate", 2 * slot + 12288 + 5, 25},
        {"frame number", 1 * slot + 11, 7},
        {"chunk length", 2 * slot + 13, 0x11},
        {"chunk magic", 1 * slot + 0, 'X'},
    };
    for (const Case& c : cases) {
        std::vector<uint8_t> f = threeFrames();
        if (c.what[0]) f[c.at] = c.value;
        const std::string path = dir_->File("three.kavq1"), card = dir_->File("slots.img");
        ASSERT_TRUE(rk::test::WriteFile(path, std::string(f.begin(), f.end())));
        const std::vector<uint8_t> cardBytes = rk::test::ReadFileBytes(Card());
        ASSERT_TRUE(rk::test::WriteFile(card, std::string(cardBytes.begin(), cardBytes.end())));
        const CliRun r = Cli({"add-video", card, path, "--yes"}, dir_->File("run.err"));
        if (!c.what[0]) {
            EXPECT_EQ(r.status, 0) << r.err;
            continue;
        }
        EXPECT_EQ(r.status, 1) << c.what << ": " << r.err;
        EXPECT_NE(r.err.find("error: Error reading video file!"), std::string::npos) << c.what << ": " << r.err;
        // No entry was kept: the card still holds its one video only.
        EXPECT_EQ(Cli({"read-video", card, "2", dir_->File("none.kavq1")}, dir_->File("rv.err")).status, 1) << c.what;
    }
}

}  // namespace
