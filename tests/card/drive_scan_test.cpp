// Drive discovery: the decision over recorded device facts, the kernel-table
// parsers on damaged input, and scans over real card images.
#include <gtest/gtest.h>

#include <cstdlib>
#include <random>

#include <sys/wait.h>

#include "base/string_ids.h"
#include "base/texts.h"
#include "card/drive_scan.h"
#include "card_test_util.h"
#include "ui/scripted_operator.h"

namespace rk {
namespace {

BlockDeviceFacts Disk(const std::string& name, unsigned maj, unsigned min) {
    BlockDeviceFacts d;
    d.devNode = "/dev/" + name;
    d.sysName = name;
    d.major = maj;
    d.minor = min;
    d.sizeBytes = 32ull << 30;
    return d;
}

// A recorded machine: an internal SATA disk holding / and swap, an NVMe
// disk with /home, a USB card reader with a mounted card, an SD slot, an
// empty USB reader, loop devices and a zram swap.
SystemFacts Machine() {
    SystemFacts f;
    BlockDeviceFacts sda = Disk("sda", 8, 0);
    sda.bus = "ata";
    sda.partitions = {"8:1", "8:2"};
    BlockDeviceFacts nvme = Disk("nvme0n1", 259, 0);
    nvme.bus = "nvme";
    nvme.partitions = {"259:1"};
    BlockDeviceFacts sdb = Disk("sdb", 8, 16);
    sdb.bus = "usb";
    sdb.removable = true;
    sdb.vendor = "Generic ";
    sdb.model = "STORAGE DEVICE\x01";
    sdb.partitions = {"8:17"};
    BlockDeviceFacts mmc = Disk("mmcblk0", 179, 0);
    mmc.model = "SD32G";
    BlockDeviceFacts sdc = Disk("sdc", 8, 32);
    sdc.bus = "usb";
    sdc.hotplug = true;
    sdc.sizeBytes = 0;
    BlockDeviceFacts loop = Disk("loop3", 7, 3);
    loop.virtualDevice = true;
    BlockDeviceFacts usbSwap = Disk("sdd", 8, 48);
    usbSwap.bus = "usb";
    usbSwap.removable = true;
    usbSwap.partitions = {"8:49"};
    BlockDeviceFacts usbRoot = Disk("sde", 8, 64);  // a live system booted from USB
    usbRoot.bus = "usb";
    usbRoot.partitions = {"8:65"};
    f.disks = {sda, nvme, sdb, mmc, sdc, loop, usbSwap, usbRoot};
    f.mounts = {{"8:1", "/", "/dev/sda1", "ext4"},
                {"259:1", "/home", "/dev/nvme0n1p1", "ext4"},
                {"8:17", "/media/op/CARD", "/dev/sdb1", "vfat"},
                {"8:65", "/", "/dev/sde1", "ext4"}};
    f.swapDevices = {"8:2", "8:49", "254:0"};
    return f;
}

TEST(DecideDrives, VerdictsOnARecordedMachine) {
    std::vector<DiskVerdict> verdicts;
    auto drives = DecideDrives(Machine(), &verdicts);
    auto verdictOf = [&](const std::string& node) {
        for (auto& v : verdicts)
            if (v.devNode == node) return v.verdict;
        return DriveVerdict::kListed;
    };
    EXPECT_EQ(verdictOf("/dev/sda"), DriveVerdict::kSystemDisk);
    EXPECT_EQ(verdictOf("/dev/nvme0n1"), DriveVerdict::kSystemDisk);
    EXPECT_EQ(verdictOf("/dev/sdc"), DriveVerdict::kEmptyReader);
    EXPECT_EQ(verdictOf("/dev/loop3"), DriveVerdict::kVirtualDevice);
    EXPECT_EQ(verdictOf("/dev/sdd"), DriveVerdict::kSystemDisk);
    EXPECT_EQ(verdictOf("/dev/sde"), DriveVerdict::kSystemDisk);
    ASSERT_EQ(drives.size(), 2u);
    EXPECT_EQ(drives[0].path, "/dev/mmcblk0");
    EXPECT_EQ(drives[0].volumeText, "");
    EXPECT_EQ(drives[0].deviceName, "SD32G");
    EXPECT_EQ(drives[1].path, "/dev/sdb");
    EXPECT_EQ(drives[1].volumeText, "[/media/op/CARD]");
    EXPECT_EQ(drives[1].deviceName, "Generic STORAGE DEVICE");  // trimmed, control character gone
    EXPECT_EQ(drives[1].kind, DriveKind::kCardReader);
}

TEST(DecideDrives, InternalFixedDiskWithoutMountsStaysHidden) {
    SystemFacts f;
    BlockDeviceFacts sdb = Disk("sdb", 8, 16);
    sdb.bus = "ata";
    f.disks = {sdb};
    std::vector<DiskVerdict> v;
    EXPECT_TRUE(DecideDrives(f, &v).empty());
    ASSERT_EQ(v.size(), 1u);
    EXPECT_EQ(v[0].verdict, DriveVerdict::kFixedDisk);
}

TEST(DecideDrives, ExtraDevicesAndImagesInOrderAtMostNine) {
    SystemFacts f = Machine();
    f.extraDevices = {"/dev/loop3", "/dev/sda", "/dev/loop9"};  // sda stays refused: it holds /
    for (int i = 0; i < 12; ++i) f.images.push_back("/cards/c" + std::to_string(10 + i) + ".img");
    auto drives = DecideDrives(f);
    ASSERT_EQ(drives.size(), 9u);
    EXPECT_EQ(drives[2].path, "/dev/loop3");
    EXPECT_EQ(drives[2].kind, DriveKind::kExtraDevice);
    EXPECT_EQ(drives[3].path, "/dev/loop9");  // not known to udev: listed by name
    EXPECT_EQ(drives[4].path, "/cards/c10.img");
    EXPECT_EQ(drives[4].deviceName, "c10.img");
    EXPECT_EQ(drives[4].kind, DriveKind::kCardImage);
}

TEST(DriveToVolumeMapping, TextsByDriveNumber) {
    std::vector<DriveCandidate> drives = {{"/dev/sdb", DriveKind::kCardReader, "[/media/a]", "GENERIC SD_CARD"},
                                          {"/c/x.img", DriveKind::kCardImage, "", "x.img"}};
    CDriveToVolumeMapping m(drives, {"", "/c/x.img", "", "/dev/sdb"});
    EXPECT_EQ(m.Text(3), "[/media/a] GENERIC SD_CARD");
    EXPECT_EQ(m.Text(1), " x.img");
    EXPECT_EQ(m.Text(0), " ");
    EXPECT_EQ(m.Text(10), "");
    EXPECT_EQ(m.Text(-1), "");
}

TEST(DeviceNames, VendorAndProduct) {
    EXPECT_EQ(DeviceNameOf("GENERIC", "SD_CARD"), "GENERIC SD_CARD");
    EXPECT_EQ(DeviceNameOf("", "CARD"), "CARD");
    EXPECT_EQ(DeviceNameOf("  ", "  CARD  "), "CARD");
    EXPECT_EQ(DeviceNameOf("A\nB", "C\tD\x1b[31m"), "A B C D [31m");
    EXPECT_EQ(DeviceNameOf("", ""), "");
}

TEST(KernelTables, MountInfo) {
    std::string text =
        "36 35 98:0 /mnt1 /mnt2 rw,noatime master:1 - ext3 /dev/root rw,errors=continue\n"
        "40 26 8:17 / /media/op/MY\\040CARD rw,relatime shared:9 - vfat /dev/sdb1 rw\n"
        "41 26 8:18 / /media/op/x rw - vfat /dev/sdb2 rw\n"          // no optional fields
        "garbage line\n"
        "42 26 8:19 / /media/y rw - vfat\n"                           // truncated: no source
        "43 26 x:y / /media/z rw - vfat /dev/sdb3 rw\n"               // bad device number
        "\n";
    auto m = ParseMountInfo(text);
    ASSERT_EQ(m.size(), 3u);
    EXPECT_EQ(m[0].device, "98:0");
    EXPECT_EQ(m[0].mountPoint, "/mnt2");
    EXPECT_EQ(m[0].fsType, "ext3");
    EXPECT_EQ(m[0].source, "/dev/root");
    EXPECT_EQ(m[1].mountPoint, "/media/op/MY CARD");
    EXPECT_EQ(m[2].device, "8:18");
}

TEST(KernelTables, Swaps) {
    auto s = ParseSwaps(
        "Filename\t\t\t\tType\t\tSize\t\tUsed\t\tPriority\n/dev/sda2 partition 100 0 -2\n/swap\\040file file 1 0 -3\n"
        "/dev/zram0                              partition\t4194300\t\t0\t\t100\n");
    ASSERT_EQ(s.size(), 3u);
    EXPECT_EQ(s[0], "/dev/sda2");
    EXPECT_EQ(s[1], "/swap file");
    EXPECT_EQ(s[2], "/dev/zram0");
}

TEST(KernelTables, HostileInputNeverCrashes) {
    std::mt19937 rng(11);
    const std::string alphabet = " -\\0123456789:/\n\tabc";
    for (int round = 0; round < 2000; ++round) {
        std::string text;
        size_t len = rng() % 300;
        for (size_t i = 0; i < len; ++i) text.push_back(rng() % 4 ? alphabet[rng() % alphabet.size()] : char(rng()));
        auto m = ParseMountInfo(text);
        for (auto& x : m) EXPECT_FALSE(x.device.empty());
        ParseSwaps(text);
    }
    ParseMountInfo(std::string(100000, '\\'));
    ParseMountInfo("1 2 3:4 / /a\\7 o - t s\n");
}

class ScanTest : public ::testing::Test {
protected:
    void SetUp() override { ResetDriveTable(); }
    void TearDown() override { ResetDriveTable(); }

