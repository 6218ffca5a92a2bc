#pragma once
// Helpers for reading the log's UTF-16LE bytes back in tests.
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

namespace rk::test {

inline std::string ReadBytes(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
}

// UTF-16LE bytes (no BOM) to 16-bit units.
inline std::u16string Units(const std::string& bytes) {
    std::u16string out;
    for (size_t i = 0; i + 1 < bytes.size(); i += 2)
        out.push_back(static_cast<char16_t>(static_cast<unsigned char>(bytes[i]) |
                                            (static_cast<unsigned char>(bytes[i + 1]) << 8)));
    return out;
}

// 16-bit units to UTF-8 (pairs joined; lone surrogates as U+FFFD).
inline std::string Utf8(const std::u16string& u) {
    std::string out;
    for (size_t i = 0; i < u.size(); ++i) {
        unsigned cp = u[i];
        if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < u.size() && u[i + 1] >= 0xDC00 && u[i + 1] <= 0xDFFF) {
            cp = 0x10000 + ((cp - 0xD800) << 10) + (u[i + 1] - 0xDC00);
            ++i;
        } else if (cp >= 0xD800 && cp <= 0xDFFF) {
            cp = 0xFFFD;
        }
        if (cp < 0x80) {
            out.push_back(static_cast<char>(cp));
        } else if (cp < 0x800) {
            out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
            out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        } else if (cp < 0x10000) {
            out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
            out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        } else {
            out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
            out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        }
    }
    return out;
}

// The log file's lines as UTF-16 units, each without its CR LF; `bom` tells
// whether the file began with FF FE. A last line without CR LF is kept as is.
inline std::vector<std::u16string> LogLines(const std::string& path, bool* bom = nullptr) {
    std::string bytes = ReadBytes(path);
    bool hasBom = bytes.size() >= 2 && bytes[0] == '\xFF' && bytes[1] == '\xFE';
    if (bom) *bom = hasBom;
    std::u16string u = Units(hasBom ? bytes.substr(2) : bytes);
    std::vector<std::u16string> lines;
    size_t start = 0;
    for (;;) {
        size_t pos = u.find(u"\r\n", start);
        if (pos == std::u16string::npos) {
            if (start < u.size()) lines.push_back(u.substr(start));
            break;
        }
        lines.push_back(u.substr(start, pos - start));
        start = pos + 2;
    }
    return lines;
}

}  // namespace rk::test
