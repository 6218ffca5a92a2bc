#pragma once
// The one road of an item's frame slots from the card to a file: a KAVQ1
// file (slots as they are), a ProRes ".mov" (through the export converter),
// or an item file with a header of its own in front of its slots (".effect",
// ".animlogo"). Progress, Stop and the closing message are the same for all.
#include <cstdint>
#include <string>
#include <vector>

#include "base/op_result.h"
#include "card/card_directory.h"

namespace rk {

class CSDCard;
class IOperator;

struct ExportPlan {
    EntryHead head;                // the item's run on the card
    int readClusters = 0;          // Clusters read of each frame (0: all of the entry's)
    std::string outputPath;
    bool prores = false;           // a ProRes ".mov" through the export converter
    // The first slot must carry a frame header this system reads (videos):
    // "Invalid video file format!" otherwise, before anything is written.
    bool checkFrameHeader = false;
    std::vector<uint8_t> header;   // written in front of the slots (item files)
    // Clusters of the thumbnail block appended behind the slots (item files
    // that carry it); 0 for none.
    int trailingClusters = 0;
};

// kDone ("Read completed."), kStopped or kFailed.
struct ExportOutcome : OpOutcome {
    uint64_t framesRead = 0;
};

// Reads the item's slots to the file as `plan` says, inside its own progress
// (frames + 1 steps). A ".mov" waits until the tool has finished the file
// before "Read completed.".
ExportOutcome ExportItem(IOperator& op, CSDCard& card, const ExportPlan& plan);

}  // namespace rk
