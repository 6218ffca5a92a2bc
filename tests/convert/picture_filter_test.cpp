// The picture decode's filter chain: which sources get the range expansion
// done by us, that it is the scaler's arithmetic for every value, and — with
// the real ffmpeg — that its pass-through chain plus our expansion gives
// exactly the pictures of the scaler's own conversion, byte for byte.
#include <gtest/gtest.h>

#include <sched.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <random>
#include <vector>

#include "convert/ini_parser.h"
#include "convert/media_fixture.h"
#include "convert/picture_filter.h"
#include "convert/rgb_to_frame.h"
#include "convert/tool_folder.h"

namespace rk {
namespace {

SourcePicture Pic(int w, int h, const char* format, const char* range) { return {w, h, format, range, false}; }

TEST(PictureFilterChoice, OnlyLimitedRange420AtTheCardsSizeIsExpandedByTable) {
    EXPECT_TRUE(ExpandsRangeByTable(1, false, Pic(1920, 1080, "yuv420p", "tv")));
    EXPECT_TRUE(ExpandsRangeByTable(1, false, Pic(1920, 1080, "yuv420p", "unknown")));
    EXPECT_TRUE(ExpandsRangeByTable(1, false, Pic(1920, 1080, "yuv420p", "")));
    EXPECT_TRUE(ExpandsRangeByTable(2, false, Pic(3840, 2160, "yuv420p", "tv")));

    EXPECT_FALSE(ExpandsRangeByTable(1, true, Pic(1920, 1080, "yuv420p", "tv")));      // limited wanted
    EXPECT_FALSE(ExpandsRangeByTable(1, false, Pic(1920, 1080, "yuv420p", "pc")));     // full already
    EXPECT_FALSE(ExpandsRangeByTable(1, false, Pic(1920, 1080, "yuvj420p", "pc")));
    EXPECT_FALSE(ExpandsRangeByTable(1, false, Pic(1920, 1080, "yuv422p", "tv")));     // other layout
    EXPECT_FALSE(ExpandsRangeByTable(1, false, Pic(1920, 1080, "yuv420p10le", "tv")));  // other depth
    EXPECT_FALSE(ExpandsRangeByTable(1, false, Pic(1280, 720, "yuv420p", "tv")));      // scaled
    EXPECT_FALSE(ExpandsRangeByTable(2, false, Pic(1920, 1080, "yuv420p", "tv")));
    EXPECT_FALSE(ExpandsRangeByTable(1, false, Pic(1920, 1088, "yuv420p", "tv")));
    SourcePicture turned = Pic(1920, 1080, "yuv420p", "tv");
    turned.displayMatrix = true;  // ffmpeg turns it first, then scales
    EXPECT_FALSE(ExpandsRangeByTable(1, false, turned));

    // Everything but the range step stays as it was; deinterlacing, of the
    // interlaced frames only, comes before the rate conversion.
    EXPECT_EQ(PictureFilter(1, 29, true, true, Pic(1920, 1080, "yuv420p", "tv")),
              "yadif=mode=send_field:deint=interlaced,fps=30000/1001,scale=1920:1080:in_range=tv:out_range=tv");
    EXPECT_EQ(PictureFilter(1, 50, true, false, Pic(1280, 720, "yuv420p", "tv")), "fps=50,scale=1920:1080:out_range=tv");
    EXPECT_EQ(ScalerPictureFilter(2, 0, false, false), "fps=50,scale=3840:2160:out_range=pc");
    // Expanded by us: the scaler is told the range the source has and asked
    // for it, so it hands the pictures on without a copy.
    EXPECT_EQ(PictureFilter(2, 50, false, true, Pic(3840, 2160, "yuv420p", "tv")),
              "yadif=mode=send_field:deint=interlaced,fps=50,scale=3840:2160:in_range=tv:out_range=tv");
}

// Which sources are converted to BT.709 on their way to the card: RGB of
// every layout, BT.601 by its tags, untagged Y'CbCr by its size; BT.709 and
// matrices without a conversion keep the scaler's chain, table and all.
TEST(PictureRoads, ByLayoutThenTagThenSize) {
    struct Row {
        int w, h;
        const char* format;
        const char* space;
        PictureRoad road;
    };
    const PictureRoad rgb = PictureRoad::kFromRgb, sd = PictureRoad::kFromBt601, as = PictureRoad::kPassThrough;
    const Row rows[] = {
        {1920, 1080, "rgb24", "", rgb},        {960, 540, "rgba", "", rgb},       {64, 64, "pal8", "unknown", rgb},
        {64, 64, "gray", "", rgb},             {64, 64, "ya8", "", rgb},          {64, 64, "rgb48le", "", rgb},
        {64, 64, "bgr24", "", rgb},            {3840, 2160, "gbrp10le", "gbr", rgb},
        {720, 576, "yuv420p", "smpte170m", sd}, {1920, 1080, "yuv422p10le", "bt470bg", sd},
        {640, 480, "yuvj420p", "bt470bg", sd}, {720, 576, "yuv420p", "", sd},    {720, 480, "yuv420p", "unknown", sd},
        {1024, 576, "yuv420p", "", sd},        {1920, 1080, "yuvj422p", "", sd},  {1280, 720, "yuv420p", "", as},    {1920, 1080, "yuv420p", "unknown", as},
        {720, 576, "yuv420p", "bt709", as},    {3840, 2160, "yuv420p10le", "bt2020nc", as},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(std::string(r.format) + " " + r.space + " " + std::to_string(r.w));
        SourcePicture pic = Pic(r.w, r.h, r.format, "tv");
        pic.colorSpace = r.space;
        EXPECT_EQ(RoadOf(pic), r.road);
        const std::string filter = PictureFilter(1, 50, false, false, pic);
        EXPECT_EQ(filter.find("zscale") != std::string::npos, r.road != as) << filter;
        if (r.road == as && r.w == 1920 && r.h == 1080 && std::string(r.format) == "yuv420p") {
            EXPECT_TRUE(ExpandsRangeByTable(1, false, pic));
        }
        if (r.road != as) {
            EXPECT_FALSE(ExpandsRangeByTable(1, false, pic));
        }
    }
    // BT.709 at the card's size passes through exactly as an untagged one.
    SourcePicture hd = Pic(1920, 1080, "yuv420p", "tv");
    hd.colorSpace = "bt709";
    EXPECT_EQ(PictureFilter(1, 50, false, false, hd), "fps=50,scale=1920:1080:in_range=tv:out_range=tv");
    EXPECT_EQ(PictureFilter(1, 50, true, true, hd),
              "yadif=mode=send_field:deint=interlaced,fps=50,scale=1920:1080:in_range=tv:out_range=tv");
}

// The vector expansion against the scaler's arithmetic: every value, at every
// place of a 16-sample vector and in the tail behind the last whole vector.
TEST(FullRangeExpansion, EqualsTheScalersArithmeticForEveryValue) {
    EXPECT_EQ(FullRangeSample(16, false), 0);
    EXPECT_EQ(FullRangeSample(235, false), 255);
    EXPECT_EQ(FullRangeSample(128, false), 130);
    EXPECT_EQ(FullRangeSample(128, true), 128);  // neutral chroma stays neutral
    EXPECT_EQ(FullRangeSample(240, true), 255);
    EXPECT_EQ(FullRangeSample(0, true), 0);
    // Every vector width this processor has, over lengths that leave a
    // tail after each width's last whole vector.
    for (int v = 0; v <= int(ActiveKernels().variant); ++v) {
        const auto variant = TransformVariant(v);
        for (bool chroma : {false, true}) {
            for (size_t length : {size_t(256), size_t(64 * 5 + 37), size_t(16 * 17 + 5), size_t(3)}) {
                for (size_t offset = 0; offset < 17; ++offset) {
                    std::vector<uint8_t> plane(length), want(length);
                    for (size_t i = 0; i < length; ++i) {
                        plane[i] = uint8_t(i * 7 + offset * 16);
                        want[i] = FullRangeSample(plane[i], chroma);
                    }
                    ExpandToFullRange(plane.data(), length, chroma, variant);
                    ASSERT_EQ(plane, want) << TransformVariantName(variant) << " chroma " << chroma << " length "
                                           << length << " offset " << offset;
                }
            }
        }
    }
}

class PictureFilterFfmpeg : public ::testing::Test {
protected:
    void SetUp() override { SetProgramFolder(""); }

