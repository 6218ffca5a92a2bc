// The import encoder end to end, with the real ffprobe and ffmpeg on sources
// made here: frame counts, audio chunks frame by frame, sound arriving in the
// right frames, picture quality against ffmpeg's own decode, and hostile
// sources and tools that fail, stall or die.
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <cstring>
#include <memory>

#include "codec/kavq1_slot.h"
#include "codec/kvq1_decoder.h"
#include "codec/kvq1_encoder.h"
#include "convert/kavq1_file_encoder.h"
#include "convert/media_fixture.h"
#include "convert/picture_filter.h"
#include "convert/tool_folder.h"

namespace rk {
namespace {

using test::DecodedSlot;
using test::DecodeSlot;

constexpr int kClass1Sectors = 768;

class EncoderTest : public ::testing::Test {
protected:
    // The sources are made once per build (in the test data folder) and
    // shared by every test process; each is written under a private name
    // first, so parallel tests never see half a file.
    static bool Ensure(const std::string& name, const std::string& argTemplate) {
        const std::string path = srcDir + "/" + name;
        if (test::FileExists(path)) return true;
        size_t dot = name.rfind('.');
        std::string ext = name.substr(dot);
        for (char& c : ext) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        const std::string part = srcDir + "/part-" + std::to_string(getpid()) + "-" + name.substr(0, dot) + ext;
        if (!test::MakeMedia(argTemplate + " -y \"%s\"", {part})) return false;
        return rename(part.c_str(), path.c_str()) == 0;
    }

    static void SetUpTestSuite() {
        SetProgramFolder("");
        const char* data = std::getenv("RK_TEST_DATA");
        if (data && *data) {
            srcDir = std::string(data) + "/convert";
            std::filesystem::create_directories(srcDir);
        } else {
            dir = new test::TempDir;
            srcDir = dir->Path();
        }
        ok = Ensure("tone.mp4",  // 0.4 s, 25 fps pictures and a 1 kHz tone at 44.1 kHz in AAC
                    "-f lavfi -i testsrc2=size=320x240:rate=25 -f lavfi -i sine=frequency=1000:sample_rate=44100 "
                    "-t 0.4 -c:v libx264 -preset ultrafast -pix_fmt yuv420p -c:a aac") &&
             // 0.6 s with a step from silence to a constant at 0.3 s, lossless sound.
             Ensure("step.mkv",
                    "-f lavfi -i testsrc=size=320x240:rate=25 -f lavfi "
                    "-i aevalsrc=exprs='if(gte(t,0.3),0.5,0)|if(gte(t,0.3),-0.25,0)':s=48000 "
                    "-t 0.6 -c:v mpeg4 -q:v 2 -c:a pcm_s16le") &&
             Ensure("silent.mov", "-f lavfi -i testsrc2=size=320x240:rate=25 -t 0.2 -c:v mpeg4 -q:v 2") &&
             // A still under an upper-case extension.
             Ensure("still.PNG", "-f lavfi -i testsrc2=size=320x240:rate=1 -frames:v 1") &&
             Ensure("ntsc.mov",
                    "-f lavfi -i testsrc=size=64x48:rate=25 -f lavfi -i sine=frequency=500:sample_rate=48000 "
                    "-t 10 -c:v mpeg4 -c:a pcm_s16le") &&
             Ensure("interlaced.mpg",
                    "-f lavfi -i testsrc2=size=320x240:rate=25 -t 0.2 -c:v mpeg2video -q:v 2 -flags +ilme+ildct -top 1") &&
             Ensure("blip.mp4", "-f lavfi -i testsrc2=size=320x240:rate=25 -t 0.01 -c:v mpeg4") &&
             // 50 progressive pictures a second woven into 25 interlaced
             // frames, either field first, marked as such in the stream.
             Ensure("woven-tff.mpg", "-f lavfi -i testsrc2=size=320x240:rate=50 -t 0.2 -vf interlace=scan=tff "
                                     "-c:v mpeg2video -q:v 2 -flags +ilme+ildct -top 1") &&
             Ensure("woven-bff.mpg", "-f lavfi -i testsrc2=size=320x240:rate=50 -t 0.2 -vf interlace=scan=bff "
                                     "-c:v mpeg2video -q:v 2 -flags +ilme+ildct -top 0") &&
             Ensure("progressive.mp4",
                    "-f lavfi -i testsrc2=size=320x240:rate=50 -t 0.12 -c:v libx264 -preset ultrafast -pix_fmt yuv420p") &&
             // At the card's size, limited range: in BT.709, the source the
             // picture decode is started for before the probe; in BT.601, one
             // it is then replaced for.
             Ensure("hd709.mp4", "-f lavfi -i testsrc2=size=1920x1080:rate=25 -t 0.2 -c:v libx264 -preset ultrafast "
                                 "-pix_fmt yuv420p -colorspace bt709 -color_primaries bt709 -color_trc bt709") &&
             Ensure("hd601.mp4", "-f lavfi -i testsrc2=size=1920x1080:rate=25 -t 0.2 -c:v libx264 -preset ultrafast "
                                 "-pix_fmt yuv420p -colorspace bt470bg -color_primaries bt470bg -color_trc bt709");
    }
    static void TearDownTestSuite() {
        delete dir;
        dir = nullptr;
    }
    void SetUp() override {
        ASSERT_TRUE(ok) << "ffmpeg could not make the test sources";
        SetProgramFolder("");
    }
    void TearDown() override { SetProgramFolder(""); }

