#include "app/dialog_template.h"

#include "app/control_ids.h"

namespace rk {
namespace {

using K = ControlKind;
constexpr unsigned R = kMoveRight, D = kMoveDown, W = kGrowWidth, H = kGrowHeight;

// The texts of these controls and captions come from the dialog texts
// (app/dialog_texts.cpp), the one English source the language packs translate;
// a template carries a text of its own only where the packs have none (the
// format question's caption).

// The main window. Controls of all four pages share the area below the page
// labels; the visibility rules decide which page shows.
constexpr ControlDef kMain[] = {
    {IDC_MEDIA_LABEL, K::Label, 8, 8, 40, 12, nullptr, 0},
    {IDC_MEDIA_LIST, K::DropList, 52, 8, 164, 64, nullptr, 0},
    {IDC_MEDIA_BUSY, K::Label, 52, 8, 164, 12, nullptr, 0},
    {IDC_CARD_LINE, K::Label, 52, 24, 166, 12, nullptr, 0},
    {IDC_FORMAT, K::Button, 8, 40, 100, 12, nullptr, 0},
    {IDC_REFRESH, K::Button, 116, 40, 100, 12, nullptr, 0},
    {IDC_CHECK_CARD, K::Button, 8, 56, 100, 12, nullptr, 0},
    {IDC_ABOUT, K::Button, 116, 56, 100, 12, nullptr, 0},
    {IDC_MARKER_VIDEOS, K::Marker, 264, 2, 48, 16, nullptr, 0},
    {IDC_MARKER_STILLS, K::Marker, 313, 2, 50, 16, nullptr, 0},
    {IDC_MARKER_EFFECTS, K::Marker, 364, 2, 42, 16, nullptr, 0},
    {IDC_MARKER_LOGOS, K::Marker, 407, 2, 42, 16, nullptr, 0},
    {IDC_PAGE_VIDEOS, K::ClickLabel, 266, 7, 42, 10, nullptr, 0},
    {IDC_PAGE_STILLS, K::ClickLabel, 318, 7, 43, 10, nullptr, 0},
    {IDC_PAGE_EFFECTS, K::ClickLabel, 369, 7, 35, 10, nullptr, 0},
    {IDC_PAGE_LOGOS, K::ClickLabel, 412, 7, 35, 10, nullptr, 0},
    {IDC_ON_MEDIA_LABEL, K::Label, 220, 6, 38, 12, nullptr, 0},
    // Page 0: videos and playlists.
    {IDC_VIDEO_ADD, K::Button, 288, 24, 52, 12, nullptr, R},
    {IDC_VIDEO_DELETE, K::Button, 342, 24, 52, 12, nullptr, R},
    {IDC_VIDEO_READ, K::Button, 396, 24, 52, 12, nullptr, R},
    {IDC_YUV_RANGE_LABEL, K::Label, 290, 42, 52, 12, nullptr, R},
    {IDC_YUV_RANGE, K::DropList, 358, 42, 62, 64, nullptr, R},
    {IDC_DEINTERLACE_LABEL, K::Label, 290, 60, 52, 12, nullptr, R},
    {IDC_DEINTERLACE, K::DropList, 358, 60, 62, 64, nullptr, R},
    {IDC_PLAYLISTS_LABEL, K::Label, 8, 74, 40, 12, nullptr, 0},
    {IDC_VIDEOS_LABEL, K::Label, 220, 74, 40, 12, nullptr, 0},
    {IDC_PLAYLIST_LIST, K::ListView, 8, 90, 206, 122, nullptr, H},
    {IDC_VIDEO_LIST, K::ListView, 220, 90, 228, 122, nullptr, W | H},
    {IDC_PLAYLIST_HINT, K::Label, 8, 220, 204, 12, nullptr, D},
    {IDC_VIDEO_HINT, K::Label, 220, 220, 228, 12, nullptr, D | W},
    {IDC_PLAYLIST_STATUS, K::Label, 8, 248, 196, 12, nullptr, D},
    {IDC_CLEAR_PLAYLIST, K::Button, 292, 248, 76, 12, nullptr, R | D},
    {IDC_REMOVE_CLIP, K::Button, 372, 248, 76, 12, nullptr, R | D},
    {IDC_CLIP_LIST, K::ListView, 8, 264, 440, 64, nullptr, D | W},
    {IDC_STOP_MARKER, K::Marker, 12, 328, 108, 16, nullptr, D},
    {IDC_STOP_ON_LAST, K::ClickLabel, 14, 333, 104, 10, nullptr, D},
    {IDC_REPEAT_MARKER, K::Marker, 123, 328, 108, 16, nullptr, D},
    {IDC_REPEAT_PLAYLIST, K::ClickLabel, 128, 333, 101, 10, nullptr, D},
    {IDC_CLIP_HINT, K::Label, 232, 332, 220, 20, nullptr, D | W},
    // Page 1: still images.
    {IDC_STILLS_LABEL, K::Label, 8, 74, 40, 12, nullptr, 0},
    {IDC_STILL_LIST, K::ListView, 8, 90, 440, 122, nullptr, W | H},
    {IDC_STILL_ADD, K::Button, 288, 24, 52, 12, nullptr, R},
    {IDC_STILL_DELETE, K::Button, 342, 24, 52, 12, nullptr, R},
    {IDC_STILL_READ, K::Button, 396, 24, 52, 12, nullptr, R},
    {IDC_STILL_HINT, K::Label, 12, 332, 440, 12, nullptr, D | W},
    // Page 2: effects.
    {IDC_EFFECTS_LABEL, K::Label, 8, 74, 40, 12, nullptr, 0},
    {IDC_EFFECT_LIST, K::ListView, 8, 90, 440, 122, nullptr, W | H},
    {IDC_EFFECT_ADD, K::Button, 288, 24, 52, 12, nullptr, R},
    {IDC_EFFECT_DELETE, K::Button, 342, 24, 52, 12, nullptr, R},
    {IDC_EFFECT_READ, K::Button, 396, 24, 52, 12, nullptr, R},
    {IDC_EFFECT_HINT, K::Label, 12, 332, 440, 12, nullptr, D | W},
    // Page 3: logos.
    {IDC_LOGOS_LABEL, K::Label, 8, 74, 40, 12, nullptr, 0},
    {IDC_LOGO_LIST, K::ListView, 8, 90, 440, 122, nullptr, W | H},
    {IDC_LOGO_ADD, K::Button, 288, 24, 52, 12, nullptr, R},
    {IDC_LOGO_DELETE, K::Button, 342, 24, 52, 12, nullptr, R},
    {IDC_LOGO_READ, K::Button, 396, 24, 52, 12, nullptr, R},
    {IDC_LOGO_HINT, K::Label, 12, 332, 440, 12, nullptr, D | W},
    // Progress, shared by every long operation.
    {IDC_PROGRESS, K::Progress, 12, 352, 352, 12, nullptr, D | W},
    {IDC_PROGRESS_TEXT, K::Label, 368, 352, 24, 12, nullptr, R | D},
    {IDC_STOP, K::Button, 396, 352, 56, 12, nullptr, R | D},
};

constexpr ControlDef kMessageBox[] = {
    {IDC_BOX_ICON, K::Icon, 8, 8, 16, 16, nullptr, 0},
    {IDC_BOX_TEXT, K::Text, 36, 8, 160, 32, nullptr, 0},
    {-1, K::Rule, 8, 44, 188, 1, nullptr, 0},
    {IDC_BOX_YES, K::Button, 86, 52, 50, 12, nullptr, 0},
    {IDC_BOX_NO, K::Button, 146, 52, 50, 12, nullptr, 0},
    {IDC_BOX_OK, K::Button, 76, 52, 50, 12, nullptr, 0},
};

constexpr ControlDef kFormat[] = {
    {IDC_BOX_ICON, K::Icon, 8, 8, 16, 16, nullptr, 0},
    {IDC_BOX_TEXT, K::Text, 36, 8, 160, 32, nullptr, 0},
    {IDC_BOX_CHOICE_LABEL, K::Label, 36, 48, 48, 12, nullptr, 0},
    {IDC_BOX_CHOICE, K::DropList, 86, 48, 62, 64, nullptr, 0},
    {-1, K::Rule, 8, 64, 188, 1, nullptr, 0},
    {IDC_BOX_YES, K::Button, 86, 72, 50, 12, nullptr, 0},
    {IDC_BOX_NO, K::Button, 146, 72, 50, 12, nullptr, 0},
};

// The main window's client area: the controls reach 452 x 364 units.
constexpr DialogTemplate kMainTemplate{IDD_MAIN, nullptr, 460, 370, kMain};
constexpr DialogTemplate kMessageBoxTemplate{IDD_MESSAGE_BOX, nullptr, 202, 70, kMessageBox};
constexpr DialogTemplate kFormatTemplate{IDD_FORMAT, "Format", 202, 90, kFormat};

}  // namespace

const DialogTemplate& MainWindowTemplate() { return kMainTemplate; }
const DialogTemplate& MessageBoxTemplate() { return kMessageBoxTemplate; }
const DialogTemplate& FormatTemplate() { return kFormatTemplate; }

}  // namespace rk
