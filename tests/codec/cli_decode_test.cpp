// reelkeep-cli decode on real KAVQ1 files made by the encoder.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "codec/kavq1_slot.h"
#include "codec/kvq1_decoder.h"
#include "codec/kvq1_encoder.h"
#include "codec_test_util.h"
#include "support/cli_run.h"
#include "support/test_files.h"

using namespace rk;
using namespace rk::test;

namespace {

using CliRun = test::CliResult;

CliRun Cli(const std::string& args) { return test::RunCli(args, test::Stderr::kApart); }

class CliDecode : public ::testing::Test {
protected:
    void SetUp() override {
        if (::access("./reelkeep-cli", X_OK) != 0) GTEST_SKIP() << "reelkeep-cli not built";
        std::string why;
        if (!LoadPhoto("adwaita-l", 1, a, &why) || !LoadPhoto("wood-l", 1, b, &why)) GTEST_SKIP() << why;
        dir = TestDataDir() + "/cli-" + std::to_string(::getpid());
        ::mkdir(dir.c_str(), 0755);
        // Frames: a, b, a; then a trailing partial slot that is not a frame.
        const SlotGeometry sg = SlotGeometryFor(1);
        KVQ1Encoder enc(1, sg.budgetSectors, 25);
        file.assign(size_t(sg.slotBytes) * 3 + 1000, 0);
        const Planes* pics[3] = {&a, &b, &a};
        for (int i = 0; i < 3; ++i) {
            uint8_t* slot = &file[size_t(i) * sg.slotBytes];
            FillAudioChunk(slot, uint32_t(i), 25, nullptr, 0);
            ASSERT_GT(enc.Encode(uint32_t(i), pics[i]->y.data(), pics[i]->cb.data(), pics[i]->cr.data(),
                                 slot + kClusterBytes),
                      0);
        }
        path = dir + "/in.kavq1";
        std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(file.data()), std::streamsize(file.size()));
    }
    void TearDown() override {
        if (!dir.empty()) std::system(("rm -rf '" + dir + "'").c_str());
    }

    // What the decoder gives for frame i, without the filler lines.
    std::vector<uint8_t> Expected(int i) {
        Planes p = MakePlanes(1, 0, 128);
        KVQ1Decoder d;
        EXPECT_TRUE(d.Decode(&file[size_t(i) * 405504 + kClusterBytes], 393216, p.y.data(), p.cb.data(), p.cr.data()));
        std::vector<uint8_t> v(p.y.begin(), p.y.begin() + 1920 * 1080);
        v.insert(v.end(), p.cb.begin(), p.cb.begin() + 960 * 540);
        v.insert(v.end(), p.cr.begin(), p.cr.begin() + 960 * 540);
        return v;
    }

    Planes a, b;
    std::string dir, path;
    std::vector<uint8_t> file;
};

}  // namespace

TEST_F(CliDecode, DecodesEveryWholeFrame) {
    const CliRun r = Cli("decode '" + path + "' '" + dir + "/out.yuv'");
    EXPECT_EQ(r.status, 0) << r.err;
    const auto out = test::ReadFileBytes(dir + "/out.yuv");
    const size_t frame = 1920 * 1080 * 3 / 2;
    ASSERT_EQ(out.size(), 3 * frame);
    const auto e1 = Expected(1);
    EXPECT_TRUE(std::equal(e1.begin(), e1.end(), out.begin() + frame));
}

TEST_F(CliDecode, FirstAndCount) {
    const CliRun r = Cli("decode '" + path + "' '" + dir + "/two.yuv' --first 1 --count 1");
    EXPECT_EQ(r.status, 0) << r.err;
    const auto out = test::ReadFileBytes(dir + "/two.yuv");
    EXPECT_EQ(out, Expected(1));
    EXPECT_EQ(Cli("decode '" + path + "' '" + dir + "/x.yuv' --first 3").status, 1);
    EXPECT_EQ(Cli("decode '" + path + "' '" + dir + "/x.yuv' --count -2").status, 2);
    EXPECT_EQ(Cli("decode '" + path + "'").status, 2);
}

TEST_F(CliDecode, DamagedFrameIsReportedByNumber) {
    auto damaged = file;
    // Frame 2: a slice number that does not match its row.
    uint8_t* frame = &damaged[2 * 405504 + kClusterBytes];
    frame[32] = 9;
    const std::string bad = dir + "/bad.kavq1";
    std::ofstream(bad, std::ios::binary).write(reinterpret_cast<const char*>(damaged.data()), std::streamsize(damaged.size()));
    const CliRun r = Cli("decode '" + bad + "' '" + dir + "/bad.yuv'");
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("frame 2"), std::string::npos) << r.err;
}

TEST_F(CliDecode, RefusesWhatIsNotKavq1) {
    const std::string junk = dir + "/junk.kavq1";
    std::ofstream(junk) << "not a video";
    EXPECT_EQ(Cli("decode '" + junk + "' '" + dir + "/j.yuv'").status, 1);
    EXPECT_EQ(Cli("decode '" + dir + "/missing.kavq1' '" + dir + "/j.yuv'").status, 1);
}
