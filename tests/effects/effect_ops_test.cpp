// Effects on a card image with the real tools: conversions equal to the
// per-picture tool runs, an effect from pictures with alpha and sound, read
// back to an ".effect" file and added again from it, hostile effect files,
// and the card pulled at every write.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "card/card_directory.h"
#include "codec/kavq1_slot.h"
#include "codec/kvq1_decoder.h"
#include "convert/app_launch.h"
#include "convert/plane_memory.h"
#include "convert/tool_folder.h"
#include "effects/effect_conversions.h"
#include "effects/effect_format.h"
#include "effects/effect_ops.h"
#include "effects/stinger.h"
#include "media/media_fixture.h"
#include "support/picture_files.h"
#include "ui/scripted_operator.h"

namespace rk {
namespace {

constexpr size_t kSlot = 33 * size_t(kClusterBytes);

bool Ffmpeg(const std::string& folder, std::vector<std::string> args) {
    args.insert(args.begin(), {"-v", "error", "-nostdin"});
    CAppLaunch tool(kToolFfmpeg, args, false, folder);
    return tool.started && tool.Wait(-1) && tool.exitCode == 0;
}

class EffectOpsTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!test::ToolsAvailable()) GTEST_SKIP() << "ffmpeg is not beside the test programs";
        image = dir.File("card.img");
        ASSERT_TRUE(test::MakeFormattedImage(image, 40, 0));
    }
    void Open(bool withFault = false) {
        card.Close();
        card.SetOperator(&op);
        ASSERT_TRUE(test::OpenCard(card, image, withFault ? &fault : nullptr));
    }
    // `count` pictures sting_007.png ... with the left half transparent.
    std::string Pictures(int count) {
        EXPECT_TRUE(Ffmpeg(dir.Path(), {"-f", "lavfi", "-i", "color=c=blue:s=320x180:r=25", "-vf",
                                        "format=rgba,geq=r='X*255/320':g='Y':b='128':a='if(lt(X,160),0,255)'",
                                        "-frames:v", std::to_string(count), "-start_number", "7", "sting_%03d.png"}));
        return dir.File("sting_007.png");
    }
    std::string Sound() {
        EXPECT_TRUE(Ffmpeg(dir.Path(), {"-f", "lavfi", "-i", "sine=frequency=440:sample_rate=48000", "-t", "1", "-ac",
                                        "2", "-c:a", "pcm_s24le", "tone.wav"}));
        return dir.File("tone.wav");
    }
    std::vector<uint8_t> Run(const EntryHead& h) {
        return test::ReadImageClusters(image, h.startCluster, h.RunClusters());
    }

    test::TempDir dir{"rk-effects"};
    std::string image;
    CScriptedOperator op;
    CSDCard card;
    CFaultDevice* fault = nullptr;
};

