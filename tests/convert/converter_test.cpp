// The ProRes export end to end with the real ffmpeg and ffprobe: what the
// .mov holds (codec, frames, rate, sound bit for bit), and failures on the
// way (bad headers, frames of another shape, ffmpeg missing or killed).
#include <sched.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>

#include "codec/kavq1_slot.h"
#include "codec/kvq1_encoder.h"
#include "convert/kavq1_file_converter.h"
#include "convert/media_fixture.h"
#include "convert/tool_folder.h"

namespace rk {
namespace {

constexpr int kSlot1 = 33 * 12288;

// Slots of size class 1 with a moving picture and a known sound: sample k of
// the stream is (k * 977) mod 2^24 on the left and its negation on the right,
// so every byte of the regrouping shows.
struct SlotStream {
    std::vector<std::vector<uint8_t>> slots;
    std::vector<uint8_t> sound;  // interleaved s24le, as it should come back
};

SlotStream MakeSlots(int frames, int rateCode, bool withSound) {
    SlotStream s;
    KVQ1Encoder enc(1, 768, rateCode);
    std::vector<uint8_t> luma(1920 * 1088), cb(960 * 544, 128), cr(960 * 544, 128);
    uint32_t sample = 0;
    for (int n = 0; n < frames; ++n) {
        for (int y = 0; y < 1088; ++y)
            for (int x = 0; x < 1920; ++x)
                luma[y * 1920 + x] = y < 1080 ? static_cast<uint8_t>((x / 4 + y / 4 + n * 8) & 255) : 0;
        std::vector<uint8_t> slot(kSlot1, 0);
        const int share = AudioShareBytes(rateCode, static_cast<uint32_t>(n));
        std::vector<uint8_t> audio(static_cast<size_t>(share));
        for (int i = 0; i < share / 6; ++i, ++sample) {
            uint32_t l = (sample * 977u) & 0xFFFFFFu, r = (0x1000000u - l) & 0xFFFFFFu;
            for (int b = 0; b < 3; ++b) {
                audio[i * 6 + b] = static_cast<uint8_t>(l >> (8 * b));
                audio[i * 6 + 3 + b] = static_cast<uint8_t>(r >> (8 * b));
            }
        }
        FillAudioChunk(slot.data(), static_cast<uint32_t>(n), rateCode, withSound ? audio.data() : nullptr,
                       withSound ? audio.size() : 0);
        s.sound.insert(s.sound.end(), audio.begin(), audio.end());
        if (!withSound) std::fill(s.sound.end() - share, s.sound.end(), 0);
        enc.Encode(static_cast<uint32_t>(n), luma.data(), cb.data(), cr.data(), slot.data() + 12288);
        s.slots.push_back(std::move(slot));
    }
    return s;
}

class ConverterTest : public ::testing::Test {
protected:
    void SetUp() override { SetProgramFolder(""); }
    void TearDown() override { SetProgramFolder(""); }

    bool Export(const SlotStream& s, const std::string& out) {
        KAVQ1FileConverter conv(s.slots[0].data(), s.slots[0].size());
        if (!conv.IsValid() || !conv.Open(out)) return false;
        if (conv.AudioOn())
            for (auto& slot : s.slots)
                if (!conv.PushAudio(slot.data())) return false;
        for (auto& slot : s.slots)
            if (!conv.PushFrame(slot.data())) return false;
        return conv.Finish();
    }

    std::string Probe(const std::string& file, const char* stream) {
        std::string text;
        test::RunTool("ffprobe", "-v quiet -count_frames -show_streams -select_streams %s \"%s\"", {stream, file},
                      &text);
        return text;
    }

