#include "card/format.h"

#include "base/string_ids.h"
#include "base/texts.h"
#include "card/sd_card.h"
#include "ui/operator.h"

namespace rk {

bool FormatCard(CSDCard& card, IOperator& op, int mode) {
    if (!card.IsOpen()) return false;
    if (card.Format(mode)) {
        op.Refresh(kRefreshLists | kRefreshCardLine);
        op.ShowMessage(kMsgNotice, kIconInformation, LoadText(IDS_FORMAT_COMPLETE));
        return true;
    }
    op.Refresh(kRescanMedia);
    return false;
}

}  // namespace rk
