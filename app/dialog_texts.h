#pragma once
// The texts of the dialog templates, keyed by dialog id and control id, and
// their lookup through the chosen language pack.
#include <cstddef>
#include <string>

namespace rk {

// Dialog templates that carry texts.
enum DialogId : int {
    IDD_MAIN = 102,           // the main window
    IDD_MESSAGE_BOX = 135,    // the message box
    IDD_EFFECT_EDITOR = 136,  // the effect keyframe editor
    IDD_EFFECT_TYPE = 137,    // the effect type choice
    IDD_FORMAT = 138,         // the format question with the video mode list
    IDD_ANIM_LOGO = 139,      // the "Write logo?" question with the playback speed
};

// The control id that stands for a dialog's own caption.
constexpr int kDialogCaption = 0;
// The skin's title bar control (a dialog's title text lives there).
constexpr int kDialogTitleControl = 11111;

struct DialogTextEntry {
    int dialog;
    int control;  // kDialogCaption for the caption
    const char* text;
};

// Every template text, grouped by dialog.
extern const DialogTextEntry kDialogTexts[];
extern const std::size_t kDialogTextsSize;

// The template (English) text of a control, or nullptr when the template
// gives it none.
const char* BuiltInDialogText(int dialog, int control);

// The chosen translation's text for a control (or the caption, with
// kDialogCaption); false when there is no translation for it. This is what
// translating a dialog uses: a control without a translation keeps its text.
bool TranslatedDialogText(int dialog, int control, std::string& text);

// The text a control shows: the translation when there is one, else the
// template text, else empty.
std::string DialogText(int dialog, int control);

}  // namespace rk
