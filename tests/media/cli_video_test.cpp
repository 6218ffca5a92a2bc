// reelkeep-cli's video commands run as the operator runs them.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdio>
#include <string>
#include <vector>

#include "convert/tool_folder.h"
#include "media_fixture.h"
#include "support/cli_run.h"

namespace rk {
namespace {

using Result = test::CliResult;

Result Cli(const std::string& args) { return test::RunCli(args); }

TEST(CliVideo, AddListThumbnailAndReadBack) {
    test::TempDir dir;
    const std::string img = "'" + dir.File("c.img") + "'";
    ASSERT_EQ(Cli("create-image " + img + " --size 48M").status, 0);
    ASSERT_EQ(Cli("--yes format " + img + " --mode 0").status, 0);
    const std::string src = dir.File("My Clip.kavq1");
    ASSERT_TRUE(test::WriteSyntheticKAVQ1(src, 0, 4));

    // Without a terminal and without --yes the duration question is answered No.
    EXPECT_EQ(Cli("add-video " + img + " '" + src + "'").status, 1);
    EXPECT_EQ(Cli("videos " + img).out, "");
    EXPECT_EQ(Cli("add-video " + img + " '" + src + "' --yes").status, 0);
    EXPECT_EQ(Cli("add-video " + img + " '" + src + "' --yes --name Second --range limited --deinterlace off").status, 0);
    Result list = Cli("videos " + img);
    EXPECT_EQ(list.status, 0);
    EXPECT_EQ(list.out,
              "1\t0\tMy Clip\t0:00:00.04\t1646592\t1651\t4\n"
              "2\t1\tSecond\t0:00:00.04\t1646592\t1785\t4\n");

    EXPECT_EQ(Cli("read-video " + img + " 2 '" + dir.File("back.kavq1") + "'").status, 0);
    EXPECT_EQ(test::ReadFileBytes(dir.File("back.kavq1")), test::ReadFileBytes(src));
    EXPECT_EQ(Cli("thumbnail " + img + " 1 '" + dir.File("t.png") + "'").status, 0);
    auto png = test::ReadFileBytes(dir.File("t.png"));
    ASSERT_GT(png.size(), 24u);
    EXPECT_EQ(std::string(png.begin() + 1, png.begin() + 4), "PNG");
    EXPECT_EQ(png[19], 120);  // width, big-endian
    EXPECT_EQ(png[23], 67);   // height: the maker's rows, without the filler row

    // Failures and wrong usage.
    EXPECT_EQ(Cli("read-video " + img + " 3 '" + dir.File("x.kavq1") + "'").status, 1);
    EXPECT_EQ(Cli("thumbnail " + img + " 0 '" + dir.File("x.png") + "'").status, 1);
    EXPECT_EQ(Cli("add-video " + img + " '" + dir.File("missing.kavq1") + "' --yes").status, 1);
    EXPECT_EQ(Cli("videos '" + dir.File("none.img") + "'").status, 1);
    EXPECT_EQ(Cli("add-video " + img + " '" + src + "' --range half").status, 2);
    EXPECT_EQ(Cli("read-video " + img).status, 2);
}

}  // namespace
}  // namespace rk
