#pragma once
// Ids of the string table. The English texts are in base/string_table.cpp;
// language packs translate them under the key 0xC0000000 | id.
//
// Ids 10013..10144 are the operation texts; 57344 is the application title.
// Every id is stable: language packs and translators refer to them by number.

namespace rk {

enum StringId : int {
    // Card access and discovery.
    IDS_ACCESS_DENIED = 10013,         // "Access denied!"
    IDS_HINT_ADD_VIDEO = 10014,        // "Click <Add> to copy a video file to media..."
    IDS_HINT_DRAG_VIDEO = 10015,       // "Drag video and drop it in the playlist..."
    IDS_MEDIA_WRITE_ERROR = 10101,     // "Media write error!\nPlease ensure that media is not write-protected."
    IDS_MEDIA_ACCESS_ERROR = 10102,    // "Media access error!"
    IDS_NO_MEDIA = 10103,              // "No media"
    IDS_NOT_FORMATTED = 10106,         // "Not formatted"
    IDS_CARD_LINE = 10107,             // "%s, %s of %s available (%d%%)"

    // The two option lists, filled in this order: Full before Limited, On before Off.
    IDS_YUV_LIMITED = 10116,           // "Limited"
    IDS_YUV_FULL = 10117,              // "Full"
    IDS_DEINTERLACE_ON = 10120,        // "On"
    IDS_DEINTERLACE_OFF = 10121,       // "Off"

    // The window: file dialog titles, the card check, recovery and the About box.
    IDS_TITLE_ADD_VIDEO = 10122,        // "Add video"
    IDS_TITLE_READ_VIDEO = 10123,       // "Read video to file"
    IDS_TITLE_ADD_STILL = 10124,        // "Add still image"
    IDS_TITLE_READ_STILL = 10125,       // "Read still image to file"
    IDS_TITLE_ADD_EFFECT = 10126,       // "Add effect"
    IDS_TITLE_EFFECT_SOUND = 10127,     // "Add sound to the effect"
    IDS_TITLE_READ_EFFECT = 10128,      // "Read effect to file"
    IDS_TITLE_ADD_LOGO = 10129,         // "Add logo"
    IDS_TITLE_READ_LOGO = 10130,        // "Read logo to file"
    IDS_CHECK_CLEAN = 10131,            // "Card check: no problems found.\n\nItems: %d, frames checked: %d."
    IDS_CHECK_PROBLEMS = 10132,         // "Card check: problems found: %d."
    IDS_CHECK_STOPPED = 10133,          // "Card check stopped. Problems found so far: %d."
    IDS_RECOVER_QUESTION = 10134,       // "This media reads as not formatted, but a directory kept for it on this computer finds its items on it: videos: %d, still images: %d, effects: %d, logos: %d.\n\nPut the directory back on media?"
    IDS_RECOVER_DONE = 10135,           // "The directory was put back."
    IDS_ABOUT_VERSION = 10136,          // "Version %s"
    IDS_ABOUT_TOOL_MISSING = 10137,     // "%s: not found"

    // Logo playback speeds, index 0..4.
    IDS_SPEED_NORMAL = 10140,          // "Normal (50 fps)"
    IDS_SPEED_SLOW2 = 10141,           // "Slow x2"
    IDS_SPEED_SLOW3 = 10142,           // "Slow x3"
    IDS_SPEED_SLOW4 = 10143,           // "Slow x4"
    IDS_SPEED_SLOW5 = 10144,           // "Slow x5"

    // Pictures: a numbered run imported as a video, a still's shape, a run
    // that ends at something that is not a picture file.
    IDS_IMPORT_SEQUENCE_QUESTION = 10160,  // "%s is the first of %d numbered pictures (%s).\n\nImport the whole sequence as one video?"
    IDS_PICTURE_FIT_QUESTION = 10161,      // "The picture is %d x %d, not 16:9.\n\nKeep its shape on black bars?..."
    IDS_SEQUENCE_ENDS_EARLY = 10162,       // "The picture sequence ends at picture %d: %s is not a picture file."

    // Sizes, durations and progress.
    IDS_SIZE_MB = 10016,               // "%d MB"
    IDS_SIZE_GB = 10017,               // "%d.%d GB"
    IDS_DURATION = 10018,              // "%d:%02d:%02d.%02d"
    IDS_DURATION_SIZE = 10019,         // "%d:%02d:%02d.%02d (%d.%dMB)"
    IDS_PROGRESS_PERCENT = 10020,      // "%d %%"

    // Space, defragmentation and formatting.
    IDS_NOT_ENOUGH_SPACE = 10021,      // "Not enough space on media!\n%s more needed."
    IDS_DEFRAG_QUESTION = 10022,       // "Media defragmentation is needed. ...\n\nDo you want to continue?"
    IDS_FORMAT_QUESTION = 10023,       // "Format media?\n\nWARNING: ALL DATA ON MEDIA WILL BE LOST!"
    IDS_FORMAT_COMPLETE = 10024,       // "Format complete.\n\nDO NOT REFORMAT THIS MEDIA USING WINDOWS TOOLS!"

