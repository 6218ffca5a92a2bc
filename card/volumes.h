#pragma once
// The mounted partitions of a card reader's disk: finding them in
// /proc/self/mountinfo and taking them off line before a raw write.
#include <string>
#include <vector>

#include "card/drive_scan.h"

namespace rk {

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
