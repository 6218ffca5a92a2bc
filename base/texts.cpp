#include "base/texts.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>

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

// The conversions of a printf format in order ("%s, %d%%" gives "sd"), with
// their flags, widths and length modifiers: a translation must take the same
// arguments as the English text it replaces.
std::string Conversions(const std::string& format) {
    std::string out;
    for (std::size_t i = 0; i < format.size(); ++i) {
        if (format[i] != '%') continue;
        std::size_t j = i + 1;
        while (j < format.size() && std::strchr("-+ #0123456789.*hlLqjzt'", format[j])) ++j;
        if (j >= format.size()) {
            out += '!';  // a lone % at the end
            break;
        }
        if (format[j] != '%') {
            out += '%';
            out.append(format, i + 1, j - i);
        }
        i = j;
    }
    return out;
}

std::string FormatTextV(int id, va_list args) {
    std::string format;
    if (CTranslate::Instance().FindCurrent(CTranslate::StringKey(id), format)) {
        // A translation whose placeholders differ from the English text's
        // would read the arguments wrongly: the English text is used instead.
        const char* builtIn = BuiltInText(id);
        if (builtIn && Conversions(format) != Conversions(builtIn)) format = builtIn;
    } else if (const char* builtIn = BuiltInText(id)) {
        format = builtIn;
    }
    return FormatV(format.c_str(), args);
}

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
