#pragma once
// Finding cards: the drive table of drives 1 to 9 built from card readers'
// whole-disk block devices and from card images in the card folder.
//
// Gathering facts (libudev, /proc/self/mountinfo, /proc/swaps, the card
// folder) and deciding what to list are separate steps: DecideDrives is a
// pure function over recorded facts, so its rules are tested on fixtures.
#include <cstdint>
#include <string>
#include <vector>

namespace rk {

class IOperator;

enum class DriveKind { kCardReader, kCardImage, kExtraDevice };

// What is known of one block device (a whole disk) of the system.
struct BlockDeviceFacts {
    std::string devNode;         // "/dev/sdb"
    std::string sysName;         // "sdb"
    unsigned major = 0, minor = 0;
    std::string bus;             // ID_BUS: "usb", "ata", "scsi", ... ; may be empty
    std::string subsystemPath;   // ID_PATH or the sysfs path, to spot mmc/usb hosts
    bool removable = false;      // sysfs "removable"
    bool hotplug = false;        // udev hot-pluggable (ancestor "removable" = "removable")
    bool virtualDevice = false;  // loop, ram, zram, dm, md, nbd ...
    bool readOnly = false;
    uint64_t sizeBytes = 0;
    std::string vendor;          // ID_VENDOR or sysfs device/vendor, trimmed
    std::string model;           // ID_MODEL or sysfs device/model, trimmed
    // The device numbers of its partitions ("major:minor").
    std::vector<std::string> partitions;
};

// One line of /proc/self/mountinfo that matters here.
struct MountFacts {
    std::string device;      // "major:minor" of the mounted block device
    std::string mountPoint;  // unescaped
    std::string source;      // "/dev/sdb1"
    std::string fsType;
};

struct SystemFacts {
    std::vector<BlockDeviceFacts> disks;
    std::vector<MountFacts> mounts;
    std::vector<std::string> swapDevices;  // "major:minor" of active swap partitions/disks
    std::vector<std::string> images;       // card image paths of the card folder, sorted
    std::vector<std::string> extraDevices; // REELKEEP_EXTRA_DEVICES, in order
};

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

// Parsers of the kernel's tables (public for tests).
std::vector<MountFacts> ParseMountInfo(const std::string& text);
// Device paths of /proc/swaps, resolved by the caller to device numbers.
std::vector<std::string> ParseSwaps(const std::string& text);
// "Vendor" + " " + "Model", trimmed and stripped of control characters; the
// space only when the vendor is not empty.
std::string DeviceNameOf(const std::string& vendor, const std::string& model);

// Gathers the facts of this machine: libudev block disks, mountinfo, swaps,
// the card folder's *.img files and REELKEEP_EXTRA_DEVICES.
SystemFacts GatherSystemFacts();

// The card folder: REELKEEP_CARD_DIR, else
// ${XDG_DATA_HOME:-~/.local/share}/Korvix/Reelkeep/cards.
std::string CardFolderPath();

// The texts of drives 0 to 9 for one scan: the mount point in brackets of a
// mounted volume on that drive, and the device's vendor and model (or the
// image's file name).
class CDriveToVolumeMapping {
public:
    CDriveToVolumeMapping() = default;
    // `numbers[n]` is the path given drive number n.
    CDriveToVolumeMapping(const std::vector<DriveCandidate>& drives, const std::vector<std::string>& numbers);
    virtual ~CDriveToVolumeMapping() = default;

    // "%s %s": the volume text and the device name; empty outside 0 to 9.
    std::string Text(int drive) const;
    const std::string& VolumeText(int drive) const;
    const std::string& DeviceName(int drive) const;

private:
    std::string volumeTexts_[10];
    std::string deviceNames_[10];
};

// ---- The scan ----
struct DriveEntry {
    int number = 0;        // 1 to 9
    std::string label;     // "%s (%s)": "<volume text> <device name>" and the size text
    std::string path;
    DriveKind kind = DriveKind::kCardReader;
    int32_t sizeMiB = 0;
};

struct ScanResult {
    std::vector<DriveEntry> entries;  // in drive order
    int selected = -1;                // index into entries; -1 with no media
    bool noMedia = true;              // the list shows only "No media"
    bool accessDenied = false;        // at least one drive refused access
};

// Builds the drive table, probes every candidate with a short-lived CSDCard
// and picks the selection: the entry of `previousDrive` when still present,
// else the last entry. Numbers stay with their device for the life of the
// process, so a kept selection keeps its number. On the first scan
// (keepSelection false) with no entry and a refusal, "Access denied!" is
// shown through `op` (when not null) and `accessDeniedFlag` is set.
ScanResult ScanMedia(IOperator* op, bool keepSelection, int previousDrive, bool& accessDeniedFlag);
// The same over given facts (tests).
ScanResult ScanMediaWithFacts(const SystemFacts& facts, IOperator* op, bool keepSelection, int previousDrive,
                              bool& accessDeniedFlag);

// The path of drive n in the last scan's table; empty when unknown.
std::string DrivePath(int driveNumber);
// Forgets every number given out (tests).
void ResetDriveTable();

// ---- Watching for changes ----
// A libudev monitor on block devices plus an inotify watch on the card
// folder, behind one pollable descriptor (epoll). The window watches Fd()
// with a QSocketNotifier and calls TakeChanges() when it is readable; a true
// answer means a rescan is due.
class CMediaMonitor {
public:
    CMediaMonitor();
    ~CMediaMonitor();
    CMediaMonitor(const CMediaMonitor&) = delete;
    CMediaMonitor& operator=(const CMediaMonitor&) = delete;

    bool Start();  // false when neither source can be watched
    int Fd() const { return epollFd_; }
    // Drains pending events; true when a disk or a card image appeared,
    // vanished or changed.
    bool TakeChanges();

private:
    struct Impl;
    Impl* impl_ = nullptr;
    int epollFd_ = -1;
};

}  // namespace rk
