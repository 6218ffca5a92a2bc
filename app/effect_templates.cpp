#include "app/effect_templates.h"

#include "app/control_ids.h"

namespace rk {
namespace {

using K = ControlKind;

// Texts come from the dialog texts (app/dialog_texts.cpp) and the packs.
constexpr ControlDef kEditor[] = {
    {kDialogTitleControl, K::Label, 0, 2, 298, 12, nullptr, 0},
    {IDC_EDITOR_FRAME_LABEL, K::Label, 8, 20, 24, 16, nullptr, 0},
    {IDC_EDITOR_FRAME, K::Label, 36, 20, 16, 16, "1", 0},
    {IDC_EDITOR_FRAME_OF, K::Label, 52, 20, 8, 16, nullptr, 0},
    {IDC_EDITOR_FRAME_COUNT, K::Label, 60, 20, 16, 16, "0", 0},
    {IDC_FRAME_PREVIOUS, K::Button, 80, 22, 16, 12, "", 0},
    {IDC_FRAME_SLIDER, K::HSlider, 100, 20, 144, 16, nullptr, 0},
    {IDC_FRAME_NEXT, K::Button, 248, 22, 16, 12, "", 0},
    {IDC_FRAME_PLAY, K::Button, 270, 22, 20, 12, "", 0},
    {IDC_EDITOR_PREVIEW, K::Picture, 8, 40, 256, 144, nullptr, 0},
    {IDC_POSITION_SLIDER, K::HSlider, 2, 188, 268, 16, nullptr, 0},
    {IDC_POSITION_KEY_FRAME, K::Marker, 216, 207, 52, 16, nullptr, 0},
    {IDC_POSITION_TEXT, K::ClickLabel, 220, 212, 44, 10, "0% / 100%", 0},
    {IDC_EDITOR_FADE_LABEL, K::Label, 268, 40, 24, 16, nullptr, 0},
    {IDC_FADE_SLIDER, K::VSlider, 272, 56, 16, 112, nullptr, 0},
    {IDC_FADE_KEY_FRAME, K::Marker, 268, 168, 26, 16, nullptr, 0},
    {IDC_FADE_TEXT, K::ClickLabel, 269, 173, 24, 10, "0%", 0},
    {IDC_KEY_ADD, K::Button, 8, 212, 100, 12, nullptr, 0},
    {IDC_KEY_DELETE, K::Button, 112, 212, 100, 12, nullptr, 0},
    {IDC_KEY_CLEAR, K::Button, 8, 240, 128, 12, nullptr, 0},
    {IDC_KEY_CUT, K::Button, 8, 212, 100, 12, nullptr, 0},
    {IDC_EFFECT_OK, K::Button, 182, 240, 50, 12, nullptr, 0},
    {IDC_EFFECT_CANCEL, K::Button, 238, 240, 50, 12, nullptr, 0},
};

constexpr ControlDef kType[] = {
    {IDC_BOX_ICON, K::Icon, 8, 8, 16, 16, nullptr, 0},
    {IDC_TYPE_PROMPT, K::Label, 28, 4, 128, 12, nullptr, 0},
    {IDC_TYPE_SIMPLE_CUT_FRAME, K::Marker, 28, 24, 140, 16, nullptr, 0},
    {IDC_TYPE_WIPE_FRAME, K::Marker, 28, 44, 140, 16, nullptr, 0},
    {IDC_TYPE_MIX_FRAME, K::Marker, 28, 64, 140, 16, nullptr, 0},
    {IDC_TYPE_VERTICAL_WIPE_FRAME, K::Marker, 28, 84, 140, 16, nullptr, 0},
    {IDC_TYPE_HORIZONTAL_WIPE_FRAME, K::Marker, 28, 104, 140, 16, nullptr, 0},
    {IDC_TYPE_SIMPLE_CUT, K::ClickLabel, 30, 29, 136, 10, nullptr, 0},
    {IDC_TYPE_WIPE, K::ClickLabel, 30, 49, 136, 10, nullptr, 0},
    {IDC_TYPE_MIX, K::ClickLabel, 30, 69, 136, 10, nullptr, 0},
    {IDC_TYPE_VERTICAL_WIPE, K::ClickLabel, 30, 89, 136, 10, nullptr, 0},
    {IDC_TYPE_HORIZONTAL_WIPE, K::ClickLabel, 30, 109, 136, 10, nullptr, 0},
    {-1, K::Rule, 8, 122, 159, 1, nullptr, 0},
    {IDC_TYPE_WITH_SOUND_FRAME, K::Marker, 28, 124, 68, 16, nullptr, 0},
    {IDC_TYPE_NO_SOUND_FRAME, K::Marker, 100, 124, 68, 16, nullptr, 0},
    {IDC_TYPE_WITH_SOUND, K::ClickLabel, 32, 129, 61, 10, nullptr, 0},
    {IDC_TYPE_NO_SOUND, K::ClickLabel, 103, 129, 61, 10, nullptr, 0},
    {-1, K::Rule, 8, 145, 160, 1, nullptr, 0},
    {IDC_EFFECT_OK, K::Button, 60, 153, 50, 12, nullptr, 0},
    {IDC_EFFECT_CANCEL, K::Button, 116, 153, 50, 12, nullptr, 0},
};

constexpr ControlDef kAnimLogo[] = {
    {IDC_BOX_ICON, K::Icon, 8, 8, 16, 16, nullptr, 0},
    {IDC_BOX_TEXT, K::Text, 36, 8, 144, 16, nullptr, 0},
    {IDC_BOX_CHOICE_LABEL, K::Label, 36, 30, 90, 12, nullptr, 0},
    {IDC_BOX_SPEED, K::DropList, 128, 30, 64, 64, nullptr, 0},
    {-1, K::Rule, 6, 48, 186, 1, nullptr, 0},
    {IDC_BOX_YES, K::Button, 83, 54, 50, 12, nullptr, 0},
    {IDC_BOX_NO, K::Button, 143, 54, 50, 12, nullptr, 0},
};

constexpr DialogTemplate kEditorTemplate{IDD_EFFECT_EDITOR, "Effect Editor", 298, 258, kEditor};
constexpr DialogTemplate kTypeTemplate{IDD_EFFECT_TYPE, nullptr, 174, 170, kType};
constexpr DialogTemplate kAnimLogoTemplate{IDD_ANIM_LOGO, nullptr, 200, 72, kAnimLogo};

}  // namespace

const DialogTemplate& EffectEditorTemplate() { return kEditorTemplate; }
const DialogTemplate& EffectTypeTemplate() { return kTypeTemplate; }
const DialogTemplate& AnimLogoTemplate() { return kAnimLogoTemplate; }

}  // namespace rk
