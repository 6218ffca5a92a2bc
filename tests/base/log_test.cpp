// The diagnostic log's bytes: BOM, UTF-16LE, CRLF, the time prefix, the
// message cap, append, level filtering, the pending limit and many writers.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <regex>
#include <set>
#include <thread>

#include "base/log.h"
#include "support/test_files.h"
#include "utf16.h"

namespace fs = std::filesystem;
using rk::CDebug;
using rk::LogMessage;
using rk::test::LogLines;
using rk::test::Utf8;

namespace {

class LogTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_FALSE(tmp_.Path().empty());
        dir_ = tmp_.Path();
        path_ = dir_ + "/reelkeep.log";
        CDebug::Instance().SetPath(path_);
        CDebug::Instance().Reset();
    }
    void TearDown() override {
        CDebug::Instance().SetLevelSource(nullptr);
        CDebug::Instance().SetPath("");
        CDebug::Instance().Reset();
    }
    void UseLevel(int level) {
        CDebug::Instance().SetLevelSource([level] { return level; });
    }
    // The message part of a line (after the time prefix) in UTF-8.
    static std::string Message(const std::u16string& line) {
        std::string s = Utf8(line);
        return s.size() >= 26 ? s.substr(26) : std::string();
    }
    rk::test::TempDir tmp_{"rk_log"};  // removed with the fixture, after TearDown
    std::string dir_, path_;
};

TEST_F(LogTest, LevelZeroOrNoSourceCreatesNoFile) {
    LogMessage(1, "start");
    EXPECT_FALSE(fs::exists(path_));
    EXPECT_FALSE(rk::LogVerbose());

    CDebug::Instance().Reset();
    UseLevel(0);
    LogMessage(1, "start");
    LogMessage(3, "details");
    EXPECT_FALSE(fs::exists(path_));
    EXPECT_EQ(CDebug::Instance().Path(), "");
}

TEST_F(LogTest, FirstLineWritesBomUtf16AndCrlfWithTimePrefix) {
    UseLevel(1);
    LogMessage(1, "CMainWin::OnInitDialog() build: [%s]", "Feb  8 2023");
    std::string bytes = rk::test::ReadBytes(path_);
    ASSERT_GE(bytes.size(), 4u);
    EXPECT_EQ(static_cast<unsigned char>(bytes[0]), 0xFF);
    EXPECT_EQ(static_cast<unsigned char>(bytes[1]), 0xFE);
    // Ends in CR LF as 16-bit characters.
    EXPECT_EQ(bytes.substr(bytes.size() - 4), std::string("\r\0\n\0", 4));
    // Every character is two bytes, the high byte zero for this ASCII text.
    EXPECT_EQ(bytes.size() % 2, 0u);
    for (size_t i = 3; i < bytes.size(); i += 2) EXPECT_EQ(bytes[i], '\0') << i;

    bool bom = false;
    auto lines = LogLines(path_, &bom);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_TRUE(bom);
    std::string line = Utf8(lines[0]);
    EXPECT_TRUE(std::regex_match(line, std::regex(R"(\d{2}\.\d{2}\.\d{4} \d{2}:\d{2}:\d{2}\.\d{3} - .*)"))) << line;
    EXPECT_EQ(Message(lines[0]), "CMainWin::OnInitDialog() build: [Feb  8 2023]");
}

TEST_F(LogTest, PrefixIsTodaysLocalDate) {
    UseLevel(1);
    time_t now = time(nullptr);
    tm t{};
    localtime_r(&now, &t);
    char today[48];
    snprintf(today, sizeof(today), "%02d.%02d.%04d", t.tm_mday, t.tm_mon + 1, t.tm_year + 1900);
    LogMessage(1, "x");
    auto lines = LogLines(path_);
    ASSERT_EQ(lines.size(), 1u);
    // Just before midnight the date may have moved on; the format is what counts.
    std::string line = Utf8(lines[0]);
    if (line.substr(0, 10) != today) GTEST_SKIP() << "date changed during the test";
    EXPECT_EQ(line.substr(0, 10), today);
}

