#include "convert/ini_parser.h"

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <string_view>
#include <sys/types.h>
#include <thread>

namespace rk {

CINIParser::CINIParser(const std::string& path) {
    // A file still held by the tool that wrote it may refuse us for a moment.
    for (int attempt = 0; attempt < 3; ++attempt) {
        file_ = std::fopen(path.c_str(), "re");
        if (file_ || (errno != EACCES && errno != EPERM && errno != EBUSY)) break;
        if (attempt < 2) std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
}

CINIParser::~CINIParser() {
    if (file_) std::fclose(file_);
}

const char* CINIParser::GetValue(const char* section, const char* key) {
    value_[0] = 0;
    if (!file_ || !section || !key) return value_;
    const size_t sectionLen = std::strlen(section);
    const size_t keyLen = std::strlen(key);
    bool inSection = false;
    long end = -1;  // where a selected block ends
    if (!blockSection_.empty() && blockSection_ == section) {
        if (blockBegin_ < 0 || std::fseek(file_, blockBegin_, SEEK_SET) != 0) return value_;
        inSection = true;
        end = blockEnd_;
    } else {
        std::rewind(file_);
    }
    // Whole lines are read, however long and whatever bytes they hold: the
    // tail of a long line is never taken for a line of its own. Values keep
    // at most 255 characters.
    char* line = nullptr;
    size_t capacity = 0;
    ssize_t got;
    while ((end < 0 || std::ftell(file_) < end) && (got = getline(&line, &capacity, file_)) > 0) {
        const size_t len = static_cast<size_t>(got);
        if (line[0] == '[') {
            if (inSection) break;
            if (len > sectionLen && std::strncmp(line + 1, section, sectionLen) == 0) inSection = true;
            continue;
        }
        if (inSection && len > keyLen && std::memcmp(line, key, keyLen) == 0 && line[keyLen] == '=') {
            size_t n = len - keyLen - 1;
            if (n > sizeof value_ - 1) n = sizeof value_ - 1;
            std::memcpy(value_, line + keyLen + 1, n);
            value_[n] = 0;
            break;
        }
    }
    std::free(line);
    return value_;
}

long long CINIParser::GetInteger(const char* section, const char* key) {
    return std::strtoll(GetValue(section, key), nullptr, 10);
}

double CINIParser::GetDouble(const char* section, const char* key) {
    double v = std::strtod(GetValue(section, key), nullptr);
    return v == v ? v : 0.0;  // not NaN
}

bool CINIParser::HasLine(const char* prefix) {
    if (!file_ || !prefix) return false;
    long end = -1;
    if (!blockSection_.empty()) {
        if (blockBegin_ < 0 || std::fseek(file_, blockBegin_, SEEK_SET) != 0) return false;
        end = blockEnd_;
    } else {
        std::rewind(file_);
    }
    const size_t prefixLen = std::strlen(prefix);
    char* line = nullptr;
    size_t capacity = 0;
    ssize_t got;
    bool found = false;
    while (!found && (end < 0 || std::ftell(file_) < end) && (got = getline(&line, &capacity, file_)) > 0)
        found = static_cast<size_t>(got) >= prefixLen && std::memcmp(line, prefix, prefixLen) == 0;
    std::free(line);
    return found;
}

bool CINIParser::SelectBlock(const char* section, const char* key, const char* value) {
    blockSection_ = section ? section : "";
    blockBegin_ = blockEnd_ = -1;
    if (!file_ || !section || !key || !value) return false;
    const std::string open = "[" + blockSection_ + "]", close = "[/" + blockSection_ + "]";
    const std::string wanted = std::string(key) + "=" + value;
    std::rewind(file_);
    char* line = nullptr;
    size_t capacity = 0;
    ssize_t got;
    long begin = -1;  // the block being read, when inside one
    bool matched = false;
    for (;;) {
        const long at = std::ftell(file_);
        got = getline(&line, &capacity, file_);
        if (got <= 0) {
            // An answer cut short ends its last block.
            if (begin >= 0 && matched) blockBegin_ = begin, blockEnd_ = at;
            break;
        }
        std::string_view text(line, size_t(got));
        while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.remove_suffix(1);
        if (begin < 0) {
            if (text == open) begin = std::ftell(file_), matched = false;
        } else if (text == close) {
            if (matched) {
                blockBegin_ = begin;
                blockEnd_ = at;
                break;
            }
            begin = -1;
        } else if (text == wanted) {
            matched = true;
        }
    }
    std::free(line);
    return blockBegin_ >= 0;
}

std::string CINIParser::GetWord(const char* section, const char* key) {
    std::string v = GetValue(section, key);
    const char* blanks = " \t\r\n";
    size_t begin = v.find_first_not_of(blanks);
    if (begin == std::string::npos) return {};
    return v.substr(begin, v.find_last_not_of(blanks) - begin + 1);
}

}  // namespace rk
