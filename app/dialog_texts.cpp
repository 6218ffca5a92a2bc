// The English texts of the dialog templates. Data only, plus the lookup.
#include "base/dialog_texts.h"

#include "base/translate.h"

namespace rk {

const DialogTextEntry kDialogTexts[] = {
    // The main window.
    {IDD_MAIN, kDialogCaption, "Reelkeep"},
    {IDD_MAIN, 2012, "Media:"},
    {IDD_MAIN, 2032, "-"},
    {IDD_MAIN, 2002, "Format"},
    {IDD_MAIN, 2021, "Refresh"},
    {IDD_MAIN, 2018, "Videos:"},
    {IDD_MAIN, 2019, "Still images"},
    {IDD_MAIN, 2025, "Effects"},
    {IDD_MAIN, 2027, "Logo"},
    {IDD_MAIN, 2014, "On media:"},
    {IDD_MAIN, 2006, "Add"},
    {IDD_MAIN, 2005, "Delete"},
    {IDD_MAIN, 2007, "Read"},
    {IDD_MAIN, 2034, "YUV Range"},
    {IDD_MAIN, 2029, "Deinterlace"},
    {IDD_MAIN, 2013, "Playlists:"},
    {IDD_MAIN, 2035, "Videos:"},
    {IDD_MAIN, 2017, "Rearrange playlists by drag-and-drop..."},
    {IDD_MAIN, 2015, "-"},
    {IDD_MAIN, 2023, "Clear playlist"},
    {IDD_MAIN, 2022, "Remove clip"},
    {IDD_MAIN, 2030, "Stop on last frame"},
    {IDD_MAIN, 2031, "Repeat playlist"},
    {IDD_MAIN, 2016, "Rearrange videos in playlist by drag-and-drop..."},
    {IDD_MAIN, 2020, "Stll images:"},
    {IDD_MAIN, 2008, "Add"},
    {IDD_MAIN, 2009, "Delete"},
    {IDD_MAIN, 2033, "Read"},
    {IDD_MAIN, 2024, "Click <Add> to copy image file to media..."},
    {IDD_MAIN, 2026, "Effects:"},
    {IDD_MAIN, 2010, "Add"},
    {IDD_MAIN, 2011, "Delete"},
    {IDD_MAIN, 2041, "Read"},
    {IDD_MAIN, 2028, "Click <Add> to copy video effect file to media..."},
    {IDD_MAIN, 2040, "Logos:"},
    {IDD_MAIN, 2036, "Add"},
    {IDD_MAIN, 2037, "Delete"},
    {IDD_MAIN, 2042, "Read"},
    {IDD_MAIN, 2039, "Click <Add> to create animated logo and copy it to media..."},
    {IDD_MAIN, 1009, "-"},
    {IDD_MAIN, 2003, "Stop"},

    // The message box.
    {IDD_MESSAGE_BOX, 1000, "Yes"},
    {IDD_MESSAGE_BOX, 1001, "No"},
    {IDD_MESSAGE_BOX, 1002, "OK"},

    // The effect editor.
    {IDD_EFFECT_EDITOR, kDialogTitleControl, "Effect Editor"},
    {IDD_EFFECT_EDITOR, 1, "OK"},
    {IDD_EFFECT_EDITOR, 2, "Cancel"},
    {IDD_EFFECT_EDITOR, 1023, "Frame:"},
    {IDD_EFFECT_EDITOR, 1024, "/"},
    {IDD_EFFECT_EDITOR, 1029, "Fade:"},
    {IDD_EFFECT_EDITOR, 6, "Add Keyframe"},
    {IDD_EFFECT_EDITOR, 7, "Delete Keyframe"},
    {IDD_EFFECT_EDITOR, 8, "Clear all keyframes"},
    {IDD_EFFECT_EDITOR, 9, "Set cut position"},

    // The effect type choice.
    {IDD_EFFECT_TYPE, 1, "OK"},
    {IDD_EFFECT_TYPE, 2, "Cancel"},
    {IDD_EFFECT_TYPE, 1024, "Choose effect type:"},
    {IDD_EFFECT_TYPE, 1017, "Stinger transition - simple cut"},
    {IDD_EFFECT_TYPE, 1018, "Stinger transition - wipe"},
    {IDD_EFFECT_TYPE, 1019, "Stinger transition - mix"},
    {IDD_EFFECT_TYPE, 1020, "Vertical animated wipe"},
    {IDD_EFFECT_TYPE, 1027, "Horizontal animated wipe"},
    {IDD_EFFECT_TYPE, 1030, "with sound"},
    {IDD_EFFECT_TYPE, 1031, "no sound"},

    // Formatting.
    {IDD_FORMAT, 1003, "Format media?\n\nWARNING: ALL DATA ON MEDIA WILL BE LOST!"},
    {IDD_FORMAT, 2012, "Video mode"},
    {IDD_FORMAT, 1000, "Yes"},
    {IDD_FORMAT, 1001, "No"},

    // The animated logo question.
    {IDD_ANIM_LOGO, 1003, "Write logo?"},
    {IDD_ANIM_LOGO, 2012, "Playback speed"},
    {IDD_ANIM_LOGO, 1000, "Yes"},
    {IDD_ANIM_LOGO, 1001, "No"},
};

const std::size_t kDialogTextsSize = sizeof(kDialogTexts) / sizeof(kDialogTexts[0]);

const char* BuiltInDialogText(int dialog, int control) {
    for (std::size_t i = 0; i < kDialogTextsSize; ++i)
        if (kDialogTexts[i].dialog == dialog && kDialogTexts[i].control == control) return kDialogTexts[i].text;
    return nullptr;
}

bool TranslatedDialogText(int dialog, int control, std::string& text) {
    return CTranslate::Instance().FindCurrent(CTranslate::DialogKey(dialog, control), text);
}

std::string DialogText(int dialog, int control) {
    std::string text;
    if (TranslatedDialogText(dialog, control, text)) return text;
    const char* builtIn = BuiltInDialogText(dialog, control);
    return builtIn ? std::string(builtIn) : std::string();
}

}  // namespace rk
