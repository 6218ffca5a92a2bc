// reelkeep-cli's catalogue commands run as an operator runs them, from a
// fresh card to a playlist with a title card.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "convert/tool_folder.h"
#include "media_fixture.h"
#include "support/cli_run.h"

namespace rk {
namespace {

using Result = test::CliResult;

Result Cli(const std::string& args) { return test::RunCli(args); }

TEST(CliCatalogue, FromAFreshCardToAPlaylistWithATitleCard) {
    if (!test::ToolsAvailable()) GTEST_SKIP() << "the tools are not beside the test programs";
    test::TempDir dir;
    const std::string img = "'" + dir.File("c.img") + "'";
    ASSERT_EQ(Cli("create-image " + img + " --size 48M").status, 0);
    ASSERT_EQ(Cli("--yes format " + img + " --mode 0").status, 0);
    const std::string a = dir.File("a.kavq1"), b = dir.File("b.kavq1");
    ASSERT_TRUE(test::WriteEncodedKAVQ1(a, 3));
    ASSERT_TRUE(test::WriteEncodedKAVQ1(b, 5));
    const std::string pic = dir.File("p.png");
    ASSERT_EQ(std::system(("'" + ProgramFile("ffmpeg") + "' -v error -f lavfi -i smptebars=size=640x360 -frames:v 1 '" +
                           pic + "' </dev/null").c_str()),
              0);

    ASSERT_EQ(Cli("add-video " + img + " '" + a + "' --yes").status, 0);
    ASSERT_EQ(Cli("add-video " + img + " '" + b + "' --yes").status, 0);
    EXPECT_EQ(Cli("playlist " + img + " 1 add 1").status, 0);
    EXPECT_EQ(Cli("playlist " + img + " 1 add 2").status, 0);
    EXPECT_EQ(Cli("playlist " + img + " 1 add 1").status, 0);
    EXPECT_EQ(Cli("playlist " + img + " 1 mode repeat").status, 0);
    EXPECT_EQ(Cli("playlists " + img).out.substr(0, 31), "1\t3\t0:00:00.11\trepeat\t1,2,1\n2\t0");
    Result still = Cli("add-still " + img + " '" + pic + "' --yes");
    EXPECT_EQ(still.status, 0);
    EXPECT_EQ(still.out, "1\n");
    EXPECT_EQ(Cli("stills " + img).out, "1\t531\n");

    // Without --yes and without a terminal the question is answered No.
    EXPECT_EQ(Cli("delete " + img + " video 1").status, 1);
    EXPECT_EQ(Cli("delete " + img + " video 1 --yes").status, 0);
    Result lists = Cli("playlists " + img);
    EXPECT_EQ(lists.out.substr(0, lists.out.find('\n') + 1), "1\t1\t0:00:00.05\trepeat\t1\n");
    EXPECT_EQ(Cli("videos " + img).out.substr(0, 2), "1\t");

    const std::string card = dir.File("t.png");
    ASSERT_EQ(Cli("title-card " + img + " 1 '" + card + "'").status, 0);
    auto png = test::ReadFileBytes(card);
    ASSERT_GT(png.size(), 24u);
    EXPECT_EQ((png[18] << 8) | png[19], 1920);

    // Swaps, clears and wrong numbers.
    EXPECT_EQ(Cli("playlist " + img + " 1 swap 5").status, 0);
    EXPECT_EQ(Cli("playlists " + img).out.substr(0, 11), "1\t0\t0:00:00");
    EXPECT_EQ(Cli("playlist " + img + " 5 clear --yes").status, 0);
    EXPECT_EQ(Cli("swap " + img + " still 1 4").status, 0);
    EXPECT_EQ(Cli("stills " + img).out, "4\t636\n");
    EXPECT_EQ(Cli("read-still " + img + " 4 '" + dir.File("s.png") + "'").status, 0);
    EXPECT_EQ(Cli("read-still " + img + " 1 '" + dir.File("s.png") + "'").status, 1);  // free
    // A number outside the layout's range is wrong usage (2); one that the
    // card does not hold is a failed operation (1).
    EXPECT_EQ(Cli("playlist " + img + " 17 add 1").status, 2);
    EXPECT_EQ(Cli("playlist " + img + " 1 add 9").status, 1);
    EXPECT_EQ(Cli("delete " + img + " logo 9 --yes").status, 2);
    EXPECT_EQ(Cli("playlist " + img + " 1 mode sometimes").status, 2);
}

// Runs `args` (with the image as {img}) on a copy of `base`, stopped by
// SIGINT after `delayMs` (never when negative); the exit status and the
// image afterwards.
struct Interrupted {
    int status = -1;
    std::vector<uint8_t> image;
};

Interrupted RunInterrupted(const std::string& base, const std::string& img, std::vector<std::string> args,
                           int delayMs) {
    Interrupted r;
    EXPECT_TRUE(test::WriteFileBytes(img, test::ReadFileBytes(base)));
    for (std::string& a : args)
        if (a == "{img}") a = img;
    const pid_t pid = test::StartCli(args);
    EXPECT_GT(pid, 0);
    if (delayMs >= 0) {
        ::usleep(useconds_t(delayMs) * 1000);
        ::kill(pid, SIGINT);
    }
    r.status = test::WaitCli(pid);
    r.image = test::ReadFileBytes(img);
    return r;
}

TEST(CliCatalogue, CtrlCInAPlaylistEditOrDeleteLeavesTheOldCardOrTheWholeNewOne) {
    if (!test::ToolsAvailable()) GTEST_SKIP() << "the tools are not beside the test programs";
    test::TempDir dir;
    const std::string base = dir.File("base.img"), img = dir.File("c.img");
    const std::string q = "'" + base + "'";
    ASSERT_EQ(Cli("create-image " + q + " --size 48M").status, 0);
    ASSERT_EQ(Cli("--yes format " + q + " --mode 0").status, 0);
    for (int frames : {5, 7}) {
        const std::string v = dir.File("v" + std::to_string(frames) + ".kavq1");
        ASSERT_TRUE(test::WriteEncodedKAVQ1(v, frames));
        ASSERT_EQ(Cli("add-video " + q + " '" + v + "' --yes").status, 0);
    }
    // Video 1 opens playlists 1 and 2 and closes playlist 3: deleting it
    // remakes three title cards.
    for (const char* edit : {"1 add 1", "1 add 2", "2 add 1", "2 add 2", "3 add 2", "3 add 1"})
        ASSERT_EQ(Cli("playlist " + q + " " + edit).status, 0) << edit;
    const std::vector<uint8_t> old = test::ReadFileBytes(base);

    const std::vector<std::vector<std::string>> commands = {
        {"playlist", "{img}", "4", "add", "2"},
        {"delete", "{img}", "video", "1", "--yes"},
    };
    for (const auto& args : commands) {
        SCOPED_TRACE(args[0] + " " + args[2] + " " + args[3]);
        // The whole edit once, unstopped: the new card, byte for byte (the
        // title cards are made the same way every time).
        const auto start = std::chrono::steady_clock::now();
        const Interrupted whole = RunInterrupted(base, img, args, -1);
        const int runMs = int(std::chrono::duration_cast<std::chrono::milliseconds>(
                                  std::chrono::steady_clock::now() - start).count());
        ASSERT_EQ(whole.status, 0);
        ASSERT_NE(whole.image, old);
        // Stopped at moments spread over the run (and just after it starts).
        for (int delay : {5, runMs / 3, runMs * 3 / 4}) {
            SCOPED_TRACE("SIGINT after " + std::to_string(delay) + " ms");
            const Interrupted r = RunInterrupted(base, img, args, delay);
            if (r.status == 0) {
                EXPECT_TRUE(r.image == whole.image) << "exit 0: the new card with its title cards";
            } else {
                // 1: stopped; -1: the signal came before the program listened.
                EXPECT_TRUE(r.status == 1 || r.status == -1) << r.status;
                EXPECT_TRUE(r.image == old) << "stopped: nothing of the edit written";
            }
            EXPECT_EQ(Cli("check '" + img + "' --frames all").status, 0);
        }
    }
}

}  // namespace
}  // namespace rk
