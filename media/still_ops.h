#pragma once
// Still images: 32 pictures at fixed places behind the title cards, each one
// frame slot and a thumbnail block. Adding puts a picture through the import
// encoder into the lowest free slot; reading back makes a PNG of the card's
// full picture size; swapping exchanges two stills' places.
#include <string>

#include "media/video_ops.h"

namespace rk {

class CSDCard;
class CardDirectory;
class IOperator;


// The lowest free still slot (0..31), -1 when all 32 are used.
int LowestFreeStillSlot(const CardDirectory& dir);

// The Add button: the open-file dialog (initial name `rememberedPath`,
// updated), then AddStillFromPath into the lowest free slot.
OpOutcome AddStill(IOperator& op, CSDCard& card, std::string& rememberedPath, const ImportOptions& options);
// Adds the picture `source` into still slot `slot` (which must be free) at
// its fixed place: the frame slot, the thumbnail behind it, the directory last.
OpOutcome AddStillFromPath(IOperator& op, CSDCard& card, int slot, const std::string& source,
                              const ImportOptions& options);

// The still Read button: asks for the PNG file (".png" added to a name
// typed without an extension), then ReadStillToFile. Does nothing for a
// free slot.
OpOutcome ReadStill(IOperator& op, CSDCard& card, int slot);
// Reads still `slot` back to a PNG of the card's picture size, reporting
// "Read completed." or "Error writing file!" (the card's read error is
// reported by the card).
OpOutcome ReadStillToFile(IOperator& op, CSDCard& card, int slot, const std::string& outputPath);

// Exchanges stills a and b (a used; b used or free): pictures, thumbnails and
// entries. The directory never names a place whose picture is half written.
OpOutcome SwapStills(IOperator& op, CSDCard& card, int a, int b);

}  // namespace rk
