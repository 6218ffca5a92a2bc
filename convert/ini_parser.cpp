#include "convert/ini_parser.h"

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
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
    std::rewind(file_);
    const size_t sectionLen = std::strlen(section);
    const size_t keyLen = std::strlen(key);
    bool inSection = false;
    // Whole lines are read, however long: the tail of a long line is never
    // taken for a line of its own. Only the first 255 characters count.
    char line[256];
    for (;;) {
        if (!std::fgets(line, sizeof line, file_)) break;
        size_t len = std::strlen(line);
        bool complete = len > 0 && line[len - 1] == '\n';
        if (!complete && !std::feof(file_)) {
            int c;
            while ((c = std::fgetc(file_)) != EOF && c != '\n') {
            }
        }
        if (line[0] == '[') {
            if (inSection) break;
            if (std::strncmp(line + 1, section, sectionLen) == 0) inSection = true;
            continue;
        }
        if (inSection && len > keyLen && std::strncmp(line, key, keyLen) == 0 && line[keyLen] == '=') {
            std::memcpy(value_, line + keyLen + 1, len - keyLen);  // the terminator too
            return value_;
        }
    }
    return value_;
}

long long CINIParser::GetInteger(const char* section, const char* key) {
    return std::strtoll(GetValue(section, key), nullptr, 10);
}

double CINIParser::GetDouble(const char* section, const char* key) {
    double v = std::strtod(GetValue(section, key), nullptr);
    return v == v ? v : 0.0;  // not NaN
}

}  // namespace rk
