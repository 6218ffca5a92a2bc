#include "convert/tool_versions.h"

#include <fstream>

#include "base/log.h"
#include "convert/app_launch.h"
#include "convert/tool_folder.h"

namespace rk {

std::string ToolVersionLine(const std::string& tool, int timeoutMs) {
    CAppLaunch run(tool, std::vector<std::string>{"-version"}, true);
    if (!run.started) return {};
    if (!run.Wait(timeoutMs)) {
        LogMessage(2, "ToolVersionLine(%s): no answer in %d ms", tool.c_str(), timeoutMs);
        run.Terminate();
        return {};
    }
    if (run.exitCode != 0 || run.capturePath.empty()) return {};
    std::ifstream in(run.capturePath);
    std::string line;
    // Only the first lines matter; a tool that prints megabytes is not read whole.
    for (int n = 0; n < 16 && std::getline(in, line); ++n) {
        while (!line.empty() && (line.back() == '\r' || line.back() == ' ' || line.back() == '\t')) line.pop_back();
        size_t start = line.find_first_not_of(" \t");
        if (start == std::string::npos) continue;
        line.erase(0, start);
        if (line.size() > 200) line.resize(200);
        return line;
    }
    return {};
}

std::vector<ToolVersion> BundledToolVersions(int timeoutMs) {
    std::vector<ToolVersion> out;
    for (const char* tool : {kToolFfmpeg, kToolFfprobe, kToolImgConvert})
        out.push_back({tool, ToolVersionLine(tool, timeoutMs)});
    return out;
}

}  // namespace rk