    // Outcomes shared by every operation.
    IDS_OPERATION_ABORTED = 10025,     // "Operation aborted."
    IDS_WRITE_COMPLETED = 10026,       // "Write completed."
    IDS_READ_COMPLETED = 10027,        // "Read completed."
    IDS_ERROR_WRITING_FILE = 10028,    // "Error writing file!"
    IDS_ERROR_OPENING_FILE = 10029,    // "Error opening file!"
    IDS_INVALID_FILE_FORMAT = 10030,   // "Invalid file format!"
    IDS_FILE_NOT_SUPPORTED = 10031,    // "This file is not supported!"

    // Videos.
    IDS_CANT_OPEN_VIDEO = 10032,       // "Can't open video file!"
    IDS_INVALID_VIDEO_FORMAT = 10033,  // "Invalid video file format!"
    IDS_UNSUPPORTED_VIDEO_FORMAT = 10034,  // "Unsupported video file format!"
    IDS_ERROR_READING_VIDEO = 10035,   // "Error reading video file!"
    IDS_ERROR_OPENING_VIDEO = 10036,   // "Error opening video file!"
    IDS_CONFIRM_VIDEO_DURATION = 10037,  // "Video duration: %s\nWrite video file to media?"
    IDS_ABORTED_LEAVE_INCOMPLETE = 10038,  // "Operation aborted.\nDo you want to leave incomplete video file on media?"
    IDS_VIDEO_TOO_SHORT = 10039,       // "Video file is too short to use!"

    // Deleting.
    IDS_DELETE_VIDEO_USED = 10040,     // "This video is used in %d playlists.\n\nDelete video?"
    IDS_DELETE_VIDEO_UNUSED = 10041,   // "This video is not used in any playlists.\n\nDelete video?"
    IDS_DELETE_STILL = 10042,          // "Delete still image?"
    IDS_DELETE_EFFECT = 10043,         // "Delete effect video file?"
    IDS_DELETE_LOGO = 10044,           // "Delete logo?"

    // Stills.
    IDS_PICTURE_FILES = 10045,         // "Picture files" (the pattern part of the filter is appended)
    IDS_ERROR_OPENING_IMAGE = 10046,   // "Error opening image file!"

    // Playlists.
    IDS_PLAYLIST_EMPTY = 10047,        // "Playlist %d - empty"
    IDS_PLAYLIST_STATUS = 10048,       // "Playlist %d, videos: %d, duration: %s"
    IDS_PLAYLIST_REPEAT = 10049,       // "repeat"
    IDS_CLEAR_PLAYLIST_QUESTION = 10050,  // "Clear playlist %d?"

    // Effect kinds, in effect type order 0..4.
    IDS_EFFECT_TYPE_CUT = 10051,       // "Stinger transition - simple cut"
    IDS_EFFECT_TYPE_WIPE = 10052,      // "Stinger transition - wipe"
    IDS_EFFECT_TYPE_MIX = 10053,       // "Stinger transition - mix"
    IDS_EFFECT_TYPE_VWIPE = 10054,     // "Vertical animated wipe"
    IDS_EFFECT_TYPE_HWIPE = 10055,     // "Horizontal animated wipe"
    IDS_WITH_SOUND = 10056,            // "with sound"
    IDS_NO_SOUND = 10057,              // "no sound"

    // Logos.
    IDS_WRITE_LOGO_QUESTION = 10058,   // "Write logo to media?"
    IDS_WRITE_LOGO = 10059,            // "Write logo?"

    // File dialog filters ("Name (*.a)|*.a|...||").
    IDS_FILTER_ALL_FILES = 10060,      // "All files (*.*)|*.*||"
    IDS_FILTER_VIDEO_READ = 10061,     // "KAVQ1 video (*.kavq1)|*.kavq1|ProRes video (*.mov)|*.mov||"
    IDS_FILTER_PNG = 10062,            // "PNG files (*.png)|*.png||"
    IDS_FILTER_EFFECT = 10063,         // "Effect files (*.effect)|*.effect||"
    IDS_FILTER_PNG_EFFECT = 10064,     // "PNG files (*.png)|*.png|Effect files (*.effect)|*.effect||"
    IDS_FILTER_WAV = 10065,            // "Audio files (*.wav)|*.wav||"
    IDS_FILTER_ANIMLOGO = 10066,       // "Animated logo files (*.animlogo)|*.animlogo||"