    // ffmpeg's raw yuv420p output of `input` (with `inputOptions` before it)
    // through `filter` at `rate`.
    std::string Run(const std::string& inputOptions, const std::string& input, const std::string& filter,
                    const char* rate) {
        const std::string out = dir.File("out-" + std::to_string(runs++) + ".yuv");
        const std::string tmpl = "-v error -nostdin " + inputOptions +
                                 " -i \"%s\" -vf \"%s\" -an -pix_fmt yuv420p -r %s -f rawvideo -y \"%s\"";
        EXPECT_TRUE(test::RunTool("ffmpeg", tmpl.c_str(), {input, filter, rate, out})) << filter;
        std::string bytes;
        test::ReadFile(out, bytes);
        std::remove(out.c_str());
        return bytes;
    }

    // The import's chain with our expansion of every picture, and the
    // scaler's own conversion, on the same input must agree byte for byte.
    void ExpectSamePictures(const std::string& inputOptions, const std::string& input, int sizeClass,
                            const SourcePicture& pic, bool deinterlace, size_t frameBytes) {
        ASSERT_TRUE(ExpandsRangeByTable(sizeClass, false, pic));
        // Raw frames carry no field marks: mark them interlaced, so that
        // the deinterlacer really works on them.
        const std::string marked = deinterlace ? "setfield=tff," : "";
        std::string table =
            Run(inputOptions, input, marked + PictureFilter(sizeClass, 50, false, deinterlace, pic), "50");
        const std::string scaler =
            Run(inputOptions, input, marked + ScalerPictureFilter(sizeClass, 50, false, deinterlace), "50");
        ASSERT_FALSE(scaler.empty());
        ASSERT_EQ(scaler.size() % frameBytes, 0u);
        ASSERT_EQ(table.size() % frameBytes, 0u);
        const size_t luma = frameBytes * 2 / 3;
        for (size_t at = 0; at < table.size(); at += frameBytes) {
            auto* frame = reinterpret_cast<uint8_t*>(table.data() + at);
            ExpandToFullRange(frame, luma, false);
            ExpandToFullRange(frame + luma, frameBytes - luma, true);
        }
        EXPECT_EQ(table.size(), scaler.size());
        size_t differ = 0;
        for (size_t i = 0; i < std::min(table.size(), scaler.size()); ++i) differ += table[i] != scaler[i];
        EXPECT_EQ(differ, 0u) << "deinterlace " << deinterlace;
        // Kept in limited range, the pictures the scaler hands on untouched
        // are those its own copy gives, samples outside the range included.
        EXPECT_EQ(Run(inputOptions, input, marked + PictureFilter(sizeClass, 50, true, deinterlace, pic), "50"),
                  Run(inputOptions, input, marked + ScalerPictureFilter(sizeClass, 50, true, deinterlace), "50"))
            << "limited range, deinterlace " << deinterlace;
    }

