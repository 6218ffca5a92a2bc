#include "ui/operator.h"

#include <cstdarg>
#include <cstdio>
#include <vector>

#include "base/texts.h"

namespace rk {

int MessageById(IOperator& op, int kind, int icon, int stringId, ...) {
    std::string fmt = LoadText(stringId);
    va_list args;
    va_start(args, stringId);
    va_list copy;
    va_copy(copy, args);
    int n = std::vsnprintf(nullptr, 0, fmt.c_str(), copy);
    va_end(copy);
    std::string text;
    if (n > 0) {
        std::vector<char> buf(static_cast<size_t>(n) + 1);
        std::vsnprintf(buf.data(), buf.size(), fmt.c_str(), args);
        text.assign(buf.data(), static_cast<size_t>(n));
    }
    va_end(args);
    return op.ShowMessage(kind, icon, text);
}

void ErrorById(IOperator& op, int stringId) { op.ShowMessage(kMsgNotice, kIconError, LoadText(stringId)); }

}  // namespace rk
