// The picture tools' frame pipe against scripted tools: frames land in their
// parts whatever the tool's writes, and a tool that ends early, stalls or
// fails at the end ends the reading with the first cause, taking the tool
// and its folder with it.
#include <gtest/gtest.h>

#include <sys/types.h>

#include <array>
#include <cstdint>
#include <string>

#include "convert/tool_folder.h"
#include "convert/tool_frame_pipe.h"
#include "test_util.h"

namespace rk {
namespace {

using Frame = CToolFramePipe::Frame;

struct PipeCase {
    const char* name;
    const char* script;  // writes into "$1", the FIFO
    Frame second;        // the second frame's reading
    bool finishes;       // Finish() after two whole frames
    const char* cause;   // part of the cause kept; empty when none
};

TEST(ToolFramePipe, FramesPartsAndEnds) {
    const PipeCase cases[] = {
        {"two frames in uneven writes", "printf ABCD > \"$1\"; exec 3>\"$1\"; printf EFGHIJa >&3; printf bcdefghij >&3",
         Frame::kRead, true, ""},
        {"dies mid-frame", "printf ABCDEFGHIJabc > \"$1\"; exit 3", Frame::kToolEnded, false, "exit code 3"},
        {"stalls mid-frame", "exec 3>\"$1\"; printf ABCDEFGHIJabc >&3; exec sleep 30", Frame::kFailed, false,
         "stalled"},
        {"fails after its frames", "printf ABCDEFGHIJabcdefghij > \"$1\"; exit 2", Frame::kRead, false,
         "failed (exit code 2)"},
    };
    test::TempDir tools;
    SetProgramFolder(tools.Path() + "/");
    for (const PipeCase& c : cases) {
        SCOPED_TRACE(c.name);
        test::WriteScript(tools.File("tool"), c.script);
        CToolFramePipe pipe("test");
        pipe.SetStallLimitMs(300);
        ASSERT_TRUE(pipe.MakeFolder());
        const std::string folder = pipe.FolderPath();
        ASSERT_FALSE(pipe.OpenPipe("frames.raw").empty());
        ASSERT_TRUE(pipe.StartTool("tool", {"frames.raw"}));
        const pid_t pid = pipe.ToolPid();
        ASSERT_GT(pid, 0);

        // A frame of three parts of 3, 5 and 2 bytes, spread over two buffers.
        std::string head(8, '.'), tail(2, '.');
        const auto parts = [&] {
            return std::array<FramePart, 3>{FramePart{reinterpret_cast<uint8_t*>(head.data()), 0, 3},
                                            FramePart{reinterpret_cast<uint8_t*>(head.data()) + 3, 3, 8},
                                            FramePart{reinterpret_cast<uint8_t*>(tail.data()), 8, 10}};
        };
        ASSERT_EQ(pipe.ReadFrame(parts().data(), 3), Frame::kRead);
        EXPECT_EQ(head + tail, "ABCDEFGHIJ");
        const Frame second = pipe.ReadFrame(parts().data(), 3);
        EXPECT_EQ(second, c.second);
        if (second == Frame::kRead) {
            EXPECT_EQ(head + tail, "abcdefghij");
            EXPECT_EQ(pipe.Finish(), c.finishes);
        }
        if (second == Frame::kToolEnded) pipe.Fail("ended early (exit code " + std::to_string(pipe.ExitCode()) + ")");
        // A later failure never replaces the first cause.
        if (!c.finishes) pipe.Fail("a later cause");
        EXPECT_EQ(pipe.Failed(), !c.finishes);
        if (*c.cause) {
            EXPECT_NE(pipe.Cause().find(c.cause), std::string::npos) << pipe.Cause();
        } else {
            EXPECT_EQ(pipe.Cause(), "");
        }
        EXPECT_EQ(pipe.ToolPid(), -1);
        EXPECT_TRUE(pipe.FolderPath().empty());
        EXPECT_FALSE(test::FileExists(folder));
        EXPECT_TRUE(test::Eventually([&] { return !test::ProcessExists(pid); }));
    }
    SetProgramFolder("");
}

}  // namespace
}  // namespace rk