    test::TempDir dir;
};

TEST_F(ConverterTest, RoundTripWithSoundGivesProResFramesRateAndTheSameSound) {
    SlotStream s = MakeSlots(6, 50, true);
    const std::string out = dir.File("out.mov");
    ASSERT_TRUE(Export(s, out));

    std::string v = Probe(out, "v:0");
    EXPECT_EQ(test::ProbeValue(v, "codec_name"), "prores");
    EXPECT_EQ(test::ProbeValue(v, "profile"), "HQ");
    EXPECT_EQ(test::ProbeValue(v, "width"), "1920");
    EXPECT_EQ(test::ProbeValue(v, "height"), "1080");
    EXPECT_EQ(test::ProbeValue(v, "r_frame_rate"), "50/1");
    EXPECT_EQ(test::ProbeValue(v, "nb_read_frames"), "6");
    std::string a = Probe(out, "a:0");
    EXPECT_EQ(test::ProbeValue(a, "codec_name"), "pcm_s24le");
    EXPECT_EQ(test::ProbeValue(a, "sample_rate"), "48000");
    EXPECT_EQ(test::ProbeValue(a, "channels"), "2");

    // The sound comes back bit for bit.
    ASSERT_TRUE(test::MakeMedia("-i \"%s\" -map 0:a -f s24le -c:a pcm_s24le -y \"%s\"", {out, dir.File("back.raw")}));
    std::string back;
    ASSERT_TRUE(test::ReadFile(dir.File("back.raw"), back));
    ASSERT_EQ(back.size(), s.sound.size());
    EXPECT_EQ(std::memcmp(back.data(), s.sound.data(), back.size()), 0);

    // The pictures are the decoded frames, through ProRes's small loss.
    ASSERT_TRUE(test::MakeMedia("-i \"%s\" -map 0:v -f rawvideo -pix_fmt yuv420p -y \"%s\"", {out, dir.File("back.yuv")}));
    for (int i : {0, 5}) {
        test::DecodedSlot d = test::DecodeSlot(s.slots[i].data(), s.slots[i].size());
        ASSERT_TRUE(d.ok);
        EXPECT_GT(test::LumaPsnr(d.luma, dir.File("back.yuv"), i, 1920, 1080), 40.0) << i;
    }
}

// A temporary folder that is full drops only the sound: the picture FIFO
// still fits (it takes the folder's last free inodes), the sound file does
// not, and the export goes on without sound. The full folder is a tmpfs of
// four inodes (the working folder also holds its owner mark), mounted in a mount namespace of this test process alone.
TEST_F(ConverterTest, FullTemporaryFolderExportsPicturesWithoutSound) {
    const std::string full = dir.File("full");
    ASSERT_EQ(mkdir(full.c_str(), 0700), 0);
    if (unshare(CLONE_NEWNS) != 0 || mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
        mount("tmpfs", full.c_str(), "tmpfs", 0, "nr_inodes=4,size=1m") != 0)
        GTEST_SKIP() << "cannot mount a small tmpfs here (needs root and mount namespaces)";
    const char* oldTmp = std::getenv("TMPDIR");
    const std::string keep = oldTmp ? oldTmp : "";
    setenv("TMPDIR", full.c_str(), 1);

    SlotStream s = MakeSlots(4, 50, true);
    const std::string out = dir.File("silent.mov");
    bool exported = false;
    {
        KAVQ1FileConverter conv(s.slots[0].data(), s.slots[0].size());
        ASSERT_TRUE(conv.IsValid());
        ASSERT_TRUE(conv.Open(out));
        EXPECT_FALSE(conv.AudioOn());
        EXPECT_FALSE(conv.PushAudio(s.slots[0].data()));
        exported = true;
        for (auto& slot : s.slots) exported = exported && conv.PushFrame(slot.data());
        exported = exported && conv.Finish();
    }
    if (oldTmp) setenv("TMPDIR", keep.c_str(), 1); else unsetenv("TMPDIR");
    umount(full.c_str());
    ASSERT_TRUE(exported);

    std::string v = Probe(out, "v:0");
    EXPECT_EQ(test::ProbeValue(v, "codec_name"), "prores");
    EXPECT_EQ(test::ProbeValue(v, "nb_read_frames"), "4");
    EXPECT_EQ(test::ProbeValue(Probe(out, "a:0"), "codec_name"), "") << "no sound stream";
}

TEST_F(ConverterTest, NtscRateGoesToBothSidesAndSilentChunksGiveSilence) {
    SlotStream s = MakeSlots(5, 59, false);
    const std::string out = dir.File("ntsc.mov");
    ASSERT_TRUE(Export(s, out));
    std::string v = Probe(out, "v:0");
    EXPECT_EQ(test::ProbeValue(v, "r_frame_rate"), "60000/1001");
    EXPECT_EQ(test::ProbeValue(v, "nb_read_frames"), "5");
    std::string a = Probe(out, "a:0");
    EXPECT_EQ(test::ProbeValue(a, "codec_name"), "pcm_s24le");
    ASSERT_TRUE(test::MakeMedia("-i \"%s\" -map 0:a -f s24le -c:a pcm_s24le -y \"%s\"", {out, dir.File("back.raw")}));
    std::string back;
    ASSERT_TRUE(test::ReadFile(dir.File("back.raw"), back));
    EXPECT_EQ(back.size(), 4800u * 3 + 4812u * 2);
    EXPECT_EQ(back.find_first_not_of('\0'), std::string::npos);
}

TEST_F(ConverterTest, HeaderChecks) {
    std::vector<uint8_t> slot(kSlot1, 0);
    KAVQ1FileConverter zero(slot.data(), slot.size());
    EXPECT_FALSE(zero.IsValid());
    EXPECT_FALSE(zero.Open(dir.File("x.mov")));

    std::memcpy(slot.data() + 12288, "KVQ1", 4);
    slot[12292] = 3;
    EXPECT_FALSE(KAVQ1FileConverter(slot.data(), slot.size()).IsValid());
    slot[12292] = 2;
    slot[12293] = 0;  // read as 50
    KAVQ1FileConverter two(slot.data(), slot.size());
    ASSERT_TRUE(two.IsValid());
    EXPECT_EQ(two.FrameRate(), 50);
    EXPECT_EQ(two.FrameBytes(), 1200128);  // a budget field of 0
    EXPECT_EQ(two.SlotBytes(), 1200128 + 12288);
    EXPECT_FALSE(KAVQ1FileConverter(slot.data(), 12295).IsValid());  // header cut short
    EXPECT_FALSE(KAVQ1FileConverter(nullptr, 0).IsValid());
    EXPECT_FALSE(two.PushAudio(slot.data()));  // not started
    EXPECT_FALSE(two.PushFrame(slot.data()));
    EXPECT_FALSE(two.Finish());
    EXPECT_FALSE(test::FileExists(dir.File("x.mov")));
}

TEST_F(ConverterTest, ChunksWithoutAudioAndFramesOfAnotherShape) {
    SlotStream s = MakeSlots(2, 50, true);
    KAVQ1FileConverter conv(s.slots[0].data(), s.slots[0].size());
    ASSERT_TRUE(conv.Open(dir.File("shape.mov")));
    ASSERT_TRUE(conv.AudioOn());
    std::vector<uint8_t> head(12288, 0);
    head[13] = 8;  // 32 bytes: the header alone
    EXPECT_TRUE(conv.PushAudio(head.data()));
    head[12] = 0xFF;  // promises far more than a head cluster holds
    head[13] = 0xFF;
    EXPECT_TRUE(conv.PushAudio(head.data()));  // read only within the cluster
    struct stat st;
    conv.PushAudio(s.slots[0].data());
    // A size class 2 frame behind a size class 1 start is refused, not
    // decoded into planes too small for it.
    std::vector<uint8_t> other = s.slots[1];
    other[12288 + 4] = 2;
    EXPECT_FALSE(conv.PushFrame(other.data()));
    ASSERT_EQ(stat(conv.AudioPath().c_str(), &st), 0);
    EXPECT_EQ(st.st_size, 12256 + 5760);
    EXPECT_TRUE(conv.PushFrame(s.slots[0].data()));
    EXPECT_TRUE(conv.Finish());
}

TEST_F(ConverterTest, MissingFfmpegFailsTheOpen) {
    test::TempDir empty;
    SetProgramFolder(empty.Path());
    SlotStream s = MakeSlots(1, 50, true);
    std::string audio;
    {
        KAVQ1FileConverter conv(s.slots[0].data(), s.slots[0].size());
        EXPECT_FALSE(conv.Open(dir.File("none.mov")));
        audio = conv.AudioPath();
        EXPECT_FALSE(conv.PushFrame(s.slots[0].data()));
        EXPECT_FALSE(conv.Finish());
    }
    EXPECT_TRUE(audio.empty() || !test::FileExists(audio));
}

TEST_F(ConverterTest, KilledFfmpegFailsTheFramesWithoutHanging) {
    SlotStream s = MakeSlots(2, 50, false);
    const auto childrenBefore = test::ChildPids();
    std::string audio;
    {
        KAVQ1FileConverter conv(s.slots[0].data(), s.slots[0].size());
        ASSERT_TRUE(conv.Open(dir.File("killed.mov")));
        audio = conv.AudioPath();
        ASSERT_TRUE(conv.PushFrame(s.slots[0].data()));
        kill(conv.ToolPid(), SIGKILL);
        bool failed = false;
        for (int i = 0; i < 50 && !failed; ++i) failed = !conv.PushFrame(s.slots[1].data());
        EXPECT_TRUE(failed);
        EXPECT_FALSE(conv.Finish());
    }
    EXPECT_FALSE(audio.empty());
    EXPECT_FALSE(test::FileExists(audio));
    EXPECT_TRUE(test::Eventually([&] { return test::ChildPids().size() <= childrenBefore.size(); }));
}

TEST_F(ConverterTest, DestroyWithoutFinishStillCompletesTheFile) {
    SlotStream s = MakeSlots(3, 25, true);
    const std::string out = dir.File("destroyed.mov");
    {
        KAVQ1FileConverter conv(s.slots[0].data(), s.slots[0].size());
        ASSERT_TRUE(conv.Open(out));
        for (auto& slot : s.slots) ASSERT_TRUE(conv.PushAudio(slot.data()));
        for (auto& slot : s.slots) ASSERT_TRUE(conv.PushFrame(slot.data()));
    }
    std::string v = Probe(out, "v:0");
    EXPECT_EQ(test::ProbeValue(v, "nb_read_frames"), "3");
    EXPECT_EQ(test::ProbeValue(v, "r_frame_rate"), "25/1");
}

TEST_F(ConverterTest, OpenedButNeverFedEndsWithoutHanging) {
    SlotStream s = MakeSlots(1, 50, true);
    KAVQ1FileConverter conv(s.slots[0].data(), s.slots[0].size());
    ASSERT_TRUE(conv.Open(dir.File("empty.mov")));
    EXPECT_FALSE(conv.Finish());  // no frames: ffmpeg has nothing to write
}

}  // namespace
}  // namespace rk
