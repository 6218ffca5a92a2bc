#pragma once
// The rules that decide which drives a scan offers, as pure functions over
// recorded facts (so they are tested on fixtures): every reason a disk is
// refused, the order of the drives and their texts.
#include <string>
#include <vector>

#include "card/drive_facts.h"

namespace rk {

enum class DriveKind { kCardReader, kCardImage, kExtraDevice };

// Why a disk is or is not offered.
enum class DriveVerdict {
    kListed,
    kSystemDisk,    // holds a mounted system file system or active swap
    kFixedDisk,     // internal: neither removable nor hot-pluggable nor on usb/mmc
    kVirtualDevice, // loop, ram, device-mapper ... unless named as an extra device
    kEmptyReader,   // a card reader with no card (size 0)
};
const char* DriveVerdictText(DriveVerdict v);

// A drive worth probing, in drive order.
struct DriveCandidate {
    std::string path;
    DriveKind kind = DriveKind::kCardReader;
    std::string volumeText;  // "[/media/user/CARD]" when a partition is mounted, else empty
    std::string deviceName;  // "VENDOR MODEL", or the image's file name
};

struct DiskVerdict {
    std::string devNode;
    DriveVerdict verdict;
};

// The pure decision: card readers first (by device node), then extra
// devices, then images; at most 9. `verdicts` (optional) receives every
// disk's verdict.
std::vector<DriveCandidate> DecideDrives(const SystemFacts& facts, std::vector<DiskVerdict>* verdicts = nullptr);
// The verdict for one disk.
DriveVerdict JudgeDisk(const BlockDeviceFacts& disk, const SystemFacts& facts, bool namedExtra);
// The mount text "[mount point]" of the disk's first mounted partition (or the disk itself).
std::string VolumeTextOf(const BlockDeviceFacts& disk, const SystemFacts& facts);

// "Vendor" + " " + "Model", trimmed and stripped of control characters; the
// space only when the vendor is not empty.
std::string DeviceNameOf(const std::string& vendor, const std::string& model);

}  // namespace rk
