// reelkeep-cli's card commands end to end, on real card images.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>

#include "card/allocator.h"
#include "card_fixture.h"
#include "support/cli_run.h"

namespace rk {
namespace {

using Result = test::CliResult;

Result Cli(const std::string& args, const std::string& env = "") { return test::RunCli(args, test::Stderr::kDrop, env); }

class CliCardTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (::access("./reelkeep-cli", X_OK) != 0) GTEST_SKIP() << "reelkeep-cli not built beside the tests";
    }
    test::TempDir dir;
};

TEST_F(CliCardTest, CreateFormatInfoAndReformat) {
    std::string img = dir.File("c.img");
    ASSERT_EQ(Cli("create-image " + img + " --size 8G").status, 0);
    struct stat st {};
    ASSERT_EQ(::stat(img.c_str(), &st), 0);
    EXPECT_EQ(uint64_t(st.st_size), 8ull << 30);
    EXPECT_LT(uint64_t(st.st_blocks) * 512, 1ull << 20);  // sparse
    EXPECT_EQ(Cli("create-image " + img + " --size 8G").status, 1);  // never over an existing file

    ASSERT_EQ(Cli("format " + img + " --mode 1 --yes").status, 0);
    Result info = Cli("info " + img);
    ASSERT_EQ(info.status, 0);
    EXPECT_NE(info.out.find("4K 2160p50, 8.1 GB of 8.1 GB available (100%)"), std::string::npos) << info.out;
    EXPECT_NE(info.out.find("item area: clusters 3187 "), std::string::npos) << info.out;
    // Formatting writes only Clusters 0 to 2.
    EXPECT_LT(uint64_t((::stat(img.c_str(), &st), st.st_blocks)) * 512, 1ull << 20);

    ASSERT_EQ(Cli("format " + img + " --mode 0 --yes").status, 0);
    info = Cli("info " + img + " --dump");
    EXPECT_NE(info.out.find("HD 1080p50, "), std::string::npos) << info.out;
    EXPECT_NE(info.out.find("item area: clusters 1651 "), std::string::npos) << info.out;
    EXPECT_NE(info.out.find("Video mode: 0\n"), std::string::npos) << info.out;
    EXPECT_NE(info.out.find("Logos:\n"), std::string::npos) << info.out;

    // Without --yes and with no terminal, the question answers No.
    EXPECT_EQ(Cli("format " + img + " --mode 3").status, 1);
    EXPECT_NE(Cli("info " + img).out.find("HD 1080p50"), std::string::npos);
}

TEST_F(CliCardTest, UsageAndFailures) {
    EXPECT_EQ(Cli("create-image " + dir.File("x.img") + " --size 12Q").status, 2);
    EXPECT_EQ(Cli("create-image " + dir.File("x.img") + " --size 512001M").status, 2);
    EXPECT_EQ(Cli("format " + dir.File("none.img") + " --mode 0 --yes").status, 1);
    EXPECT_EQ(Cli("format " + dir.File("none.img") + " --mode 9 --yes").status, 2);
    EXPECT_EQ(Cli("info").status, 2);
    ASSERT_EQ(Cli("create-image " + dir.File("blank.img") + " --size 64M").status, 0);
    Result r = Cli("info " + dir.File("blank.img"));
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.out.find("Not formatted"), std::string::npos) << r.out;
    EXPECT_EQ(Cli("defrag " + dir.File("blank.img") + " --yes").status, 1);
}

TEST_F(CliCardTest, ListAndDriveNumbers) {
    std::string env = "REELKEEP_CARD_DIR=" + dir.Path() + " REELKEEP_EXTRA_DEVICES=";
    Result r = Cli("list", env);
    EXPECT_EQ(r.status, 0);
    ASSERT_EQ(Cli("create-image " + dir.File("a.img") + " --size 1999M").status, 0);
    ASSERT_EQ(Cli("create-image " + dir.File("b.img") + " --size 64M").status, 0);
    r = Cli("list", env);
    EXPECT_NE(r.out.find(" a.img (1.9 GB)"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find(" b.img (64 MB)"), std::string::npos) << r.out;
    // The same numbers reach the other commands.
    int b = -1;
    for (int n = 1; n <= 9; ++n)
        if (r.out.find(std::to_string(n) + ":  b.img") != std::string::npos) b = n;
    ASSERT_GT(b, 0) << r.out;
    ASSERT_EQ(Cli("format " + std::to_string(b) + " --mode 2 --yes", env).status, 0);
    EXPECT_NE(Cli("info " + dir.File("b.img")).out.find("4K 2160p25"), std::string::npos);
    EXPECT_EQ(Cli("info 9", env).status, 1);
}

TEST_F(CliCardTest, DefragPacksAndKeepsBytes) {
    test::CardFixture fx(2000);
    fx.Place(kKindVideo, 0, 1651 + 100, 4);
    fx.Place(kKindEffect, 2, 1651 + 600, 2);
    fx.Place(kKindLogo, 1, 1651 + 1000, 1);
    fx.Commit();
    fx.card.Close();
    Result r = Cli("defrag " + fx.path + " --yes");
    ASSERT_EQ(r.status, 0) << r.out;
    CSDCard card;
    ASSERT_EQ(card.OpenPath(fx.path), kOpenOk);
    ASSERT_TRUE(card.ReadDirectory());
    EXPECT_EQ(card.Directory().Video(0).startCluster, 1651u);
    EXPECT_EQ(card.Directory().Effect(2).startCluster, 1651u + test::Len(4));
    EXPECT_EQ(card.Directory().Logo(1).startCluster, 1651u + test::Len(4) + test::Len(2));
    EXPECT_EQ(fx.DamagedItems(card.Directory()), 0);
}

}  // namespace
}  // namespace rk