TEST_F(LogTest, LevelFilteringAndVerbose) {
    UseLevel(2);
    EXPECT_FALSE(rk::LogVerbose());  // not configured before the first line
    LogMessage(1, "one");
    LogMessage(2, "two");
    LogMessage(3, "three");
    EXPECT_FALSE(rk::LogVerbose());
    auto lines = LogLines(path_);
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(Message(lines[0]), "one");
    EXPECT_EQ(Message(lines[1]), "two");

    CDebug::Instance().Reset();
    UseLevel(3);
    EXPECT_FALSE(rk::LogVerbose());
    LogMessage(3, "three");
    EXPECT_TRUE(rk::LogVerbose());
}

TEST_F(LogTest, LevelIsReadOnceUntilReset) {
    std::atomic<int> calls{0};
    int level = 2;
    CDebug::Instance().SetLevelSource([&] {
        ++calls;
        return level;
    });
    LogMessage(1, "a");
    level = 0;  // a change takes effect at the next start only
    LogMessage(1, "b");
    LogMessage(2, "c");
    EXPECT_EQ(calls.load(), 1);
    EXPECT_EQ(LogLines(path_).size(), 3u);
}

TEST_F(LogTest, AppendsToExistingLogWithoutSecondBom) {
    {
        std::ofstream f(path_, std::ios::binary);
        f.write("\xFF\xFE" "o\0l\0d\0\r\0\n\0", 12);
    }
    UseLevel(1);
    LogMessage(1, "new");
    bool bom = false;
    auto lines = LogLines(path_, &bom);
    EXPECT_TRUE(bom);
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(Utf8(lines[0]), "old");
    EXPECT_EQ(Message(lines[1]), "new");
    // And a second run of the program appends again.
    CDebug::Instance().Reset();
    LogMessage(1, "again");
    EXPECT_EQ(LogLines(path_).size(), 3u);
    std::string bytes = rk::test::ReadBytes(path_);
    EXPECT_EQ(bytes.find("\xFF\xFE", 2), std::string::npos);
}

TEST_F(LogTest, EmptyExistingFileGetsBom) {
    { std::ofstream f(path_); }
    UseLevel(1);
    LogMessage(1, "x");
    bool bom = false;
    LogLines(path_, &bom);
    EXPECT_TRUE(bom);
}

TEST_F(LogTest, MessageIsCutAt511Characters) {
    UseLevel(1);
    std::string longText(600, 'x');
    LogMessage(1, "%s", longText.c_str());
    auto lines = LogLines(path_);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].size(), 26u + 511u);

    // A character outside the basic plane is never split in half at the cap.
    std::string text(510, 'y');
    text += "\xF0\x9F\x8E\xAC";  // U+1F3AC, two UTF-16 units
    LogMessage(1, "%s", text.c_str());
    lines = LogLines(path_);
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[1].size(), 26u + 510u);
}

TEST_F(LogTest, Utf8BecomesUtf16AndBadBytesBecomeReplacementCharacters) {
    UseLevel(1);
    LogMessage(1, "%s", "Обновить \xF0\x9F\x8E\xAC");
    LogMessage(1, "%s", "bad \xC3 \xE2\x82 \xFF end \xED\xA0\x80 \xC0\xAF");
    auto lines = LogLines(path_);
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(Message(lines[0]), "Обновить \xF0\x9F\x8E\xAC");
    EXPECT_EQ(lines[0].substr(26, 8), u"Обновить");
    std::string r = "\xEF\xBF\xBD";
    EXPECT_EQ(Message(lines[1]), "bad " + r + " " + r + " " + r + " end " + r + r + r + " " + r + r);
}

