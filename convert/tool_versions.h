#pragma once
// The versions of the bundled tools, as each reports itself: the first line
// of "ffmpeg -version", "ffprobe -version" and "img_convert -version" (the
// About box shows them, so an operator can tell a support desk what runs).
#include <string>
#include <vector>

namespace rk {

struct ToolVersion {
    std::string tool;  // file name in the program's folder
    std::string line;  // the first line it printed; empty when it did not run
};

// The first non-empty line `tool` prints for "-version", trimmed; empty when
// the tool is missing, fails, or takes longer than `timeoutMs` (it is then
// ended).
std::string ToolVersionLine(const std::string& tool, int timeoutMs = 5000);

// ffmpeg, ffprobe and img_convert, in that order.
std::vector<ToolVersion> BundledToolVersions(int timeoutMs = 5000);

}  // namespace rk
