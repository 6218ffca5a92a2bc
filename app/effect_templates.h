#pragma once
// The templates of the effect and logo dialogs: the keyframe editor (136),
// the effect type choice (137) and the "Write logo?" question (139).
#include "app/dialog_template.h"

namespace rk {

const DialogTemplate& EffectEditorTemplate();
const DialogTemplate& EffectTypeTemplate();
const DialogTemplate& AnimLogoTemplate();

}  // namespace rk
