#pragma once
// Logos on the card: adding one from a picture or a numbered picture
// sequence (converted and coded, each picture repeated for the chosen
// speed) or from an ".animlogo" file (copied after its header checks), and
// reading one back into an ".animlogo" file. They run on the caller's
// thread and speak to the person only through IOperator.
//
// Frame spacing on the card: a logo frame is one 33-Cluster slot; on HD
// cards frames lie 33 Clusters apart, on 3840 x 2160 cards 65 apart (the
// card's clusters per frame, as the entry says), the 32 Clusters behind each
// slot written as zeros. Allocation, entry, thumbnail place (behind
// NumFrames x ClustersPerFrame) and the file read back all count the same.
#include <string>

#include "base/op_result.h"

namespace rk {

class CSDCard;
class CardDirectory;
class IOperator;

struct LogoOptions {
    bool limitedRange = false;  // the "YUV Range" choice: "Limited"
};

struct AddLogoOutcome : OpOutcome {
    int pictures = 0;     // pictures of the sequence
    int frames = 0;       // frames written
    int speedIndex = -1;  // the speed chosen (0..4)
};

// The lowest free logo slot (0..7), or -1 when all 8 are in use.
int LowestFreeLogoSlot(const CardDirectory& dir);

// The "Write logo?" question with the playback speed: the five speeds of the
// string table (10140..10144), "Normal (50 fps)" first. False for No.
bool ChooseLogoSpeed(IOperator& op, int& speedIndex);

// The logo Add button: the open-file dialog (initial name `rememberedPath`,
// updated to the choice), then AddLogoFromPath.
AddLogoOutcome AddLogo(IOperator& op, CSDCard& card, int slot, std::string& rememberedPath,
                       const LogoOptions& options);
// Adds `path` into logo slot `slot`: an ".animlogo" file (any case) is
// checked and copied, anything else is the first picture of the logo.
AddLogoOutcome AddLogoFromPath(IOperator& op, CSDCard& card, int slot, const std::string& path,
                               const LogoOptions& options);

// The logo Read button: asks for the ".animlogo" file, then ReadLogoToFile.
OpOutcome ReadLogo(IOperator& op, CSDCard& card, int slot);
OpOutcome ReadLogoToFile(IOperator& op, CSDCard& card, int slot, const std::string& outputPath);

}  // namespace rk
