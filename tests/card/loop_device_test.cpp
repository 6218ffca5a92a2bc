// The block-device back-end on real loop devices with real mounted file
// systems: a mounted card is listed and readable, a raw write takes its
// partitions (and only its partitions) off line first, and nothing is
// written while a file system on the card stays busy. Skips when the machine
// does not allow losetup and mount.
#include <gtest/gtest.h>
#include <sys/mount.h>

#include <cstdio>
#include <fstream>

#include "base/string_ids.h"
#include "base/texts.h"
#include "card/drive_scan.h"
#include "card/volumes.h"
#include "card_test_util.h"
#include "ui/scripted_operator.h"

namespace rk {
namespace {

std::string Run(const std::string& cmd, int* rc = nullptr) {
    std::string out;
    FILE* p = ::popen((cmd + " 2>/dev/null").c_str(), "r");
    if (!p) return out;
    char buf[256];
    while (std::fgets(buf, sizeof buf, p)) out += buf;
    int status = ::pclose(p);
    if (rc) *rc = status;
    while (!out.empty() && out.back() == '\n') out.pop_back();
    return out;
}

bool IsMounted(const std::string& mountPoint) {
    for (auto& m : ParseMountInfo(ReadWholeFile("/proc/self/mountinfo")))
        if (m.mountPoint == mountPoint) return true;
    return false;
}

// One loop device over a fresh image, optionally with an MBR partition.
class LoopDisk {
public:
    LoopDisk(const test::TempDir& dir, const std::string& name, bool partitioned) {
        image_ = test::MakeImage(dir, name, 64 << 20);
        if (partitioned) {
            uint8_t mbr[512] = {};
            mbr[446 + 4] = 0x83;
            const uint32_t start = 2048, count = (64 << 11) - 2048;
            for (int i = 0; i < 4; ++i) {
                mbr[446 + 8 + i] = uint8_t(start >> (8 * i));
                mbr[446 + 12 + i] = uint8_t(count >> (8 * i));
            }
            mbr[510] = 0x55;
            mbr[511] = 0xAA;
            std::fstream f(image_, std::ios::in | std::ios::out | std::ios::binary);
            f.write(reinterpret_cast<char*>(mbr), 512);
        }
        device_ = Run(std::string("losetup -f --show ") + (partitioned ? "-P " : "") + image_);
        if (device_.rfind("/dev/loop", 0) != 0) {
            device_.clear();
            return;
        }
        fsDevice_ = partitioned ? device_ + "p1" : device_;
        for (int i = 0; i < 50 && ::access(fsDevice_.c_str(), F_OK) != 0; ++i) ::usleep(20000);
        mountPoint_ = dir.File(name + ".mnt");
        ::mkdir(mountPoint_.c_str(), 0755);
        int rc = 0;
        Run("mkfs.ext2 -q -F " + fsDevice_, &rc);
        if (rc == 0) Run("mount " + fsDevice_ + " " + mountPoint_, &rc);
        if (rc != 0 || !IsMounted(mountPoint_)) {
            Run("losetup -d " + device_);
            device_.clear();
        }
    }
    ~LoopDisk() {
        if (device_.empty()) return;
        while (IsMounted(mountPoint_) && ::umount2(mountPoint_.c_str(), MNT_DETACH) == 0) {
        }
        Run("losetup -d " + device_);
    }
    bool Ok() const { return !device_.empty(); }
    const std::string& Device() const { return device_; }
    const std::string& MountPoint() const { return mountPoint_; }

private:
    std::string image_, device_, fsDevice_, mountPoint_;
};

bool LoopAllowed() {
    return ::geteuid() == 0 && ::access("/usr/sbin/losetup", X_OK) == 0 && ::access("/sbin/mkfs.ext2", X_OK) == 0;
}

class LoopDeviceTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!LoopAllowed()) GTEST_SKIP() << "losetup/mount not permitted here";
    }
    test::TempDir dir;
};

