#pragma once
// The texts of the dialog templates, keyed by dialog id and control id, and
// their lookup through the chosen language pack.
#include <cstddef>
#include <string>

#include "app/control_ids.h"

namespace rk {

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
