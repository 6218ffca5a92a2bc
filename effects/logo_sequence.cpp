#include "effects/logo_sequence.h"

#include "effects/effect_format.h"

namespace rk {

LogoPictures FindLogoPictures(const std::string& chosen, size_t limit) {
    LogoPictures out;
    if (limit == 0) return out;
    const long long length = static_cast<long long>(chosen.size());
    const size_t slash = chosen.rfind('/');
    const long long nameStart = slash == std::string::npos ? 0 : static_cast<long long>(slash) + 1;
    long long last = -1, first = -1;
    for (long long i = length - 4; i >= nameStart; --i) {
        const bool digit = chosen[size_t(i)] >= '0' && chosen[size_t(i)] <= '9';
        if (last < 0) {
            if (digit) last = first = i;
        } else if (digit) {
            first = i;
        } else {
            break;
        }
    }
    if (last < 0 || last - first + 1 > 18) {
        out.paths.push_back(chosen);
        return out;
    }
    out.numbered = true;
    out.prefix = chosen.substr(0, size_t(first));
    out.suffix = chosen.substr(size_t(last) + 1);
    out.width = static_cast<int>(last - first + 1);
    out.first = std::stoll(chosen.substr(size_t(first), size_t(out.width)));
    // The pictures themselves by the effects' sequence rule: one rule for
    // every numbered run.
    out.paths = NumberedPictures(chosen, limit, &out.end);
    // The chosen picture itself, even where its digits read back otherwise.
    if (out.paths.empty()) {
        out.numbered = false;
        out.paths.push_back(chosen);
    }
    return out;
}

std::string EscapePercent(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        out += c;
        if (c == '%') out += '%';
    }
    return out;
}

}  // namespace rk
