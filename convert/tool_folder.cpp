#include "convert/tool_folder.h"

#include "base/path_util.h"

#include <limits.h>
#include <unistd.h>

#include <cstdlib>
#include <mutex>

namespace rk {

namespace {

std::mutex g_folderMutex;
std::string g_folderOverride;

std::string RealProgramFolder() {
    char buffer[PATH_MAX + 1];
    ssize_t n = readlink("/proc/self/exe", buffer, PATH_MAX);
    if (n <= 0) return "./";
    std::string path(buffer, static_cast<size_t>(n));
    if (path.find('/') == std::string::npos) return "./";
    std::string folder = FolderOf(path);
    return folder == "/" ? folder : folder + "/";
}

}  // namespace

std::string ProgramFolder() {
    {
        std::lock_guard<std::mutex> lock(g_folderMutex);
        if (!g_folderOverride.empty()) return g_folderOverride;
    }
    static const std::string folder = RealProgramFolder();
    return folder;
}

void SetProgramFolder(const std::string& folder) {
    std::lock_guard<std::mutex> lock(g_folderMutex);
    g_folderOverride = folder;
    if (!g_folderOverride.empty() && g_folderOverride.back() != '/') g_folderOverride += '/';
}

std::string ProgramFile(const std::string& name) { return ProgramFolder() + name; }

std::string TempFolder() {
    const char* tmp = std::getenv("TMPDIR");
    std::string folder = (tmp && *tmp) ? tmp : "/tmp";
    while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
    return folder;
}

std::string AbsolutePath(const std::string& path) {
    if (path.empty() || path[0] == '/') return path;
    char buffer[PATH_MAX + 1];
    if (!getcwd(buffer, sizeof buffer)) return path;
    std::string cwd(buffer);
    if (cwd.empty() || cwd.back() != '/') cwd += '/';
    return cwd + path;
}

}  // namespace rk
