// Colours through every road onto a card and back, with the real tools and
// YUV Range "Limited": flat patches (the primaries and secondaries at 75 %
// and two skin tones) in a still, a title card, a logo and an effect frame,
// and in SD BT.601 and HD BT.709 sources of the same bars, each read back as
// the operator reads it and compared at the patch centres.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "effects/effect_format.h"
#include "media/frame_picture.h"
#include "media/media_fixture.h"
#include "media/thumbnail.h"
#include "support/cli_run.h"
#include "support/picture_files.h"

namespace rk {
namespace {

constexpr uint8_t kPatches[][3] = {{191, 191, 0}, {0, 191, 191}, {0, 191, 0},     {191, 0, 191},
                                   {191, 0, 0},   {0, 0, 191},   {194, 150, 130}, {115, 82, 68}};
constexpr int kPatchCount = 8;
// What the codec and the 4:2:0 chroma may take from a flat colour.
constexpr int kTolerance = 4;

// The patches side by side as upright stripes of a w x h picture.
std::vector<uint8_t> Patches(int w, int h) {
    std::vector<uint8_t> rgb(size_t(w) * h * 3);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            for (int c = 0; c < 3; ++c) rgb[(size_t(y) * w + x) * 3 + c] = kPatches[x * kPatchCount / w][c];
    return rgb;
}

// The frame in slot `index` of a file of slots behind a header of `skip`
// bytes, as RGB; empty when it does not decode.
std::vector<uint8_t> SlotPicture(const std::string& file, size_t skip, int clustersPerFrame, size_t index = 0) {
    const std::vector<uint8_t> bytes = test::ReadFileBytes(file);
    const size_t slot = size_t(clustersPerFrame) * kClusterSize;
    std::vector<uint8_t> rgb;
    int w = 0, h = 0;
    if (bytes.size() < skip + slot * (index + 1)) return {};
    if (!DecodeSlotToRGB(bytes.data() + skip + slot * index, clustersPerFrame, 1, rgb, w, h)) return {};
    return rgb;
}

// The patch centres of the stripes in columns x0..x0+w at line y of a
// 1920-wide RGB picture against the colours they were made of.
void ExpectPatches(const std::vector<uint8_t>& rgb, int x0, int w, int y) {
    ASSERT_EQ(rgb.size(), size_t(1920) * 1080 * 3);
    for (int i = 0; i < kPatchCount; ++i) {
        const int x = x0 + (2 * i + 1) * w / (2 * kPatchCount);
        const uint8_t* p = rgb.data() + (size_t(y) * 1920 + x) * 3;
        for (int c = 0; c < 3; ++c)
            EXPECT_NEAR(p[c], kPatches[i][c], kTolerance) << "patch " << i << " channel " << c << " at " << x << "," << y;
    }
}

class Colour : public ::testing::Test {
protected:
    void SetUp() override {
        if (!test::ToolsAvailable()) GTEST_SKIP() << "the tools are not beside the test programs";
        ASSERT_EQ(Cli("create-image " + img + " --size 64M"), 0);
        ASSERT_EQ(Cli("--yes format " + img + " --mode 0"), 0);
    }
    int Cli(const std::string& args) { return test::RunCli(args).status; }
    std::string Q(const std::string& name) { return "'" + dir.File(name) + "'"; }

