#pragma once
// The kernel's mount and swap tables, and the mounted partitions of a card
// reader's disk: finding them in /proc/self/mountinfo and taking them off
// line before a raw write.
#include <string>
#include <vector>

namespace rk {

// One line of /proc/self/mountinfo that matters here.
struct MountFacts {
    std::string device;      // "major:minor" of the mounted block device
    std::string mountPoint;  // unescaped
    std::string source;      // "/dev/sdb1"
    std::string fsType;
};

// Parsers of the kernel's tables.
std::vector<MountFacts> ParseMountInfo(const std::string& text);
// Device paths of /proc/swaps, resolved by the caller to device numbers.
std::vector<std::string> ParseSwaps(const std::string& text);

// A device number as the kernel's tables write it: "major:minor".
std::string DeviceNumberText(unsigned major, unsigned minor);
// "major:minor" of the disk and of each of its partitions (from sysfs).
std::vector<std::string> DiskAndPartitionNumbers(unsigned major, unsigned minor);
// The mounts of the disk or any of its partitions, in mountinfo order.
std::vector<MountFacts> MountedVolumesOfDisk(unsigned major, unsigned minor);
bool DiskHasMountedVolumes(unsigned major, unsigned minor);
// Unmounts every mount of the disk and its partitions, innermost first:
// umount2, then udisksctl when the process lacks the right, then a lazy
// detach. Failures are logged and otherwise ignored; the caller checks
// DiskHasMountedVolumes afterwards.
void UnmountDiskVolumes(const std::string& diskPath, unsigned major, unsigned minor);

std::string ReadWholeFile(const std::string& path);
// `s` without the blanks in front and the blanks and line ends behind (a
// sysfs value ends in a newline).
std::string TrimSysfsValue(std::string s);

}  // namespace rk
