// Converting the operations' file filters for Qt's file dialogs, including
// damaged filters that must never break the dialog.
#include <gtest/gtest.h>

#include "app/file_filter.h"

namespace rk {
namespace {

std::string Qt(const std::string& f) { return QtFileFilter(f).toStdString(); }

TEST(FileFilter, PairsBecomeQtFilters) {
    EXPECT_EQ(Qt("KAVQ1 video (*.kavq1)|*.kavq1|ProRes video (*.mov)|*.mov||"),
              "KAVQ1 video (*.kavq1);;ProRes video (*.mov)");
    EXPECT_EQ(Qt("Video files (*.mp4;*.mov)|*.mp4;*.mov|All files (*.*)|*.*||"),
              "Video files (*.mp4 *.mov);;All files (*)");
}

TEST(FileFilter, DescriptionWithoutPatternList) {
    EXPECT_EQ(Qt("Picture files|*.png;*.jpg||"), "Picture files (*.png *.jpg)");
}

TEST(FileFilter, DamagedFiltersStillGiveAUsableFilter) {
    EXPECT_EQ(Qt(""), "All files (*)");
    EXPECT_EQ(Qt("||||"), "All files (*)");
    EXPECT_EQ(Qt("Only a name"), "Only a name (*)");
    EXPECT_EQ(Qt("|*.png"), "*.png (*.png)");
    EXPECT_EQ(Qt("Odd ((name)|*.a (b);;*.c|"), "Odd (*.ab *.c)");
    EXPECT_EQ(Qt("Sp ace|* .x; ;|"), "Sp ace (*.x)");
}

}  // namespace
}  // namespace rk
