#include "card/drive_scan.h"

#include <dirent.h>
#include <libudev.h>
#include <sys/epoll.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include "base/log.h"
#include "base/string_ids.h"
#include "base/texts.h"
#include "card/card_directory.h"
#include "card/sd_card.h"
#include "card/volumes.h"
#include "ui/operator.h"

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

std::string DevNumber(unsigned maj, unsigned min) { return std::to_string(maj) + ":" + std::to_string(min); }

bool Contains(const std::vector<std::string>& v, const std::string& s) {
    return std::find(v.begin(), v.end(), s) != v.end();
}

std::vector<std::string> DiskNumbers(const BlockDeviceFacts& disk) {
    std::vector<std::string> n{DevNumber(disk.major, disk.minor)};
    n.insert(n.end(), disk.partitions.begin(), disk.partitions.end());
    return n;
}

std::string BaseName(const std::string& path) {
    auto slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// A card image of the card folder: "<name>.img".
bool IsCardImageName(const std::string& name) {
    return name.size() > 4 && name.compare(name.size() - 4, 4, ".img") == 0;
}

// The device numbers of the disk's partitions, from sysfs.
void FillPartitions(BlockDeviceFacts& f) {
    auto numbers = DiskAndPartitionNumbers(f.major, f.minor);
    f.partitions.assign(numbers.begin() + 1, numbers.end());
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
            out.push_back({path, DriveKind::kExtraDevice, VolumeTextOf(*it, facts), name.empty() ? BaseName(path) : name});
        } else {
            out.push_back({path, DriveKind::kExtraDevice, "", BaseName(path)});
        }
    }
    for (const auto& img : facts.images) out.push_back({img, DriveKind::kCardImage, "", BaseName(img)});
    if (out.size() > 9) out.resize(9);
    return out;
}

// ---- Gathering ----

