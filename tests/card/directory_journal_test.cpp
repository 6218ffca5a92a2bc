// The journal of directories: a record per card survives a reload, cards do
// not share records, and a damaged or foreign record is never taken.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <filesystem>

#include "card/directory_journal.h"
#include "card/card_device.h"
#include "card/sd_card.h"
#include "support/test_files.h"

namespace rk {
namespace {

CardDirectory Dir(uint32_t start) {
    CardDirectory d;
    d.SetVideo(0, {start, 3, 33});
    d.SetVideoNameUtf8(0, "clip");
    d.PrepareForWrite(0, 33);
    return d;
}

TEST(DirectoryJournal, RecordAndLoadPerCard) {
    test::TempDir tmp;
    CDirectoryJournal j(tmp.File("state/reelkeep/journal"));
    const CardIdentity a{"/dev/sdb:SERIAL1", 15523840, 0}, b{"/home/x/card.img", 15523840, 0};
    CardDirectory p, n;
    EXPECT_FALSE(j.Load(a, p, n));  // nothing yet
    ASSERT_TRUE(j.Record(a, Dir(1651), Dir(1700)));
    ASSERT_TRUE(j.Record(b, Dir(2000), Dir(2100)));
    ASSERT_TRUE(j.Load(a, p, n));
    EXPECT_TRUE(p == Dir(1651));
    EXPECT_TRUE(n == Dir(1700));
    // A later write replaces the card's record.
    ASSERT_TRUE(j.Record(a, Dir(1700), Dir(1800)));
    ASSERT_TRUE(j.Load(a, p, n));
    EXPECT_TRUE(p == Dir(1700));
    EXPECT_TRUE(n == Dir(1800));
    ASSERT_TRUE(j.Load(b, p, n));
    EXPECT_TRUE(n == Dir(2100));
    // The same name at another size or mode is another card.
    EXPECT_FALSE(j.Load({a.name, a.totalSectors + 24, 0}, p, n));
    EXPECT_FALSE(j.Load({a.name, a.totalSectors, 1}, p, n));
    struct stat st {};
    ASSERT_EQ(::stat(tmp.File("state/reelkeep/journal").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
}

TEST(DirectoryJournal, DamagedRecordsAreRefused) {
    test::TempDir tmp;
    CDirectoryJournal j(tmp.Path());
    const CardIdentity a{"card.img", 1000000, 2};
    ASSERT_TRUE(j.Record(a, Dir(3187), Dir(3300)));
    const std::vector<uint8_t> good = test::ReadFileBytes(j.RecordPath(a));
    std::string key;
    CardDirectory p, n;
    ASSERT_TRUE(ParseJournalRecord(good.data(), good.size(), key, p, n));
    EXPECT_EQ(key, a.Key());
    // Every truncation, a flipped bit anywhere, a huge key length.
    for (size_t cut : {size_t(0), size_t(3), size_t(13), good.size() / 2, good.size() - 1})
        EXPECT_FALSE(ParseJournalRecord(good.data(), cut, key, p, n)) << cut;
    for (size_t at = 0; at < good.size(); at += 997) {
        std::vector<uint8_t> bad = good;
        bad[at] ^= 0x10;
        EXPECT_FALSE(ParseJournalRecord(bad.data(), bad.size(), key, p, n)) << at;
    }
    std::vector<uint8_t> huge = good;
    huge[8] = huge[9] = huge[10] = huge[11] = 0xFF;
    EXPECT_FALSE(ParseJournalRecord(huge.data(), huge.size(), key, p, n));
    // A damaged file on disk loads as no record; another card's record under this name too.
    std::vector<uint8_t> bad = good;
    bad[bad.size() / 2] ^= 1;
    ASSERT_TRUE(test::WriteFile(j.RecordPath(a), std::string(bad.begin(), bad.end())));
    EXPECT_FALSE(j.Load(a, p, n));
    const CardIdentity other{"other.img", 1000000, 2};
    ASSERT_TRUE(j.Record(other, Dir(3187), Dir(3300)));
    ASSERT_EQ(::rename(j.RecordPath(other).c_str(), j.RecordPath(a).c_str()), 0);
    EXPECT_FALSE(j.Load(a, p, n));
}

// A record of the first version (the previous and the new directory) is
// still read, and the next write carries both on.
TEST(DirectoryJournal, FirstVersionRecordsAreReadAndCarriedOn) {
    test::TempDir tmp;
    CDirectoryJournal j(tmp.Path());
    const CardIdentity a{"image:/cards/old.img", 81920, 0};
    const std::string key = a.Key();
    std::vector<uint8_t> rec = {'R', 'K', 'D', 'J', 1, 0, 0, 0, uint8_t(key.size()), 0, 0, 0};
    rec.insert(rec.end(), key.begin(), key.end());
    for (const CardDirectory& d : {Dir(1700), Dir(1800)}) rec.insert(rec.end(), d.Bytes(), d.Bytes() + kDirectorySize);
    const uint16_t crc = Crc16Modbus(rec.data(), rec.size());
    rec.push_back(uint8_t(crc));
    rec.push_back(uint8_t(crc >> 8));
    ASSERT_TRUE(test::WriteFileBytes(j.RecordPath(a), rec));
    CardDirectory p, n;
    ASSERT_TRUE(j.Load(a, p, n));
    EXPECT_TRUE(p == Dir(1700));
    EXPECT_TRUE(n == Dir(1800));
    ASSERT_TRUE(j.Record(a, Dir(1800), Dir(1900)));
    std::vector<CardDirectory> kept;
    ASSERT_TRUE(j.LoadGenerations(a, kept));
    ASSERT_EQ(kept.size(), 3u);
    EXPECT_TRUE(kept[0] == Dir(1700) && kept[1] == Dir(1800) && kept[2] == Dir(1900));
}

}  // namespace
}  // namespace rk

namespace rk {
namespace {

size_t FilesIn(const std::string& folder, size_t* temporary = nullptr) {
    size_t n = 0;
    std::error_code ec;
    for (const auto& e : std::filesystem::directory_iterator(folder, ec)) {
        ++n;
        if (temporary && e.path().extension() == ".new") ++*temporary;
    }
    return n;
}

// However often a card's directory is written, the journal keeps one record
// per card and mode: it never grows with the writes.
TEST(DirectoryJournal, OneRecordPerCardAndModeHoweverManyWrites) {
    test::TempDir tmp;
    const std::string folder = tmp.File("journal");
    CDirectoryJournal j(folder);
    const CardIdentity a{"image:/cards/a.img", 81920, 0};
    for (uint32_t i = 0; i < 200; ++i) ASSERT_TRUE(j.Record(a, Dir(1651 + i), Dir(1652 + i)));
    for (uint32_t i = 0; i < 20; ++i) ASSERT_TRUE(j.Record({a.name, a.totalSectors, 3}, Dir(900 + i), Dir(901 + i)));
    size_t temporary = 0;
    EXPECT_EQ(FilesIn(folder, &temporary), 2u);
    EXPECT_EQ(temporary, 0u);
    CardDirectory p, n;
    ASSERT_TRUE(j.Load(a, p, n));
    EXPECT_TRUE(n == Dir(1851));
    // The last 16 distinct directories, oldest first, and no more.
    std::vector<CardDirectory> kept;
    ASSERT_TRUE(j.LoadGenerations(a, kept));
    ASSERT_EQ(kept.size(), size_t(kJournalGenerations));
    for (size_t i = 0; i < kept.size(); ++i) EXPECT_TRUE(kept[i] == Dir(1836 + uint32_t(i))) << i;
    EXPECT_LE(std::filesystem::file_size(j.RecordPath(a)), 17u * kDirectorySize);

    // The same through a card's own directory writes, in the journal the
    // program uses.
    const std::string image = tmp.File("card.img");
    int error = 0;
    ASSERT_TRUE(CreateCardImage(image, 40u << 20, error));
    const std::string journal = DefaultJournalFolder();
    const size_t before = FilesIn(journal);
    {
        CSDCard card(nullptr);
        ASSERT_EQ(card.OpenPath(image), kOpenOk);
        ASSERT_TRUE(card.Format(0));
        for (int i = 0; i < 30; ++i) {
            card.Directory().SetVideo(0, {1651, uint16_t(1 + i), 33});
            ASSERT_TRUE(card.WriteDirectory());
        }
        ASSERT_TRUE(card.Format(3));
        for (int i = 0; i < 5; ++i) ASSERT_TRUE(card.WriteDirectory());
    }
    EXPECT_EQ(FilesIn(journal, &temporary), before + 2);
    EXPECT_EQ(temporary, 0u);
}

}  // namespace
}  // namespace rk
