// Gathering the facts of this machine's disks and card images.
#include "card/drive_facts.h"

#include <dirent.h>
#include <libudev.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "base/path_util.h"

namespace rk {

namespace {

// The device numbers of the disk's partitions, from sysfs.
void FillPartitions(BlockDeviceFacts& f) {
    auto numbers = DiskAndPartitionNumbers(f.major, f.minor);
    f.partitions.assign(numbers.begin() + 1, numbers.end());
}

std::string Attr(udev_device* dev, const char* name) {
    const char* v = udev_device_get_sysattr_value(dev, name);
    return v ? std::string(v) : std::string();
}

std::string Prop(udev_device* dev, const char* name) {
    const char* v = udev_device_get_property_value(dev, name);
    return v ? std::string(v) : std::string();
}

void FillFromUdev(udev_device* dev, BlockDeviceFacts& f) {
    const char* node = udev_device_get_devnode(dev);
    f.devNode = node ? node : "";
    const char* sys = udev_device_get_sysname(dev);
    f.sysName = sys ? sys : "";
    dev_t num = udev_device_get_devnum(dev);
    f.major = major(num);
    f.minor = minor(num);
    f.bus = Prop(dev, "ID_BUS");
    f.subsystemPath = Prop(dev, "ID_PATH");
    const char* devpath = udev_device_get_devpath(dev);
    if (devpath && std::strstr(devpath, "/devices/virtual/")) f.virtualDevice = true;
    static const char* const kVirtual[] = {"loop", "ram", "zram", "dm-", "md", "nbd", "sr", "fd"};
    for (const char* p : kVirtual)
        if (f.sysName.rfind(p, 0) == 0) f.virtualDevice = true;
    f.removable = TrimSysfsValue(Attr(dev, "removable")) == "1";
    f.readOnly = TrimSysfsValue(Attr(dev, "ro")) == "1";
    f.sizeBytes = std::strtoull(Attr(dev, "size").c_str(), nullptr, 10) * 512ull;
    for (udev_device* p = udev_device_get_parent(dev); p; p = udev_device_get_parent(p)) {
        const char* ss = udev_device_get_subsystem(p);
        if (ss && (!std::strcmp(ss, "usb") || !std::strcmp(ss, "mmc") || !std::strcmp(ss, "memstick") ||
                   !std::strcmp(ss, "sdio"))) {
            f.hotplug = true;
            if (f.bus.empty()) f.bus = ss;
        }
        const char* rem = udev_device_get_sysattr_value(p, "removable");
        if (rem && TrimSysfsValue(rem) == "removable") f.hotplug = true;
    }
    f.vendor = TrimSysfsValue(Attr(dev, "device/vendor"));
    if (f.vendor.empty()) f.vendor = Prop(dev, "ID_VENDOR");
    f.model = TrimSysfsValue(Attr(dev, "device/model"));
    if (f.model.empty()) f.model = Prop(dev, "ID_MODEL");
    if (f.model.empty()) f.model = TrimSysfsValue(Attr(dev, "device/name"));  // mmc cards
    FillPartitions(f);
}

std::vector<std::string> SplitColon(const char* s) {
    std::vector<std::string> out;
    if (!s) return out;
    std::string cur;
    for (const char* p = s;; ++p) {
        if (*p == ':' || *p == 0) {
            if (!cur.empty()) out.push_back(cur);
            cur.clear();
            if (*p == 0) break;
        } else {
            cur.push_back(*p);
        }
    }
    return out;
}

}  // namespace

bool IsCardImageName(const std::string& name) {
    return name.size() > 4 && name.compare(name.size() - 4, 4, ".img") == 0;
}

std::string CardFolderPath() {
    if (const char* d = std::getenv("REELKEEP_CARD_DIR"); d && *d) return d;
    std::string base;
    if (const char* x = std::getenv("XDG_DATA_HOME"); x && *x)
        base = x;
    else if (const char* h = std::getenv("HOME"); h && *h)
        base = std::string(h) + "/.local/share";
    else
        base = ".";
    return base + "/Korvix/Reelkeep/cards";
}

SystemFacts GatherSystemFacts() {
    SystemFacts facts;
    facts.mounts = ParseMountInfo(ReadWholeFile("/proc/self/mountinfo"));
    for (const auto& path : ParseSwaps(ReadWholeFile("/proc/swaps"))) {
        struct stat st {};
        if (::stat(path.c_str(), &st) == 0 && S_ISBLK(st.st_mode))
            facts.swapDevices.push_back(DeviceNumberText(major(st.st_rdev), minor(st.st_rdev)));
    }
    for (const auto& p : SplitColon(std::getenv("REELKEEP_EXTRA_DEVICES"))) facts.extraDevices.push_back(p);

    if (udev* u = udev_new()) {
        udev_enumerate* en = udev_enumerate_new(u);
        udev_enumerate_add_match_subsystem(en, "block");
        udev_enumerate_add_match_property(en, "DEVTYPE", "disk");
        udev_enumerate_scan_devices(en);
        udev_list_entry* e;
        udev_list_entry_foreach(e, udev_enumerate_get_list_entry(en)) {
            udev_device* dev = udev_device_new_from_syspath(u, udev_list_entry_get_name(e));
            if (!dev) continue;
            BlockDeviceFacts f;
            FillFromUdev(dev, f);
            if (!f.devNode.empty()) facts.disks.push_back(std::move(f));
            udev_device_unref(dev);
        }
        udev_enumerate_unref(en);
        udev_unref(u);
    }
    // Extra devices named by path (for example /dev/loop3) that udev did not
    // list under that name.
    for (const auto& path : facts.extraDevices) {
        bool known = std::any_of(facts.disks.begin(), facts.disks.end(), [&](auto& d) { return d.devNode == path; });
        struct stat st {};
        if (known || ::stat(path.c_str(), &st) != 0 || !S_ISBLK(st.st_mode)) continue;
        BlockDeviceFacts f;
        f.devNode = path;
        f.sysName = FileNameOf(path);
        f.major = major(st.st_rdev);
        f.minor = minor(st.st_rdev);
        FillPartitions(f);
        facts.disks.push_back(std::move(f));
    }

    const std::string folder = CardFolderPath();
    if (DIR* d = ::opendir(folder.c_str())) {
        while (dirent* e = ::readdir(d)) {
            std::string name = e->d_name;
            if (!IsCardImageName(name)) continue;
            std::string path = folder + "/" + name;
            struct stat st {};
            if (::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode)) facts.images.push_back(path);
        }
        ::closedir(d);
    }
    std::sort(facts.images.begin(), facts.images.end());
    return facts;
}

}  // namespace rk
