// The listing rules: which disks are offered, in which order, with which texts.
#include "card/drive_rules.h"

#include <algorithm>

#include "base/path_util.h"

namespace rk {

const char* DriveVerdictText(DriveVerdict v) {
    switch (v) {
        case DriveVerdict::kListed: return "listed";
        case DriveVerdict::kSystemDisk: return "holds a mounted system file system or swap";
        case DriveVerdict::kFixedDisk: return "internal fixed disk";
        case DriveVerdict::kVirtualDevice: return "virtual device";
        case DriveVerdict::kEmptyReader: return "no medium";
    }
    return "";
}

namespace {

std::string Clean(const std::string& s) {
    std::string out;
    for (unsigned char c : s) {
        if (c < 0x20 || c == 0x7F) c = ' ';
        out.push_back(char(c));
    }
    // Trim and fold runs of spaces.
    std::string folded;
    for (char c : out) {
        if (c == ' ' && (folded.empty() || folded.back() == ' ')) continue;
        folded.push_back(c);
    }
    while (!folded.empty() && folded.back() == ' ') folded.pop_back();
    return folded;
}

// Mount points of removable media and of scratch mounts; anything else
// (/, /boot, /home, /var ...) is part of the running system.
bool IsUserMountPoint(const std::string& mp) {
    static const char* const kPrefixes[] = {"/media/", "/run/media/", "/mnt/", "/tmp/", "/var/tmp/"};
    if (mp == "/mnt") return true;
    for (const char* p : kPrefixes)
        if (mp.rfind(p, 0) == 0) return true;
    return false;
}

bool Contains(const std::vector<std::string>& v, const std::string& s) {
    return std::find(v.begin(), v.end(), s) != v.end();
}

std::vector<std::string> DiskNumbers(const BlockDeviceFacts& disk) {
    std::vector<std::string> n{DeviceNumberText(disk.major, disk.minor)};
    n.insert(n.end(), disk.partitions.begin(), disk.partitions.end());
    return n;
}

}  // namespace

std::string DeviceNameOf(const std::string& vendor, const std::string& model) {
    std::string v = Clean(vendor), m = Clean(model);
    return v.empty() ? m : v + " " + m;
}

std::string VolumeTextOf(const BlockDeviceFacts& disk, const SystemFacts& facts) {
    std::string text;
    auto numbers = DiskNumbers(disk);
    // A later mount of the same disk replaces an earlier one.
    for (const auto& m : facts.mounts)
        if (Contains(numbers, m.device) && !m.mountPoint.empty()) text = "[" + Clean(m.mountPoint) + "]";
    return text;
}

DriveVerdict JudgeDisk(const BlockDeviceFacts& disk, const SystemFacts& facts, bool namedExtra) {
    auto numbers = DiskNumbers(disk);
    for (const auto& m : facts.mounts)
        if (Contains(numbers, m.device) && !IsUserMountPoint(m.mountPoint)) return DriveVerdict::kSystemDisk;
    for (const auto& s : facts.swapDevices)
        if (Contains(numbers, s)) return DriveVerdict::kSystemDisk;
    if (namedExtra) return DriveVerdict::kListed;
    if (disk.virtualDevice) return DriveVerdict::kVirtualDevice;
    const bool cardBus = disk.bus == "usb" || disk.bus == "mmc" || disk.sysName.rfind("mmcblk", 0) == 0 ||
                         disk.subsystemPath.find("usb") != std::string::npos ||
                         disk.subsystemPath.find("mmc") != std::string::npos;
    if (!disk.removable && !disk.hotplug && !cardBus) return DriveVerdict::kFixedDisk;
    if (disk.sizeBytes == 0) return DriveVerdict::kEmptyReader;
    return DriveVerdict::kListed;
}

std::vector<DriveCandidate> DecideDrives(const SystemFacts& facts, std::vector<DiskVerdict>* verdicts) {
    std::vector<DriveCandidate> out;
    std::vector<const BlockDeviceFacts*> disks;
    for (const auto& d : facts.disks) disks.push_back(&d);
    std::sort(disks.begin(), disks.end(), [](auto* a, auto* b) { return a->devNode < b->devNode; });
    for (const auto* d : disks) {
        if (Contains(facts.extraDevices, d->devNode)) continue;  // judged below, in their own order
        DriveVerdict v = JudgeDisk(*d, facts, false);
        if (verdicts) verdicts->push_back({d->devNode, v});
        if (v != DriveVerdict::kListed) continue;
        out.push_back({d->devNode, DriveKind::kCardReader, VolumeTextOf(*d, facts), DeviceNameOf(d->vendor, d->model)});
    }
    for (const auto& path : facts.extraDevices) {
        auto it = std::find_if(facts.disks.begin(), facts.disks.end(),
                               [&](const BlockDeviceFacts& d) { return d.devNode == path; });
        if (it != facts.disks.end()) {
            DriveVerdict v = JudgeDisk(*it, facts, true);
            if (verdicts) verdicts->push_back({path, v});
            if (v != DriveVerdict::kListed) continue;
            std::string name = DeviceNameOf(it->vendor, it->model);
            out.push_back({path, DriveKind::kExtraDevice, VolumeTextOf(*it, facts), name.empty() ? FileNameOf(path) : name});
        } else {
            out.push_back({path, DriveKind::kExtraDevice, "", FileNameOf(path)});
        }
    }
    for (const auto& img : facts.images) out.push_back({img, DriveKind::kCardImage, "", FileNameOf(img)});
    if (out.size() > 9) out.resize(9);
    return out;
}

}  // namespace rk
