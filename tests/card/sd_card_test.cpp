// CSDCard over real image files and a failing device: opening and the size
// rule, the directory round trip, the once-per-opening messages, the
// unmount-and-retry path, formatting, and 64-bit Cluster offsets.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <map>

#include "base/string_ids.h"
#include "base/texts.h"
#include "card/format.h"
#include "card/video_modes.h"
#include "card_test_util.h"
#include "ui/scripted_operator.h"

namespace rk {
namespace {

using test::TempDir;

constexpr uint64_t kMiB = 1048576;

std::string AccessText() { return LoadText(IDS_MEDIA_ACCESS_ERROR); }
std::string WriteText() { return LoadText(IDS_MEDIA_WRITE_ERROR); }

TEST(CSDCardOpen, SizeRuleOnSparseImages) {
    TempDir dir;
    // 512000 MiB plus 2047 sectors still truncates to 512000 MiB.
    std::string ok = test::MakeImage(dir, "ok.img", 512000 * kMiB + 2047 * 512);
    std::string big = test::MakeImage(dir, "big.img", 512001 * kMiB);
    ASSERT_FALSE(ok.empty());
    ASSERT_FALSE(big.empty());
    CSDCard card;
    EXPECT_EQ(card.OpenPath(ok), kOpenOk);
    EXPECT_TRUE(card.IsOpen());
    EXPECT_EQ(card.SizeMiB(), 512000);
    EXPECT_EQ(card.TotalSectors(), int64_t(512000) * 2048 + 2047);
    card.Close();
    EXPECT_EQ(card.OpenPath(big), kOpenFailed);
    EXPECT_FALSE(card.IsOpen());
    EXPECT_EQ(card.OpenPath(dir.File("missing.img")), kOpenFailed);
    EXPECT_EQ(card.OpenPath(dir.Path()), kOpenFailed);  // a folder is no card
}

TEST(CardImages, SizeTextsAndCreation) {
    uint64_t b = 0;
    EXPECT_TRUE(ParseSizeText("512M", b));
    EXPECT_EQ(b, 512 * kMiB);
    EXPECT_TRUE(ParseSizeText("32g", b));
    EXPECT_EQ(b, 32ull << 30);
    EXPECT_TRUE(ParseSizeText("8GiB", b));
    EXPECT_EQ(b, 8ull << 30);
    EXPECT_TRUE(ParseSizeText("2048s", b));
    EXPECT_EQ(b, 2048ull * 512);
    EXPECT_TRUE(ParseSizeText("4096", b));
    EXPECT_EQ(b, 4096u);
    for (const char* bad : {"", "G", "0", "0M", "-1G", "1.5G", "12Q", "1 G", "99999999999999999999", "20000000T",
                            "1GG", "\xff"})
        EXPECT_FALSE(ParseSizeText(bad, b)) << bad;
    TempDir dir;
    int err = 0;
    EXPECT_TRUE(CreateCardImage(dir.File("n.img"), 512000 * kMiB, err));
    struct stat st {};
    ASSERT_EQ(::stat(dir.File("n.img").c_str(), &st), 0);
    EXPECT_EQ(uint64_t(st.st_size), 512000 * kMiB);
    EXPECT_LT(uint64_t(st.st_blocks) * 512, kMiB);  // sparse
    EXPECT_FALSE(CreateCardImage(dir.File("n.img"), kMiB, err));  // never over an existing file
    EXPECT_EQ(err, EEXIST);
    EXPECT_FALSE(CreateCardImage(dir.File("nofolder/x.img"), kMiB, err));
    EXPECT_FALSE(CreateCardImage(dir.File("z.img"), 0, err));
}

TEST(CSDCardOpen, LengthQueryFailureRefuses) {
    TempDir dir;
    std::string img = test::MakeImage(dir, "c.img", 64 * kMiB);
    std::unique_ptr<ICardDevice> dev;
    int err = 0;
    ASSERT_EQ(OpenCardDevice(img, dev, err), kOpenOk);
    auto fault = std::make_unique<CFaultDevice>(std::move(dev));
    fault->sizeQueryFails = true;
    CSDCard card;
    EXPECT_EQ(card.OpenDevice(std::move(fault)), kOpenFailed);
    EXPECT_FALSE(card.IsOpen());
    EXPECT_EQ(card.Device(), nullptr);
}

TEST(CSDCardOpen, ExclusiveWhileOpen) {
    TempDir dir;
    std::string img = test::MakeImage(dir, "c.img", 64 * kMiB);
    CSDCard a, b;
    ASSERT_EQ(a.OpenPath(img), kOpenOk);
    EXPECT_EQ(b.OpenPath(img), kOpenFailed);  // held by another opening
    a.Close();
    EXPECT_EQ(b.OpenPath(img), kOpenOk);
}

TEST(CSDCardDirectory, BlankCardNotFormattedWithoutMessage) {
    TempDir dir;
    std::string img = test::MakeImage(dir, "c.img", 64 * kMiB);
    CScriptedOperator op;
    CSDCard card(&op);
    ASSERT_EQ(card.OpenPath(img), kOpenOk);
    EXPECT_FALSE(card.ReadDirectory());
    EXPECT_FALSE(card.IsDirectoryValid());
    EXPECT_TRUE(op.messages.empty());
    EXPECT_EQ(card.VideoCount(), 0);
    EXPECT_EQ(card.VideoOfListPosition(0), -1);
    EXPECT_EQ(card.VideoText(0), "");
}

TEST(CSDCardDirectory, ReadWithoutOpenShowsAccessErrorOnce) {
    CScriptedOperator op;
    CSDCard card(&op);
    EXPECT_EQ(card.OpenPath("/nonexistent/card.img"), kOpenFailed);
    EXPECT_FALSE(card.ReadDirectory());
    EXPECT_FALSE(card.ReadDirectory());
    ASSERT_EQ(op.messages.size(), 1u);
    EXPECT_EQ(op.messages[0].text, AccessText());
    EXPECT_EQ(op.messages[0].icon, kIconError);
}

TEST(CSDCardDirectory, TinyImageShortReadIsAnAccessError) {
    TempDir dir;
    std::string img = test::MakeImage(dir, "tiny.img", 4096);
    CScriptedOperator op;
    CSDCard card(&op);
    ASSERT_EQ(card.OpenPath(img), kOpenOk);
    EXPECT_FALSE(card.ReadDirectory());
    EXPECT_TRUE(op.Showed(AccessText()));
}

TEST(CSDCardDirectory, SpareAndReservedBytesSurviveReadAndWrite) {
    TempDir dir;
    std::string img = test::MakeImage(dir, "c.img", 64 * kMiB);
    CScriptedOperator op;
    {
        CSDCard card(&op);
        ASSERT_EQ(card.OpenPath(img), kOpenOk);
        ASSERT_TRUE(card.Format(2));
        uint8_t* b = card.Directory().Bytes();
        for (size_t i = kOffSpare; i < kOffSpare + kSpareSize; ++i) b[i] = uint8_t(i * 7);
        for (int p = 0; p < kPlaylistCount; ++p)
            for (int r = 0; r < 3; ++r) b[kOffPlaylistRecords + 68 * p + 65 + r] = uint8_t(p + r + 1);
        b[kOffEffects + 10] = 0x5A;  // an effect's reserved byte
        ASSERT_TRUE(card.WriteDirectory());
    }
    CSDCard card(&op);
    ASSERT_EQ(card.OpenPath(img), kOpenOk);
    ASSERT_TRUE(card.ReadDirectory());
    EXPECT_EQ(card.VideoMode(), 2);
    ASSERT_TRUE(card.WriteDirectory());  // a second pass changes nothing
    ASSERT_TRUE(card.ReadDirectory());
    const uint8_t* b = card.Directory().Bytes();
    for (size_t i = kOffSpare; i < kOffSpare + kSpareSize; ++i) ASSERT_EQ(b[i], uint8_t(i * 7)) << i;
    for (int p = 0; p < kPlaylistCount; ++p)
        for (int r = 0; r < 3; ++r) EXPECT_EQ(b[kOffPlaylistRecords + 68 * p + 65 + r], uint8_t(p + r + 1));
    EXPECT_EQ(b[kOffEffects + 10], 0x5A);
    EXPECT_TRUE(op.messages.empty());
}

TEST(CSDCardErrors, OneMessagePerOpeningAcrossReadsAndWrites) {
    TempDir dir;
    std::string img = test::MakeImage(dir, "c.img", 64 * kMiB);
    CScriptedOperator op;
    CSDCard card(&op);
    CFaultDevice* fault = nullptr;
    ASSERT_EQ(test::OpenFaulty(card, img, fault), kOpenOk);
    ASSERT_TRUE(card.Format(0));
    fault->failForever = true;
    fault->failWriteAt = fault->writes + 1;
    std::vector<uint8_t> buf(2 * kClusterSize);
    EXPECT_FALSE(card.WriteCluster(2000, buf.data()));
    EXPECT_FALSE(card.WriteClusters(2000, buf.data(), 2));
    EXPECT_FALSE(card.ReadCluster(2000, buf.data()));
    EXPECT_FALSE(card.WriteDirectory());
    EXPECT_FALSE(card.ReadDirectory());
    ASSERT_EQ(op.messages.size(), 1u);
    EXPECT_EQ(op.messages[0].text, WriteText());
    EXPECT_TRUE(card.ErrorReported());

    // Closing and opening again starts the reporting afresh.
    card.Close();
    EXPECT_FALSE(card.ErrorReported());
    ASSERT_EQ(test::OpenFaulty(card, img, fault), kOpenOk);
    fault->failReadAt = 1;
    EXPECT_FALSE(card.ReadCluster(10, buf.data()));
    fault->failWriteAt = 1;
    EXPECT_FALSE(card.WriteCluster(10, buf.data()));
    ASSERT_EQ(op.messages.size(), 2u);
    EXPECT_EQ(op.messages[1].text, AccessText());
}

TEST(CSDCardErrors, FailedFlushIsNeverSuccess) {
    TempDir dir;
    std::string img = test::MakeImage(dir, "c.img", 64 * kMiB);
    CScriptedOperator op;
    CSDCard card(&op);
    CFaultDevice* fault = nullptr;
    ASSERT_EQ(test::OpenFaulty(card, img, fault), kOpenOk);
    ASSERT_TRUE(card.Format(0));
    // The flush of the item data before the directory fails: the directory
    // is not written at all.
    uint64_t writesBefore = fault->writes;
    fault->failFlushAt = fault->flushes + 1;
    EXPECT_FALSE(card.WriteDirectory());
    EXPECT_EQ(fault->writes, writesBefore);
    EXPECT_TRUE(op.Showed(WriteText()));
    // The flush after the directory fails: reported as a failure too.
    card.Close();
    ASSERT_EQ(test::OpenFaulty(card, img, fault), kOpenOk);
    fault->failFlushAt = 2;
    EXPECT_FALSE(card.Format(1));
    EXPECT_TRUE(card.ErrorReported());
}

TEST(CSDCardErrors, AccessDeniedWriteRetriedOnceAfterUnmount) {
    TempDir dir;
    std::string img = test::MakeImage(dir, "c.img", 64 * kMiB);
    CScriptedOperator op;
    CSDCard card(&op);
    CFaultDevice* fault = nullptr;
    ASSERT_EQ(test::OpenFaulty(card, img, fault), kOpenOk);
    fault->refuseWritesWithAccessDenied = 1;
    EXPECT_TRUE(card.Format(4));
    EXPECT_EQ(fault->unmounts, 1u);
    EXPECT_EQ(fault->writes, 2u);  // the refused write and exactly one retry
    EXPECT_TRUE(op.messages.empty());

    // Still refused after the unmount: one retry only, then the message.
    card.Close();
    ASSERT_EQ(test::OpenFaulty(card, img, fault), kOpenOk);
    ASSERT_TRUE(card.ReadDirectory());
    fault->refuseWritesWithAccessDenied = 100;
    fault->failWriteAt = 2;  // the retry fails as well
    fault->failError = EACCES;
    EXPECT_FALSE(card.WriteDirectory());
    EXPECT_EQ(fault->unmounts, 1u);
    EXPECT_EQ(fault->writes, 2u);
    EXPECT_TRUE(op.Showed(WriteText()));
    // Other failures are not retried.
    card.Close();
    ASSERT_EQ(test::OpenFaulty(card, img, fault), kOpenOk);
    fault->failWriteAt = 1;
    EXPECT_FALSE(card.Format(0));
    EXPECT_EQ(fault->unmounts, 0u);
    EXPECT_EQ(fault->writes, 1u);
}

TEST(CSDCardFormat, WritesOnlyTheDirectoryAndReadsBackEmpty) {
    TempDir dir;
    std::string img = test::MakeImage(dir, "c.img", 64 * kMiB);
    {
        // Something recognisable behind the directory.
        CSDCard card;
        ASSERT_EQ(card.OpenPath(img), kOpenOk);
        std::vector<uint8_t> junk(20 * kClusterSize, 0xEE);
        ASSERT_TRUE(card.WriteClusters(2, junk.data(), 20));
    }
    CScriptedOperator op;
    CSDCard card(&op);
    ASSERT_EQ(card.OpenPath(img), kOpenOk);
    EXPECT_FALSE(card.ReadDirectory());
    EXPECT_EQ(card.PresetFormatMode(), 0);
    ASSERT_TRUE(card.Format(7));
    EXPECT_EQ(card.FreeClusters(), card.ItemAreaClusters());
    EXPECT_EQ(card.FirstItemCluster(), 3187);
    card.Close();
    ASSERT_EQ(card.OpenPath(img), kOpenOk);
    ASSERT_TRUE(card.ReadDirectory());
    EXPECT_EQ(card.PresetFormatMode(), 7);
    EXPECT_EQ(card.FirstStillCluster(), 1043);
    EXPECT_EQ(card.ClustersPerFrame(), 65);
    EXPECT_EQ(card.DisplayRate(), 60);
    const uint8_t* b = card.Directory().Bytes();
    for (size_t i = 0; i < kDirectorySize; ++i) {
        if (i >= kOffMagic && i < kOffMagic + 8) continue;
        if (i >= kOffChecksum) continue;
        ASSERT_EQ(b[i], 0) << i;
    }
    // Clusters 3 and up were not touched.
    auto after = test::ReadImageClusters(img, 3, 19);
    EXPECT_EQ(after, std::vector<uint8_t>(19 * kClusterSize, 0xEE));
    // Reformatting as HD moves the regions at once.
    ASSERT_TRUE(card.Format(0));
    EXPECT_EQ(card.FirstItemCluster(), 1651);
    EXPECT_EQ(card.FirstStillCluster(), 531);
    EXPECT_FALSE(card.Format(9));  // no such mode: nothing written
    EXPECT_EQ(card.VideoMode(), 0);
}

TEST(CSDCardFormat, NothingWhenClosed) {
    CSDCard card;
    CScriptedOperator op;
    EXPECT_FALSE(card.Format(0));
    EXPECT_FALSE(FormatCard(card, op, 0));
    EXPECT_FALSE(card.IsDirectoryValid());
    EXPECT_TRUE(op.messages.empty());
    EXPECT_EQ(op.refreshes, 0u);
}

TEST(CSDCardFormat, MessagesAndRescan) {
    TempDir dir;
    std::string img = test::MakeImage(dir, "c.img", 64 * kMiB);
    CScriptedOperator op;
    CSDCard card(&op);
    CFaultDevice* fault = nullptr;
    ASSERT_EQ(test::OpenFaulty(card, img, fault), kOpenOk);
    ASSERT_TRUE(FormatCard(card, op, 6));
    ASSERT_EQ(op.messages.size(), 1u);
    EXPECT_EQ(op.messages[0].icon, kIconInformation);
    EXPECT_EQ(op.messages[0].text, LoadText(IDS_FORMAT_COMPLETE));
    EXPECT_TRUE(op.refreshes & kRefreshLists);
    EXPECT_EQ(op.rescans, 0);
    fault->failWriteAt = fault->writes + 1;
    EXPECT_FALSE(FormatCard(card, op, 1));
    ASSERT_EQ(op.messages.size(), 2u);
    EXPECT_EQ(op.messages[1].text, WriteText());
    EXPECT_EQ(op.rescans, 1);
}

// Records the offsets reaching the device, for addressing beyond 4 GiB.
class CRecordingDevice : public ICardDevice {
public:
    std::map<uint64_t, size_t> writes;
    std::vector<uint64_t> readOffsets;
    bool QuerySize(uint64_t& b) override {
        b = 500ull * 1024 * 1024 * 1024;
        return true;
    }
    bool ReadAt(uint64_t off, void* buf, size_t n, int&) override {
        readOffsets.push_back(off);
        std::memset(buf, 0, n);
        return true;
    }
    bool WriteAt(uint64_t off, const void*, size_t n, int&) override {
        writes[off] = n;
        return true;
    }
    bool Flush(int&) override { return true; }
    void UnmountVolumes() override {}
    DeviceKind Kind() const override { return DeviceKind::kOther; }
    std::string Path() const override { return "recording"; }
};

TEST(CSDCardClusters, SixtyFourBitOffsets) {
    auto dev = std::make_unique<CRecordingDevice>();
    auto* rec = dev.get();
    CSDCard card;
    ASSERT_EQ(card.OpenDevice(std::move(dev)), kOpenOk);
    std::vector<uint8_t> buf(2 * kClusterSize);
    ASSERT_TRUE(card.WriteCluster(0x7FFFFFFFu, buf.data()));
    ASSERT_TRUE(card.ReadCluster(0x7FFFFFFFu, buf.data()));
    ASSERT_TRUE(card.WriteThumbnailBlock(400000, buf.data()));
    EXPECT_EQ(rec->writes.count(uint64_t(0x7FFFFFFF) * 12288), 1u);
    EXPECT_EQ(rec->readOffsets.back(), uint64_t(0x7FFFFFFF) * 12288);
    EXPECT_EQ(rec->writes.count(uint64_t(400000) * 12288), 1u);
    EXPECT_EQ(rec->writes.count(uint64_t(400001) * 12288), 1u);
}

TEST(CSDCardClusters, ThumbnailBlockStopsAtFirstFailure) {
    TempDir dir;
    std::string img = test::MakeImage(dir, "c.img", 64 * kMiB);
    CScriptedOperator op;
    CSDCard card(&op);
    CFaultDevice* fault = nullptr;
    ASSERT_EQ(test::OpenFaulty(card, img, fault), kOpenOk);
    fault->failWriteAt = 1;
    std::vector<uint8_t> buf(2 * kClusterSize, 1);
    EXPECT_FALSE(card.WriteThumbnailBlock(100, buf.data()));
    EXPECT_EQ(fault->writes, 1u);
    // Writing beyond the end of the image is a failure, and the image does not grow.
    EXPECT_FALSE(card.WriteCluster(uint32_t(64 * kMiB / kClusterSize), buf.data()));
    struct stat st {};
    ::stat(img.c_str(), &st);
    EXPECT_EQ(uint64_t(st.st_size), 64 * kMiB);
}

}  // namespace
}  // namespace rk

