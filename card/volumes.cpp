#include "card/volumes.h"

#include <dirent.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <sstream>

#include "base/log.h"

extern char** environ;

namespace rk {

std::string ReadWholeFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return {};
    std::ostringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

std::string TrimSysfsValue(std::string s) {
    while (!s.empty() && (s.back() == '\n' || s.back() == ' ' || s.back() == '\t' || s.back() == '\r')) s.pop_back();
    size_t i = 0;
    while (i < s.size() && (s[i] == ' ' || s[i] == '\t')) ++i;
    return s.substr(i);
}

namespace {

// mountinfo escapes space, tab, newline and backslash as \ooo.
std::string Unescape(const std::string& s) {
    std::string out;
    for (size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '\\' && i + 3 < s.size() && s[i + 1] >= '0' && s[i + 1] <= '3' && s[i + 2] >= '0' && s[i + 2] <= '7' && s[i + 3] >= '0' &&
            s[i + 3] <= '7') {
            out.push_back(char((s[i + 1] - '0') * 64 + (s[i + 2] - '0') * 8 + (s[i + 3] - '0')));
            i += 3;
        } else {
            out.push_back(s[i]);
        }
    }
    return out;
}

std::vector<std::string> SplitSpaces(const std::string& line) {
    std::vector<std::string> out;
    std::istringstream ss(line);
    std::string w;
    while (ss >> w) out.push_back(w);
    return out;
}

bool RunProgram(const std::vector<std::string>& args) {
    std::vector<char*> argv;
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_addopen(&fa, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&fa, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&fa, 2, "/dev/null", O_WRONLY, 0);
    pid_t pid = 0;
    int rc = posix_spawn(&pid, argv[0], &fa, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&fa);
    if (rc != 0) return false;
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

}  // namespace

std::vector<MountFacts> ParseMountInfo(const std::string& text) {
    // 36 35 98:0 /mnt1 /mnt2 rw,noatime master:1 - ext3 /dev/root rw,errors=continue
    std::vector<MountFacts> out;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
        auto w = SplitSpaces(line);
        if (w.size() < 7) continue;
        auto dash = std::find(w.begin() + 6, w.end(), "-");
        if (dash == w.end() || std::distance(dash, w.end()) < 3) continue;
        const std::string& dev = w[2];
        auto colon = dev.find(':');
        if (colon == std::string::npos || colon == 0 || colon + 1 >= dev.size()) continue;
        if (dev.find_first_not_of("0123456789:") != std::string::npos) continue;
        MountFacts m;
        m.device = dev;
        m.mountPoint = Unescape(w[4]);
        m.fsType = *(dash + 1);
        m.source = Unescape(*(dash + 2));
        out.push_back(std::move(m));
    }
    return out;
}

std::vector<std::string> ParseSwaps(const std::string& text) {
    // Filename Type Size Used Priority
    std::vector<std::string> out;
    std::istringstream in(text);
    std::string line;
    bool first = true;
    while (std::getline(in, line)) {
        if (first) {
            first = false;
            if (line.rfind("Filename", 0) == 0) continue;
        }
        auto w = SplitSpaces(line);
        if (w.size() >= 2) out.push_back(Unescape(w[0]));
    }
    return out;
}

std::string DeviceNumberText(unsigned maj, unsigned min) { return std::to_string(maj) + ":" + std::to_string(min); }

std::vector<std::string> DiskAndPartitionNumbers(unsigned maj, unsigned min) {
    std::string self = DeviceNumberText(maj, min);
    std::vector<std::string> out{self};
    std::string dir = "/sys/dev/block/" + self;
    DIR* d = ::opendir(dir.c_str());
    if (!d) return out;
    while (dirent* e = ::readdir(d)) {
        if (e->d_name[0] == '.') continue;
        std::string sub = dir + "/" + e->d_name;
        struct stat st {};
        if (::stat((sub + "/partition").c_str(), &st) != 0) continue;
        std::string dev = TrimSysfsValue(ReadWholeFile(sub + "/dev"));
        if (!dev.empty()) out.push_back(dev);
    }
    ::closedir(d);
    return out;
}

std::vector<MountFacts> MountedVolumesOfDisk(unsigned maj, unsigned min) {
    auto numbers = DiskAndPartitionNumbers(maj, min);
    std::vector<MountFacts> out;
    for (auto& m : ParseMountInfo(ReadWholeFile("/proc/self/mountinfo")))
        if (std::find(numbers.begin(), numbers.end(), m.device) != numbers.end()) out.push_back(m);
    return out;
}

bool DiskHasMountedVolumes(unsigned maj, unsigned min) { return !MountedVolumesOfDisk(maj, min).empty(); }

void UnmountDiskVolumes(const std::string& diskPath, unsigned maj, unsigned min) {
    // Each pass takes off what it can, innermost (latest) mounts first; a few
    // passes cover mounts stacked on one another.
    for (int pass = 0; pass < 4; ++pass) {
        auto mounts = MountedVolumesOfDisk(maj, min);
        if (mounts.empty()) return;
        for (auto it = mounts.rbegin(); it != mounts.rend(); ++it) {
            LogMessage(3, "CSDCard::UnmountVolumes(): %s, %s", diskPath.c_str(), it->mountPoint.c_str());
            if (::umount2(it->mountPoint.c_str(), 0) == 0) continue;
            int err = errno;
            if (err == EPERM && ::access("/usr/bin/udisksctl", X_OK) == 0 &&
                RunProgram({"/usr/bin/udisksctl", "unmount", "--no-user-interaction", "-b", it->source}))
                continue;
            if (err == EBUSY && ::umount2(it->mountPoint.c_str(), MNT_DETACH) == 0) continue;
            LogMessage(2, "CSDCard::UnmountVolumes(): %s stays mounted: %s", it->mountPoint.c_str(),
                       std::strerror(err));
        }
    }
}

}  // namespace rk
