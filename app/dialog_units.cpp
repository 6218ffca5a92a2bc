#include "app/dialog_units.h"

#include <QFontMetrics>

namespace rk {

DialogUnits DialogUnits::ForFont(const QFont& font) {
    QFontMetrics fm(font);
    const int letters = fm.horizontalAdvance(QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
    int baseX = (letters / 26 + 1) / 2;
    int baseY = fm.height();
    if (baseX < 1) baseX = 1;
    if (baseY < 1) baseY = 1;
    return DialogUnits(baseX, baseY);
}

}  // namespace rk