    static std::string Src(const std::string& name) { return srcDir + "/" + name; }

    // ffmpeg's own decode of a source at 1920x1080 in full range; with
    // `deinterlace`, its own deinterlacing to one picture per field (every
    // frame, at the field rate), which is the rate the tests ask for. The
    // sources are SD without a marked matrix, so BT.601 brought to BT.709.
    std::string Reference(const std::string& source, const char* rate, bool deinterlace) {
        std::string out = work.File(deinterlace ? "ref.di.yuv" : "ref.yuv");
        test::MakeMedia(std::string("-i \"%s\" -vf \"") + (deinterlace ? "yadif=1," : "") + "fps=%s," +
                            Bt601ToFrameSteps(1920, 1080, false) +
                            "\" -an -pix_fmt yuv420p -r %s -f rawvideo -y \"%s\"",
                        {source, rate, rate, out});
        return out;
    }

    // Takes up to `limit` slots; the decoded slots in order.
    static std::vector<DecodedSlot> Take(KAVQ1FileEncoder& enc, int limit) {
        std::vector<DecodedSlot> slots;
        std::vector<uint8_t> slot(static_cast<size_t>(enc.SlotBytes()));
        for (int i = 0; i < limit; ++i) {
            std::fill(slot.begin(), slot.end(), 0);
            if (!enc.GetNextFrame(slot.data())) break;
            slots.push_back(DecodeSlot(slot.data(), slot.size()));
        }
        return slots;
    }

