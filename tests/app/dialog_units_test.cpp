// Dialog units to pixels, and the templates' own consistency.
#include <gtest/gtest.h>

#include <set>

#include "app/dialog_template.h"
#include "app/dialog_units.h"

namespace rk {
namespace {

TEST(DialogUnits, ScaleByQuarterWidthAndEighthHeight) {
    DialogUnits u(6, 13);
    EXPECT_EQ(u.X(4), 6);
    EXPECT_EQ(u.X(52), 78);
    EXPECT_EQ(u.Y(8), 13);
    EXPECT_EQ(u.Y(12), 20);  // 19.5 rounds up
    EXPECT_EQ(u.Rect(8, 40, 100, 12), QRect(12, 65, 150, 20));
    DialogUnits big(8, 16);
    EXPECT_EQ(big.Rect(220, 90, 228, 122), QRect(440, 180, 456, 244));
}

TEST(DialogTemplates, IdsAreUniqueAndControlsFitTheClientArea) {
    for (const DialogTemplate* t : {&MainWindowTemplate(), &MessageBoxTemplate(), &FormatTemplate()}) {
        std::set<int> ids;
        for (const ControlDef& c : t->controls) {
            if (c.id > 0) {
                EXPECT_TRUE(ids.insert(c.id).second) << t->id << ": " << c.id;
            }
            EXPECT_LE(c.left + c.width, t->width) << t->id << ": " << c.id;
            if (c.kind != ControlKind::DropList) {
                EXPECT_LE(c.top + c.height, t->height) << t->id << ": " << c.id;
            }
        }
    }
    EXPECT_EQ(MainWindowTemplate().id, 102);
    EXPECT_EQ(MessageBoxTemplate().id, 135);
    EXPECT_EQ(FormatTemplate().id, 138);
}

TEST(DialogTemplates, AnchorsOfTheMainWindow) {
    auto anchor = [](int id) {
        for (const ControlDef& c : MainWindowTemplate().controls)
            if (c.id == id) return c.anchor;
        return ~0u;
    };
    EXPECT_EQ(anchor(1010), unsigned(kGrowWidth | kGrowHeight));
    EXPECT_EQ(anchor(1012), unsigned(kGrowHeight));
    for (int id : {1013, 1014, 1015}) EXPECT_EQ(anchor(id), unsigned(kGrowWidth | kGrowHeight)) << id;
    EXPECT_EQ(anchor(2003), unsigned(kMoveRight | kMoveDown));
    EXPECT_EQ(anchor(1008), unsigned(kMoveDown | kGrowWidth));
    EXPECT_EQ(anchor(2006), unsigned(kMoveRight));
    EXPECT_EQ(anchor(2012), 0u);
}

}  // namespace
}  // namespace rk
