#pragma once
// A dialog template: the controls of one dialog with their ids, rectangles in
// dialog units, template texts and the flags that move them on resize.
#include <span>

namespace rk {

enum class ControlKind {
    Label,       // static text, drawn over the skin's background
    ClickLabel,  // static text that acts on a click (page and loop labels)
    Text,        // multi-line static text (message boxes)
    Button,
    DropList,    // drop-down list; its rectangle's height is the dropped height
    ListView,    // icon list of thumbnails
    Progress,
    Marker,      // the frame behind the current page or loop label
    Icon,
    Rule,        // horizontal rule
    HSlider,     // horizontal slider that can show tick marks at chosen values
    VSlider,     // vertical slider
    Picture,     // 640 x 360 preview picture (CPicCtrl)
};

// Anchor flags: how a control follows a change of the dialog's client size.
enum Anchor : unsigned {
    kMoveRight = 1,    // width change added to the left edge
    kMoveDown = 2,     // height change added to the top edge
    kGrowWidth = 4,    // width change added to the width
    kGrowHeight = 8,   // height change added to the height
};

struct ControlDef {
    int id;  // -1 for controls that nothing refers to
    ControlKind kind;
    int left, top, width, height;  // dialog units
    const char* text;              // English text where the dialog texts give none, or nullptr
    unsigned anchor;
};

struct DialogTemplate {
    int id;
    const char* caption;  // likewise
    int width, height;  // client size in dialog units
    std::span<const ControlDef> controls;
};

// The main window (102), the message box (135) and the format dialog (138).
const DialogTemplate& MainWindowTemplate();
const DialogTemplate& MessageBoxTemplate();
const DialogTemplate& FormatTemplate();

}  // namespace rk
