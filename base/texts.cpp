#include "base/texts.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>

#include "base/string_table.h"
#include "base/translate.h"

namespace rk {

const char* BuiltInText(int id) {
    const StringEntry* end = kStringTable + kStringTableSize;
    const StringEntry* it =
        std::lower_bound(kStringTable, end, id, [](const StringEntry& e, int value) { return e.id < value; });
    return (it != end && it->id == id) ? it->text : nullptr;
}

bool LoadText(int id, std::string& text) {
    if (CTranslate::Instance().FindCurrent(CTranslate::StringKey(id), text)) return true;
    if (const char* builtIn = BuiltInText(id)) {
        text = builtIn;
        return true;
    }
    text.clear();
    return false;
}

std::string LoadText(int id) {
    std::string t;
    LoadText(id, t);
    return t;
}

std::string FormatTextV(int id, va_list args) { return FormatV(LoadText(id).c_str(), args); }

std::string FormatV(const char* format, va_list args) {
    va_list copy;
    va_copy(copy, args);
    int n = std::vsnprintf(nullptr, 0, format, copy);
    va_end(copy);
    std::string out;
    if (n > 0) {
        out.resize(static_cast<std::size_t>(n) + 1);
        std::vsnprintf(out.data(), out.size(), format, args);
        out.resize(static_cast<std::size_t>(n));
    }
    return out;
}

std::string FormatText(int id, ...) {
    va_list args;
    va_start(args, id);
    std::string out = FormatTextV(id, args);
    va_end(args);
    return out;
}

}  // namespace rk
