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
constexpr uint32_t kVersion = 2;
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

namespace {

constexpr uint8_t kMoveMagic[4] = {'R', 'K', 'M', 'V'};
constexpr uint32_t kMoveVersion = 1;
constexpr size_t kMoveFields = 6;

void PutCrc(std::vector<uint8_t>& rec) {
    const uint16_t crc = Crc16Modbus(rec.data(), rec.size());
    rec.push_back(uint8_t(crc));
    rec.push_back(uint8_t(crc >> 8));
}

// Magic, version, key and CRC of a file of either kind; `body` is where the
// key ends. False for a file not whole or not ours.
bool OpenEnvelope(const uint8_t* data, size_t size, const uint8_t* magic, std::string& key, uint32_t& version,
                  size_t& body) {
    if (!data || size < 12 + 2 || std::memcmp(data, magic, 4) != 0) return false;
    version = GetU32(data + 4);
    const uint32_t keyBytes = GetU32(data + 8);
    if (keyBytes > kMaxKeyBytes || size < 12 + size_t(keyBytes) + 2) return false;
    const uint16_t stored = uint16_t(data[size - 2] | data[size - 1] << 8);
    if (Crc16Modbus(data, size - 2) != stored) return false;
    key.assign(reinterpret_cast<const char*>(data + 12), keyBytes);
    body = 12 + keyBytes;
    return true;
}

std::vector<uint8_t> StartEnvelope(const uint8_t* magic, uint32_t version, const std::string& key) {
    std::vector<uint8_t> rec(magic, magic + 4);
    PutU32(rec, version);
    PutU32(rec, uint32_t(key.size()));
    rec.insert(rec.end(), key.begin(), key.end());
    return rec;
}

constexpr size_t kMostRecordBytes = 12 + kMaxKeyBytes + 4 + size_t(kJournalGenerations) * kDirectorySize + 2;

}  // namespace

bool ParseJournalGenerations(const uint8_t* data, size_t size, std::string& key,
                             std::vector<CardDirectory>& oldestFirst) {
    uint32_t version = 0;
    size_t at = 0;
    std::string k;
    if (!OpenEnvelope(data, size, kMagic, k, version, at)) return false;
    size_t count = 0;
    if (version == 1) {
        count = 2;  // the previous directory, then the new one
    } else if (version == kVersion) {
        if (size < at + 4 + 2) return false;
        count = GetU32(data + at);
        at += 4;
        if (count < 1 || count > size_t(kJournalGenerations)) return false;
    } else {
        return false;
    }
    if (size != at + count * kDirectorySize + 2) return false;
    std::vector<CardDirectory> dirs(count);
    for (size_t i = 0; i < count; ++i) std::memcpy(dirs[i].Bytes(), data + at + i * kDirectorySize, kDirectorySize);
    key = std::move(k);
    oldestFirst = std::move(dirs);
    return true;
}

bool ParseJournalRecord(const uint8_t* data, size_t size, std::string& key, CardDirectory& previous,
                        CardDirectory& next) {
    std::vector<CardDirectory> dirs;
    if (!ParseJournalGenerations(data, size, key, dirs)) return false;
    next = dirs.back();
    previous = dirs.size() > 1 ? dirs[dirs.size() - 2] : dirs.back();
    return true;
}

CDirectoryJournal::CDirectoryJournal(std::string folder) : folder_(std::move(folder)) {}

std::string CDirectoryJournal::RecordPath(const CardIdentity& card) const {
    return folder_ + "/" + KeyFileName(card.Key());
}

std::string CDirectoryJournal::MovePath(const CardIdentity& card) const {
    std::string path = RecordPath(card);
    return path.substr(0, path.size() - std::strlen(".journal")) + ".move";
}

// Written beside and renamed over: a crash leaves the old file or the new one, never half.
bool CDirectoryJournal::Replace(const std::string& path, const std::vector<uint8_t>& bytes) {
    cause_.clear();
    if (folder_.empty() || !MakeFolders(folder_)) {
        cause_ = folder_.empty() ? std::string("no journal folder") : folder_ + ": " + std::strerror(errno ? errno : EIO);
        return false;
    }
    const std::string temp = path + ".new";
    CFileHandle f(::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0600));
    bool ok = f.fd >= 0 && WriteWhole(f.fd, bytes.data(), bytes.size()) && ::fsync(f.fd) == 0;
    ok = f.Close() && ok;
    ok = ok && ::rename(temp.c_str(), path.c_str()) == 0;
    if (!ok) {
        const int error = errno ? errno : EIO;
        LogMessage(2, "directory journal: cannot write %s: %s", path.c_str(), std::strerror(error));
        cause_ = path + ": " + std::strerror(error);
        ::unlink(temp.c_str());
        return false;
    }
    CFileHandle dir(::open(folder_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dir.fd >= 0) ::fsync(dir.fd);  // the rename itself
    return true;
}

