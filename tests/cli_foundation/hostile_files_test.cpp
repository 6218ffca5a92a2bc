// Every command of reelkeep-cli that names a file, fed a FIFO, a folder,
// /dev/zero and a socket in that file's place: each must refuse with a
// message and end promptly, never wait on the file (a FIFO nobody writes
// would otherwise hold an open or a read for ever, past Ctrl-C).
#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <fstream>
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
    std::string out;  // standard output, when a file was named for it
};

// Runs ./reelkeep-cli with `args` (no shell), standard input /dev/null,
// standard error captured (and standard output when `outFile` is named);
// killed when it has not ended after `limitMs`.
CliRun Cli(const std::vector<std::string>& args, const std::string& errFile, int limitMs = 20000,
           const std::string& outFile = {}) {
    std::vector<char*> argv;
    std::string prog = "./reelkeep-cli";
    argv.push_back(prog.data());
    std::vector<std::string> copy = args;
    for (auto& a : copy) argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_addopen(&fa, 0, "/dev/null", O_RDONLY, 0);
    if (outFile.empty()) posix_spawn_file_actions_addopen(&fa, 1, "/dev/null", O_WRONLY, 0);
    else posix_spawn_file_actions_addopen(&fa, 1, outFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
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
    if (!outFile.empty()) rk::test::ReadFile(outFile, r.out);
    return r;
}

// A copy of `from` at `to`, for a test that changes a card.
bool CopyFile(const std::string& from, const std::string& to) {
    const std::vector<uint8_t> bytes = rk::test::ReadFileBytes(from);
    return !bytes.empty() && rk::test::WriteFileBytes(to, bytes);
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
        EXPECT_NE(r.err.find("a frame does not decode"), std::string::npos) << args[0] << ": " << r.err;
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

namespace {

// A name holding a tab, a line break or a backslash stays one field of the
// tab-separated listing, escaped as `ls -b` shows it.
TEST_F(HostileFiles, ListingsEscapeNames) {
    const std::string card = dir_->File("names.img");
    ASSERT_TRUE(CopyFile(Card(), card));
    const CliRun add = Cli({"add-video", card, Good(), "--name", "a\tb\nc\\d\001e", "--yes"}, dir_->File("run.err"));
    ASSERT_EQ(add.status, 0) << add.err;
    const CliRun list = Cli({"videos", card}, dir_->File("run.err"), 20000, dir_->File("run.out"));
    ASSERT_EQ(list.status, 0) << list.err;
    // Two videos, two lines of seven fields; the name is the third.
    ASSERT_EQ(std::count(list.out.begin(), list.out.end(), '\n'), 2) << list.out;
    const std::string second = list.out.substr(list.out.find('\n') + 1);
    EXPECT_EQ(std::count(second.begin(), second.end(), '\t'), 6) << second;
    EXPECT_NE(second.find("\ta\\tb\\nc\\\\d\\001e\t"), std::string::npos) << second;
}

}  // namespace

namespace {

// Runs ./reelkeep-cli with `args`, its standard output and error read
// through one pipe; once `marker` has been written, sends SIGINT. Waits for
// the end at most `limitMs` after the signal, then kills it.
struct StoppedRun {
    bool signalled = false;
    bool finished = false;
    int status = -1;
    std::string text;  // standard output and error
};

StoppedRun RunAndInterrupt(const std::vector<std::string>& args, const std::string& marker, int limitMs = 20000) {
    StoppedRun r;
    int pipeFds[2];
    if (::pipe(pipeFds) != 0) return r;
    std::vector<std::string> copy = args;
    std::string prog = "./reelkeep-cli";
    std::vector<char*> argv{prog.data()};
    for (auto& a : copy) argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_addopen(&fa, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&fa, pipeFds[1], 1);
    posix_spawn_file_actions_adddup2(&fa, pipeFds[1], 2);
    posix_spawn_file_actions_addclose(&fa, pipeFds[0]);
    pid_t pid = -1;
    const int rc = posix_spawn(&pid, prog.c_str(), &fa, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&fa);
    ::close(pipeFds[1]);
    if (rc != 0) {
        ::close(pipeFds[0]);
        return r;
    }
    int waitedMs = 0;
    for (;;) {
        pollfd p{pipeFds[0], POLLIN, 0};
        if (::poll(&p, 1, 50) > 0) {
            char buf[4096];
            const ssize_t n = ::read(pipeFds[0], buf, sizeof buf);
            if (n <= 0) break;  // the program has ended (or closed its output)
            r.text.append(buf, size_t(n));
            if (!r.signalled && r.text.find(marker) != std::string::npos) {
                ::kill(pid, SIGINT);
                r.signalled = true;
            }
        } else if (r.signalled && (waitedMs += 50) > limitMs) {
            break;
        }
    }
    ::close(pipeFds[0]);
    int status = 0;
    for (int w = 0; w <= limitMs; w += 20) {
        if (::waitpid(pid, &status, WNOHANG) == pid) {
            r.finished = true;
            break;
        }
        struct timespec ts {0, 20 * 1000 * 1000};
        ::nanosleep(&ts, nullptr);
    }
    if (!r.finished) {
        ::kill(pid, SIGKILL);
        ::waitpid(pid, &status, 0);
    }
    r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return r;
}

// Every long operation that only reads or copies a card ends on Ctrl-C,
// says it stopped and exits 1; a stopped backup leaves no file that could
// pass for a backup.
TEST_F(HostileFiles, EveryLongOperationStopsOnCtrlC) {
    // A card with one long video: the good slot again and again, numbered on.
    const std::vector<uint8_t> one = rk::test::ReadFileBytes(Good());
    ASSERT_GT(one.size(), 12288u + 16);
    const std::string big = dir_->File("long.kavq1"), card = dir_->File("long.img"), out = dir_->File("backup.img");
    {
        std::vector<uint8_t> slot = one;
        std::ofstream f(big, std::ios::binary);
        for (uint32_t i = 0; i < 1000; ++i) {
            for (int k = 0; k < 4; ++k) slot[8 + k] = slot[12288 + 8 + k] = uint8_t(i >> (24 - 8 * k));
            f.write(reinterpret_cast<const char*>(slot.data()), std::streamsize(slot.size()));
        }
        ASSERT_TRUE(bool(f));
    }
    const std::string err = dir_->File("run.err");
    ASSERT_EQ(Cli({"create-image", card, "--size", "1G"}, err).status, 0);
    ASSERT_EQ(Cli({"format", card, "--mode", "0", "--yes"}, err).status, 0);
    const CliRun added = Cli({"add-video", card, big, "--yes"}, err, 120000);
    ASSERT_EQ(added.status, 0) << added.err;
    ::unlink(big.c_str());
    ASSERT_EQ(Cli({"create-image", dir_->File("target.img"), "--size", "1G"}, err).status, 0);

    struct Case {
        std::vector<std::string> args;
        std::string busy;  // what it says once it is under way
        const char* says;  // what tells that it stopped
    } cases[] = {
        {{"backup", card, out}, out + ": 10%", "Operation aborted."},
        {{"restore", card, dir_->File("target.img"), "--yes"}, "target.img: 10%", "FAILED (stopped"},
        {{"check", card, "--frames", "all"}, "progress: 10%", ", stopped"},
        {{"recover", card, "--scan", "--force", "--yes"}, "progress: 0%", "Operation aborted."},
    };
    for (const Case& c : cases) {
        const StoppedRun r = RunAndInterrupt(c.args, c.busy);
        ASSERT_TRUE(r.signalled) << c.args[0] << " ended before it could be stopped:\n" << r.text;
        EXPECT_TRUE(r.finished) << c.args[0] << " did not end after Ctrl-C:\n" << r.text;
        EXPECT_EQ(r.status, 1) << c.args[0] << ":\n" << r.text;
        EXPECT_NE(r.text.find(c.says), std::string::npos) << c.args[0] << ":\n" << r.text;
        EXPECT_EQ(r.text.find("backed up"), std::string::npos) << r.text;
    }
    EXPECT_FALSE(rk::test::FileExists(out)) << "a stopped backup was left behind";
    // The card itself was only read: it still checks clean.
    EXPECT_EQ(Cli({"check", card}, err).status, 0);
}

}  // namespace

namespace {

// Every importer, fed a file of the right name but the wrong content, fails
// with the system's text followed by the file's name and what is wrong.
TEST_F(HostileFiles, EveryImporterNamesTheFileAndTheCause) {
    const std::string card = dir_->File("importers.img");
    ASSERT_TRUE(CopyFile(Card(), card));
    std::vector<uint8_t> otherRate = rk::test::ReadFileBytes(Good());
    ASSERT_GT(otherRate.size(), 12288u + 8);
    otherRate[12288 + 5] = 60;  // a frame of a 60p card
    ASSERT_TRUE(rk::test::WriteFileBytes(dir_->File("rate60.kavq1"), otherRate));
    ASSERT_TRUE(rk::test::WriteFile(dir_->File("empty.kavq1"), ""));
    ASSERT_TRUE(rk::test::WriteFile(dir_->File("text.effect"), "not an effect\n"));
    ASSERT_TRUE(rk::test::WriteFile(dir_->File("text_001.png"), "not a picture\n"));
    ASSERT_TRUE(rk::test::WriteFile(dir_->File("text_002.png"), "not a picture\n"));
    std::string logo = "ANML";
    logo += std::string("\x80\x07\x38\x04\x01\x00\x21\x00", 8) + std::string(20, '\0') + std::string(35 * 12288, 'x');
    ASSERT_TRUE(rk::test::WriteFile(dir_->File("random.animlogo"), logo));
    const std::vector<uint8_t> picture = rk::test::ReadFileBytes("loop.png");
    ASSERT_FALSE(picture.empty());
    ASSERT_TRUE(rk::test::WriteFileBytes(dir_->File("pic_001.png"), picture));
    ASSERT_TRUE(rk::test::WriteFileBytes(dir_->File("pic_002.png"), picture));
    ASSERT_TRUE(rk::test::WriteFile(dir_->File("text.wav"), "not a sound\n"));
    struct Case {
        std::string command, source;
        std::string sound;  // --sound, for effects
        std::string file;   // the file the message must name
        const char* text;   // the system's text
        const char* cause;  // what is wrong, after the file's name
    } cases[] = {
        {"add-video", "empty.kavq1", "", "empty.kavq1", "Video file is too short to use!",
         "0 bytes, less than one frame slot"},
        {"add-video", "rate60.kavq1", "", "rate60.kavq1", "Unsupported video file format!",
         "made for size class 1, rate code 60"},
        {"add-effect", "text.effect", "", "text.effect", "Invalid file format!", "no effect file header"},
        {"add-effect", "text_001.png", "", "text_001.png", "Error opening image file!",
         "the picture tool could not read it"},
        {"add-effect", "pic_001.png", "fifo", "fifo", "Error opening file!", "FIFO"},
        {"add-effect", "pic_001.png", "text.wav", "text.wav", "Error opening file!", "not a sound"},
        {"add-effect", "pic_001.png", "missing.wav", "missing.wav", "Error opening file!", "No such file"},
        {"add-logo", "random.animlogo", "", "random.animlogo", "Error reading video file!",
         "frame 1 of 1: no sound chunk"},
    };
    const std::vector<uint8_t> before = rk::test::ReadFileBytes(card);
    for (const Case& c : cases) {
        std::vector<std::string> args{c.command, card, dir_->File(c.source), "--yes"};
        if (!c.sound.empty()) args.insert(args.end(), {"--sound", dir_->File(c.sound)});
        const CliRun r = Cli(args, dir_->File("run.err"), 60000);
        EXPECT_EQ(r.status, 1) << c.file << ": " << r.err;
        EXPECT_NE(r.err.find(std::string(c.text) + " (" + dir_->File(c.file) + ": "), std::string::npos)
            << c.file << ": " << r.err;
        EXPECT_NE(r.err.find(c.cause), std::string::npos) << c.file << ": " << r.err;
    }
    EXPECT_EQ(rk::test::ReadFileBytes(card), before);  // nothing was written
}

}  // namespace

namespace {

// A read-only card image (a backup kept safe) can be listed, checked, read
// back, backed up and restored from; a write to it is refused. Readers
// share an image with each other, never with a writer.
TEST_F(HostileFiles, ReadOnlyImagesAreReadAndNeverWritten) {
    const std::string ro = dir_->File("ro.img"), out = dir_->File("ro-out");
    ASSERT_TRUE(CopyFile(Card(), ro));
    ASSERT_EQ(::mkdir(out.c_str(), 0777), 0);
    ASSERT_EQ(::chmod(out.c_str(), 0777), 0);
    ASSERT_EQ(Cli({"create-image", out + "/target.img", "--size", "64M"}, dir_->File("run.err")).status, 0);
    ASSERT_EQ(::chmod((out + "/target.img").c_str(), 0666), 0);
    {
        // Another reader holds it: readers go on, a writer is told why not.
        const int fd = ::open(ro.c_str(), O_RDONLY | O_CLOEXEC);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(::flock(fd, LOCK_SH), 0);
        EXPECT_EQ(Cli({"videos", ro}, dir_->File("run.err")).status, 0);
        const CliRun w = Cli({"add-video", ro, Good(), "--yes"}, dir_->File("run.err"));
        EXPECT_EQ(w.status, 1);
        EXPECT_NE(w.err.find("held by another program"), std::string::npos) << w.err;
        ::close(fd);
    }
    const std::vector<uint8_t> before = rk::test::ReadFileBytes(ro);
    ASSERT_EQ(::chmod(ro.c_str(), 0444), 0);
    // Root writes any file: the commands run as a user who may not.
    const mode_t oldMode = 0700;
    ASSERT_EQ(::chmod(dir_->Path().c_str(), 0755), 0);
    const std::vector<std::pair<std::vector<std::string>, int>> runs = {
        {{"videos", ro}, 0},
        {{"info", ro}, 0},
        {{"check", ro}, 0},
        {{"read-video", ro, "1", out + "/v.kavq1"}, 0},
        {{"backup", ro, out + "/b.img"}, 0},
        {{"restore", ro, out + "/target.img", "--yes"}, 0},
        {{"add-video", ro, Good(), "--yes"}, 1},
    };
    const pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        if (::geteuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0)) ::_exit(77);
        int failed = 0;
        for (size_t i = 0; i < runs.size(); ++i) {
            const CliRun r = Cli(runs[i].first, out + "/run.err");
            if (r.status != runs[i].second) {
                failed |= 1 << i;
                rk::test::WriteFile(out + "/failed-" + std::to_string(i), r.err);
            }
        }
        ::_exit(failed);
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    ::chmod(dir_->Path().c_str(), oldMode);
    ASSERT_TRUE(WIFEXITED(status));
    if (WEXITSTATUS(status) == 77) GTEST_SKIP() << "cannot drop privileges";
    for (size_t i = 0; i < runs.size(); ++i) {
        std::string err;
        rk::test::ReadFile(out + "/failed-" + std::to_string(i), err);
        EXPECT_EQ(WEXITSTATUS(status) & (1 << i), 0) << runs[i].first[0] << ": " << err;
    }
    EXPECT_EQ(rk::test::ReadFileBytes(ro), before);
    EXPECT_EQ(rk::test::ReadFileBytes(out + "/v.kavq1"), rk::test::ReadFileBytes(Good()));
    ::chmod(ro.c_str(), 0644);
}

}  // namespace