    SystemFacts Images() const {
        SystemFacts f;
        for (int i = 1; i <= 5; ++i)
            if (present[i]) f.images.push_back(dir.File("c" + std::to_string(i) + ".img"));
        return f;
    }
    void Make(int i, uint64_t bytes) {
        test::MakeImage(dir, "c" + std::to_string(i) + ".img", bytes);
        present[i] = true;
    }

    test::TempDir dir;
    bool present[6] = {};
};

TEST_F(ScanTest, LabelsNumbersAndSelection) {
    for (int i = 1; i <= 5; ++i) Make(i, uint64_t(1999) << 20);
    bool denied = false;
    ScanResult r = ScanMediaWithFacts(Images(), nullptr, false, -1, denied);
    ASSERT_EQ(r.entries.size(), 5u);
    EXPECT_EQ(r.entries[0].label, " c1.img (1.9 GB)");
    EXPECT_EQ(r.selected, 4);
    // Drives 2 and 5 stay; with nothing selected before, the last is selected.
    present[1] = present[3] = present[4] = false;
    r = ScanMediaWithFacts(Images(), nullptr, false, -1, denied);
    ASSERT_EQ(r.entries.size(), 2u);
    EXPECT_EQ(r.entries[0].number, 2);
    EXPECT_EQ(r.entries[1].number, 5);
    EXPECT_EQ(r.entries[r.selected].number, 5);
    // Refresh with drive 2 selected keeps it ...
    r = ScanMediaWithFacts(Images(), nullptr, true, 2, denied);
    EXPECT_EQ(r.entries[r.selected].number, 2);
    EXPECT_EQ(DrivePath(2), dir.File("c2.img"));
    // ... and when drive 2 has gone, drive 5 is selected.
    present[2] = false;
    r = ScanMediaWithFacts(Images(), nullptr, true, 2, denied);
    ASSERT_EQ(r.entries.size(), 1u);
    EXPECT_EQ(r.entries[r.selected].number, 5);
    EXPECT_FALSE(r.noMedia);
    // A newcomer takes the lowest free number.
    Make(3, 999 << 20);
    r = ScanMediaWithFacts(Images(), nullptr, true, 5, denied);
    EXPECT_EQ(r.entries[0].number, 1);
    EXPECT_EQ(r.entries[0].label, " c3.img (999 MB)");
    EXPECT_FALSE(denied);
}

TEST_F(ScanTest, OversizedAndHeldCardsAreNotListedNoMedia) {
    Make(1, uint64_t(512001) << 20);
    Make(2, uint64_t(64) << 20);
    CSDCard holder;
    ASSERT_EQ(holder.OpenPath(dir.File("c2.img")), kOpenOk);  // another program holds it
    CScriptedOperator op;
    bool denied = false;
    ScanResult r = ScanMediaWithFacts(Images(), &op, false, -1, denied);
    EXPECT_TRUE(r.noMedia);
    EXPECT_TRUE(r.entries.empty());
    EXPECT_EQ(r.selected, -1);
    EXPECT_FALSE(r.accessDenied);
    EXPECT_TRUE(op.messages.empty());  // "Access denied!" only for refusals
    holder.Close();
    r = ScanMediaWithFacts(Images(), &op, false, -1, denied);
    ASSERT_EQ(r.entries.size(), 1u);
    // The scan's probe has let go: the card opens again by its number.
    CSDCard card;
    EXPECT_EQ(OpenDrive(card, r.entries[0].number), kOpenOk);
    EXPECT_EQ(OpenDrive(card, 9), kOpenFailed);
}

// A card the user may not open: listed nowhere, and on the first scan only,
// "Access denied!". Runs in a child without root's rights.
TEST_F(ScanTest, AccessDeniedOnTheFirstScanOnly) {
    Make(1, uint64_t(64) << 20);
    ::chmod(dir.File("c1.img").c_str(), 0600);
    const SystemFacts facts = Images();
    pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        if (::geteuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0)) ::_exit(77);
        if (::geteuid() != 0) ::chmod(dir.File("c1.img").c_str(), 0);
        CScriptedOperator op;
        bool flag = false;
        ScanResult first = ScanMediaWithFacts(facts, &op, false, -1, flag);
        bool ok = first.noMedia && first.accessDenied && flag && op.messages.size() == 1 &&
                  op.messages[0].text == LoadText(IDS_ACCESS_DENIED) && op.messages[0].icon == kIconError;
        bool later = false;
        ScanResult again = ScanMediaWithFacts(facts, &op, true, -1, later);
        ok = ok && again.noMedia && again.accessDenied && !later && op.messages.size() == 1;
        ::_exit(ok ? 0 : 1);
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    ASSERT_TRUE(WIFEXITED(status));
    if (WEXITSTATUS(status) == 77) GTEST_SKIP() << "cannot drop privileges";
    EXPECT_EQ(WEXITSTATUS(status), 0);
}

TEST(CardFolder, EnvironmentOrder) {
    struct Saved {
        const char* name;
        bool had;
        std::string value;
    } saved[] = {{"REELKEEP_CARD_DIR", false, {}}, {"XDG_DATA_HOME", false, {}}, {"HOME", false, {}}};
    for (auto& s : saved)
        if (const char* v = std::getenv(s.name)) s.had = true, s.value = v;
    ::setenv("REELKEEP_CARD_DIR", "/x/cards", 1);
    EXPECT_EQ(CardFolderPath(), "/x/cards");
    ::unsetenv("REELKEEP_CARD_DIR");
    ::setenv("XDG_DATA_HOME", "/d", 1);
    EXPECT_EQ(CardFolderPath(), "/d/Korvix/Reelkeep/cards");
    ::unsetenv("XDG_DATA_HOME");
    ::setenv("HOME", "/h", 1);
    EXPECT_EQ(CardFolderPath(), "/h/.local/share/Korvix/Reelkeep/cards");
    for (auto& s : saved) {
        if (s.had)
            ::setenv(s.name, s.value.c_str(), 1);
        else
            ::unsetenv(s.name);
    }
}

TEST(MediaMonitor, SeesANewCardImage) {
    test::TempDir dir;
    ::setenv("REELKEEP_CARD_DIR", dir.Path().c_str(), 1);
    CMediaMonitor mon;
    ASSERT_TRUE(mon.Start());
    ASSERT_GE(mon.Fd(), 0);
    EXPECT_FALSE(mon.TakeChanges());
    test::MakeImage(dir, "new.img", 1 << 20);
    EXPECT_TRUE(mon.TakeChanges());
    test::MakeImage(dir, "notes.txt", 10);
    EXPECT_FALSE(mon.TakeChanges());
    ::unsetenv("REELKEEP_CARD_DIR");
}

}  // namespace
}  // namespace rk
