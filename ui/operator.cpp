#include "ui/operator.h"

#include <cstdarg>

#include "base/texts.h"

namespace rk {

int MessageById(IOperator& op, int kind, int icon, int stringId, ...) {
    va_list args;
    va_start(args, stringId);
    std::string text = FormatTextV(stringId, args);
    va_end(args);
    return op.ShowMessage(kind, icon, text);
}

void ErrorById(IOperator& op, int stringId) { op.ShowMessage(kMsgNotice, kIconError, LoadText(stringId)); }

}  // namespace rk