namespace {

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
            facts.swapDevices.push_back(DevNumber(major(st.st_rdev), minor(st.st_rdev)));
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
        f.sysName = BaseName(path);
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

// ---- The drive table ----

namespace {

std::mutex g_tableMutex;
std::array<std::string, 10> g_table;  // index = drive number; 0 never used

void AssignNumbers(const std::vector<DriveCandidate>& candidates, std::array<std::string, 10>& table) {
    std::array<std::string, 10> next;
    // Keep every number whose device is still there ...
    for (int n = 1; n <= 9; ++n)
        for (const auto& c : candidates)
            if (c.path == table[size_t(n)]) next[size_t(n)] = c.path;
    // ... and give the lowest free ones to the newcomers, in drive order.
    for (const auto& c : candidates) {
        if (std::find(next.begin(), next.end(), c.path) != next.end()) continue;
        for (int n = 1; n <= 9; ++n)
            if (next[size_t(n)].empty()) {
                next[size_t(n)] = c.path;
                break;
            }
    }
    table = next;
}

}  // namespace

std::string DrivePath(int n) {
    std::lock_guard<std::mutex> lock(g_tableMutex);
    return n >= 1 && n <= 9 ? g_table[size_t(n)] : std::string();
}

void ResetDriveTable() {
    std::lock_guard<std::mutex> lock(g_tableMutex);
    g_table = {};
}

CDriveToVolumeMapping::CDriveToVolumeMapping(const std::vector<DriveCandidate>& drives,
                                             const std::vector<std::string>& numbers) {
    for (size_t n = 0; n < numbers.size() && n < 10; ++n)
        for (const auto& d : drives)
            if (!numbers[n].empty() && d.path == numbers[n]) {
                volumeTexts_[n] = d.volumeText;
                deviceNames_[n] = d.deviceName;
            }
}

std::string CDriveToVolumeMapping::Text(int n) const {
    if (n < 0 || n > 9) return {};
    return volumeTexts_[n] + " " + deviceNames_[n];
}

const std::string& CDriveToVolumeMapping::VolumeText(int n) const {
    static const std::string empty;
    return n >= 0 && n <= 9 ? volumeTexts_[n] : empty;
}

const std::string& CDriveToVolumeMapping::DeviceName(int n) const {
    static const std::string empty;
    return n >= 0 && n <= 9 ? deviceNames_[n] : empty;
}

ScanResult ScanMediaWithFacts(const SystemFacts& facts, IOperator* op, bool keepSelection, int previousDrive,
                              bool& accessDeniedFlag) {
    ScanResult result;
    auto candidates = DecideDrives(facts);
    std::array<std::string, 10> table;
    {
        std::lock_guard<std::mutex> lock(g_tableMutex);
        AssignNumbers(candidates, g_table);
        table = g_table;
    }
    const CDriveToVolumeMapping mapping(candidates, std::vector<std::string>(table.begin(), table.end()));
    for (int n = 1; n <= 9; ++n) {
        const std::string& path = table[size_t(n)];
        if (path.empty()) continue;
        auto c = std::find_if(candidates.begin(), candidates.end(), [&](auto& x) { return x.path == path; });
        CSDCard probe;
        int answer = probe.OpenPath(path);
        LogMessage(3, "drive list: %s, [%s], %d", path.c_str(), mapping.DeviceName(n).c_str(), answer);
        if (answer == kOpenAccessDenied) result.accessDenied = true;
        if (answer != kOpenOk) continue;
        DriveEntry e;
        e.number = n;
        e.path = path;
        e.kind = c->kind;
        e.sizeMiB = probe.SizeMiB();
        e.label = mapping.Text(n) + " (" + SizeText(e.sizeMiB) + ")";
        result.entries.push_back(std::move(e));
        probe.Close();
    }
    if (!result.entries.empty()) {
        result.noMedia = false;
        for (size_t i = 0; i < result.entries.size(); ++i)
            if (keepSelection && result.entries[i].number == previousDrive) result.selected = int(i);
        if (result.selected < 0) result.selected = int(result.entries.size()) - 1;
    } else if (!keepSelection && result.accessDenied) {
        accessDeniedFlag = true;
        if (op) ErrorById(*op, IDS_ACCESS_DENIED);
    }
    return result;
}

ScanResult ScanMedia(IOperator* op, bool keepSelection, int previousDrive, bool& accessDeniedFlag) {
    return ScanMediaWithFacts(GatherSystemFacts(), op, keepSelection, previousDrive, accessDeniedFlag);
}

// ---- The change monitor ----

struct CMediaMonitor::Impl {
    udev* u = nullptr;
    udev_monitor* mon = nullptr;
    int inotifyFd = -1;
    int watch = -1;
};

CMediaMonitor::CMediaMonitor() : impl_(new Impl) {}

CMediaMonitor::~CMediaMonitor() {
    if (impl_->mon) udev_monitor_unref(impl_->mon);
    if (impl_->u) udev_unref(impl_->u);
    if (impl_->inotifyFd >= 0) ::close(impl_->inotifyFd);
    if (epollFd_ >= 0) ::close(epollFd_);
    delete impl_;
}

bool CMediaMonitor::Start() {
    if (epollFd_ >= 0) return true;
    epollFd_ = ::epoll_create1(EPOLL_CLOEXEC);
    if (epollFd_ < 0) return false;
    bool any = false;
    impl_->u = udev_new();
    if (impl_->u) impl_->mon = udev_monitor_new_from_netlink(impl_->u, "udev");
    if (impl_->mon && udev_monitor_filter_add_match_subsystem_devtype(impl_->mon, "block", nullptr) >= 0 &&
        udev_monitor_enable_receiving(impl_->mon) >= 0) {
        epoll_event ev{};
        ev.events = EPOLLIN;
        ev.data.u32 = 1;
        if (::epoll_ctl(epollFd_, EPOLL_CTL_ADD, udev_monitor_get_fd(impl_->mon), &ev) == 0) any = true;
    }
    impl_->inotifyFd = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (impl_->inotifyFd >= 0) {
        std::string folder = CardFolderPath();
        // The card folder is ours: make it so that images dropped there later are seen.
        for (size_t i = 1; i <= folder.size(); ++i)
            if (i == folder.size() || folder[i] == '/') ::mkdir(folder.substr(0, i).c_str(), 0755);
        impl_->watch = ::inotify_add_watch(impl_->inotifyFd, folder.c_str(),
                                           IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO | IN_CLOSE_WRITE);
        epoll_event ev{};
        ev.events = EPOLLIN;
        ev.data.u32 = 2;
        if (impl_->watch >= 0 && ::epoll_ctl(epollFd_, EPOLL_CTL_ADD, impl_->inotifyFd, &ev) == 0) any = true;
    }
    return any;
}

bool CMediaMonitor::TakeChanges() {
    bool changed = false;
    if (impl_->mon) {
        while (udev_device* dev = udev_monitor_receive_device(impl_->mon)) {
            const char* action = udev_device_get_action(dev);
            if (action && (!std::strcmp(action, "add") || !std::strcmp(action, "remove") ||
                           !std::strcmp(action, "change")))
                changed = true;
            udev_device_unref(dev);
        }
    }
    if (impl_->inotifyFd >= 0) {
        alignas(inotify_event) char buf[4096];
        for (;;) {
            ssize_t n = ::read(impl_->inotifyFd, buf, sizeof buf);
            if (n <= 0) break;
            for (char* p = buf; p < buf + n;) {
                auto* ev = reinterpret_cast<inotify_event*>(p);
                std::string name = ev->len ? ev->name : "";
                if (IsCardImageName(name)) changed = true;
                p += sizeof(inotify_event) + ev->len;
            }
        }
    }
    return changed;
}

}  // namespace rk
