// reelkeep-cli's effect commands end to end on a card image, numbers from 1.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "convert/tool_folder.h"
#include "media/media_fixture.h"
#include "support/cli_run.h"

namespace rk {
namespace {

using Result = test::CliResult;

Result Cli(const std::string& args) { return test::RunCli(args); }

// A formatted HD card image c.img in `dir` and `frames` red pictures with
// alpha, PREFIX_01.png on.
bool FormattedCardAndPictures(test::TempDir& dir, int frames, const std::string& prefix) {
    const std::string img = "'" + dir.File("c.img") + "'";
    if (Cli("create-image " + img + " --size 48M").status != 0) return false;
    if (Cli("--yes format " + img + " --mode 0").status != 0) return false;
    const std::string cmd = "cd '" + dir.Path() + "' && '" + ProgramFile("ffmpeg") +
                            "' -v error -nostdin -f lavfi -i color=c=red:s=160x90:r=25 -vf format=rgba -frames:v " +
                            std::to_string(frames) + " -start_number 1 " + prefix + "_%02d.png";
    return std::system(cmd.c_str()) == 0;
}

TEST(CliEffects, AddListKeyframesReadBackAndAddAgain) {
    if (!test::ToolsAvailable()) GTEST_SKIP() << "ffmpeg is not beside the test programs";
    test::TempDir dir("rk-cli-effects");
    const std::string img = "'" + dir.File("c.img") + "'";
    ASSERT_TRUE(FormattedCardAndPictures(dir, 3, "p"));
    const std::string pic = "'" + dir.File("p_01.png") + "'";

    EXPECT_EQ(Cli("keyframes " + pic).out,
              "frame\tposition\tfade\tposition key\tfade key\n1\t0\t0\t0\t-1\n2\t1023\t0\t-1\t-1\n3\t2047\t0\t2046\t-1\n");
    EXPECT_EQ(Cli("add-effect " + img + " " + pic).status, 1);  // the question is answered No
    ASSERT_EQ(Cli("add-effect " + img + " " + pic + " --cut-at 2 --yes").status, 0);
    // The cut was written to the keyframe file beside the pictures, as
    // "Set cut position" leaves the keys: 0 before the cut, 2046 at it.
    EXPECT_EQ(Cli("keyframes " + pic).out,
              "frame\tposition\tfade\tposition key\tfade key\n1\t0\t0\t0\t-1\n2\t2046\t0\t2046\t-1\n3\t2047\t0\t-1\t-1\n");
    EXPECT_EQ(Cli("effects " + img).out, "1\t3\t0:00:00.03\tkeyframed\t1651\n");
    const std::string out = "'" + dir.File("e.effect") + "'";
    EXPECT_EQ(Cli("read-effect " + img + " 2 " + out).status, 1);  // no effect 2
    ASSERT_EQ(Cli("read-effect " + img + " 1 " + out).status, 0);
    ASSERT_EQ(Cli("add-effect " + img + " " + out + " --yes").status, 0);
    Result list = Cli("effects " + img);
    EXPECT_NE(list.out.find("\n2\t3\t0:00:00.03\tkeyframed\t"), std::string::npos) << list.out;
}

// The options answer the operation's questions: --cut-at moves a cut the
// keyframe file already holds and keeps the fade keys, as "Set cut
// position" does; a cut past the end falls on the last frame;
// and --type mix takes the keys as read (--cut-at does not apply to it).
TEST(CliEffects, OptionsAnswerTheTypeAndKeyQuestions) {
    if (!test::ToolsAvailable()) GTEST_SKIP() << "ffmpeg is not beside the test programs";
    test::TempDir dir("rk-cli-effects");
    const std::string img = "'" + dir.File("c.img") + "'";
    ASSERT_TRUE(FormattedCardAndPictures(dir, 4, "q"));
    const std::string pic = "'" + dir.File("q_01.png") + "'";
    ASSERT_TRUE(test::WriteFile(dir.File("q_01.txt"), "   0;  -1;0;0;1\r\n   0;  -1;0;0;1\r\n2046; 128;0;0;1\r\n"
                                                      "2046;  -1;0;0;1\r\n"));
    ASSERT_EQ(Cli("add-effect " + img + " " + pic + " --cut-at 9 --yes").status, 0);
    EXPECT_EQ(Cli("keyframes " + pic).out,
              "frame\tposition\tfade\tposition key\tfade key\n1\t0\t0\t-1\t-1\n2\t0\t64\t-1\t-1\n"
              "3\t0\t128\t0\t128\n4\t2047\t128\t2046\t-1\n");
    ASSERT_EQ(Cli("add-effect " + img + " " + pic + " --type mix --cut-at 2 --yes").status, 0);
    // The keys as read: the cut of the mix is not moved.
    EXPECT_EQ(Cli("keyframes " + pic).out,
              "frame\tposition\tfade\tposition key\tfade key\n1\t0\t0\t-1\t-1\n2\t0\t64\t-1\t-1\n"
              "3\t0\t128\t0\t128\n4\t2047\t128\t2046\t-1\n");
    Result list = Cli("effects " + img);
    EXPECT_NE(list.out.find("\n2\t4\t"), std::string::npos) << list.out;
}

}  // namespace
}  // namespace rk
