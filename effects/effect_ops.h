#pragma once
// Effects on the card: adding one from a numbered picture sequence (every
// picture a frame, with keys, marks and optional sound) or from an ".effect"
// file (its slots copied after their checks), and reading one back to an
// ".effect" file. Effects exist on HD cards only. Everything goes through
// WriteItem / ExportItem: frames first, thumbnail, directory last.
#include <string>

namespace rk {

class CardDirectory;
class CSDCard;
class IOperator;

struct EffectRequest {
    int effectType = 0;       // 0 cut, 1 wipe, 2 mix, 3/4 animated wipes
    int cutAt = -1;           // cut frame (0-based) for type 0; -1: the keys as read
    std::string soundPath;    // empty: no sound
    // Ask the person for the type and the sound (after the pictures have
    // loaded) instead of taking effectType and soundPath as given.
    bool askType = false;
};



enum class EffectOpResult : int { kDone = 0, kCancelled, kAborted, kFailed };

struct EffectOpOutcome {
    EffectOpResult result = EffectOpResult::kCancelled;
    int slot = -1;
    int frames = 0;
    bool writeError = false;  // the card failed: the front-end should rescan
};

// The effect type (cut, wipe or mix; the animated wipes are not offered)
// and, through a second choice, whether a sound file goes with it; with
// sound the WAV file is chosen next (Cancel there means no sound). False
// when the person cancels a choice.
bool ChooseEffectRequest(IOperator& op, EffectRequest& request);

// The effect Add button: the open dialog (pictures or ".effect", initial
// name `rememberedPath`, updated to the choice), then AddEffect asking for
// the type and sound.
EffectOpOutcome AddStinger(IOperator& op, CSDCard& card, int slot, std::string& rememberedPath);

// The lowest free effect slot, -1 when all 16 are used.
int LowestFreeEffectSlot(const CardDirectory& dir);

// From the chosen picture of a sequence. The keyframe file beside it is read
// (defaults without one) and written back before the question.
EffectOpOutcome AddEffectFromPictures(IOperator& op, CSDCard& card, int slot, const std::string& picturePath,
                                      const EffectRequest& request);
// From an ".effect" file.
EffectOpOutcome AddEffectFromFile(IOperator& op, CSDCard& card, int slot, const std::string& path);
// Either, by the file's extension.
EffectOpOutcome AddEffect(IOperator& op, CSDCard& card, int slot, const std::string& path,
                          const EffectRequest& request);
// The effect of `slot` to an ".effect" file.
EffectOpOutcome ReadEffectToFile(IOperator& op, CSDCard& card, int slot, const std::string& path);

}  // namespace rk
