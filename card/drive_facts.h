#pragma once
// What the machine tells about its disks and card images: the facts a drive
// scan decides from, gathered from libudev, the kernel's mount and swap
// tables, the card folder and REELKEEP_EXTRA_DEVICES.
#include <cstdint>
#include <string>
#include <vector>

#include "card/volumes.h"

namespace rk {

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

struct SystemFacts {
    std::vector<BlockDeviceFacts> disks;
    std::vector<MountFacts> mounts;
    std::vector<std::string> swapDevices;  // "major:minor" of active swap partitions/disks
    std::vector<std::string> images;       // card image paths of the card folder, sorted
    std::vector<std::string> extraDevices; // REELKEEP_EXTRA_DEVICES, in order
};

// Gathers the facts of this machine: libudev block disks, mountinfo, swaps,
// the card folder's *.img files and REELKEEP_EXTRA_DEVICES.
SystemFacts GatherSystemFacts();

// The card folder: REELKEEP_CARD_DIR, else
// ${XDG_DATA_HOME:-~/.local/share}/Korvix/Reelkeep/cards.
std::string CardFolderPath();
// A card image of the card folder: "<name>.img".
bool IsCardImageName(const std::string& name);

}  // namespace rk
