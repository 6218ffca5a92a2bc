// The English texts of the dialog templates. Data only, plus the lookup.
#include "app/dialog_texts.h"

#include "base/translate.h"

namespace rk {

const DialogTextEntry kDialogTexts[] = {
    // The main window.
    {IDD_MAIN, kDialogCaption, "Reelkeep"},
    {IDD_MAIN, IDC_MEDIA_LABEL, "Media:"},
    {IDD_MAIN, IDC_MEDIA_BUSY, "-"},
    {IDD_MAIN, IDC_FORMAT, "Format"},
    {IDD_MAIN, IDC_REFRESH, "Refresh"},
    {IDD_MAIN, IDC_CHECK_CARD, "Check card"},
    {IDD_MAIN, IDC_ABOUT, "About"},
    {IDD_MAIN, IDC_PAGE_VIDEOS, "Videos:"},
    {IDD_MAIN, IDC_PAGE_STILLS, "Still images"},
    {IDD_MAIN, IDC_PAGE_EFFECTS, "Effects"},
    {IDD_MAIN, IDC_PAGE_LOGOS, "Logo"},
    {IDD_MAIN, IDC_ON_MEDIA_LABEL, "On media:"},
    {IDD_MAIN, IDC_VIDEO_ADD, "Add"},
    {IDD_MAIN, IDC_VIDEO_DELETE, "Delete"},
    {IDD_MAIN, IDC_VIDEO_READ, "Read"},
    {IDD_MAIN, IDC_YUV_RANGE_LABEL, "YUV Range"},
    {IDD_MAIN, IDC_DEINTERLACE_LABEL, "Deinterlace"},
    {IDD_MAIN, IDC_PLAYLISTS_LABEL, "Playlists:"},
    {IDD_MAIN, IDC_VIDEOS_LABEL, "Videos:"},
    {IDD_MAIN, IDC_PLAYLIST_HINT, "Rearrange playlists by drag-and-drop..."},
    {IDD_MAIN, IDC_VIDEO_HINT, "-"},
    {IDD_MAIN, IDC_CLEAR_PLAYLIST, "Clear playlist"},
    {IDD_MAIN, IDC_REMOVE_CLIP, "Remove clip"},
    {IDD_MAIN, IDC_STOP_ON_LAST, "Stop on last frame"},
    {IDD_MAIN, IDC_REPEAT_PLAYLIST, "Repeat playlist"},
    {IDD_MAIN, IDC_CLIP_HINT, "Rearrange videos in playlist by drag-and-drop..."},
    {IDD_MAIN, IDC_STILLS_LABEL, "Stll images:"},
    {IDD_MAIN, IDC_STILL_ADD, "Add"},
    {IDD_MAIN, IDC_STILL_DELETE, "Delete"},
    {IDD_MAIN, IDC_STILL_READ, "Read"},
    {IDD_MAIN, IDC_STILL_HINT, "Click <Add> to copy image file to media..."},
    {IDD_MAIN, IDC_EFFECTS_LABEL, "Effects:"},
    {IDD_MAIN, IDC_EFFECT_ADD, "Add"},
    {IDD_MAIN, IDC_EFFECT_DELETE, "Delete"},
    {IDD_MAIN, IDC_EFFECT_READ, "Read"},
    {IDD_MAIN, IDC_EFFECT_HINT, "Click <Add> to copy video effect file to media..."},
    {IDD_MAIN, IDC_LOGOS_LABEL, "Logos:"},
    {IDD_MAIN, IDC_LOGO_ADD, "Add"},
    {IDD_MAIN, IDC_LOGO_DELETE, "Delete"},
    {IDD_MAIN, IDC_LOGO_READ, "Read"},
    {IDD_MAIN, IDC_LOGO_HINT, "Click <Add> to create animated logo and copy it to media..."},
    {IDD_MAIN, IDC_PROGRESS_TEXT, "-"},
    {IDD_MAIN, IDC_STOP, "Stop"},

    // The message box.
    {IDD_MESSAGE_BOX, IDC_BOX_YES, "Yes"},
    {IDD_MESSAGE_BOX, IDC_BOX_NO, "No"},
    {IDD_MESSAGE_BOX, IDC_BOX_OK, "OK"},

    // The effect editor.
    {IDD_EFFECT_EDITOR, kDialogTitleControl, "Effect Editor"},
    {IDD_EFFECT_EDITOR, IDC_EFFECT_OK, "OK"},
    {IDD_EFFECT_EDITOR, IDC_EFFECT_CANCEL, "Cancel"},
    {IDD_EFFECT_EDITOR, IDC_EDITOR_FRAME_LABEL, "Frame:"},
    {IDD_EFFECT_EDITOR, IDC_EDITOR_FRAME_OF, "/"},
    {IDD_EFFECT_EDITOR, IDC_EDITOR_FADE_LABEL, "Fade:"},
    {IDD_EFFECT_EDITOR, IDC_KEY_ADD, "Add Keyframe"},
    {IDD_EFFECT_EDITOR, IDC_KEY_DELETE, "Delete Keyframe"},
    {IDD_EFFECT_EDITOR, IDC_KEY_CLEAR, "Clear all keyframes"},
    {IDD_EFFECT_EDITOR, IDC_KEY_CUT, "Set cut position"},

    // The effect type choice.
    {IDD_EFFECT_TYPE, IDC_EFFECT_OK, "OK"},
    {IDD_EFFECT_TYPE, IDC_EFFECT_CANCEL, "Cancel"},
    {IDD_EFFECT_TYPE, IDC_TYPE_PROMPT, "Choose effect type:"},
    {IDD_EFFECT_TYPE, IDC_TYPE_SIMPLE_CUT, "Stinger transition - simple cut"},
    {IDD_EFFECT_TYPE, IDC_TYPE_WIPE, "Stinger transition - wipe"},
    {IDD_EFFECT_TYPE, IDC_TYPE_MIX, "Stinger transition - mix"},
    {IDD_EFFECT_TYPE, IDC_TYPE_VERTICAL_WIPE, "Vertical animated wipe"},
    {IDD_EFFECT_TYPE, IDC_TYPE_HORIZONTAL_WIPE, "Horizontal animated wipe"},
    {IDD_EFFECT_TYPE, IDC_TYPE_WITH_SOUND, "with sound"},
    {IDD_EFFECT_TYPE, IDC_TYPE_NO_SOUND, "no sound"},

    // Formatting.
    {IDD_FORMAT, IDC_BOX_TEXT, "Format media?\n\nWARNING: ALL DATA ON MEDIA WILL BE LOST!"},
    {IDD_FORMAT, IDC_BOX_CHOICE_LABEL, "Video mode"},
    {IDD_FORMAT, IDC_BOX_YES, "Yes"},
    {IDD_FORMAT, IDC_BOX_NO, "No"},

    // The animated logo question.
    {IDD_ANIM_LOGO, IDC_BOX_TEXT, "Write logo?"},
    {IDD_ANIM_LOGO, IDC_BOX_CHOICE_LABEL, "Playback speed"},
    {IDD_ANIM_LOGO, IDC_BOX_YES, "Yes"},
    {IDD_ANIM_LOGO, IDC_BOX_NO, "No"},

    // The About box and the check report.
    {IDD_ABOUT, kDialogCaption, "About Reelkeep"},
    {IDD_ABOUT, IDC_BOX_OK, "OK"},
    {IDD_CHECK_REPORT, kDialogCaption, "Check card"},
    {IDD_CHECK_REPORT, IDC_BOX_OK, "OK"},
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