TEST_F(LogTest, KeepsAtMost100PendingLinesWhileTheFileIsHeldAndWritesThemInOrder) {
    UseLevel(1);
    // Another writer holds the file: opening for writing is refused.
    int other = open(path_.c_str(), O_WRONLY | O_CREAT, 0644);
    ASSERT_GE(other, 0);
    ASSERT_EQ(flock(other, LOCK_EX), 0);
    for (int i = 0; i < 150; ++i) LogMessage(1, "line %d", i);
    EXPECT_EQ(CDebug::Instance().PendingCount(), 100u);
    EXPECT_EQ(rk::test::ReadBytes(path_).size(), 0u);
    close(other);

    LogMessage(1, "after");
    EXPECT_EQ(CDebug::Instance().PendingCount(), 0u);
    bool bom = false;
    auto lines = LogLines(path_, &bom);
    EXPECT_TRUE(bom);
    ASSERT_EQ(lines.size(), 101u);
    for (int i = 0; i < 100; ++i) EXPECT_EQ(Message(lines[static_cast<size_t>(i)]), "line " + std::to_string(i));
    EXPECT_EQ(Message(lines[100]), "after");
}

TEST_F(LogTest, UnwritableFolderLosesNothingButNeverFails) {
    CDebug::Instance().SetPath(dir_ + "/missing/folder/x.log");
    CDebug::Instance().Reset();
    UseLevel(1);
    for (int i = 0; i < 5; ++i) LogMessage(1, "line %d", i);
    EXPECT_EQ(CDebug::Instance().PendingCount(), 5u);
}

TEST_F(LogTest, ManyThreadsWriteWholeLines) {
    UseLevel(3);
    constexpr int kThreads = 6, kLines = 150;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([t] {
            for (int i = 0; i < kLines; ++i) LogMessage(1 + i % 3, "thread %d line %d payload %s", t, i, "abcdefghij");
        });
    for (auto& th : threads) th.join();
    auto lines = LogLines(path_);
    ASSERT_EQ(lines.size(), static_cast<size_t>(kThreads * kLines));
    std::set<std::string> seen;
    std::regex re(R"(thread (\d) line (\d+) payload abcdefghij)");
    for (auto& l : lines) {
        std::string m = Message(l);
        EXPECT_TRUE(std::regex_match(m, re)) << m;
        seen.insert(m);
    }
    EXPECT_EQ(seen.size(), lines.size());
}

TEST(LogPath, BesideTheExecutableWithItsExtensionReplaced) {
    EXPECT_EQ(CDebug::PathForExecutable("/opt/rk/bin/reelkeep"), "/opt/rk/bin/reelkeep.log");
    EXPECT_EQ(CDebug::PathForExecutable("/opt/rk/bin/reelkeep-cli"), "/opt/rk/bin/reelkeep-cli.log");
    EXPECT_EQ(CDebug::PathForExecutable("/opt/a.b/prog.exe"), "/opt/a.b/prog.log");
    EXPECT_EQ(CDebug::PathForExecutable("/opt/a.b/prog"), "/opt/a.b/prog.log");
    EXPECT_EQ(CDebug::PathForExecutable("/x/.hidden"), "/x/.hidden.log");
    // This test program's own log path lies beside it.
    std::string path = CDebug::DefaultPath();
    EXPECT_EQ(path, fs::canonical("/proc/self/exe").string() + ".log");
}

// An installed program's folder is told by its place in the install layout,
// not by whether it can be written (root can write /usr/libexec).
TEST(LogPath, OnlyTheInstalledFolderSendsTheLogToTheStateFolder) {
    const struct {
        const char* folder;
        bool installed;
    } cases[] = {
        {"/usr/libexec/reelkeep", true},         {"/usr/local/libexec/reelkeep", true},
        {"/tmp/root/usr/libexec/reelkeep", true}, {"/home/me/reelkeep/build/bin", false},
        {"/opt/reelkeep", false},                {"/usr/libexec/reelkeep-old", false},
        {"/usr/libexec", false},
    };
    for (const auto& c : cases) EXPECT_EQ(CDebug::IsInstalledFolder(c.folder), c.installed) << c.folder;
}

}  // namespace
