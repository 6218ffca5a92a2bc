// The settings store: defaults of every entry, round trips, the file's place
// and the log level taken from it. XDG_CONFIG_HOME points at a private folder
// before the store is first used.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "app/settings.h"
#include "base/log.h"
#include "support/test_files.h"
#include "utf16.h"

namespace fs = std::filesystem;

namespace {

// The private folder lives as long as the test program and goes with it.
struct ConfigHome {
    ConfigHome() {
        if (dir.Path().empty()) std::abort();
        setenv("XDG_CONFIG_HOME", dir.Path().c_str(), 1);
    }
    rk::test::TempDir dir{"rk_settings"};
};
const ConfigHome gHome;
const std::string& gConfigHome = gHome.dir.Path();

class SettingsTest : public ::testing::Test {
protected:
    void SetUp() override { fs::remove_all(gConfigHome + "/Korvix"); }
    static std::string ConfFile() { return gConfigHome + "/Korvix/Reelkeep.conf"; }
};

TEST_F(SettingsTest, EveryEntryHasItsDefault) {
    EXPECT_EQ(rk::ReadSetting(rk::kSettingYuvRange), 0);
    EXPECT_EQ(rk::ReadSetting(rk::kSettingDeinterlace), 0);
    EXPECT_EQ(rk::ReadSetting(rk::kSettingVideoFile), "");
    EXPECT_EQ(rk::ReadSetting(rk::kSettingStillFile), "");
    EXPECT_EQ(rk::ReadSetting(rk::kSettingStingerFile), "");
    EXPECT_EQ(rk::ReadSetting(rk::kSettingLogoFile), "");
    EXPECT_EQ(rk::ReadSetting(rk::kSettingLayoutLeft), -1);
    EXPECT_EQ(rk::ReadSetting(rk::kSettingLayoutTop), -1);
    EXPECT_EQ(rk::ReadSetting(rk::kSettingLayoutWidth), -1);
    EXPECT_EQ(rk::ReadSetting(rk::kSettingLayoutHeight), -1);
    EXPECT_EQ(rk::ReadSetting(rk::kSettingLayoutMaximized), 1);
    EXPECT_EQ(rk::ReadSetting(rk::kSettingDebugLog), 0);
    // Reading writes nothing.
    EXPECT_FALSE(fs::exists(ConfFile()));
}

TEST_F(SettingsTest, SectionsAndEntriesAreTheProgramsOwn) {
    EXPECT_STREQ(rk::kSettingYuvRange.section, "General");
    EXPECT_STREQ(rk::kSettingYuvRange.entry, "YUVRange");
    EXPECT_STREQ(rk::kSettingDeinterlace.entry, "Deinterlace");
    EXPECT_STREQ(rk::kSettingVideoFile.entry, "File");
    EXPECT_STREQ(rk::kSettingStillFile.entry, "StillFile");
    EXPECT_STREQ(rk::kSettingStingerFile.entry, "StingerFile");
    EXPECT_STREQ(rk::kSettingLogoFile.entry, "LogoFile");
    EXPECT_STREQ(rk::kSettingLayoutLeft.section, "Layout");
    EXPECT_STREQ(rk::kSettingLayoutMaximized.entry, "Maximized");
    EXPECT_STREQ(rk::kSettingDebugLog.section, "Debug");
    EXPECT_STREQ(rk::kSettingDebugLog.entry, "Log");
}

TEST_F(SettingsTest, ValuesRoundTripThroughTheIniFile) {
    rk::WriteSetting(rk::kSettingYuvRange, 1);
    rk::WriteSetting(rk::kSettingLayoutLeft, -250);
    rk::WriteSetting(rk::kSettingLayoutMaximized, 0);
    const std::string odd = "/home/op/Видео/a b;c=d\"e'\\f#g\n[x].mov";
    rk::WriteSetting(rk::kSettingVideoFile, odd);
    rk::WriteSetting(rk::kSettingLogoFile, "");
    EXPECT_EQ(rk::ReadSetting(rk::kSettingYuvRange), 1);
    EXPECT_EQ(rk::ReadSetting(rk::kSettingLayoutLeft), -250);
    EXPECT_EQ(rk::ReadSetting(rk::kSettingLayoutMaximized), 0);
    EXPECT_EQ(rk::ReadSetting(rk::kSettingVideoFile), odd);
    EXPECT_EQ(rk::ReadSetting(rk::kSettingLogoFile), "");
    EXPECT_EQ(rk::SettingsFilePath(), ConfFile());
    std::ifstream f(ConfFile());
    std::string all((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
    EXPECT_NE(all.find("[General]"), std::string::npos);
    EXPECT_NE(all.find("YUVRange=1"), std::string::npos);
    EXPECT_NE(all.find("[Layout]"), std::string::npos);
}

TEST_F(SettingsTest, DamagedValuesReadAsDefaults) {
    fs::create_directories(gConfigHome + "/Korvix");
    {
        std::ofstream f(ConfFile());
        f << "[General]\nYUVRange=abc\nDeinterlace=7\n[Layout]\nLeft=99999999999999\nTop=\n\x01\x02garbage\n";
    }
    EXPECT_EQ(rk::ReadSetting(rk::kSettingYuvRange), 0);
    EXPECT_EQ(rk::ReadSetting(rk::kSettingLayoutLeft), -1);
    EXPECT_EQ(rk::ReadSetting(rk::kSettingLayoutTop), -1);
    // A list index past the two entries selects the default.
    EXPECT_EQ(rk::ReadSetting(rk::kSettingDeinterlace), 7);
    EXPECT_EQ(rk::ReadDeinterlaceIndex(), 0);
    EXPECT_EQ(rk::ReadYuvRangeIndex(), 0);
    rk::WriteSetting(rk::kSettingDeinterlace, 1);
    EXPECT_EQ(rk::ReadDeinterlaceIndex(), 1);
}

TEST_F(SettingsTest, LogLevelComesFromDebugLog) {
    std::string log = gConfigHome + "/x.log";
    rk::CDebug::Instance().SetPath(log);
    rk::CDebug::Instance().Reset();
    rk::UseSettingsForLogLevel();
    // Written by hand, as the program never writes it.
    rk::WriteSettingInt("Debug", "Log", 2);
    rk::LogMessage(2, "two");
    rk::LogMessage(3, "three");
    EXPECT_EQ(rk::CDebug::Instance().Level(), 2);
    EXPECT_EQ(rk::test::LogLines(log).size(), 1u);
    rk::CDebug::Instance().SetLevelSource(nullptr);
    rk::CDebug::Instance().SetPath("");
    rk::CDebug::Instance().Reset();
}

}  // namespace