    // Damaged item runs: compaction refuses and names the items (counted from 1).
    IDS_VIDEOS_SHARE_CLUSTERS = 10067,   // "Videos %d and %d share clusters; the card needs checking"
    IDS_EFFECTS_SHARE_CLUSTERS = 10068,  // "Effects %d and %d share clusters; the card needs checking"
    IDS_LOGOS_SHARE_CLUSTERS = 10069,    // "Logos %d and %d share clusters; the card needs checking"
    IDS_ITEMS_SHARE_CLUSTERS = 10070,    // "%s and %s share clusters; the card needs checking"
    IDS_ITEM_PAST_CARD_END = 10071,      // "%s reaches past the end of the card; the card needs checking"
    IDS_ITEM_OUTSIDE_ITEM_AREA = 10072,  // "%s lies over the directory, title card or still regions; ..."
    IDS_ITEM_VIDEO = 10073,              // "Video %d"
    IDS_ITEM_EFFECT = 10074,             // "Effect %d"
    IDS_ITEM_LOGO = 10075,               // "Logo %d"

    // Giving a card whose directory was lost its directory back.
    IDS_RECOVER_DIRECTORY_VALID = 10076,  // "The card's directory is valid; nothing was recovered (--force recovers"
    IDS_RECOVER_NOTHING_FOUND = 10077,  // "No items were found on the card."
    IDS_RECOVER_RUNS_OVERLAP = 10078,  // "The runs found on the card overlap; nothing was written."
    IDS_RECOVER_NO_JOURNAL = 10079,  // "No journalled directory of this card matches what lies on it (--scan r"
    IDS_RECOVER_FOUND_BY_SCAN = 10080,  // "Found by scanning (%s): %d videos, %d stills, %d effects, %d logos."
    IDS_RECOVER_RUNS_LEFT_OUT = 10081,  // "%d more runs found no free entry."
    IDS_RECOVER_SCAN_NOTE = 10082,  // "Playlists cannot be recovered by a scan; videos are named \"Recovered "
    IDS_RECOVER_FOUND_IN_JOURNAL = 10083,  // "Found in the journal (%s): %d videos, %d stills, %d effects, %d logos,"
    IDS_RECOVER_WRITE_QUESTION = 10084, // "Write this directory to the card?"
    IDS_RECOVERED_NAME = 10085,  // "Recovered %d"
    IDS_JOURNAL_NOT_WRITTEN = 10088,  // "The directory journal could not be written: the card is written all the"
    IDS_TITLE_CARDS_NOT_MADE = 10089,  // "The title cards cannot be made; the card was not changed."

    // The window: the target a question names, empty states, progress figures.
    IDS_FORMAT_TARGET = 10086,  // "Media: %s"
    IDS_ITEM_NAMED_VIDEO = 10087,  // "Video %d '%s'"
    IDS_EMPTY_NO_CARD = 10090,  // "Insert a card, or make a card image in the card folder:\n%s"
    IDS_EMPTY_NOT_FORMATTED = 10091,  // "This card is not formatted. <Format> writes an empty directory for one of the modes %s; everything on the card is lost."
    IDS_EMPTY_PLAYLIST = 10092,  // "Drop videos here to add them to the playlist"
    IDS_EFFECTS_HD_ONLY = 10093,  // "Effects exist only on HD cards; this card is formatted for %s."
    IDS_PROGRESS_DETAIL = 10094,  // "%s of %s %s, %s, %s left"
    IDS_UNIT_FRAMES = 10095,  // "frames"
    IDS_UNIT_CLUSTERS = 10096,  // "clusters"
    IDS_UNIT_ITEMS = 10097,  // "items"
    IDS_UNIT_STEPS = 10098,  // "steps"
    IDS_UNIT_BYTES = 10099,  // "bytes"
    IDS_UNIT_MB = 10100,  // "MB"

    // The player: its menu entries, caption, controls and status line.
    IDS_PREVIEW = 10104,                 // "Preview"
    IDS_PREVIEW_TITLE_CARD = 10105,      // "Preview title card"
    IDS_PLAYER_CAPTION = 10108,          // "Preview - %s"
    IDS_PLAYER_STILL = 10109,            // "Still image %d"
    IDS_PLAYER_PLAYLIST = 10110,         // "Playlist %d"
    IDS_PLAYER_TITLE_CARD = 10111,       // "Title card of playlist %d"
    IDS_PLAYER_FRAME = 10112,            // "Frame %d of %d"
    IDS_PLAYER_DROPPED = 10113,          // "Dropped frames: %d"
    IDS_PLAYER_NO_SOUND = 10114,         // "No sound device: playing silently on the system clock"
    IDS_PLAYER_MUTE = 10115,             // "Mute"
    IDS_PLAYER_LOOP = 10118,             // "Loop"
    IDS_PLAYER_SHOW_ALPHA = 10119,       // "Show alpha"
    IDS_PLAYER_DAMAGED = 10138,          // "Frame %d is damaged"
    IDS_PLAYER_CANNOT_OPEN = 10139,      // "This item cannot be played: %s"


    // The application title (window caption, settings application name).
    IDS_APP_TITLE = 57344,             // "Reelkeep"
};

// The first and last ids of the operation texts.
constexpr int kFirstOperationStringId = 10013;
constexpr int kLastOperationStringId = 10162;

}  // namespace rk
