// The bundled tools' versions as the About box shows them: the real tools
// answer with their first line; a missing, failing, silent or hanging tool
// gives an empty line (and a hanging one is ended) instead of holding the
// window.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <chrono>
#include <fstream>

#include "convert/tool_folder.h"
#include "convert/tool_versions.h"
#include "support/test_files.h"

namespace rk {
namespace {

class ToolVersions : public ::testing::Test {
protected:
    void SetUp() override { SetProgramFolder(""); }
    void TearDown() override { SetProgramFolder(""); }
    // A stand-in tool: a shell script with `body`.
    void Script(const std::string& name, const std::string& body) {
        const std::string path = dir.File(name);
        std::ofstream(path) << "#!/bin/sh\n" << body << "\n";
        ASSERT_EQ(::chmod(path.c_str(), 0755), 0);
    }
    test::TempDir dir{"rk-tool-versions"};
};

TEST_F(ToolVersions, TheBundledToolsGiveTheirFirstLine) {
    const std::vector<ToolVersion> v = BundledToolVersions();
    ASSERT_EQ(v.size(), 3u);
    EXPECT_EQ(v[0].tool, "ffmpeg");
    EXPECT_EQ(v[0].line.rfind("ffmpeg version ", 0), 0u) << v[0].line;
    EXPECT_EQ(v[1].line.rfind("ffprobe version ", 0), 0u) << v[1].line;
    EXPECT_EQ(v[2].tool, "img_convert");
    EXPECT_EQ(v[2].line.rfind("Version: ImageMagick ", 0), 0u) << v[2].line;
    for (const auto& t : v) EXPECT_EQ(t.line.find('\n'), std::string::npos);
}

TEST_F(ToolVersions, ToolsThatCannotTellGiveNothing) {
    SetProgramFolder(dir.Path());
    EXPECT_EQ(ToolVersionLine("ffmpeg"), "") << "missing";
    Script("ffmpeg", "echo 'ffmpeg version 1'; exit 3");
    EXPECT_EQ(ToolVersionLine("ffmpeg"), "") << "a failing tool's words are not its version";
    Script("ffprobe", "exit 0");
    EXPECT_EQ(ToolVersionLine("ffprobe"), "") << "silent";
    Script("img_convert", "printf '\\n   \\n\\t Version: X 1.0  \\r\\nsecond line\\n'");
    EXPECT_EQ(ToolVersionLine("img_convert"), "Version: X 1.0") << "blank lines skipped, the line trimmed";
    Script("long", "head -c 100000 /dev/zero | tr '\\0' 'a'; echo");
    EXPECT_EQ(ToolVersionLine("long").size(), 200u) << "cut to one readable line";
}

TEST_F(ToolVersions, AHangingToolIsEndedInTime) {
    SetProgramFolder(dir.Path());
    Script("ffmpeg", "exec sleep 30");
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(ToolVersionLine("ffmpeg", 200), "");
    // Ended, not waited for: well under the tool's own 30 s.
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(20));
}

}  // namespace
}  // namespace rk