bool CDirectoryJournal::LoadFile(const std::string& path, size_t most, std::vector<uint8_t>& bytes) const {
    CFileHandle f(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOFOLLOW));
    struct stat st {};
    if (f.fd < 0 || ::fstat(f.fd, &st) != 0 || !S_ISREG(st.st_mode)) return false;
    if (st.st_size <= 0 || uint64_t(st.st_size) > most) return false;
    bytes.resize(size_t(st.st_size));
    return ReadWholeAt(f.fd, 0, bytes.data(), bytes.size()) == 1;
}

bool CDirectoryJournal::Record(const CardIdentity& card, const CardDirectory& previous, const CardDirectory& next) {
    const std::string key = card.Key();
    if (key.size() > kMaxKeyBytes) {
        cause_ = "the card's name is too long for the journal";
        return false;
    }
    std::vector<CardDirectory> dirs;
    LoadGenerations(card, dirs);  // none or damaged: a new record
    for (const CardDirectory* d : {&previous, &next})
        if (dirs.empty() || !(dirs.back() == *d)) dirs.push_back(*d);
    if (dirs.size() > size_t(kJournalGenerations))
        dirs.erase(dirs.begin(), dirs.end() - kJournalGenerations);

    std::vector<uint8_t> rec = StartEnvelope(kMagic, kVersion, key);
    rec.reserve(rec.size() + 4 + dirs.size() * kDirectorySize + 2);
    PutU32(rec, uint32_t(dirs.size()));
    for (const CardDirectory& d : dirs) rec.insert(rec.end(), d.Bytes(), d.Bytes() + kDirectorySize);
    PutCrc(rec);
    if (!Replace(RecordPath(card), rec)) {
        LogMessage(2, "directory journal: cannot record %s", key.c_str());
        return false;
    }
    return true;
}

bool CDirectoryJournal::LoadGenerations(const CardIdentity& card, std::vector<CardDirectory>& oldestFirst) const {
    std::vector<uint8_t> data;
    std::string key;
    std::vector<CardDirectory> dirs;
    if (!LoadFile(RecordPath(card), kMostRecordBytes, data) ||
        !ParseJournalGenerations(data.data(), data.size(), key, dirs) || key != card.Key())
        return false;
    oldestFirst = std::move(dirs);
    return true;
}

bool CDirectoryJournal::Load(const CardIdentity& card, CardDirectory& previous, CardDirectory& next) const {
    std::vector<CardDirectory> dirs;
    if (!LoadGenerations(card, dirs)) return false;
    next = dirs.back();
    previous = dirs.size() > 1 ? dirs[dirs.size() - 2] : dirs.back();
    return true;
}

bool CDirectoryJournal::RecordMove(const CardIdentity& card, const PendingMove& move) {
    const std::string key = card.Key();
    if (key.size() > kMaxKeyBytes) return false;
    std::vector<uint8_t> rec = StartEnvelope(kMoveMagic, kMoveVersion, key);
    for (uint32_t v : {uint32_t(move.kind), move.entry, move.from, move.to, move.length, move.done}) PutU32(rec, v);
    PutCrc(rec);
    return Replace(MovePath(card), rec);
}

bool CDirectoryJournal::LoadMove(const CardIdentity& card, PendingMove& move) const {
    std::vector<uint8_t> data;
    std::string key;
    uint32_t version = 0;
    size_t at = 0;
    if (!LoadFile(MovePath(card), 12 + kMaxKeyBytes + 4 * kMoveFields + 2, data) ||
        !OpenEnvelope(data.data(), data.size(), kMoveMagic, key, version, at) || version != kMoveVersion ||
        key != card.Key() || data.size() != at + 4 * kMoveFields + 2)
        return false;
    const uint8_t* p = data.data() + at;
    const uint32_t kind = GetU32(p);
    if (kind != kKindVideo && kind != kKindEffect && kind != kKindLogo) return false;
    move.kind = ItemKind(kind);
    move.entry = GetU32(p + 4);
    move.from = GetU32(p + 8);
    move.to = GetU32(p + 12);
    move.length = GetU32(p + 16);
    move.done = GetU32(p + 20);
    return move.done <= move.length;
}

bool CDirectoryJournal::ClearMove(const CardIdentity& card) {
    if (::unlink(MovePath(card).c_str()) != 0 && errno != ENOENT) return false;
    CFileHandle dir(::open(folder_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dir.fd >= 0) ::fsync(dir.fd);
    return true;
}

}  // namespace rk