TEST_F(EffectOpsTest, ConversionsEqualThePerPictureToolRuns) {
    std::string pic = Pictures(1);
    CEffectWorkFolder work;
    ASSERT_TRUE(work.Create());
    struct stat st {};
    ASSERT_EQ(::stat(work.Path().c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);

    // The three separate runs of one picture.
    ASSERT_TRUE(Ffmpeg(dir.Path(), {"-i", pic, "-vf", "scale=640:360", "-an", "-pix_fmt", "bgra", "-q:v", "1", "-f",
                                    "rawvideo", "-y", "p.rgb"}));
    ASSERT_TRUE(Ffmpeg(dir.Path(), {"-i", pic, "-vf", "scale=1920:1080", "-an", "-pix_fmt", "rgba", "-f", "rawvideo",
                                    "-y", "1.rgb"}));
    ASSERT_TRUE(Ffmpeg(dir.Path(), {"-i", pic, "-vf", EffectFrameSteps(), "-an", "-pix_fmt", "yuv420p", "-f",
                                    "rawvideo", "-y", "1.yuv"}));
    auto preview = test::ReadFileBytes(dir.File("p.rgb"));
    auto rgba = test::ReadFileBytes(dir.File("1.rgb"));
    auto yuv = test::ReadFileBytes(dir.File("1.yuv"));
    ASSERT_EQ(preview.size(), 921600u);
    ASSERT_EQ(yuv.size(), 1920u * 1080 * 3 / 2);
    for (size_t i = 0; i < 1920u * 1080; ++i)
        if (rgba[i * 4 + 3] < 128) yuv[i] = 2;
    for (size_t i = 3; i < preview.size(); i += 4) preview[i] = preview[i] < 128 ? 255 : 0;

    CStinger s(pic);
    ASSERT_TRUE(AddPicture(s, pic, work));
    ASSERT_EQ(s.Pictures().Size(), 1u);
    EXPECT_EQ(std::memcmp(s.Pictures().At(0)->Bits(), preview.data(), preview.size()), 0);

    std::vector<uint8_t> y(1920 * 1088), cb(960 * 544), cr(960 * 544), scratch(1920 * 1080 * 4);
    ASSERT_TRUE(ConvertFrame(pic, EffectPlanes{y.data(), cb.data(), cr.data(), scratch.data()}, work));
    EXPECT_EQ(std::memcmp(y.data(), yuv.data(), 1920 * 1080), 0);
    EXPECT_EQ(std::memcmp(cb.data(), yuv.data() + 1920 * 1080, 960 * 540), 0);
    EXPECT_EQ(std::memcmp(cr.data(), yuv.data() + 1920 * 1080 + 960 * 540, 960 * 540), 0);
    EXPECT_EQ(y[1920 * 500 + 100], 2);    // transparent
    EXPECT_GE(y[1920 * 500 + 1800], 16);  // opaque
    // Nothing but the folder's owner mark is left in it; a picture that is
    // no file fails.
    std::vector<std::string> left;
    for (const auto& e : std::filesystem::directory_iterator(work.Path())) left.push_back(e.path().filename());
    EXPECT_EQ(left, std::vector<std::string>{".owner"});
    EXPECT_FALSE(AddPicture(s, dir.Path(), work));
    EXPECT_FALSE(ConvertFrame(dir.File("none.png"), EffectPlanes{y.data(), cb.data(), cr.data(), scratch.data()}, work));
}

// Only a PNG whose header promises 8-bit RGB or RGBA at the frame's size
// takes the road where the frame planes are made here.
TEST(EffectPictureRoad, OnlyFrameSizedEightBitRgbPngsAreConvertedHere) {
    // Signature and header chunk: width, height, depth, colour type,
    // compression, filter, interlace (the rest of a PNG is not read).
    auto png = [](uint32_t w, uint32_t h, uint8_t depth, uint8_t colour, uint8_t interlace = 0) {
        std::vector<uint8_t> b = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n', 0, 0, 0, 13, 'I', 'H', 'D', 'R'};
        for (uint32_t v : {w, h})
            for (int s = 24; s >= 0; s -= 8) b.push_back(uint8_t(v >> s));
        b.insert(b.end(), {depth, colour, 0, 0, interlace, 0, 0, 0, 0});
        return b;
    };
    const std::vector<uint8_t> full = png(1920, 1080, 8, 6);
    const struct {
        const char* name;
        std::vector<uint8_t> bytes;
        bool here;
    } kCases[] = {
        {"rgb.png", png(1920, 1080, 8, 2), true},
        {"rgba.PNG", png(1920, 1080, 8, 6), true},
        {"interlaced.png", png(1920, 1080, 8, 6, 1), true},
        {"rgba.tga", png(1920, 1080, 8, 6), false},       // the tool decodes by the name
        {"rgb48.png", png(1920, 1080, 16, 2), false},
        {"grey.png", png(1920, 1080, 8, 0), false},
        {"greyalpha.png", png(1920, 1080, 8, 4), false},
        {"palette.png", png(1920, 1080, 8, 3), false},
        {"small.png", png(1280, 720, 8, 6), false},
        {"tall.png", png(1080, 1920, 8, 6), false},
        {"badinterlace.png", png(1920, 1080, 8, 6, 2), false},
        {"short.png", std::vector<uint8_t>(full.begin(), full.begin() + 28), false},
        {"notpng.png", std::vector<uint8_t>(40, 0x89), false},
    };
    test::TempDir dir{"rk-road"};
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(test::WriteFileBytes(dir.File(c.name), c.bytes));
        EXPECT_EQ(IsFrameSizedRgbPng(dir.File(c.name)), c.here);
    }
    EXPECT_FALSE(IsFrameSizedRgbPng(dir.File("missing.png")));
    EXPECT_FALSE(IsFrameSizedRgbPng(dir.Path()));
}

