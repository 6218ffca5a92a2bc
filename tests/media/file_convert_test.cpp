// Conversions between files without a card: a KAVQ1 file to ProRes and any
// source back to KAVQ1, with the outcome, the messages and nothing left
// behind on a refusal.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <functional>
#include <string>
#include <vector>

#include "card/card_directory.h"
#include "card/video_modes.h"
#include "media/file_convert.h"
#include "media_fixture.h"
#include "ui/scripted_operator.h"

namespace rk {
namespace {

class FileConvertTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!test::ToolsAvailable()) GTEST_SKIP() << "ffmpeg and ffprobe are not beside the test programs";
        kavq1 = dir.File("in.kavq1");
        ASSERT_TRUE(test::WriteEncodedKAVQ1(kavq1, 3));
    }
    static bool Exists(const std::string& path) {
        struct stat st {};
        return ::stat(path.c_str(), &st) == 0;
    }

    test::TempDir dir;
    std::string kavq1;
    CScriptedOperator op;
};

TEST_F(FileConvertTest, ProResAndBackGiveWholeSlots) {
    const std::string mov = dir.File("out.mov");
    std::vector<uint64_t> announced;
    FileConvertOutcome r = ExportKAVQ1ToProRes(op, kavq1, mov, [&](uint64_t f, bool) { announced.push_back(f); });
    ASSERT_EQ(r.result, OpResult::kDone) << r.cause;
    EXPECT_EQ(r.frames, 3u);
    EXPECT_EQ(announced, std::vector<uint64_t>{3});
    EXPECT_EQ(op.TextsWithIcon(kIconInformation), std::vector<std::string>{"Read completed."});
    EXPECT_GT(test::ReadFileBytes(mov).size(), 0u);

    op = CScriptedOperator();
    const std::string back = dir.File("back.kavq1");
    r = EncodeToKAVQ1File(op, mov, back, 0, ImportOptions{});
    ASSERT_EQ(r.result, OpResult::kDone) << r.cause;
    EXPECT_EQ(r.framesMoved, r.frames);
    EXPECT_GT(r.frames, 0u);
    const size_t slotBytes = size_t(VideoModeAt(0).clustersPerFrame) * kClusterSize;
    EXPECT_EQ(test::ReadFileBytes(back).size(), r.frames * slotBytes);
    EXPECT_EQ(op.TextsWithIcon(kIconInformation), std::vector<std::string>{"Write completed."});
}

TEST_F(FileConvertTest, RefusalsSayOnceAndWriteNothing) {
    const std::string notVideo = dir.File("notes.kavq1");
    ASSERT_TRUE(test::WriteFile(notVideo, "not a video"));
    const std::string missing = dir.File("no/such/folder/out");
    const std::string fifo = dir.File("pipe.mov");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    struct Row {
        const char* what;
        std::function<FileConvertOutcome()> run;
        std::string output;
        const char* text;  // null: one error, whichever the tool's failure gives
    };
    const Row rows[] = {
        {"encode a folder", [&] { return EncodeToKAVQ1File(op, dir.Path(), dir.File("a.kavq1"), 0, {}); },
         dir.File("a.kavq1"), "Can't open video file!"},
        {"encode a FIFO", [&] { return EncodeToKAVQ1File(op, fifo, dir.File("c.kavq1"), 0, {}); },
         dir.File("c.kavq1"), "Can't open video file!"},
        {"export what is no video", [&] { return ExportKAVQ1ToProRes(op, notVideo, dir.File("b.mov")); },
         dir.File("b.mov"), "Invalid video file format!"},
        {"export into no folder", [&] { return ExportKAVQ1ToProRes(op, kavq1, missing); }, missing, nullptr},
    };
    for (const Row& row : rows) {
        op = CScriptedOperator();
        const FileConvertOutcome r = row.run();
        EXPECT_EQ(r.result, OpResult::kFailed) << row.what;
        EXPECT_FALSE(r.cause.empty()) << row.what;
        const std::vector<std::string> errors = op.TextsWithIcon(kIconError);
        EXPECT_EQ(errors.size(), 1u) << row.what;
        if (row.text) {
            EXPECT_EQ(errors, std::vector<std::string>{row.text}) << row.what;
        }
        EXPECT_FALSE(Exists(row.output)) << row.what;
    }
}

TEST_F(FileConvertTest, StopEndsTheExportAsStopped) {
    op.stopAtPump = 1;
    const FileConvertOutcome r = ExportKAVQ1ToProRes(op, kavq1, dir.File("stopped.mov"));
    EXPECT_EQ(r.result, OpResult::kStopped);
    EXPECT_EQ(op.TextsWithIcon(kIconWarning), std::vector<std::string>{"Operation aborted."});
    EXPECT_EQ(op.ends, 1);
}

}  // namespace
}  // namespace rk
