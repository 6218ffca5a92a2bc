#include "app/dialog_template.h"

namespace rk {
namespace {

using K = ControlKind;
constexpr unsigned R = kMoveRight, D = kMoveDown, W = kGrowWidth, H = kGrowHeight;

// The main window. Controls of all four pages share the area below the page
// labels; the visibility rules decide which page shows.
constexpr ControlDef kMain[] = {
    {2012, K::Label, 8, 8, 40, 12, "Media:", 0},
    {1004, K::DropList, 52, 8, 164, 64, "", 0},
    {2032, K::Label, 52, 8, 164, 12, "-", 0},
    {1005, K::Label, 52, 24, 166, 12, "", 0},
    {2002, K::Button, 8, 40, 100, 12, "Format", 0},
    {2021, K::Button, 116, 40, 100, 12, "Refresh", 0},
    {1020, K::Marker, 264, 2, 48, 16, "", 0},
    {1021, K::Marker, 313, 2, 50, 16, "", 0},
    {1022, K::Marker, 364, 2, 42, 16, "", 0},
    {1023, K::Marker, 407, 2, 42, 16, "", 0},
    {2018, K::ClickLabel, 266, 7, 42, 10, "Videos:", 0},
    {2019, K::ClickLabel, 318, 7, 43, 10, "Still images", 0},
    {2025, K::ClickLabel, 369, 7, 35, 10, "Effects", 0},
    {2027, K::ClickLabel, 412, 7, 35, 10, "Logo", 0},
    {2014, K::Label, 220, 6, 38, 12, "On media:", 0},
    // Page 0: videos and playlists.
    {2006, K::Button, 288, 24, 52, 12, "Add", R},
    {2005, K::Button, 342, 24, 52, 12, "Delete", R},
    {2007, K::Button, 396, 24, 52, 12, "Read", R},
    {2034, K::Label, 290, 42, 52, 12, "YUV Range", R},
    {1033, K::DropList, 358, 42, 62, 64, "", R},
    {2029, K::Label, 290, 60, 52, 12, "Deinterlace", R},
    {1016, K::DropList, 358, 60, 62, 64, "", R},
    {2013, K::Label, 8, 74, 40, 12, "Playlists:", 0},
    {2035, K::Label, 220, 74, 40, 12, "Videos:", 0},
    {1012, K::ListView, 8, 90, 206, 122, "", H},
    {1010, K::ListView, 220, 90, 228, 122, "", W | H},
    {2017, K::Label, 8, 220, 204, 12, "Rearrange playlists by drag-and-drop...", D},
    {2015, K::Label, 220, 220, 228, 12, "-", D | W},
    {1007, K::Label, 8, 248, 196, 12, "", D},
    {2023, K::Button, 292, 248, 76, 12, "Clear playlist", R | D},
    {2022, K::Button, 372, 248, 76, 12, "Remove clip", R | D},
    {1011, K::ListView, 8, 264, 440, 64, "", D | W},
    {1025, K::Marker, 12, 328, 108, 16, "", D},
    {2030, K::ClickLabel, 14, 333, 104, 10, "Stop on last frame", D},
    {1026, K::Marker, 123, 328, 108, 16, "", D},
    {2031, K::ClickLabel, 128, 333, 101, 10, "Repeat playlist", D},
    {2016, K::Label, 232, 332, 220, 20, "Rearrange videos in playlist by drag-and-drop...", D | W},
    // Page 1: still images.
    {2020, K::Label, 8, 74, 40, 12, "Stll images:", 0},
    {1013, K::ListView, 8, 90, 440, 122, "", W | H},
    {2008, K::Button, 288, 24, 52, 12, "Add", R},
    {2009, K::Button, 342, 24, 52, 12, "Delete", R},
    {2033, K::Button, 396, 24, 52, 12, "Read", R},
    {2024, K::Label, 12, 332, 440, 12, "Click <Add> to copy image file to media...", D | W},
    // Page 2: effects.
    {2026, K::Label, 8, 74, 40, 12, "Effects:", 0},
    {1014, K::ListView, 8, 90, 440, 122, "", W | H},
    {2010, K::Button, 288, 24, 52, 12, "Add", R},
    {2011, K::Button, 342, 24, 52, 12, "Delete", R},
    {2041, K::Button, 396, 24, 52, 12, "Read", R},
    {2028, K::Label, 12, 332, 440, 12, "Click <Add> to copy video effect file to media...", D | W},
    // Page 3: logos.
    {2040, K::Label, 8, 74, 40, 12, "Logos:", 0},
    {1015, K::ListView, 8, 90, 440, 122, "", W | H},
    {2036, K::Button, 288, 24, 52, 12, "Add", R},
    {2037, K::Button, 342, 24, 52, 12, "Delete", R},
    {2042, K::Button, 396, 24, 52, 12, "Read", R},
    {2039, K::Label, 12, 332, 440, 12, "Click <Add> to create animated logo and copy it to media...", D | W},
    // Progress, shared by every long operation.
    {1008, K::Progress, 12, 352, 352, 12, "", D | W},
    {1009, K::Label, 368, 352, 24, 12, "-", R | D},
    {2003, K::Button, 396, 352, 56, 12, "Stop", R | D},
};

constexpr ControlDef kMessageBox[] = {
    {1005, K::Icon, 8, 8, 16, 16, "", 0},
    {1003, K::Text, 36, 8, 160, 32, "", 0},
    {-1, K::Rule, 8, 44, 188, 1, "", 0},
    {1000, K::Button, 86, 52, 50, 12, "Yes", 0},
    {1001, K::Button, 146, 52, 50, 12, "No", 0},
    {1002, K::Button, 76, 52, 50, 12, "OK", 0},
};

constexpr ControlDef kFormat[] = {
    {1005, K::Icon, 8, 8, 16, 16, "", 0},
    {1003, K::Text, 36, 8, 160, 32, "Format media?\n\nWARNING: ALL DATA ON MEDIA WILL BE LOST!", 0},
    {2012, K::Label, 36, 48, 48, 12, "Video mode", 0},
    {1006, K::DropList, 86, 48, 62, 64, "", 0},
    {-1, K::Rule, 8, 64, 188, 1, "", 0},
    {1000, K::Button, 86, 72, 50, 12, "Yes", 0},
    {1001, K::Button, 146, 72, 50, 12, "No", 0},
};

// The main window's client area: the controls reach 452 x 364 units.
constexpr DialogTemplate kMainTemplate{102, "Reelkeep", 460, 370, kMain};
constexpr DialogTemplate kMessageBoxTemplate{135, "", 202, 70, kMessageBox};
constexpr DialogTemplate kFormatTemplate{138, "Format", 202, 90, kFormat};

}  // namespace

const DialogTemplate& MainWindowTemplate() { return kMainTemplate; }
const DialogTemplate& MessageBoxTemplate() { return kMessageBoxTemplate; }
const DialogTemplate& FormatTemplate() { return kFormatTemplate; }

}  // namespace rk
