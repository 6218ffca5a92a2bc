#pragma once
// Dialog units: controls are laid out in units of the dialog font, a quarter
// of its average character width across and an eighth of its height down,
// so a dialog keeps its proportions whatever font it is shown in.
#include <QFont>
#include <QRect>

namespace rk {

class DialogUnits {
public:
    DialogUnits() = default;
    DialogUnits(int baseX, int baseY) : baseX_(baseX), baseY_(baseY) {}
    // Base units of a font: the average width of the 52 Latin letters,
    // rounded, and the font's height.
    static DialogUnits ForFont(const QFont& font);

    int BaseX() const { return baseX_; }
    int BaseY() const { return baseY_; }
    int X(int units) const { return Scale(units, baseX_, 4); }
    int Y(int units) const { return Scale(units, baseY_, 8); }
    QRect Rect(int left, int top, int width, int height) const {
        return QRect(X(left), Y(top), X(width), Y(height));
    }

private:
    // units * base / div rounded to nearest, as dialog templates are converted.
    static int Scale(int units, int base, int div) {
        long long v = static_cast<long long>(units) * base;
        return static_cast<int>(v >= 0 ? (v + div / 2) / div : -((-v + div / 2) / div));
    }
    int baseX_ = 6;
    int baseY_ = 13;
};

}  // namespace rk