// A picture decoded here has the tool's samples; one whose samples the tool
// would make otherwise (a transparent colour turns RGB into RGBA), or that
// this decoder does not take, is refused, so the tool runs read it.
TEST_F(EffectOpsTest, OnlyTheCommonFormIsDecodedHere) {
    ASSERT_TRUE(Ffmpeg(dir.Path(), {"-f", "lavfi", "-i", "testsrc2=size=1920x1080:rate=25", "-pix_fmt", "rgb24",
                                    "-pred", "mixed", "-frames:v", "1", "p.png"}));
    const std::vector<uint8_t> made = test::ReadFileBytes(dir.File("p.png"));
    const std::vector<uint8_t> want = test::ReadPictureRgb(dir.File("p.png"), 1920, 1080);
    ASSERT_EQ(want.size(), 1920u * 1080 * 3);
    // A chunk (its check value is not looked at) behind the header.
    auto withChunk = [&made](const char* type, std::vector<uint8_t> data) {
        std::vector<uint8_t> b(made.begin(), made.begin() + 33);
        b.insert(b.end(), {0, 0, 0, uint8_t(data.size())});
        b.insert(b.end(), type, type + 4);
        b.insert(b.end(), data.begin(), data.end());
        b.insert(b.end(), 4, 0);
        b.insert(b.end(), made.begin() + 33, made.end());
        return b;
    };
    auto changed = [&made](size_t at, uint8_t value) {
        std::vector<uint8_t> b = made;
        b[at] = value;
        return b;
    };
    const struct {
        const char* name;
        std::vector<uint8_t> bytes;
        bool decoded;
    } kCases[] = {
        {"as made", made, true},
        {"with text", withChunk("tEXt", {'a', 0, 'b'}), true},
        {"a transparent colour", withChunk("tRNS", {0, 0, 0, 0, 0, 0}), false},
        {"a critical chunk unknown here", withChunk("ZZZZ", {}), false},
        {"interlaced", changed(28, 1), false},
        {"16 bits a sample", changed(24, 16), false},
        {"cut short", std::vector<uint8_t>(made.begin(), made.begin() + ptrdiff_t(made.size() / 2)), false},
    };
    CFramePngDecoder decoder;
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(test::WriteFileBytes(dir.File("q.png"), c.bytes));
        std::string why;
        ASSERT_EQ(decoder.Decode(dir.File("q.png"), 1920, 1080, why), c.decoded) << why;
        if (!c.decoded) {
            EXPECT_FALSE(why.empty());
            continue;
        }
        EXPECT_FALSE(decoder.HasAlpha());
        ASSERT_EQ(decoder.RowBytes(), 1920u * 3);
        EXPECT_EQ(std::memcmp(decoder.Pixels(), want.data(), want.size()), 0);
    }
    std::string why;
    EXPECT_FALSE(decoder.Decode(dir.File("p.png"), 1280, 720, why));
    EXPECT_FALSE(decoder.Decode(dir.File("none.png"), 1920, 1080, why));
    // Far larger than any frame's data (zeros behind the end, a sparse file):
    // left to the tool, not read whole.
    std::filesystem::resize_file(dir.File("p.png"), std::uintmax_t(65) << 20);
    why.clear();
    EXPECT_FALSE(decoder.Decode(dir.File("p.png"), 1920, 1080, why));
    EXPECT_FALSE(why.empty());
}