    test::TempDir work;
    static test::TempDir* dir;
    static std::string srcDir;
    static bool ok;
};

test::TempDir* EncoderTest::dir = nullptr;
std::string EncoderTest::srcDir;
bool EncoderTest::ok = false;

TEST_F(EncoderTest, Mp4WithSoundGivesNumberedFramesToneAndFaithfulPictures) {
    KAVQ1FileEncoder enc(Src("tone.mp4"), 1, kClass1Sectors, 50, false, false);
    ASSERT_TRUE(enc.IsOpened());
    EXPECT_EQ(enc.FrameCount(), 20);  // 0.4 s at 50 frames per second
    EXPECT_TRUE(enc.HasAudio());
    EXPECT_EQ(enc.SlotBytes(), 33 * 12288);
    const std::string ref = Reference(Src("tone.mp4"), "50", false);
    auto slots = Take(enc, enc.FrameCount());
    ASSERT_EQ(slots.size(), 20u);
    for (size_t i = 0; i < slots.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_TRUE(slots[i].ok);
        EXPECT_EQ(slots[i].videoFrameNumber, i);
        EXPECT_EQ(slots[i].audioFrameNumber, i);
        EXPECT_EQ(slots[i].chunkLengthWords, 1448);
        EXPECT_EQ(slots[i].audio.size(), 5760u);
        if (i % 5 == 0) {
            EXPECT_GT(test::LumaPsnr(slots[i].luma, ref, static_cast<int>(i), 1920, 1080), 40.0);
        }
    }
    // A 1 kHz tone crosses zero twice per millisecond: 40 times in 20 ms.
    int crossings = 0;
    const auto& a = slots[10].audio;
    for (size_t s = 1; s < 960; ++s)
        if ((test::Sample24(a, s - 1, 0) < 0) != (test::Sample24(a, s, 0) < 0)) ++crossings;
    EXPECT_GE(crossings, 38);
    EXPECT_LE(crossings, 42);
}

// The transport moves pictures and never changes them: every slot's frame is
// what the encoder makes of the tool's own pictures, written to a file by
// the same chain, coded in the workers' order (frame i by worker i modulo
// their number, each carrying its predictors on). Whatever the pipe's
// capacity, the reads' sizes, the number of workers or of decoding threads
// (one for one or two cores, two for four), against the tool's own default;
// and whether the picture decode started beside the probe was kept (a
// source of the card's size in BT.709) or replaced (one in BT.601, whose
// first decode has filled the pipe with pictures that must not come out).
TEST_F(EncoderTest, SlotsAreTheEncodersFramesOfTheToolsOwnPictures) {
    const std::pair<const char*, int> runs[] = {{"tone.mp4", 1}, {"tone.mp4", 0}, {"tone.mp4", 4},
                                                {"hd709.mp4", 0}, {"hd601.mp4", 0}};
    for (const auto& [source, processors] : runs) {
        SCOPED_TRACE(std::string(source) + " on " + std::to_string(processors));
        KAVQ1FileEncoder enc(Src(source), 1, kClass1Sectors, 50, false, false, processors);
        ASSERT_TRUE(enc.IsOpened());
        const std::string ref = work.File("same.yuv");
        ASSERT_TRUE(test::MakeMedia("-i \"%s\" -vf \"%s\" -an -pix_fmt yuv420p -r 50 -f rawvideo -y \"%s\"",
                                    {Src(source), PictureFilter(1, 50, false, false, enc.Picture()), ref}));
        std::string pictures;
        test::ReadFile(ref, pictures);
        const size_t luma = 1920 * 1080, picture = luma * 3 / 2;
        ASSERT_GE(pictures.size(), picture * size_t(enc.FrameCount()));
        // Limited-range pictures at the card's size come through the tool
        // as they are and are expanded as read.
        if (ExpandsRangeByTable(1, false, enc.Picture()))
            for (size_t at = 0; at < pictures.size(); at += picture) {
                auto* p = reinterpret_cast<uint8_t*>(pictures.data() + at);
                ExpandToFullRange(p, luma, false);
                ExpandToFullRange(p + luma, luma / 2, true);
            }
        EXPECT_EQ(ExpandsRangeByTable(1, false, enc.Picture()), std::string(source) == "hd709.mp4");
        std::vector<std::unique_ptr<KVQ1Encoder>> workers;
        for (int w = 0; w < enc.WorkerCount(); ++w)
            workers.push_back(std::make_unique<KVQ1Encoder>(1, kClass1Sectors, 50));
        // Coded planes: the picture, then the filler lines (luma black,
        // chroma neutral).
        std::vector<uint8_t> y(1920 * 1088, 0), cb(960 * 544, 128), cr(960 * 544, 128);
        std::vector<uint8_t> slot(static_cast<size_t>(enc.SlotBytes())), want(size_t(kClass1Sectors) * 512);
        for (int i = 0; i < enc.FrameCount(); ++i) {
            SCOPED_TRACE(i);
            std::fill(slot.begin(), slot.end(), 0);
            ASSERT_TRUE(enc.GetNextFrame(slot.data()));
            const char* at = pictures.data() + picture * size_t(i);
            std::memcpy(y.data(), at, luma);
            std::memcpy(cb.data(), at + luma, luma / 4);
            std::memcpy(cr.data(), at + luma + luma / 4, luma / 4);
            std::fill(want.begin(), want.end(), 0);
            ASSERT_GT(workers[size_t(i % enc.WorkerCount())]->Encode(uint32_t(i), y.data(), cb.data(), cr.data(),
                                                                      want.data()),
                      0);
            ASSERT_TRUE(std::equal(want.begin(), want.end(), slot.begin() + 12288));
        }
    }
}

TEST_F(EncoderTest, SoundArrivesInItsFrame) {
    KAVQ1FileEncoder enc(Src("step.mkv"), 1, kClass1Sectors, 50, false, false);
    ASSERT_TRUE(enc.IsOpened());
    // Matroska gives no stream duration: the container's is used.
    std::string probe;
    ASSERT_TRUE(test::RunTool("ffprobe", "-v quiet -show_streams -select_streams v:0 \"%s\"", {Src("step.mkv")}, &probe));
    EXPECT_EQ(test::ProbeValue(probe, "duration"), "N/A");
    EXPECT_EQ(enc.FrameCount(), 30);
    ASSERT_TRUE(enc.HasAudio());
    auto slots = Take(enc, 17);
    ASSERT_EQ(slots.size(), 17u);
    // The step is at 0.3 s = sample 14400 = the first sample of frame 15.
    for (int f = 0; f < 15; ++f) {
        const auto& a = slots[f].audio;
        size_t last = f == 14 ? 959 : 960;  // a sample of rounding in the source's time base
        for (size_t s = 0; s < last; ++s) ASSERT_EQ(test::Sample24(a, s, 0), 0) << "frame " << f << " sample " << s;
    }
    EXPECT_NEAR(test::Sample24(slots[15].audio, 2, 0), 0x400000, 0x100);   // 0.5 on the left
    EXPECT_NEAR(test::Sample24(slots[15].audio, 2, 1), -0x200000, 0x100);  // -0.25 on the right
    EXPECT_NEAR(test::Sample24(slots[16].audio, 500, 0), 0x400000, 0x100);
}

TEST_F(EncoderTest, SourceWithoutSoundCarriesSilenceOfTheNormalLength) {
    KAVQ1FileEncoder enc(Src("silent.mov"), 1, kClass1Sectors, 60, false, false);
    ASSERT_TRUE(enc.IsOpened());
    EXPECT_FALSE(enc.HasAudio());
    EXPECT_EQ(enc.FrameCount(), 12);  // 0.2 s at 60
    auto slots = Take(enc, 3);
    ASSERT_EQ(slots.size(), 3u);
    for (const auto& s : slots) {
        EXPECT_EQ(s.chunkLengthWords, 1208);
        EXPECT_EQ(s.audio.size(), 4800u);
        EXPECT_TRUE(std::all_of(s.audio.begin(), s.audio.end(), [](uint8_t b) { return b == 0; }));
    }
}

TEST_F(EncoderTest, StillPictureGivesOneFrameWithOneWorker) {
    KAVQ1FileEncoder enc(Src("still.PNG"), 1, kClass1Sectors, 50, false, true, 8);
    ASSERT_TRUE(enc.IsOpened());
    EXPECT_EQ(enc.FrameCount(), 1);
    EXPECT_EQ(enc.WorkerCount(), 1);
    EXPECT_FALSE(enc.HasAudio());
    std::vector<uint8_t> slot(static_cast<size_t>(enc.SlotBytes()), 0);
    ASSERT_TRUE(enc.GetNextFrame(slot.data()));
    DecodedSlot d = DecodeSlot(slot.data(), slot.size());
    EXPECT_TRUE(d.ok);
    EXPECT_EQ(d.chunkLengthWords, 1448);
    // The picture reached the encoder with its filler lines: luma 1080 to
    // 1087 black, chroma 540 to 543 neutral.
    std::vector<uint8_t> y(1920 * 1088, 77), cb(960 * 544, 77), cr(960 * 544, 77);
    KVQ1Decoder decoder;
    ASSERT_TRUE(decoder.Decode(slot.data() + 12288, slot.size() - 12288, y.data(), cb.data(), cr.data()));
    for (int row : {1081, 1086})
        for (int x : {0, 955, 1919}) EXPECT_NEAR(y[row * 1920 + x], 0, 3) << row << "," << x;
    for (int row : {541, 543})
        for (int x : {0, 480, 959}) {
            EXPECT_NEAR(cb[row * 960 + x], 128, 3) << row << "," << x;
            EXPECT_NEAR(cr[row * 960 + x], 128, 3) << row << "," << x;
        }
}

TEST_F(EncoderTest, NeverMoreWorkersThanFrames) {
    // 0.06 s at 50 frames per second: 3 frames, on a machine of 8 processors.
    test::TempDir local;
    ASSERT_TRUE(test::MakeMedia("-f lavfi -i testsrc2=size=64x48:rate=50 -t 0.06 -c:v mpeg4 -y \"%s\"",
                                {local.File("three.mp4")}));
    KAVQ1FileEncoder enc(local.File("three.mp4"), 1, kClass1Sectors, 50, false, false, 8);
    ASSERT_TRUE(enc.IsOpened());
    EXPECT_EQ(enc.FrameCount(), 3);
    EXPECT_EQ(enc.WorkerCount(), 3);
    EXPECT_EQ(Take(enc, 3).size(), 3u);
}

TEST_F(EncoderTest, NtscRateCountsFramesAndSharesSoundInFives) {
    KAVQ1FileEncoder enc(Src("ntsc.mov"), 1, kClass1Sectors, 29, false, false, 2);
    ASSERT_TRUE(enc.IsOpened());
    EXPECT_EQ(enc.FrameCount(), 299);  // 29.97 x 10 = 299.7
    ASSERT_TRUE(enc.HasAudio());
    auto slots = Take(enc, 6);
    ASSERT_EQ(slots.size(), 6u);
    const int words[6] = {2408, 2408, 2414, 2408, 2414, 2408};
    const size_t bytes[6] = {9600, 9600, 9624, 9600, 9624, 9600};
    size_t total = 0;
    for (int i = 0; i < 6; ++i) {
        EXPECT_EQ(slots[i].chunkLengthWords, words[i]) << i;
        EXPECT_EQ(slots[i].audio.size(), bytes[i]) << i;
        total += slots[i].audio.size();
    }
    // Nothing lost or repeated between frames: a 500 Hz tone keeps its phase
    // across the frame boundaries, so its crossings come every 48 samples.
    std::vector<uint8_t> all;
    for (auto& s : slots) all.insert(all.end(), s.audio.begin(), s.audio.end());
    ASSERT_EQ(all.size(), total);
    std::vector<size_t> crossings;
    for (size_t s = 1; s < all.size() / 6; ++s)
        if (test::Sample24(all, s - 1, 0) < 0 && test::Sample24(all, s, 0) >= 0) crossings.push_back(s);
    ASSERT_GT(crossings.size(), 50u);
    for (size_t i = 1; i < crossings.size(); ++i) EXPECT_NEAR(double(crossings[i] - crossings[i - 1]), 96.0, 1.0);
    // Ending long before the source does leaves nothing behind.
}

TEST_F(EncoderTest, InterlacedSourceIsDeinterlacedLikeFfmpegDoes) {
    KAVQ1FileEncoder enc(Src("interlaced.mpg"), 1, kClass1Sectors, 50, false, true);
    ASSERT_TRUE(enc.IsOpened());
    EXPECT_EQ(enc.FrameCount(), 10);
    const std::string ref = Reference(Src("interlaced.mpg"), "50", true);
    auto slots = Take(enc, 4);
    ASSERT_EQ(slots.size(), 4u);
    for (int i = 0; i < 4; ++i) EXPECT_GT(test::LumaPsnr(slots[i].luma, ref, i, 1920, 1080), 40.0) << i;
}

TEST_F(EncoderTest, ProgressiveSourceIsTheSameWithDeinterlacingOnOrOff) {
    KAVQ1FileEncoder on(Src("progressive.mp4"), 1, kClass1Sectors, 50, false, true);
    KAVQ1FileEncoder off(Src("progressive.mp4"), 1, kClass1Sectors, 50, false, false);
    ASSERT_TRUE(on.IsOpened());
    ASSERT_TRUE(off.IsOpened());
    EXPECT_EQ(on.FrameCount(), 6);
    std::vector<uint8_t> a(static_cast<size_t>(on.SlotBytes())), b(a.size());
    int frames = 0;
    for (;; ++frames) {
        std::fill(a.begin(), a.end(), 0);
        std::fill(b.begin(), b.end(), 0);
        const bool gotOn = on.GetNextFrame(a.data()), gotOff = off.GetNextFrame(b.data());
        ASSERT_EQ(gotOn, gotOff) << frames;
        if (!gotOn) break;
        EXPECT_TRUE(a == b) << "frame " << frames;
    }
    EXPECT_EQ(frames, 6);
}

TEST_F(EncoderTest, InterlacedFramesBecomeOnePicturePerFieldInTheOrderTaken) {
    for (const char* order : {"tff", "bff"}) {
        SCOPED_TRACE(order);
        const std::string src = Src(std::string("woven-") + order + ".mpg");
        KAVQ1FileEncoder enc(src, 1, kClass1Sectors, 50, false, true);
        ASSERT_TRUE(enc.IsOpened());
        EXPECT_EQ(enc.FrameCount(), 10);  // 5 frames of 2 fields
        const std::string ref = Reference(src, "50", true);
        auto slots = Take(enc, 20);
        ASSERT_EQ(slots.size(), 10u);
        for (int i = 0; i < 10; ++i) {
            SCOPED_TRACE(i);
            // Each picture is ffmpeg's own picture of that field (within the
            // codec's loss), and clearly not the field before or after it.
            const double own = test::LumaPsnr(slots[i].luma, ref, i, 1920, 1080);
            EXPECT_GT(own, 40.0);
            if (i > 0) { EXPECT_GT(own, test::LumaPsnr(slots[i].luma, ref, i - 1, 1920, 1080) + 3.0); }
            if (i < 9) { EXPECT_GT(own, test::LumaPsnr(slots[i].luma, ref, i + 1, 1920, 1080) + 3.0); }
        }
    }
}

TEST_F(EncoderTest, LimitedRangeReachesThePictures) {
    // A white picture is 255 in full range and 235 in limited range.
    test::TempDir local;
    ASSERT_TRUE(test::MakeMedia("-f lavfi -i color=white:size=64x48:rate=1 -frames:v 1 -y \"%s\"",
                                {local.File("white.png")}));
    KAVQ1FileEncoder full(local.File("white.png"), 1, kClass1Sectors, 50, false, false);
    KAVQ1FileEncoder limited(local.File("white.png"), 1, kClass1Sectors, 50, true, false);
    auto f = Take(full, 1), l = Take(limited, 1);
    ASSERT_EQ(f.size(), 1u);
    ASSERT_EQ(l.size(), 1u);
    EXPECT_NEAR(f[0].luma[960 * 540], 255, 2);
    EXPECT_NEAR(l[0].luma[960 * 540], 235, 2);
}

// --- hostile sources -------------------------------------------------------

TEST_F(EncoderTest, UnreadableSourcesDoNotOpen) {
    test::TempDir local;
    test::WriteFile(local.File("notes.txt"), "this is not a video\n");
    test::WriteFile(local.File("empty.mp4"), "");
    std::string junk(100000, '\0');
    for (size_t i = 0; i < junk.size(); ++i) junk[i] = static_cast<char>((i * 2654435761u) >> 13);
    test::WriteFile(local.File("junk.mkv"), junk);
    for (const char* name : {"absent.mp4", "notes.txt", "empty.mp4", "junk.mkv"}) {
        KAVQ1FileEncoder enc(local.File(name), 1, kClass1Sectors, 50, false, true);
        EXPECT_FALSE(enc.IsOpened()) << name;
        EXPECT_EQ(enc.FrameCount(), 0) << name;
        std::vector<uint8_t> slot(static_cast<size_t>(enc.SlotBytes()));
        EXPECT_FALSE(enc.GetNextFrame(slot.data())) << name;
        EXPECT_TRUE(enc.PipeFolder().empty()) << name;  // nothing was started
    }
    // The sound probe runs beside the picture probe: it is ended and reaped
    // with the verdict, never left behind.
    EXPECT_TRUE(test::ChildPids().empty());
    // A folder is not a source either, nor a FIFO (that would keep the
    // probe waiting for a writer).
    KAVQ1FileEncoder folder(local.Path(), 1, kClass1Sectors, 50, false, true);
    EXPECT_FALSE(folder.IsOpened());
    ASSERT_EQ(mkfifo(local.File("pipe.mp4").c_str(), 0600), 0);
    KAVQ1FileEncoder fifo(local.File("pipe.mp4"), 1, kClass1Sectors, 50, false, true);
    EXPECT_FALSE(fifo.IsOpened());
}

TEST_F(EncoderTest, VideoShorterThanOneFrameDoesNotOpen) {
    KAVQ1FileEncoder enc(Src("blip.mp4"), 1, kClass1Sectors, 25, false, false);
    // 0.01 s: less than one frame at 25 (the stream's own frame may still be
    // counted through the container's duration; either way it is short).
    if (enc.IsOpened()) {
        EXPECT_LE(enc.FrameCount(), 1);
        EXPECT_LE(Take(enc, 5).size(), 2u);
    } else {
        EXPECT_EQ(enc.FrameCount(), 0);
    }
}

TEST_F(EncoderTest, HostilePathReachesTheToolsAsOneArgument) {
    test::TempDir local;
    const std::string name = local.File("my \"clip\" $(touch pwned) `id` ünï & 'x'.mp4");
    ASSERT_TRUE(std::filesystem::copy_file(Src("tone.mp4"), name));
    KAVQ1FileEncoder enc(name, 1, kClass1Sectors, 50, false, false);
    ASSERT_TRUE(enc.IsOpened());
    EXPECT_TRUE(enc.HasAudio());
    EXPECT_EQ(Take(enc, 2).size(), 2u);
    EXPECT_FALSE(test::FileExists(ProgramFile("pwned")));
    EXPECT_FALSE(test::FileExists(local.File("pwned")));
}

TEST_F(EncoderTest, RelativeSourcePathIsFoundThoughTheToolsRunElsewhere) {
    char cwd[4096];
    ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
    ASSERT_EQ(chdir(srcDir.c_str()), 0);
    KAVQ1FileEncoder enc("silent.mov", 1, kClass1Sectors, 50, false, false);
    EXPECT_EQ(chdir(cwd), 0);
    EXPECT_TRUE(enc.IsOpened());
}

// --- tools that are missing, fail, stall or die ------------------------------

class ToolFolderTest : public EncoderTest {
protected:
    void SetUp() override {
        EncoderTest::SetUp();
        SetProgramFolder(tools.Path());
    }
    void Link(const char* name, const char* target) {
        ASSERT_EQ(symlink(target, tools.File(name).c_str()), 0);
    }
    test::TempDir tools;
};

TEST_F(ToolFolderTest, MissingFfprobeMeansNotOpened) {
    Link("ffmpeg", "/usr/bin/ffmpeg");
    KAVQ1FileEncoder enc(Src("tone.mp4"), 1, kClass1Sectors, 50, false, false);
    EXPECT_FALSE(enc.IsOpened());
}

TEST_F(ToolFolderTest, MissingFfmpegMeansNoFrames) {
    Link("ffprobe", "/usr/bin/ffprobe");
    std::string folder;
    {
        KAVQ1FileEncoder enc(Src("tone.mp4"), 1, kClass1Sectors, 50, false, false);
        ASSERT_TRUE(enc.IsOpened());
        folder = enc.PipeFolder();
        std::vector<uint8_t> slot(static_cast<size_t>(enc.SlotBytes()));
        EXPECT_FALSE(enc.GetNextFrame(slot.data()));
        EXPECT_FALSE(enc.GetNextFrame(slot.data()));
    }
    EXPECT_TRUE(folder.empty() || !test::FileExists(folder));
}

TEST_F(ToolFolderTest, FrameCountFromTheTagWhenThereIsNoDuration) {
    test::WriteScript(tools.File("ffprobe"),
                      "printf '[STREAM]\\ncodec_type=video\\nwidth=320\\nheight=240\\nduration=N/A\\n"
                      "TAG:NUMBER_OF_FRAMES=7\\n[/STREAM]\\n[FORMAT]\\nduration=N/A\\n[/FORMAT]\\n'");
    Link("ffmpeg", "/usr/bin/ffmpeg");
    KAVQ1FileEncoder enc(Src("silent.mov"), 1, kClass1Sectors, 50, false, false);
    ASSERT_TRUE(enc.IsOpened());
    EXPECT_EQ(enc.FrameCount(), 7);
    EXPECT_FALSE(enc.HasAudio());  // the probe shows no sound stream
}

TEST_F(ToolFolderTest, ProbeWithoutPictureSizeOrFailingDoesNotOpen) {
    test::WriteScript(tools.File("ffprobe"),
                      "printf '[STREAM]\\ncodec_type=video\\nwidth=320\\nduration=5\\n[/STREAM]\\n'");
    Link("ffmpeg", "/usr/bin/ffmpeg");
    KAVQ1FileEncoder noHeight(Src("silent.mov"), 1, kClass1Sectors, 50, false, false);
    EXPECT_FALSE(noHeight.IsOpened());
    test::WriteScript(tools.File("ffprobe"), "printf '[STREAM]\\ncodec_type=video\\nwidth=320\\nheight=240\\nduration=5\\n'; exit 1");
    KAVQ1FileEncoder failing(Src("silent.mov"), 1, kClass1Sectors, 50, false, false);
    EXPECT_FALSE(failing.IsOpened());
}

TEST_F(ToolFolderTest, SoundToolThatNeverConnectsLeavesSilenceAndPicturesStillCome) {
    Link("ffprobe", "/usr/bin/ffprobe");
    // The sound decode fails at once; the picture decode is the real one.
    test::WriteScript(tools.File("ffmpeg"), "case \"$*\" in *s24le*) exit 1;; esac\nexec /usr/bin/ffmpeg \"$@\"");
    KAVQ1FileEncoder enc(Src("tone.mp4"), 1, kClass1Sectors, 50, false, false);
    ASSERT_TRUE(enc.IsOpened());
    ASSERT_TRUE(enc.HasAudio());
    auto slots = Take(enc, 3);
    ASSERT_EQ(slots.size(), 3u);
    for (const auto& s : slots) {
        EXPECT_EQ(s.chunkLengthWords, 1448);
        EXPECT_TRUE(std::all_of(s.audio.begin(), s.audio.end(), [](uint8_t b) { return b == 0; }));
    }
}

TEST_F(ToolFolderTest, StalledPictureToolIsGivenUpAndStopped) {
    Link("ffprobe", "/usr/bin/ffprobe");
    // Alive, but never opens the pipe and never writes.
    test::WriteScript(tools.File("ffmpeg"), "exec sleep 60");
    KAVQ1FileEncoder enc(Src("silent.mov"), 1, kClass1Sectors, 50, false, false);
    ASSERT_TRUE(enc.IsOpened());
    enc.SetStallLimitMs(300);
    const pid_t pid = enc.VideoToolPid();
    ASSERT_GT(pid, 0);
    std::vector<uint8_t> slot(static_cast<size_t>(enc.SlotBytes()));
    EXPECT_FALSE(enc.GetNextFrame(slot.data()));
    EXPECT_TRUE(test::Eventually([&] { return !test::ProcessExists(pid); }));
}

TEST_F(ToolFolderTest, PictureToolDyingMidFrameEndsTheStreamCleanly) {
    Link("ffprobe", "/usr/bin/ffprobe");
    // Writes one whole picture and half of the next, then dies.
    test::WriteScript(tools.File("ffmpeg"),
                      "for last; do :; done\n"
                      "head -c 4665600 /dev/zero > \"$last\"\nexit 1");
    KAVQ1FileEncoder enc(Src("silent.mov"), 1, kClass1Sectors, 50, false, false);
    ASSERT_TRUE(enc.IsOpened());
    auto slots = Take(enc, 5);
    EXPECT_EQ(slots.size(), 1u);  // the partly received picture is dropped
}

// A video's two decodes start beside its probe. Whatever ends the import
// there (the probe fails, the person declines the fitting) ends them at
// once, and a silent source's sound decode goes as soon as the probe has
// shown it.
TEST_F(ToolFolderTest, DecodesStartedBesideTheProbeEndWithIt) {
    Link("ffmpeg", "/usr/bin/ffmpeg");
    const auto childrenBefore = test::ChildPids();
    auto noneLeft = [&] { return test::ChildPids().size() <= childrenBefore.size(); };
    // Answers late, so that both decodes are running, then fails.
    test::WriteScript(tools.File("ffprobe"), "sleep 0.4; exit 1");
    std::string folder;
    {
        KAVQ1FileEncoder enc(Src("tone.mp4"), 1, kClass1Sectors, 50, false, false);
        EXPECT_FALSE(enc.IsOpened());
        EXPECT_EQ(enc.VideoToolPid(), -1);
        EXPECT_EQ(enc.AudioToolPid(), -1);
        folder = enc.PipeFolder();
        EXPECT_TRUE(noneLeft());
    }
    EXPECT_TRUE(folder.empty() || !test::FileExists(folder));

    ASSERT_EQ(unlink(tools.File("ffprobe").c_str()), 0);
    Link("ffprobe", "/usr/bin/ffprobe");
    PictureFitting declined;
    declined.decide = [](const SourcePicture&, PictureFit&) { return false; };
    {
        KAVQ1FileEncoder enc(Src("tone.mp4"), 1, kClass1Sectors, 50, false, false, declined);
        EXPECT_TRUE(enc.Cancelled());
        EXPECT_EQ(enc.VideoToolPid(), -1);
        EXPECT_TRUE(noneLeft());
    }

    KAVQ1FileEncoder silent(Src("silent.mov"), 1, kClass1Sectors, 50, false, false);
    ASSERT_TRUE(silent.IsOpened());
    EXPECT_FALSE(silent.HasAudio());
    EXPECT_EQ(silent.AudioToolPid(), -1);
    EXPECT_EQ(Take(silent, 10).size(), 10u);
}

// A picture decode that dies before it opens its pipe gives no frame and
// says why; it is not waited for until the stall limit.
TEST_F(ToolFolderTest, PictureDecodeDyingAtOnceIsReportedWithItsExitCode) {
    Link("ffprobe", "/usr/bin/ffprobe");
    test::WriteScript(tools.File("ffmpeg"), "case \"$*\" in *rawvideo*) exit 3;; esac\nexec /usr/bin/ffmpeg \"$@\"");
    KAVQ1FileEncoder enc(Src("tone.mp4"), 1, kClass1Sectors, 50, false, false);
    ASSERT_TRUE(enc.IsOpened());
    std::vector<uint8_t> slot(static_cast<size_t>(enc.SlotBytes()));
    EXPECT_FALSE(enc.GetNextFrame(slot.data()));
    EXPECT_NE(enc.EndCause().find("exit code 3"), std::string::npos) << enc.EndCause();
}

TEST_F(EncoderTest, KilledDecoderEndsEarlyAndNothingIsLeftBehind) {
    const auto childrenBefore = test::ChildPids();
    std::string folder;
    {
        KAVQ1FileEncoder enc(Src("ntsc.mov"), 1, kClass1Sectors, 29, false, false, 2);
        ASSERT_TRUE(enc.IsOpened());
        folder = enc.PipeFolder();
        ASSERT_TRUE(test::FileExists(folder + "/video.yuv"));
        ASSERT_EQ(Take(enc, 2).size(), 2u);
        const pid_t pid = enc.VideoToolPid();
        ASSERT_GT(pid, 0);
        kill(pid, SIGKILL);
        // A few pictures may still sit in the pipe; then the stream ends.
        auto rest = Take(enc, 299);
        EXPECT_LT(rest.size(), 20u);
        std::vector<uint8_t> slot(static_cast<size_t>(enc.SlotBytes()));
        EXPECT_FALSE(enc.GetNextFrame(slot.data()));
    }
    EXPECT_FALSE(test::FileExists(folder));
    EXPECT_TRUE(test::Eventually([&] { return test::ChildPids().size() <= childrenBefore.size(); }));
}

TEST_F(EncoderTest, DestroyingMidStreamStopsToolsAndRemovesThePipes) {
    const auto childrenBefore = test::ChildPids();
    std::string folder;
    pid_t video = -1, audio = -1;
    {
        KAVQ1FileEncoder enc(Src("ntsc.mov"), 1, kClass1Sectors, 29, false, false, 2);
        ASSERT_TRUE(enc.IsOpened());
        folder = enc.PipeFolder();
        video = enc.VideoToolPid();
        audio = enc.AudioToolPid();
        ASSERT_EQ(Take(enc, 1).size(), 1u);
    }
    EXPECT_FALSE(test::FileExists(folder));
    // Reaped, not zombies: gone from the process table.
    EXPECT_FALSE(test::ProcessExists(video));
    EXPECT_FALSE(test::ProcessExists(audio));
    EXPECT_LE(test::ChildPids().size(), childrenBefore.size());
}

}  // namespace
}  // namespace rk
