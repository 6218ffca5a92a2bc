#pragma once
// Deleting items: only the directory changes. The entry is cleared and the
// directory written; the item's clusters simply count as free again. A
// deleted video leaves every playlist first, and the playlists that changed
// get their title cards remade.
#include "base/op_result.h"

namespace rk {

class CSDCard;
class IOperator;

// kRefused: nothing selected, a free slot, or the question answered No;
// kFailed: the directory write failed (reported by the card); kStopped: Stop
// while title cards were made, nothing written.
struct DeleteOutcome : OpOutcome {
    int playlistsChanged = 0;
    int titleCardFailures = 0;
};

// By entry number (the front-ends turn a list position into one).
DeleteOutcome DeleteVideo(IOperator& op, CSDCard& card, int slot);
DeleteOutcome DeleteStill(IOperator& op, CSDCard& card, int slot);
DeleteOutcome DeleteEffect(IOperator& op, CSDCard& card, int slot);
DeleteOutcome DeleteLogo(IOperator& op, CSDCard& card, int slot);

// Exchanges the whole 16-byte entries of effects (or logos) a and b, a
// used; the items' clusters stay where they are. False when nothing was
// done or the directory write failed.
bool SwapEffects(IOperator& op, CSDCard& card, int a, int b);
bool SwapLogos(IOperator& op, CSDCard& card, int a, int b);

}  // namespace rk