TEST_F(EffectOpsTest, OneRunOverTheSequenceGivesThePerPictureConversions) {
    // Pictures unlike each other, in a folder whose name a pattern would
    // misread: an RGB picture and two with soft alpha at the frame's size
    // (decoded here; every row filter, colour chunks in the second two),
    // then a smaller picture without alpha, a grey one with alpha, a larger
    // one (made by the tool).
    const std::string folder = dir.File("100% [a]");
    ASSERT_TRUE(std::filesystem::create_directory(folder));
    ASSERT_TRUE(Ffmpeg(folder, {"-f", "lavfi", "-i", "testsrc2=size=1920x1080:rate=25", "-vf",
                                "hflip", "-pix_fmt", "rgb24", "-pred", "mixed", "-frames:v", "1", "w_97.png"}));
    ASSERT_TRUE(Ffmpeg(folder, {"-f", "lavfi", "-i", "testsrc2=size=1920x1080:rate=25", "-vf",
                                "setparams=color_trc=iec61966-2-1:color_primaries=bt709,format=rgba,"
                                "geq=r='r(X,Y)':g='g(X,Y)':b='b(X,Y)':a='clip(255-hypot(X-960,Y-540)/3,0,255)'",
                                "-pred", "mixed", "-frames:v", "2", "-start_number", "98", "w_%02d.png"}));
    ASSERT_TRUE(Ffmpeg(folder, {"-f", "lavfi", "-i", "testsrc=size=1280x720", "-frames:v", "1", "w_100.png"}));
    ASSERT_TRUE(Ffmpeg(folder, {"-f", "lavfi", "-i", "color=gray:s=800x600", "-vf",
                                "format=ya8,geq=lum='X/4':a='if(lt(Y,300),40,220)'", "-frames:v", "1", "w_101.png"}));
    ASSERT_TRUE(Ffmpeg(folder, {"-f", "lavfi", "-i", "testsrc=size=2560x1440", "-frames:v", "1", "w_102.png"}));
    const std::vector<std::string> all = PictureSequence(folder + "/w_97.png");
    ASSERT_EQ(all.size(), 6u);

    // Each picture's own runs, once.
    CEffectWorkFolder work;
    ASSERT_TRUE(work.Create());
    CStinger perPicture(all[0]);
    std::vector<std::vector<uint8_t>> planes;
    for (const std::string& file : all) {
        SCOPED_TRACE(file);
        std::vector<uint8_t> frame(1920 * 1088 + 2 * 960 * 544), scratch(1920 * 1080 * 4);
        uint8_t* y = frame.data();
        ASSERT_TRUE(AddPicture(perPicture, file, work));
        ASSERT_TRUE(ConvertFrame(file, EffectPlanes{y, y + 1920 * 1088, y + 1920 * 1088 + 960 * 544, scratch.data()}, work));
        planes.push_back(std::move(frame));
    }

    // The frame-sized RGB and RGBA pictures, then a run of mixed ones. The
    // first picture goes into planes on 64-byte boundaries, the others into
    // planes that may not be.
    CPlaneMemory aligned;
    ASSERT_TRUE(aligned.Allocate(1920 * 1088 + 2 * 960 * 544));
    std::vector<uint8_t> y2(1920 * 1088), cb2(960 * 544), cr2(960 * 544);
    const EffectPlanes unaligned{y2.data(), cb2.data(), cr2.data(), nullptr};
    const struct {
        size_t first, count;
        bool convertsHere;
    } kRuns[] = {{0, 3, true}, {1, 5, false}};
    for (const auto& run : kRuns) {
        const std::vector<std::string> files(all.begin() + ptrdiff_t(run.first),
                                             all.begin() + ptrdiff_t(run.first + run.count));
        CStinger streamed(files[0]);
        CEffectPictureStream stream(files);
        for (size_t i = 0; i < files.size(); ++i) {
            SCOPED_TRACE(files[i]);
            uint8_t* a = aligned.Data();
            const EffectPlanes out =
                i == 0 ? EffectPlanes{a, a + 1920 * 1088, a + 1920 * 1088 + 960 * 544, nullptr} : unaligned;
            ASSERT_TRUE(stream.Next(streamed, out)) << stream.Cause();
            EXPECT_EQ(stream.ConvertsHere(), run.convertsHere);
            const uint8_t* want = planes[run.first + i].data();
            if (i == 0 && !run.convertsHere) {
                // The tool works in a private folder of its own.
                struct stat st {};
                ASSERT_EQ(::stat(stream.Pipe().FolderPath().c_str(), &st), 0);
                EXPECT_EQ(st.st_mode & 0777, 0700u);
            }
            ASSERT_EQ(streamed.Pictures().Size(), i + 1);
            EXPECT_EQ(std::memcmp(streamed.Pictures().At(i)->Bits(),
                                  perPicture.Pictures().At(run.first + i)->Bits(), 640 * 360 * 4), 0);
            EXPECT_EQ(std::memcmp(out.y, want, 1920 * 1080), 0);
            EXPECT_EQ(std::memcmp(out.cb, want + 1920 * 1088, 960 * 540), 0);
            EXPECT_EQ(std::memcmp(out.cr, want + 1920 * 1088 + 960 * 544, 960 * 540), 0);
        }
        EXPECT_FALSE(stream.Next(streamed, unaligned));
        // Once the last picture is in, the tool and its folder are gone.
        EXPECT_EQ(stream.Pipe().ToolPid(), -1);
        EXPECT_TRUE(stream.Pipe().FolderPath().empty());
    }
    // The soft alpha is keyed: a transparent corner and the opaque middle;
    // the last picture has no alpha, so nothing is marked.
    EXPECT_EQ(planes[1][1920 * 10 + 10], 2);
    EXPECT_NE(planes[1][1920 * 540 + 960], 2);
    EXPECT_NE(y2[1920 * 10 + 10], 2);

    // Frame-sized pictures this process does not decode go through the
    // tool runs: a critical chunk unknown here (the tool skips it), and a
    // damaged picture, which fails the stream by its name.
    const std::string odd = folder + "/odd.png", damaged = folder + "/damaged.png";
    {
        std::vector<uint8_t> png = test::ReadFileBytes(all[1]);
        const uint8_t chunk[] = {0, 0, 0, 0, 'Z', 'Z', 'Z', 'Z', 0, 0, 0, 0};
        png.insert(png.end() - 12, chunk, chunk + sizeof chunk);
        ASSERT_TRUE(test::WriteFileBytes(odd, png));
        png = test::ReadFileBytes(all[2]);
        std::fill(png.begin() + 200, png.begin() + 4200, uint8_t(0x55));
        ASSERT_TRUE(test::WriteFileBytes(damaged, png));
    }
    {
        CStinger s(all[0]);
        CEffectPictureStream mixed({all[0], odd, damaged});
        for (size_t i = 0; i < 2; ++i) {
            ASSERT_TRUE(mixed.Next(s, unaligned)) << mixed.Cause();
            EXPECT_TRUE(mixed.ConvertsHere());
            EXPECT_EQ(std::memcmp(s.Pictures().At(i)->Bits(), perPicture.Pictures().At(i)->Bits(), 640 * 360 * 4), 0);
            EXPECT_EQ(std::memcmp(y2.data(), planes[i].data(), 1920 * 1080), 0);
            EXPECT_EQ(std::memcmp(cr2.data(), planes[i].data() + 1920 * 1088 + 960 * 544, 960 * 540), 0);
        }
        EXPECT_FALSE(mixed.Next(s, unaligned));
        EXPECT_NE(mixed.Cause().find("damaged.png"), std::string::npos) << mixed.Cause();
        EXPECT_FALSE(mixed.Next(s, unaligned));
    }

    // Left after its first picture (the operator stopped): the read under
    // way ends, and the tool and its folder go with the stream.
    std::string leftFolder;
    pid_t leftTool = -1;
    {
        CStinger s(all[0]);
        CEffectPictureStream left(std::vector<std::string>(all.begin() + 1, all.begin() + 4));
        ASSERT_TRUE(left.Next(s, unaligned)) << left.Cause();
        leftFolder = left.Pipe().FolderPath();
        leftTool = left.Pipe().ToolPid();
    }
    ASSERT_GT(leftTool, 0);
    EXPECT_FALSE(test::FileExists(leftFolder));
    EXPECT_NE(::kill(leftTool, 0), 0);


    // A damaged picture in the middle fails the stream by that picture (the
    // tool stops at the error; pictures still in its decoder go with it).
    const std::vector<std::string> files(all.begin() + 1, all.end());
    {
        std::FILE* f = std::fopen(files[2].c_str(), "r+b");
        ASSERT_NE(f, nullptr);
        std::fseek(f, 200, SEEK_SET);
        for (int i = 0; i < 4000; ++i) std::fputc(0x55, f);
        std::fclose(f);
    }
    CStinger broken(files[0]);
    CEffectPictureStream again(files);
    size_t given = 0;
    while (again.Next(broken, EffectPlanes{y2.data(), cb2.data(), cr2.data(), nullptr})) ++given;
    EXPECT_LE(given, 2u);
    EXPECT_FALSE(again.Cause().empty());
    EXPECT_EQ(again.Pipe().ToolPid(), -1);
}