    // Frames of noise: every sample value occurs in every plane, including
    // those outside limited range that the expansion clips.
    std::string NoiseFile(int width, int height, int frames) {
        const std::string path = dir.File("noise-" + std::to_string(width) + ".yuv");
        std::mt19937 rng(width + frames);
        std::string bytes(static_cast<size_t>(width) * height * 3 / 2 * frames, '\0');
        for (char& b : bytes) b = static_cast<char>(rng() & 0xFF);
        test::WriteFile(path, bytes);
        return path;
    }

    // What the import's picture probe reads of `file`, through the same
    // command line and parser.
    SourcePicture Probe(const std::string& file) {
        std::string text;
        EXPECT_TRUE(test::RunTool("ffprobe",
                                  "-v quiet -show_entries format=duration -show_streams \"%s\"", {file}, &text));
        const std::string capture = dir.File("probe-" + std::to_string(runs++) + ".txt");
        test::WriteFile(capture, text);
        CINIParser parser(capture);
        EXPECT_TRUE(parser.SelectBlock("STREAM", "codec_type", "video"));
        return ReadSourcePicture(parser);
    }

    test::TempDir dir;
    int runs = 0;
};

TEST_F(PictureFilterFfmpeg, TableGivesTheScalersPicturesForEverySampleValue) {
    const size_t hd = 1920 * 1080 * 3 / 2;
    const std::string noise = NoiseFile(1920, 1080, 3);
    for (const char* range : {"tv", "unknown"}) {
        const std::string opts = std::string("-f rawvideo -pix_fmt yuv420p -s 1920x1080 -framerate 50") +
                                 (std::string(range) == "tv" ? " -color_range tv" : "");
        for (bool deinterlace : {false, true})
            ExpectSamePictures(opts, noise, 1, Pic(1920, 1080, "yuv420p", range), deinterlace, hd);
    }
    const std::string uhd = NoiseFile(3840, 2160, 1);
    ExpectSamePictures("-f rawvideo -pix_fmt yuv420p -s 3840x2160 -framerate 50", uhd, 2,
                       Pic(3840, 2160, "yuv420p", "tv"), false, hd * 4);
}

TEST_F(PictureFilterFfmpeg, H264SourceAsProbedTakesTheTableAndGivesTheSamePictures) {
    const std::string src = dir.File("hd.mp4");
    ASSERT_TRUE(test::MakeMedia("-f lavfi -i testsrc2=size=1920x1080:rate=25 -t 0.2 -c:v libx264 -preset ultrafast "
                                "-pix_fmt yuv420p -y \"%s\"",
                                {src}));
    const SourcePicture pic = Probe(src);
    EXPECT_EQ(pic.pixelFormat, "yuv420p");
    EXPECT_FALSE(pic.displayMatrix);
    ExpectSamePictures("", src, 1, pic, true, 1920 * 1080 * 3 / 2);

    // The same stream marked for turning by a quarter (as phones record):
    // ffmpeg turns it to 1080x1920 before our chain, so the scaler keeps
    // the range step inside its resizing.
    const std::string turned = dir.File("turned.mp4");
    ASSERT_TRUE(test::MakeMedia("-i \"%s\" -c copy -metadata:s:v:0 rotate=90 -y \"%s\"", {src, turned}));
    const SourcePicture tpic = Probe(turned);
    EXPECT_EQ(tpic.width, 1920);
    EXPECT_TRUE(tpic.displayMatrix);
    EXPECT_FALSE(ExpandsRangeByTable(1, false, tpic));
    EXPECT_EQ(PictureFilter(1, 50, false, false, tpic), ScalerPictureFilter(1, 50, false, false));
}

// Our conversion of a frame-sized RGBA picture (the title card's) against
// the picture process's chain for it, byte for byte: noise (every colour's
// rounding, and the chroma filter across the tool's slice edges), both
// ranges, both sizes, and with this process (so the tool too) held to one
// processor, where the tool cuts no slices.
TEST_F(PictureFilterFfmpeg, OwnRgbaConversionGivesTheToolChainsPictures) {
    struct Case {
        int sizeClass;
        bool limited;
        bool oneProcessor;
    };
    for (const Case c : {Case{1, true, false}, Case{1, false, false}, Case{1, true, true}, Case{2, true, false}}) {
        const int w = c.sizeClass == 1 ? 1920 : 3840, h = c.sizeClass == 1 ? 1080 : 2160;
        SCOPED_TRACE(std::to_string(h) + (c.limited ? " limited" : " full") + (c.oneProcessor ? " one cpu" : ""));
        cpu_set_t all, one;
        ASSERT_EQ(sched_getaffinity(0, sizeof all, &all), 0);
        if (c.oneProcessor) {
            CPU_ZERO(&one);
            for (int i = 0; i < CPU_SETSIZE; ++i)
                if (CPU_ISSET(i, &all)) {
                    CPU_SET(i, &one);
                    break;
                }
            ASSERT_EQ(sched_setaffinity(0, sizeof one, &one), 0);
            EXPECT_EQ(ToolZimgSlices(h), 1);
        }
        std::mt19937 rng(static_cast<unsigned>(w + c.limited));
        std::string rgba(size_t(w) * h * 4, '\0');
        for (size_t i = 0; i < rgba.size(); i += 4) {
            const uint32_t r = rng();
            std::memcpy(&rgba[i], &r, 4);
        }
        const std::string input = dir.File("picture.rgba");
        test::WriteFile(input, rgba);
        const std::string tool = Run("-f rawvideo -pix_fmt rgba -s " + std::to_string(w) + "x" + std::to_string(h) +
                                         " -framerate 50",
                                     input, PictureFilter(c.sizeClass, 50, c.limited, false, Pic(w, h, "rgba", "")),
                                     "50");
        const size_t luma = size_t(w) * h, frame = luma * 3 / 2;
        std::unique_ptr<uint8_t, void (*)(void*)> planes(static_cast<uint8_t*>(std::aligned_alloc(64, frame)),
                                                         std::free);
        ASSERT_TRUE(RgbaToFramePlanes(reinterpret_cast<const uint8_t*>(rgba.data()), w, h, c.limited, planes.get(),
                                      planes.get() + luma, planes.get() + luma + luma / 4));
        if (c.oneProcessor) {
            ASSERT_EQ(sched_setaffinity(0, sizeof all, &all), 0);
        }
        ASSERT_EQ(tool.size(), frame);
        size_t differ = 0;
        for (size_t i = 0; i < frame; ++i) differ += uint8_t(tool[i]) != planes.get()[i];
        EXPECT_EQ(differ, 0u);
    }
}

TEST(OwnRgbaConversion, RefusesWhatItCannotDoLikeTheTool) {
    std::vector<uint8_t> rgba(size_t(1920) * 1080 * 4);
    std::unique_ptr<uint8_t, void (*)(void*)> planes(static_cast<uint8_t*>(std::aligned_alloc(64, 1920 * 1088 * 2)),
                                                     std::free);
    uint8_t* y = planes.get();
    std::string why;
    EXPECT_FALSE(RgbaToFramePlanes(rgba.data(), 1000, 1080, true, y, y + 1920 * 1088, y + 1920 * 1360, &why));
    EXPECT_FALSE(why.empty());
    EXPECT_FALSE(RgbaToFramePlanes(rgba.data(), 1920, 1080, true, y + 1, y + 1920 * 1088, y + 1920 * 1360));
    EXPECT_TRUE(RgbaToFramePlanes(rgba.data(), 1920, 1080, true, y, y + 1920 * 1088, y + 1920 * 1360));
    EXPECT_GE(ToolZimgSlices(64), 1);
    EXPECT_EQ(ToolZimgSlices(100), 1);  // at most one slice per 64 lines
}

TEST(OwnRgbaConversion, KeptConverterAndAlphaPassGiveWhatTheOneCallGives) {
    // Two unlike pictures through one kept converter, filled with the alpha
    // pass from an odd first pixel on (the vector body and its tail), each
    // against a conversion of its own.
    constexpr int w = 256, h = 192;
    constexpr size_t n = size_t(w) * h;
    std::unique_ptr<uint8_t, void (*)(void*)> mem(static_cast<uint8_t*>(std::aligned_alloc(64, 3 * n)), std::free);
    uint8_t* y = mem.get();
    uint8_t* cb = y + n;
    uint8_t* cr = cb + n / 4;
    uint8_t* want = cr + n / 4;
    CRgbPlanes rgb;
    ASSERT_TRUE(rgb.Create(w, h));
    CRgbFrameConverter kept;
    ASSERT_TRUE(kept.Prepare(w, h, true));
    std::mt19937 rng(7);
    std::vector<uint8_t> rgba(n * 4), alpha(n, 0);
    for (int picture = 0; picture < 2; ++picture) {
        for (uint8_t& v : rgba) v = uint8_t(rng());
        const size_t first = 5;
        rgb.PutRgba(rgba.data(), 0, first);
        rgb.PutRgba(rgba.data() + 4 * first, first, n - first, alpha.data());
        for (size_t i = 0; i + first < n; ++i) ASSERT_EQ(alpha[i], rgba[4 * (i + first) + 3]) << i;
        ASSERT_TRUE(kept.Convert(rgb, y, cb, cr));
        ASSERT_TRUE(RgbaToFramePlanes(rgba.data(), w, h, true, want, want + n, want + n + n / 4));
        EXPECT_EQ(std::memcmp(y, want, n * 3 / 2), 0);
    }
    CRgbPlanes other;
    ASSERT_TRUE(other.Create(w, h + 2));
    EXPECT_FALSE(kept.Convert(other, y, cb, cr));
}

// The top slices' left columns (as logos convert them) against the whole
// frame's conversion of a frame with colour in its top-left quarter, grey
// beside it and black below: the same samples wherever written, and nothing
// written past the band's columns and lines; on the tool's slices and, held
// to one processor, on one slice.
TEST(OwnRgbaConversion, TopSlicesOfTheLeftColumnsAreTheWholeFramesWhereTheRestIsBlack) {
    constexpr int w = 1920, h = 1080, band = 1024, rows = 560;
    constexpr size_t n = size_t(w) * h;
    std::unique_ptr<uint8_t, void (*)(void*)> mem(static_cast<uint8_t*>(std::aligned_alloc(64, 3 * n)), std::free);
    uint8_t* want = mem.get();
    uint8_t* got = want + n * 3 / 2;
    std::mt19937 rng(11);
    std::vector<uint8_t> rgba(n * 4, 0);
    for (size_t r = 0; r < 540; ++r)
        for (size_t x = 0; x < size_t(w); ++x) {
            uint8_t* p = &rgba[(r * w + x) * 4];
            const uint32_t v = rng();
            if (x < 960) std::memcpy(p, &v, 4);
            else std::memset(p, int(v & 255), 4);
        }
    CRgbPlanes whole, left;
    ASSERT_TRUE(whole.Create(w, h) && left.Create(band, h));
    whole.PutRgba(rgba.data(), 0, n);
    for (size_t r = 0; r < size_t(h); ++r) left.PutRgba(&rgba[r * w * 4], r * band, band);
    cpu_set_t all, one;
    ASSERT_EQ(sched_getaffinity(0, sizeof all, &all), 0);
    CPU_ZERO(&one);
    for (int i = 0; i < CPU_SETSIZE && !CPU_COUNT(&one); ++i)
        if (CPU_ISSET(i, &all)) CPU_SET(i, &one);
    for (const bool limited : {false, true})
        for (const bool oneProcessor : {false, true}) {
            SCOPED_TRACE(std::string(limited ? "limited" : "full") + (oneProcessor ? ", one processor" : ""));
            if (oneProcessor) {
                ASSERT_EQ(sched_setaffinity(0, sizeof one, &one), 0);
            }
            CRgbFrameConverter full, top;
            const bool prepared = full.Prepare(w, h, limited) && top.PrepareTop(band, h, rows, limited);
            ASSERT_EQ(sched_setaffinity(0, sizeof all, &all), 0);
            ASSERT_TRUE(prepared);
            const int lines = top.ConvertedLines();
            EXPECT_GE(lines, rows);
            EXPECT_LT(lines, oneProcessor ? rows + 2 : h);
            std::memset(got, 0xEE, n * 3 / 2);
            ASSERT_TRUE(full.Convert(whole, want, want + n, want + n * 5 / 4));
            ASSERT_TRUE(top.Convert(left, got, w, got + n, got + n * 5 / 4, w / 2));
            size_t differ = 0, outside = 0;
            for (int p = 0; p < 3; ++p) {
                const size_t pw = p ? w / 2 : w, ph = p ? h / 2 : h, base = p ? n + size_t(p - 1) * n / 4 : 0;
                for (size_t r = 0; r < ph; ++r)
                    for (size_t x = 0; x < pw; ++x) {
                        const size_t i = base + r * pw + x;
                        if (x < (p ? band / 2 : band) && r < size_t(p ? lines / 2 : lines)) differ += got[i] != want[i];
                        else outside += got[i] != 0xEE;
                    }
            }
            EXPECT_EQ(differ, 0u);
            EXPECT_EQ(outside, 0u);
        }
}

}  // namespace
}  // namespace rk
