#include "base/texts.h"

#include <cstdarg>
#include <cstdio>
#include <vector>

namespace rk {

bool LoadText(int, std::string& text) {
    text.clear();
    return false;
}

std::string LoadText(int id) {
    std::string t;
    LoadText(id, t);
    return t;
}

std::string FormatText(int id, ...) {
    std::string fmt = LoadText(id);
    va_list args;
    va_start(args, id);
    va_list copy;
    va_copy(copy, args);
    int n = std::vsnprintf(nullptr, 0, fmt.c_str(), copy);
    va_end(copy);
    std::string out;
    if (n > 0) {
        std::vector<char> buf(static_cast<size_t>(n) + 1);
        std::vsnprintf(buf.data(), buf.size(), fmt.c_str(), args);
        out.assign(buf.data(), static_cast<size_t>(n));
    }
    va_end(args);
    return out;
}

}  // namespace rk