TEST_F(EffectOpsTest, FromPicturesWithSoundReadBackAndAddedAgainFromTheFile) {
    std::string pic = Pictures(4);
    std::string wav = Sound();
    Open();
    op.effectTypeAnswers = {{true, 0, true}};  // simple cut, with sound
    op.openFiles = {wav};
    EffectOpOutcome r = AddEffectFromPictures(op, card, 0, pic);
    ASSERT_EQ(r.result, OpResult::kDone);
    EXPECT_EQ(op.TextsWithIcon(kIconInformation), std::vector<std::string>{"Write completed."});
    EntryHead h = card.Directory().Effect(0);
    ASSERT_EQ(h.numFrames, 4);
    EXPECT_EQ(h.clustersPerFrame, 33);
    EXPECT_EQ(card.Directory().EffectSwitch(0), 1);
    EXPECT_EQ(card.Directory().EffectHue(0), 0);
    // The keyframe file was written beside the pictures.
    std::string keys;
    ASSERT_TRUE(test::ReadFile(dir.File("sting_007.txt"), keys));
    EXPECT_EQ(keys, "   0; -1;   0;  0;1\r\n   0; -1;   0;  0;1\r\n2046; -1;   0;  0;1\r\n2046; -1;   0;  0;1\r\n");

    // The sound as the conversion gives it, for comparison.
    CEffectWorkFolder work;
    ASSERT_TRUE(work.Create());
    std::vector<uint8_t> sound(4 * kEffectAudioBytes, 0);
    ASSERT_TRUE(ConvertSound(wav, sound.data(), sound.size(), work));

    auto run = Run(h);
    const int wantPosition[4] = {0, 0, 2046, 2047};
    KVQ1Decoder decoder;
    std::vector<uint8_t> y(1920 * 1088), cb(960 * 544), cr(960 * 544);
    for (int i = 0; i < 4; ++i) {
        const uint8_t* slot = run.data() + size_t(i) * kSlot;
        EXPECT_TRUE(IsEffectFrameSlot(slot, kSlot, uint32_t(i), 4)) << i;
        EXPECT_EQ(ReadBE16(slot + 12), 1448);
        EffectMarks m;
        ASSERT_TRUE(GetEffectMarks(slot + kVideoAreaOffset, m));
        EXPECT_EQ(m.position, wantPosition[i]) << i;
        EXPECT_EQ(m.kind, 1);
        EXPECT_EQ(m.framesAfter, 3 - i);
        // Frame i carries samples 960 i .. 960 i + 959.
        std::vector<uint8_t> back(kEffectAudioBytes);
        RegroupAudioToInterleaved(slot + kAudioChunkHeaderBytes, back.data(), back.size());
        EXPECT_EQ(std::memcmp(back.data(), sound.data() + size_t(i) * kEffectAudioBytes, back.size()), 0) << i;
        // Behind the frame the budget is zero.
        ASSERT_TRUE(decoder.Decode(slot + kVideoAreaOffset, kSlot - kVideoAreaOffset, y.data(), cb.data(), cr.data()));
        int transparentTwo = 0, opaqueTwo = 0;
        for (int row = 100; row < 1000; row += 50)
            for (int x = 0; x < 1920; x += 16) {
                if (x < 900) transparentTwo += y[size_t(row) * 1920 + size_t(x)] == 2;
                if (x > 1020) opaqueTwo += y[size_t(row) * 1920 + size_t(x)] == 2;
            }
        EXPECT_EQ(transparentTwo, 18 * 57) << i;
        EXPECT_EQ(opaqueTwo, 0) << i;
    }

    // Read back: header, then the run exactly as on the card.
    std::string file = dir.File("back.effect");
    ASSERT_EQ(ReadEffectToFile(op, card, 0, file).result, OpResult::kDone);
    auto bytes = test::ReadFileBytes(file);
    ASSERT_EQ(bytes.size(), EffectFileBytes(4, 33));
    EXPECT_TRUE(std::equal(run.begin(), run.end(), bytes.begin() + kEffectFileHeaderBytes));

    // Added again from that file: the same clusters, the same entry tail.
    ASSERT_EQ(AddEffectFromEffectFile(op, card, 1, file).result, OpResult::kDone);
    EntryHead h1 = card.Directory().Effect(1);
    EXPECT_EQ(h1.numFrames, 4);
    EXPECT_NE(h1.startCluster, h.startCluster);
    EXPECT_EQ(card.Directory().EffectSwitch(1), 1);
    EXPECT_TRUE(Run(h1) == run);
    card.Close();
    EXPECT_EQ(test::CheckCardConsistent(image), "");
}

