#include "convert/test_util.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "convert/tool_folder.h"

namespace rk::test {

void WriteScript(const std::string& path, const std::string& body) {
    WriteFile(path, "#!/bin/sh\n" + body + "\n");
    chmod(path.c_str(), 0755);
}

static char ProcessState(pid_t pid) {
    std::string stat;
    if (!ReadFile("/proc/" + std::to_string(pid) + "/stat", stat)) return 0;
    size_t close = stat.rfind(')');
    if (close == std::string::npos || close + 2 >= stat.size()) return 0;
    return stat[close + 2];
}

bool ProcessExists(pid_t pid) { return pid > 0 && ProcessState(pid) != 0; }
bool IsZombie(pid_t pid) { return ProcessState(pid) == 'Z'; }

std::vector<pid_t> ChildPids() {
    std::vector<pid_t> pids;
    const pid_t self = getpid();
    for (const std::string& name : ListDir("/proc")) {
        if (name.empty() || name.find_first_not_of("0123456789") != std::string::npos) continue;
        std::string stat;
        if (!ReadFile("/proc/" + name + "/stat", stat)) continue;
        size_t close = stat.rfind(')');
        if (close == std::string::npos) continue;
        std::istringstream rest(stat.substr(close + 2));
        char state;
        pid_t ppid = 0;
        rest >> state >> ppid;
        if (ppid == self) pids.push_back(static_cast<pid_t>(std::atoi(name.c_str())));
    }
    return pids;
}

std::vector<std::string> ListDir(const std::string& path) {
    std::vector<std::string> names;
    DIR* d = opendir(path.c_str());
    if (!d) return names;
    while (dirent* e = readdir(d)) {
        std::string n = e->d_name;
        if (n != "." && n != "..") names.push_back(n);
    }
    closedir(d);
    return names;
}

std::string BinFolder() {
    char buffer[4096];
    ssize_t n = readlink("/proc/self/exe", buffer, sizeof buffer - 1);
    if (n <= 0) return "./";
    std::string p(buffer, static_cast<size_t>(n));
    return p.substr(0, p.rfind('/') + 1);
}

}  // namespace rk::test