void CheckMountedCard(const test::TempDir& dir, bool partitioned) {
    {
        LoopDisk card(dir, partitioned ? "p.img" : "w.img", partitioned);
        LoopDisk other(dir, partitioned ? "po.img" : "wo.img", false);
        if (!card.Ok() || !other.Ok()) GTEST_SKIP() << "cannot set up loop devices (partitioned: " << partitioned << ")";

        // Listed with its mount point in brackets when named as an extra device.
        ::setenv("REELKEEP_EXTRA_DEVICES", card.Device().c_str(), 1);
        bool denied = false;
        ResetDriveTable();
        ScanResult scan = ScanMedia(nullptr, false, -1, denied);
        ::unsetenv("REELKEEP_EXTRA_DEVICES");
        bool listed = false;
        for (auto& e : scan.entries)
            if (e.path == card.Device()) {
                listed = true;
                EXPECT_NE(e.label.find("[" + card.MountPoint() + "]"), std::string::npos) << e.label;
                EXPECT_NE(e.label.find("(64 MB)"), std::string::npos) << e.label;
            }
        EXPECT_TRUE(listed);

        CScriptedOperator op;
        CSDCard sd(&op);
        ASSERT_EQ(sd.OpenPath(card.Device()), kOpenOk);
        EXPECT_FALSE(sd.ReadDirectory());  // readable, not ours
        EXPECT_TRUE(op.messages.empty());
        EXPECT_TRUE(IsMounted(card.MountPoint()));
        ASSERT_TRUE(sd.Format(0)) << (op.messages.empty() ? "" : op.messages[0].text);
        EXPECT_FALSE(IsMounted(card.MountPoint()));
        EXPECT_TRUE(IsMounted(other.MountPoint()));  // only that card's volumes
        // Held exclusively now: another opening is refused.
        CSDCard second;
        EXPECT_EQ(second.OpenPath(card.Device()), kOpenFailed);
        sd.Close();
        ASSERT_EQ(sd.OpenPath(card.Device()), kOpenOk);
        ASSERT_TRUE(sd.ReadDirectory());
        EXPECT_EQ(sd.FirstItemCluster(), 1651);
    }
}

// The card's file system on the whole disk, as many cards come.
TEST_F(LoopDeviceTest, MountedWholeDiskCardIsUsableAndUnmountedBeforeTheFirstWrite) { CheckMountedCard(dir, false); }

// The card's file system in a partition (needs loop partition scanning).
TEST_F(LoopDeviceTest, MountedPartitionIsUnmountedBeforeTheFirstWrite) { CheckMountedCard(dir, true); }

TEST_F(LoopDeviceTest, BusyFileSystemIsNeverWrittenUnder) {
    LoopDisk card(dir, "busy.img", false);
    if (!card.Ok()) GTEST_SKIP() << "cannot set up a loop device";
    // An open file keeps the file system busy, so it cannot be unmounted;
    // the lazy detach leaves it alive, and the card must not be written.
    std::string file = card.MountPoint() + "/open-file";
    int fd = ::open(file.c_str(), O_RDWR | O_CREAT, 0644);
    ASSERT_GE(fd, 0);
    CScriptedOperator op;
    CSDCard sd(&op);
    ASSERT_EQ(sd.OpenPath(card.Device()), kOpenOk);
    EXPECT_FALSE(sd.Format(1));
    ASSERT_EQ(op.messages.size(), 1u);
    EXPECT_EQ(op.messages[0].text, LoadText(IDS_MEDIA_WRITE_ERROR));
    ::close(fd);
    sd.Close();
    // The file system's own blocks are there, no directory of ours.
    std::vector<uint8_t> head = test::ReadImageClusters(dir.File("busy.img"), 0, 3);
    ASSERT_EQ(head.size(), size_t(kDirectorySize));
    CardDirectory d;
    std::memcpy(d.Bytes(), head.data(), kDirectorySize);
    EXPECT_FALSE(d.IsValid());
}

}  // namespace
}  // namespace rk