namespace rk {
namespace {

// A full file system under an image and a reader's I/O error keep the
// system's texts; the cause travels with the message as its detail.
TEST(CSDCardErrors, FullDiskAndIoErrorKeepTheTextAndAddTheCause) {
    struct Case {
        int error;
        bool write;
    } cases[] = {{ENOSPC, true}, {EIO, true}, {EIO, false}};
    for (const Case& c : cases) {
        TempDir dir;
        std::string img = test::MakeImage(dir, "c.img", 64 * kMiB);
        CScriptedOperator op;
        CSDCard card(&op);
        CFaultDevice* fault = nullptr;
        ASSERT_EQ(test::OpenFaulty(card, img, fault), kOpenOk);
        ASSERT_TRUE(card.Format(0));
        fault->failError = c.error;
        std::vector<uint8_t> buf(kClusterSize);
        if (c.write) {
            fault->failWriteAt = fault->writes + 1;
            EXPECT_FALSE(card.WriteCluster(2000, buf.data()));
        } else {
            fault->failReadAt = fault->reads + 1;
            EXPECT_FALSE(card.ReadCluster(2000, buf.data()));
        }
        ASSERT_EQ(op.messages.size(), 1u);
        EXPECT_EQ(op.messages[0].text, LoadText(c.write ? IDS_MEDIA_WRITE_ERROR : IDS_MEDIA_ACCESS_ERROR));
        const std::string cause = op.messages[0].detail;
        EXPECT_NE(cause.find(std::strerror(c.error)), std::string::npos) << cause;
        EXPECT_EQ(cause.rfind(img + ": ", 0), 0u) << cause;
        EXPECT_EQ(card.ErrorText(), cause);
        // Later failures of the same opening show nothing and keep the first cause.
        fault->failWriteAt = fault->writes + 1;
        EXPECT_FALSE(card.WriteCluster(2000, buf.data()));
        EXPECT_EQ(op.messages.size(), 1u);
        EXPECT_EQ(card.ErrorText(), cause);
    }
}

// A file shorter than the directory is no card, and the message says so
// rather than reporting the short read.
TEST(CSDCardErrors, AFileSmallerThanTheDirectoryIsSaidToBeTooSmall) {
    TempDir dir;
    const std::string img = dir.File("six.img");
    ASSERT_TRUE(test::WriteFile(img, "abcdef"));
    CScriptedOperator op;
    CSDCard card(&op);
    ASSERT_EQ(card.OpenPath(img), kOpenOk);
    EXPECT_FALSE(card.ReadDirectory());
    ASSERT_EQ(op.messages.size(), 1u);
    EXPECT_EQ(op.messages[0].text, LoadText(IDS_MEDIA_ACCESS_ERROR));
    EXPECT_EQ(op.messages[0].detail, img + ": 6 bytes, too small for a card, whose directory alone takes 36864 bytes");
}

}  // namespace
}  // namespace rk
