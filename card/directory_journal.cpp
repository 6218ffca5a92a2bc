#include "card/directory_journal.h"

#include <fcntl.h>
#include <libudev.h>
#include <limits.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "base/fd_io.h"
#include "base/log.h"

namespace rk {

namespace {

constexpr uint8_t kMagic[4] = {'R', 'K', 'D', 'J'};
constexpr uint32_t kVersion = 1;
constexpr uint32_t kMaxKeyBytes = 4096;

void PutU32(std::vector<uint8_t>& out, uint32_t v) {
    for (int i = 0; i < 4; ++i) out.push_back(uint8_t(v >> (8 * i)));
}
uint32_t GetU32(const uint8_t* p) { return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24; }

// FNV-1a, 64 bits: a file name for a key of any characters.
std::string KeyFileName(const std::string& key) {
    uint64_t h = 1469598103934665603ull;
    for (unsigned char c : key) h = (h ^ c) * 1099511628211ull;
    char name[32];
    std::snprintf(name, sizeof name, "%016llx.journal", static_cast<unsigned long long>(h));
    return name;
}

bool MakeFolders(const std::string& path) {
    for (size_t at = 1; at <= path.size(); ++at) {
        if (at != path.size() && path[at] != '/') continue;
        const std::string part = path.substr(0, at);
        if (::mkdir(part.c_str(), 0700) != 0 && errno != EEXIST) return false;
    }
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

}  // namespace

std::string CardIdentity::Key() const { return name + "|" + std::to_string(totalSectors) + "|" + std::to_string(mode); }

namespace {

std::string SerialOfBlockDevice(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0 || !S_ISBLK(st.st_mode)) return {};
    udev* u = udev_new();
    if (!u) return {};
    std::string serial;
    if (udev_device* dev = udev_device_new_from_devnum(u, 'b', st.st_rdev)) {
        for (const char* name : {"ID_SERIAL", "ID_SERIAL_SHORT"}) {
            const char* v = udev_device_get_property_value(dev, name);
            if (v && *v) {
                serial = v;
                break;
            }
        }
        udev_device_unref(dev);
    }
    udev_unref(u);
    return serial;
}

}  // namespace

CardIdentity CardIdentityOf(bool blockDevice, const std::string& path, int64_t totalSectors, int mode) {
    CardIdentity id;
    id.totalSectors = totalSectors;
    id.mode = mode;
    if (blockDevice) {
        const std::string serial = SerialOfBlockDevice(path);
        id.name = serial.empty() ? "device:" + path : "serial:" + serial;
        return id;
    }
    char resolved[PATH_MAX];
    id.name = "image:" + std::string(::realpath(path.c_str(), resolved) ? resolved : path.c_str());
    return id;
}

std::string DefaultJournalFolder() {
    const char* state = std::getenv("XDG_STATE_HOME");
    if (state && *state == '/') return std::string(state) + "/Korvix/Reelkeep/journal";
    const char* home = std::getenv("HOME");
    if (home && *home == '/') return std::string(home) + "/.local/state/Korvix/Reelkeep/journal";
    return {};
}

bool ParseJournalRecord(const uint8_t* data, size_t size, std::string& key, CardDirectory& previous,
                        CardDirectory& next) {
    if (!data || size < 12 + 2) return false;
    if (std::memcmp(data, kMagic, 4) != 0 || GetU32(data + 4) != kVersion) return false;
    const uint32_t keyBytes = GetU32(data + 8);
    if (keyBytes > kMaxKeyBytes) return false;
    const size_t want = 12 + size_t(keyBytes) + 2 * size_t(kDirectorySize) + 2;
    if (size != want) return false;
    const uint16_t stored = uint16_t(data[size - 2] | data[size - 1] << 8);
    if (Crc16Modbus(data, size - 2) != stored) return false;
    key.assign(reinterpret_cast<const char*>(data + 12), keyBytes);
    std::memcpy(previous.Bytes(), data + 12 + keyBytes, kDirectorySize);
    std::memcpy(next.Bytes(), data + 12 + keyBytes + kDirectorySize, kDirectorySize);
    return true;
}

CDirectoryJournal::CDirectoryJournal(std::string folder) : folder_(std::move(folder)) {}

std::string CDirectoryJournal::RecordPath(const CardIdentity& card) const {
    return folder_ + "/" + KeyFileName(card.Key());
}

bool CDirectoryJournal::Record(const CardIdentity& card, const CardDirectory& previous, const CardDirectory& next) {
    const std::string key = card.Key();
    if (folder_.empty() || key.size() > kMaxKeyBytes || !MakeFolders(folder_)) return false;
    std::vector<uint8_t> rec(kMagic, kMagic + 4);
    rec.reserve(12 + key.size() + 2 * kDirectorySize + 2);
    PutU32(rec, kVersion);
    PutU32(rec, uint32_t(key.size()));
    rec.insert(rec.end(), key.begin(), key.end());
    rec.insert(rec.end(), previous.Bytes(), previous.Bytes() + kDirectorySize);
    rec.insert(rec.end(), next.Bytes(), next.Bytes() + kDirectorySize);
    const uint16_t crc = Crc16Modbus(rec.data(), rec.size());
    rec.push_back(uint8_t(crc));
    rec.push_back(uint8_t(crc >> 8));

    // Written beside and renamed over: a crash leaves the old record or the new one, never half.
    const std::string path = RecordPath(card), temp = path + ".new";
    CFileHandle f(::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0600));
    bool ok = f.fd >= 0 && WriteWhole(f.fd, rec.data(), rec.size()) && ::fsync(f.fd) == 0;
    ok = f.Close() && ok;
    ok = ok && ::rename(temp.c_str(), path.c_str()) == 0;
    if (!ok) {
        LogMessage(2, "directory journal: cannot record %s: %s", key.c_str(), std::strerror(errno));
        ::unlink(temp.c_str());
        return false;
    }
    CFileHandle dir(::open(folder_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dir.fd >= 0) ::fsync(dir.fd);  // the rename itself
    return true;
}

bool CDirectoryJournal::Load(const CardIdentity& card, CardDirectory& previous, CardDirectory& next) const {
    CFileHandle f(::open(RecordPath(card).c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOFOLLOW));
    struct stat st {};
    if (f.fd < 0 || ::fstat(f.fd, &st) != 0 || !S_ISREG(st.st_mode)) return false;
    const size_t most = 12 + kMaxKeyBytes + 2 * size_t(kDirectorySize) + 2;
    if (st.st_size <= 0 || uint64_t(st.st_size) > most) return false;
    std::vector<uint8_t> data(size_t(st.st_size));
    if (ReadWholeAt(f.fd, 0, data.data(), data.size()) != 1) return false;
    std::string key;
    CardDirectory p, n;
    if (!ParseJournalRecord(data.data(), data.size(), key, p, n) || key != card.Key()) return false;
    previous = p;
    next = n;
    return true;
}

}  // namespace rk