TEST_F(EffectOpsTest, RefusedSourcesAndHostileEffectFiles) {
    Open();
    auto before = test::ReadImageClusters(image, 0, 3);
    // Sequence rule failures.
    EXPECT_EQ(AddEffectFromPictures(op, card, 0, dir.File("clip.mp4")).result, OpResult::kFailed);
    EXPECT_EQ(op.messages.back().text, "Video file is too short to use!");

    // A good file from synthetic effect slots (their headers only) to damage.
    EffectFileHeader hdr;
    hdr.frames = 2;
    hdr.switchByte = 1;
    std::vector<uint8_t> good(EffectFileBytes(2, 33), 0);
    WriteEffectFileHeader(hdr, good.data());
    auto frameHeader = [](std::vector<uint8_t>& f, uint32_t i) {
        return f.data() + kEffectFileHeaderBytes + i * kSlot + kVideoAreaOffset;
    };
    for (uint32_t i = 0; i < 2; ++i) {
        WriteAudioChunkHeader(frameHeader(good, i) - kVideoAreaOffset, i, kEffectAudioBytes);
        uint8_t* h = frameHeader(good, i);
        std::memcpy(h, "KVQ1", 4);
        h[4] = 1;               // HD
        h[5] = 50;              // the card's rate
        WriteBE16(h + 6, 768);  // the effect budget in sectors
        WriteBE32(h + 8, i);
        PutEffectMarks(h, EffectMarks{1, i ? 2047 : 0, 0, int(1 - i)});
    }
    std::fill(good.end() - 24576, good.end(), uint8_t(0x33));  // a thumbnail block to recognise
    // Each refusal comes before the question, with the system's text and,
    // beside it, the file and what is wrong with it.
    struct Refused {
        const char* what;
        std::function<void(std::vector<uint8_t>&)> spoil;
        const char* text;
        const char* cause;
    } refused[] = {
        {"cut in its frames", [](auto& f) { f.erase(f.end() - (24576 + 100), f.end()); }, "Error reading video file!",
         "the file ends inside its frames"},
        {"says one frame", [](auto& f) { f[8] = 1; }, "Error reading video file!",
         "frame 1 of 1: frames after it disagree with the entry"},
        {"a plain video frame", [&](auto& f) { frameHeader(f, 1)[12] = 0; }, "Error reading video file!",
         "frame 2 of 2: byte 12 is not 0x40"},
        {"made on a 60p card", [&](auto& f) { frameHeader(f, 0)[5] = frameHeader(f, 1)[5] = 60; },
         "This file is not supported!", "frame 1 of 2: frame of another frame rate than the card's"},
        {"a 60p frame inside", [&](auto& f) { frameHeader(f, 1)[5] = 60; }, "Error reading video file!",
         "frame 2 of 2: frame of another frame rate than the card's"},
        {"sound chunk numbered wrong", [&](auto& f) { frameHeader(f, 1)[11 - int(kVideoAreaOffset)] = 5; },
         "Error reading video file!", "frame 2 of 2: frame number out of sequence"},
        {"sound chunk of 60p", [&](auto& f) { WriteBE16(frameHeader(f, 1) - kVideoAreaOffset + 12, 1208); },
         "Error reading video file!", "frame 2 of 2: sound chunk of the wrong length"},
        {"frame header numbered wrong", [&](auto& f) { WriteBE32(frameHeader(f, 1) + 8, 0); },
         "Error reading video file!", "frame 2 of 2: the frame header's number is out of sequence"},
        {"another kind inside", [&](auto& f) { frameHeader(f, 1)[18] = 0; }, "Error reading video file!",
         "frame 2 of 2: another transition kind than the first frame's"},
        {"65 clusters a frame", [](auto& f) { f[10] = 65; }, "This file is not supported!",
         "the header says 65 clusters per frame, the card has 33"},
        {"no magic", [](auto& f) { f[0] = 'X'; }, "Invalid file format!", "no effect file header"},
        {"20 bytes", [](auto& f) { f.resize(20); }, "Invalid file format!", "no effect file header"},
    };
    const std::string f = dir.File("x.effect");
    for (const Refused& c : refused) {
        std::vector<uint8_t> bytes = good;
        c.spoil(bytes);
        ASSERT_TRUE(test::WriteFileBytes(f, bytes));
        op.messages.clear();
        EXPECT_EQ(AddEffectFromEffectFile(op, card, 0, f).result, OpResult::kFailed) << c.what;
        ASSERT_EQ(op.messages.size(), 1u) << c.what;  // no question was asked
        EXPECT_EQ(op.messages[0].text, c.text) << c.what;
        EXPECT_EQ(op.messages[0].detail.rfind(f + ": ", 0), 0u) << c.what << ": " << op.messages[0].detail;
        EXPECT_NE(op.messages[0].detail.find(c.cause), std::string::npos) << c.what << ": " << op.messages[0].detail;
        EXPECT_FALSE(card.Directory().Effect(0).Used()) << c.what;
    }
    EXPECT_EQ(AddEffectFromEffectFile(op, card, 0, dir.File("missing.effect")).result, OpResult::kFailed);
    EXPECT_EQ(op.messages.back().text, "Error opening file!");
    EXPECT_NE(op.messages.back().detail.find("missing.effect"), std::string::npos);
    EXPECT_EQ(AddEffectFromEffectFile(op, card, 0, dir.Path()).result, OpResult::kFailed);  // a folder
    card.Close();
    EXPECT_TRUE(test::ReadImageClusters(image, 0, 3) == before);
    Open();
    // What the reader of effect files accepts goes on: the whole file, one
    // cut inside its thumbnail block (what is missing stays black), one
    // without it, and one with bytes behind it.
    const std::vector<uint8_t> thumbnail(good.end() - 24576, good.end());
    struct Accepted {
        const char* what;
        long change;  // bytes added (removed when negative)
    } accepted[] = {{"whole", 0}, {"cut in its thumbnail", -100}, {"no thumbnail", -24576}, {"bytes behind", 5000}};
    for (int e = 0; e < 4; ++e) {
        std::vector<uint8_t> bytes = good;
        bytes.resize(size_t(long(bytes.size()) + accepted[e].change), 0x5A);
        ASSERT_TRUE(test::WriteFileBytes(f, bytes));
        op.answers.push_back(kResultYes);
        EXPECT_EQ(AddEffectFromEffectFile(op, card, e, f).result, OpResult::kDone) << accepted[e].what;
        const EntryHead h = card.Directory().Effect(e);
        EXPECT_EQ(h.numFrames, 2) << accepted[e].what;
        const auto onCard = test::ReadImageClusters(image, h.startCluster + 2 * 33, 2);
        if (accepted[e].change >= 0) {
            EXPECT_TRUE(onCard == thumbnail) << accepted[e].what;
        } else if (accepted[e].change == -100) {
            EXPECT_TRUE(std::equal(onCard.begin(), onCard.end() - 100, thumbnail.begin())) << accepted[e].what;
            EXPECT_FALSE(std::equal(onCard.end() - 100, onCard.end(), thumbnail.end() - 100)) << "stays black";
        }
    }
}

