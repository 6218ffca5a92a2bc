#pragma once
// Effects on the card: adding one from a numbered picture sequence (every
// picture a frame, with keys, marks and optional sound) or from an ".effect"
// file (its slots copied after their checks), and reading one back to an
// ".effect" file. Effects exist on HD cards only. Everything goes through
// WriteItem / ExportItem: frames first, thumbnail, directory last.
#include <string>

#include "base/op_result.h"

namespace rk {

class CardDirectory;
class CSDCard;
class IOperator;

struct EffectOpOutcome : OpOutcome {
    int frames = 0;
};

// The effect Add button: the open dialog (pictures or ".effect", initial
// name `rememberedPath`, updated to the choice), then AddEffectFromPath.
EffectOpOutcome AddEffect(IOperator& op, CSDCard& card, int slot, std::string& rememberedPath);

// The lowest free effect slot, -1 when all 16 are used.
int LowestFreeEffectSlot(const CardDirectory& dir);

// From the chosen picture of a sequence. Once the pictures have loaded the
// person is asked for the effect type and the sound (ChooseEffectType; with
// sound the WAV file comes next, and Cancel there means no sound), then,
// for the keyframed types, edits the keys (EditKeyframes, in cut mode for a
// simple cut, which starts from the default cut). The keyframe file beside
// the pictures is read first (defaults without one) and written back before
// the question to write.
EffectOpOutcome AddEffectFromPictures(IOperator& op, CSDCard& card, int slot, const std::string& picturePath);
// From an ".effect" file.
EffectOpOutcome AddEffectFromEffectFile(IOperator& op, CSDCard& card, int slot, const std::string& path);
// Either, by the file's extension.
EffectOpOutcome AddEffectFromPath(IOperator& op, CSDCard& card, int slot, const std::string& path);
// The effect Read button: asks for the ".effect" file, then ReadEffectToFile.
EffectOpOutcome ReadEffect(IOperator& op, CSDCard& card, int slot);
// The effect of `slot` to an ".effect" file.
EffectOpOutcome ReadEffectToFile(IOperator& op, CSDCard& card, int slot, const std::string& path);

}  // namespace rk
