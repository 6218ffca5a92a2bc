#include "convert/picture_run.h"

#include "base/path_util.h"
#include "base/safe_open.h"
#include "convert/pipe_folder.h"
#include "convert/tool_folder.h"

namespace rk {

bool LinkPictureRun(CPipeFolder& folder, const std::vector<std::string>& files, std::vector<std::string>& inputWords,
                    std::string& cause) {
    inputWords.clear();
    if (files.empty()) {
        cause = "no pictures";
        return false;
    }
    std::string ext = ExtensionOf(files[0]);
    for (char c : ext)
        if (!(c == '.' || (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'))) ext.clear();
    // At least three digits, more for longer runs: every name as wide.
    int width = 3;
    for (size_t n = files.size() - 1; n >= 1000; n /= 10) ++width;
    for (size_t i = 0; i < files.size(); ++i) {
        if (!CheckInputPath(files[i])) {
            cause = files[i] + ": cannot be read";
            return false;
        }
        std::string number = std::to_string(i);
        number.insert(0, size_t(width) - number.size(), '0');
        if (!folder.Link(("p_" + number + ext).c_str(), AbsolutePath(files[i]))) {
            cause = "cannot link the pictures";
            return false;
        }
    }
    inputWords = {"-f", "image2", "-pattern_type", "sequence", "-start_number", "0",
                  "-i", "p_%0" + std::to_string(width) + "d" + ext};
    return true;
}

}  // namespace rk
