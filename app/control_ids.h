#pragma once
// The ids of the dialogs and of their controls: the numbers the dialog
// templates, the language packs' dialog keys and the window code share.
// Controls of different dialogs may share a number; within one dialog every
// id is unique.

namespace rk {

// Dialog templates.
enum DialogId : int {
    IDD_MAIN = 102,           // the main window
    IDD_MESSAGE_BOX = 135,    // the message box
    IDD_EFFECT_EDITOR = 136,  // the effect keyframe editor
    IDD_EFFECT_TYPE = 137,    // the effect type choice
    IDD_FORMAT = 138,         // the format question with the video mode list
    IDD_ANIM_LOGO = 139,      // the "Write logo?" question with the playback speed
    IDD_ABOUT = 150,          // the About box: version and the bundled tools
    IDD_CHECK_REPORT = 151,   // the findings of a card check
};

// The control id that stands for a dialog's own caption.
constexpr int kDialogCaption = 0;
// The skin's title bar control (a dialog's title text lives there).
constexpr int kDialogTitleControl = 11111;

// The main window.
enum MainControlId : int {
    // The card and its commands.
    IDC_MEDIA_LABEL = 2012,
    IDC_MEDIA_LIST = 1004,
    IDC_MEDIA_BUSY = 2032,  // stands in for the media list while an operation runs
    IDC_CARD_LINE = 1005,
    IDC_FORMAT = 2002,
    IDC_REFRESH = 2021,
    IDC_CHECK_CARD = 2060,  // reads the whole card and lists its problems
    IDC_ABOUT = 2061,
    IDC_ON_MEDIA_LABEL = 2014,
    // Page labels and the frames behind the current one.
    IDC_PAGE_VIDEOS = 2018,
    IDC_PAGE_STILLS = 2019,
    IDC_PAGE_EFFECTS = 2025,
    IDC_PAGE_LOGOS = 2027,
    IDC_MARKER_VIDEOS = 1020,
    IDC_MARKER_STILLS = 1021,
    IDC_MARKER_EFFECTS = 1022,
    IDC_MARKER_LOGOS = 1023,
    // The option lists.
    IDC_YUV_RANGE_LABEL = 2034,
    IDC_YUV_RANGE = 1033,
    IDC_DEINTERLACE_LABEL = 2029,
    IDC_DEINTERLACE = 1016,
    // Page 0: videos and playlists.
    IDC_VIDEO_ADD = 2006,
    IDC_VIDEO_DELETE = 2005,
    IDC_VIDEO_READ = 2007,
    IDC_PLAYLISTS_LABEL = 2013,
    IDC_VIDEOS_LABEL = 2035,
    IDC_PLAYLIST_LIST = 1012,
    IDC_VIDEO_LIST = 1010,
    IDC_PLAYLIST_HINT = 2017,
    IDC_VIDEO_HINT = 2015,
    IDC_PLAYLIST_STATUS = 1007,
    IDC_CLEAR_PLAYLIST = 2023,
    IDC_REMOVE_CLIP = 2022,
    IDC_CLIP_LIST = 1011,
    IDC_STOP_MARKER = 1025,
    IDC_STOP_ON_LAST = 2030,
    IDC_REPEAT_MARKER = 1026,
    IDC_REPEAT_PLAYLIST = 2031,
    IDC_CLIP_HINT = 2016,
    // Page 1: still images.
    IDC_STILLS_LABEL = 2020,
    IDC_STILL_LIST = 1013,
    IDC_STILL_ADD = 2008,
    IDC_STILL_DELETE = 2009,
    IDC_STILL_READ = 2033,
    IDC_STILL_HINT = 2024,
    // Page 2: effects.
    IDC_EFFECTS_LABEL = 2026,
    IDC_EFFECT_LIST = 1014,
    IDC_EFFECT_ADD = 2010,
    IDC_EFFECT_DELETE = 2011,
    IDC_EFFECT_READ = 2041,
    IDC_EFFECT_HINT = 2028,
    // Page 3: logos.
    IDC_LOGOS_LABEL = 2040,
    IDC_LOGO_LIST = 1015,
    IDC_LOGO_ADD = 2036,
    IDC_LOGO_DELETE = 2037,
    IDC_LOGO_READ = 2042,
    IDC_LOGO_HINT = 2039,
    // Progress, shared by every long operation.
    IDC_PROGRESS = 1008,
    IDC_PROGRESS_TEXT = 1009,
    IDC_STOP = 2003,
};

// The message box, the format question and the logo question.
enum QuestionControlId : int {
    IDC_BOX_YES = 1000,
    IDC_BOX_NO = 1001,
    IDC_BOX_OK = 1002,
    IDC_BOX_TEXT = 1003,
    IDC_BOX_ICON = 1005,
    IDC_BOX_CHOICE = 1006,        // the format question's video modes
    IDC_BOX_CHOICE_LABEL = 2012,  // "Video mode", "Playback speed"
    IDC_BOX_SPEED = 1030,         // the logo question's playback speeds
};

// The About box and the check report (besides the box's icon, text and OK).
enum InfoControlId : int {
    IDC_INFO_LIST = 1040,     // the check's findings; the About box's tool versions
    IDC_INFO_VERSION = 1041,  // the About box's version line
};

// The effect editor and the effect type choice.
enum EffectControlId : int {
    IDC_EFFECT_OK = 1,
    IDC_EFFECT_CANCEL = 2,
    IDC_KEY_ADD = 6,
    IDC_KEY_DELETE = 7,
    IDC_KEY_CLEAR = 8,
    IDC_KEY_CUT = 9,
    IDC_EDITOR_FRAME_LABEL = 1023,
    IDC_EDITOR_FRAME_OF = 1024,
    IDC_EDITOR_FADE_LABEL = 1029,
    IDC_TYPE_PROMPT = 1024,
    IDC_TYPE_SIMPLE_CUT = 1017,
    IDC_TYPE_WIPE = 1018,
    IDC_TYPE_MIX = 1019,
    IDC_TYPE_VERTICAL_WIPE = 1020,
    IDC_TYPE_HORIZONTAL_WIPE = 1027,
    IDC_TYPE_WITH_SOUND = 1030,
    IDC_TYPE_NO_SOUND = 1031,
    // The frames around the type and sound options (shown around the chosen one).
    IDC_TYPE_SIMPLE_CUT_FRAME = 1021,
    IDC_TYPE_WIPE_FRAME = 1022,
    IDC_TYPE_MIX_FRAME = 1023,
    IDC_TYPE_VERTICAL_WIPE_FRAME = 1025,
    IDC_TYPE_HORIZONTAL_WIPE_FRAME = 1026,
    IDC_TYPE_WITH_SOUND_FRAME = 1028,
    IDC_TYPE_NO_SOUND_FRAME = 1029,
    // The editor's frame controls, preview, sliders and key texts.
    IDC_FRAME_PREVIOUS = 3,
    IDC_FRAME_NEXT = 4,
    IDC_FRAME_PLAY = 5,
    IDC_EDITOR_FRAME = 2015,         // the current frame, from 1
    IDC_EDITOR_FRAME_COUNT = 2016,
    IDC_FRAME_SLIDER = 1026,
    IDC_EDITOR_PREVIEW = 1016,
    IDC_POSITION_SLIDER = 1019,
    IDC_POSITION_KEY_FRAME = 1025,   // shown when the frame has a position key
    IDC_POSITION_TEXT = 2017,
    IDC_FADE_SLIDER = 1020,
    IDC_FADE_KEY_FRAME = 1028,       // shown when the frame has a fade key
    IDC_FADE_TEXT = 2018,
};

}  // namespace rk