    test::TempDir dir{"rk-colour"};
    std::string img = Q("card.img");
};

TEST_F(Colour, EveryPictureMadeFromRgbReadsBackInItsColours) {
    const std::vector<uint8_t> full = Patches(1920, 1080), quarter = Patches(960, 540);
    ASSERT_TRUE(WritePNG(dir.File("patches.png"), 1920, 1080, full.data()));
    ASSERT_TRUE(WritePNG(dir.File("logo.png"), 960, 540, quarter.data()));
    ASSERT_TRUE(WritePNG(dir.File("fx_1.png"), 1920, 1080, full.data()));
    ASSERT_TRUE(WritePNG(dir.File("fx_2.png"), 1920, 1080, full.data()));

    // A JPEG too: Y'CbCr in BT.601 at full range, whatever the card's range.
    ASSERT_TRUE(test::RunFfmpeg("-i " + Q("patches.png") + " -q:v 1 " + Q("patches.jpg")));
    ASSERT_EQ(Cli("add-still " + img + " " + Q("patches.png") + " --range limited"), 0);
    ASSERT_EQ(Cli("read-still " + img + " 1 " + Q("still.png")), 0);
    ASSERT_EQ(Cli("add-still " + img + " " + Q("patches.jpg") + " --range limited"), 0);
    ASSERT_EQ(Cli("read-still " + img + " 2 " + Q("jpeg.png")), 0);
    ASSERT_EQ(Cli("add-video " + img + " " + Q("patches.png") + " --range limited --yes"), 0);
    ASSERT_EQ(Cli("playlist " + img + " 1 add 1"), 0);
    ASSERT_EQ(Cli("title-card " + img + " 1 " + Q("title.png")), 0);
    ASSERT_EQ(Cli("add-logo " + img + " " + Q("logo.png") + " --range limited --yes"), 0);
    ASSERT_EQ(Cli("read-logo " + img + " 1 " + Q("logo.animlogo")), 0);
    ASSERT_EQ(Cli("add-effect " + img + " " + Q("fx_1.png") + " --type cut --yes"), 0);
    ASSERT_EQ(Cli("read-effect " + img + " 1 " + Q("fx.effect")), 0);

    struct Road {
        const char* what;
        std::function<std::vector<uint8_t>()> read;
        int patchesWidth;  // the stripes lie in columns 0.. of this width
        int line;          // a line the picture's own drawing leaves alone
    };
    const Road roads[] = {
        {"still", [&] { return test::ReadPictureRgb(dir.File("still.png"), 1920, 1080); }, 1920, 540},
        {"JPEG still", [&] { return test::ReadPictureRgb(dir.File("jpeg.png"), 1920, 1080); }, 1920, 540},
        {"title card", [&] { return test::ReadPictureRgb(dir.File("title.png"), 1920, 1080); }, 1920, 540},
        {"logo", [&] { return SlotPicture(dir.File("logo.animlogo"), 32, 33); }, 960, 270},
        {"effect", [&] { return SlotPicture(dir.File("fx.effect"), kEffectFileHeaderBytes, 33, 1); }, 1920, 540},
    };
    for (const Road& r : roads) {
        SCOPED_TRACE(r.what);
        ExpectPatches(r.read(), 0, r.patchesWidth, r.line);
    }
    EXPECT_EQ(Cli("check " + img + " --frames all"), 0);
}

TEST_F(Colour, Bt601AndBt709SourcesOfTheSameBarsImportAlike) {
    const std::vector<uint8_t> bars = Patches(1920, 1080);
    ASSERT_TRUE(WritePNG(dir.File("bars.png"), 1920, 1080, bars.data()));
    // Each source in its own matrix, as a camera or a deck would write it,
    // and tagged so; coded without loss.
    struct Source {
        const char* name;
        const char* size;
        const char* matrix;  // zimg's name
        const char* tag;     // ffmpeg's name
    };
    const Source sources[] = {{"sd601.mkv", "720:576", "170m", "smpte170m"}, {"hd709.mkv", "1920:1080", "709", "bt709"}};
    int video = 0;
    for (const Source& s : sources) {
        SCOPED_TRACE(s.name);
        ASSERT_TRUE(test::RunFfmpeg("-loop 1 -framerate 25 -i " + Q("bars.png") + " -frames:v 3 -vf zscale=" + s.size +
                                    ":filter=spline36:matrix=" + s.matrix + ":range=limited,format=yuv420p" +
                                    " -colorspace " + s.tag + " -color_primaries " + s.tag + " -color_trc " + s.tag +
                                    " -c:v ffv1 " + Q(s.name)));
        ASSERT_EQ(Cli("add-video " + img + " " + Q(s.name) + " --range limited --yes"), 0);
        const std::string back = std::string(s.name) + ".kavq1";
        ASSERT_EQ(Cli("read-video " + img + " " + std::to_string(++video) + " " + Q(back)), 0);
        ExpectPatches(SlotPicture(dir.File(back), 0, 33), 0, 1920, 540);
    }
    EXPECT_EQ(Cli("check " + img + " --frames all"), 0);
}

}  // namespace
}  // namespace rk