TEST_F(EffectOpsTest, TypeSoundAndKeysAreAskedAfterThePicturesLoad) {
    std::string pic = Pictures(2);
    Open();
    op.effectTypeAnswers = {{false, 0, false}};  // Cancel in the type choice: nothing written, no message
    EXPECT_EQ(AddEffectFromPictures(op, card, 0, pic).result, OpResult::kRefused);
    EXPECT_TRUE(op.messages.empty());
    EXPECT_TRUE(op.keyframeEditCutModes.empty());
    EXPECT_FALSE(card.Directory().Effect(0).Used());
    // The question: cut, wipe and mix offered, the animated wipes never;
    // simple cut and no sound preselected, the sound choice shown.
    ASSERT_EQ(op.effectTypeChoices.size(), 1u);
    const EffectTypeChoice& asked = op.effectTypeChoices[0];
    EXPECT_TRUE(asked.Offers(0) && asked.Offers(1) && asked.Offers(2));
    EXPECT_FALSE(asked.Offers(3) || asked.Offers(4));
    EXPECT_EQ(asked.effectType, 0);
    EXPECT_FALSE(asked.withSound);
    EXPECT_TRUE(asked.soundChoiceShown);

    // Cancel in the keyframe edit: nothing written, no message.
    op = CScriptedOperator();
    op.effectTypeAnswers = {{true, 1, false}};
    op.keyframeEdits.push_back([](IEffectKeys&, bool) { return false; });
    EXPECT_EQ(AddEffectFromPictures(op, card, 0, pic).result, OpResult::kRefused);
    EXPECT_EQ(op.keyframeEditCutModes, std::vector<bool>{false});
    EXPECT_TRUE(op.messages.empty());
    EXPECT_FALSE(card.Directory().Effect(0).Used());

    // A mix: the edit sees the kind, its keys go into the marks.
    op = CScriptedOperator();
    op.effectTypeAnswers = {{true, 2, false}};
    int seenKind = -1, seenFrames = 0;
    op.keyframeEdits.push_back([&](IEffectKeys& s, bool) {
        seenKind = s.TransitionKind();
        seenFrames = s.FrameCount();
        s.SetFadeKey(0, 128);
        return true;
    });
    ASSERT_EQ(AddEffectFromPictures(op, card, 0, pic).result, OpResult::kDone);
    EXPECT_EQ(seenKind, 0);
    EXPECT_EQ(seenFrames, 2);
    EXPECT_EQ(op.keyframeEditCutModes, std::vector<bool>{false});
    auto run = Run(card.Directory().Effect(0));
    EffectMarks m;
    ASSERT_TRUE(GetEffectMarks(run.data() + kVideoAreaOffset, m));
    EXPECT_EQ(m.kind, 0);
    EXPECT_EQ(m.fade, 128);
    EXPECT_EQ(card.Directory().EffectSwitch(0), 1);
    EXPECT_TRUE(op.openChoices.empty());  // no sound: no WAV file asked for
}

