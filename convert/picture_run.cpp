#include "convert/picture_run.h"

#include <dirent.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstring>

#include "base/path_util.h"
#include "base/safe_open.h"
#include "convert/pipe_folder.h"
#include "convert/tool_folder.h"

namespace rk {

namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// Adds one to a run of decimal digits; a run of nines grows by a digit.
void IncrementDigits(std::string& digits) {
    for (size_t i = digits.size(); i-- > 0;) {
        if (digits[i] != '9') {
            ++digits[i];
            return;
        }
        digits[i] = '0';
    }
    digits.insert(digits.begin(), '1');
}

// What lies at `path` when it is there but not a regular file; empty for a
// regular file or nothing at all.
std::string OtherThanFile(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0 || S_ISREG(st.st_mode)) return {};
    if (S_ISFIFO(st.st_mode)) return "a FIFO";
    if (S_ISDIR(st.st_mode)) return "a folder";
    if (S_ISSOCK(st.st_mode)) return "a socket";
    if (S_ISCHR(st.st_mode) || S_ISBLK(st.st_mode)) return "a device";
    return "not a regular file";
}

bool IsRegularFile(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

// The parts of a pattern's file name around its one printf-style number.
struct PatternParts {
    std::string folder, before, after;  // before and after with "%%" as '%'
    int width = 0;                      // 0: as many digits as the number has
};

bool SplitPattern(const std::string& path, PatternParts& parts) {
    const size_t slash = path.rfind('/');
    parts.folder = slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
    const std::string name = path.substr(slash == std::string::npos ? 0 : slash + 1);
    bool found = false;
    std::string* into = &parts.before;
    for (size_t i = 0; i < name.size(); ++i) {
        if (name[i] != '%') {
            *into += name[i];
            continue;
        }
        if (i + 1 < name.size() && name[i + 1] == '%') {
            *into += '%';
            ++i;
            continue;
        }
        // %d, %Nd or %0Nd, once.
        size_t j = i + 1;
        if (j < name.size() && name[j] == '0') ++j;
        int width = 0;
        while (j < name.size() && IsDigit(name[j]) && width < 100) width = width * 10 + (name[j++] - '0');
        if (found || j >= name.size() || name[j] != 'd') return false;
        found = true;
        parts.width = width;
        into = &parts.after;
        i = j;
    }
    return found;
}

}  // namespace

std::vector<std::string> NumberedPictures(const std::string& path,
                                          const std::function<bool(const std::string&)>& exists, size_t limit) {
    std::vector<std::string> files;
    size_t nameStart = path.rfind('/');
    nameStart = nameStart == std::string::npos ? 0 : nameStart + 1;
    if (path.size() < nameStart + 4) return files;
    // Backwards from the character before the last three.
    long long i = static_cast<long long>(path.size()) - 4;
    while (i >= static_cast<long long>(nameStart) && !IsDigit(path[size_t(i)])) --i;
    if (i < static_cast<long long>(nameStart)) return files;
    size_t last = size_t(i);
    while (i >= static_cast<long long>(nameStart) && IsDigit(path[size_t(i)])) --i;
    size_t first = size_t(i + 1);
    std::string before = path.substr(0, first);
    std::string after = path.substr(last + 1);
    std::string digits = path.substr(first, last - first + 1);
    while (files.size() < limit) {
        std::string candidate = before + digits + after;
        if (!exists(candidate)) break;
        files.push_back(std::move(candidate));
        IncrementDigits(digits);
    }
    return files;
}

std::vector<std::string> NumberedPictures(const std::string& path, size_t limit, PictureRunEnd* end) {
    std::string next;
    std::vector<std::string> files = NumberedPictures(
        path,
        [&next](const std::string& p) {
            next = p;
            return IsRegularFile(p);
        },
        limit);
    if (end) {
        *end = PictureRunEnd{};
        // The name the rule stopped at, when it stopped at one.
        if (!next.empty() && (files.empty() || next != files.back())) {
            end->what = OtherThanFile(next);
            if (!end->what.empty()) end->path = next;
        }
    }
    return files;
}

bool IsPicturePattern(const std::string& path) {
    PatternParts parts;
    return SplitPattern(path, parts);
}

bool PatternPictures(const std::string& pattern, size_t limit, std::vector<std::string>& pictures,
                     PictureRunEnd* end, std::string& cause) {
    pictures.clear();
    PatternParts parts;
    if (!SplitPattern(pattern, parts)) {
        cause = pattern + ": no picture number (%d, %04d ...) in the file name";
        return false;
    }
    // The lowest number of the folder's names that fit the pattern.
    DIR* dir = ::opendir(parts.folder.empty() ? "." : parts.folder.c_str());
    if (!dir) {
        cause = (parts.folder.empty() ? std::string(".") : parts.folder) + ": " + std::strerror(errno);
        return false;
    }
    std::string lowest;
    while (const dirent* e = ::readdir(dir)) {
        const std::string name = e->d_name;
        if (name.size() <= parts.before.size() + parts.after.size()) continue;
        if (name.compare(0, parts.before.size(), parts.before) != 0) continue;
        if (name.compare(name.size() - parts.after.size(), parts.after.size(), parts.after) != 0) continue;
        const std::string digits = name.substr(parts.before.size(), name.size() - parts.before.size() - parts.after.size());
        if (digits.size() > 18 || digits.find_first_not_of("0123456789") != std::string::npos) continue;
        if (parts.width > 0 ? digits.size() != size_t(parts.width) && !(digits.size() > size_t(parts.width) && digits[0] != '0')
                            : digits.size() > 1 && digits[0] == '0')
            continue;
        if (lowest.empty() || std::stoll(digits) < std::stoll(lowest)) lowest = digits;
    }
    ::closedir(dir);
    if (lowest.empty()) {
        cause = pattern + ": no picture of this name";
        return false;
    }
    // Upwards from there to the first gap, the number where the pattern
    // puts it (whatever other digits the name holds).
    if (end) *end = PictureRunEnd{};
    std::string digits = lowest;
    while (pictures.size() < limit) {
        std::string candidate = parts.folder + parts.before + digits + parts.after;
        if (!IsRegularFile(candidate)) {
            const std::string what = OtherThanFile(candidate);
            if (pictures.empty()) {
                cause = candidate + ": " + (what.empty() ? std::string("not there") : "is " + what);
                return false;
            }
            if (end && !what.empty()) *end = PictureRunEnd{candidate, what};
            break;
        }
        pictures.push_back(std::move(candidate));
        IncrementDigits(digits);
    }
    return true;
}

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