// A simple cut starts the edit from the default cut in cut mode; "Set cut
// position" there moves the cut; an animated wipe that arrives is made
// without an edit.
TEST_F(EffectOpsTest, CutModeEditAndAnimatedWipes) {
    std::string pic = Pictures(5);
    Open();
    op.effectTypeAnswers = {{true, 0, true}};  // with sound, but the WAV choice is cancelled
    std::map<int, int> keysSeen;
    op.keyframeEdits.push_back([&](IEffectKeys& s, bool cutMode) {
        EXPECT_TRUE(cutMode);
        keysSeen = s.PositionKeys();
        s.SetCutPosition(1);
        return true;
    });
    ASSERT_EQ(AddEffectFromPictures(op, card, 0, pic).result, OpResult::kDone);
    // The default cut of 5 frames: 0 at frames 0 and 1, 2046 at frames 2 and 4.
    EXPECT_EQ(keysSeen, (std::map<int, int>{{0, 0}, {1, 0}, {2, 2046}, {4, 2046}}));
    ASSERT_EQ(op.openChoices.size(), 1u);
    EXPECT_EQ(op.openChoices[0].filter, "Audio files (*.wav)|*.wav||");
    auto run = Run(card.Directory().Effect(0));
    const int want[5] = {0, 2046, 2046, 2046, 2047};
    for (int i = 0; i < 5; ++i) {
        EffectMarks m;
        ASSERT_TRUE(GetEffectMarks(run.data() + size_t(i) * kSlot + kVideoAreaOffset, m));
        EXPECT_EQ(m.position, want[i]) << i;
        // No sound: the audio bytes are zero.
        const uint8_t* audio = run.data() + size_t(i) * kSlot + kAudioChunkHeaderBytes;
        EXPECT_TRUE(std::all_of(audio, audio + kEffectAudioBytes, [](uint8_t b) { return b == 0; })) << i;
    }

    // Type 3 (never offered, handled all the same): no edit, Switch 2.
    op = CScriptedOperator();
    op.effectTypeAnswers = {{true, 3, false}};
    ASSERT_EQ(AddEffectFromPictures(op, card, 1, pic).result, OpResult::kDone);
    EXPECT_TRUE(op.keyframeEditCutModes.empty());
    EXPECT_EQ(card.Directory().EffectSwitch(1), 2);
    // An answer outside the types is a cancel.
    op = CScriptedOperator();
    op.effectTypeAnswers = {{true, 7, false}};
    EXPECT_EQ(AddEffectFromPictures(op, card, 2, pic).result, OpResult::kRefused);
    EXPECT_FALSE(card.Directory().Effect(2).Used());
}

TEST_F(EffectOpsTest, OnlyOnHdCards) {
    std::string uhdImage = dir.File("uhd.img");
    ASSERT_TRUE(test::MakeFormattedImage(uhdImage, 40, 7));
    CSDCard uhd;
    uhd.SetOperator(&op);
    ASSERT_TRUE(test::OpenCard(uhd, uhdImage));
    EXPECT_EQ(AddEffectFromEffectFile(op, uhd, 0, dir.File("any.effect")).result, OpResult::kRefused);
    EXPECT_TRUE(op.messages.empty());
}

// The card pulled at every write of adding from a file and from pictures:
// the directory stays valid and names the effect only when it is complete.
TEST_F(EffectOpsTest, CrashAtEveryWriteLeavesAValidCard) {
    std::string pic = Pictures(2);
    const std::vector<uint8_t> pristine = test::ReadFileBytes(image);
    Open();
    ASSERT_EQ(AddEffectFromPictures(op, card, 0, pic).result, OpResult::kDone);
    std::string file = dir.File("e.effect");
    ASSERT_EQ(ReadEffectToFile(op, card, 0, file).result, OpResult::kDone);
    card.Close();
    for (bool fromFile : {true, false}) {
        for (uint64_t at = 1;; ++at) {
            ASSERT_TRUE(test::WriteFileBytes(image, pristine));
            op = CScriptedOperator();
            Open(true);
            fault->crashAtWrite = fault->writes + at;
            EffectOpOutcome r = fromFile ? AddEffectFromEffectFile(op, card, 0, file) : AddEffectFromPictures(op, card, 0, pic);
            const bool crashed = fault->crashed;
            card.Close();
            EXPECT_EQ(test::CheckCardConsistent(image), "") << at;
            CSDCard again;
            ASSERT_TRUE(test::OpenCard(again, image));
            if (crashed) {
                EXPECT_NE(r.result, OpResult::kDone) << at;
                EXPECT_FALSE(again.Directory().Effect(0).Used()) << at;
            } else {
                EXPECT_EQ(r.result, OpResult::kDone);
                EXPECT_EQ(again.Directory().Effect(0).numFrames, 2);
                break;
            }
            ASSERT_LT(at, 40u);
        }
    }
}

}  // namespace
}  // namespace rk
