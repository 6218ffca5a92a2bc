#pragma once
// Giving a card whose directory was lost (a power cut while it was written,
// a format of the wrong card) its directory back. Two ways:
// - the journal on the computer: a directory kept for this card whose items
//   are all found where its entries say is put back as it was;
// - a scan: entries are rebuilt from the runs of frame slots found on
//   cluster boundaries and from the stills at their fixed places.
// Everything up to the operator's Yes only reads; then the directory is
// written once, last, and nothing else on the card is touched.
#include <cstdint>
#include <string>

#include "card/card_directory.h"

namespace rk {

class CSDCard;
class IOperator;

// True when every used entry of `dir` lies on the card for `mode` without
// overlaps, its first frame slot (and for videos its last, numbered in
// sequence) carries a head cluster and a KVQ1 frame header of the mode, and
// its thumbnail block is not frame data.
bool ItemsInPlace(CSDCard& card, const CardDirectory& dir, int mode);

// The newest journalled directory of this card (any mode) that has items,
// differs from what the card now holds and whose items are in place.
bool FindJournalledDirectory(CSDCard& card, const std::string& journalFolder, CardDirectory& found, int& mode);

struct ScanTally {
    int videos = 0;
    int stills = 0;
    int runsLeftOut = 0;  // runs found after all video entries were taken
};

// Rebuilds a directory from what lies on the card. `mode` -1 learns the mode
// from the first frame slot found; false when no slot at all is found.
bool ScanForItems(CSDCard& card, int mode, CardDirectory& found, int& foundMode, ScanTally& tally);

struct RecoverOptions {
    bool scan = false;   // rebuild from the card instead of the journal
    bool force = false;  // go on although the card's directory is valid
    bool ask = true;     // ask before writing (false: --yes)
    int mode = -1;       // scan: the card's mode when known, -1 to learn it
    std::string journalFolder;  // empty: DefaultJournalFolder()
};

enum class RecoverResult : int {
    kRecovered = 0,
    kDirectoryValid,  // refused: the card reads as formatted and --force was not given
    kNothingFound,    // no journalled directory fits / the scan found nothing
    kCancelled,       // the operator said No: nothing written
    kFailed,          // reading or the directory write failed (message shown)
};

struct RecoverOutcome {
    RecoverResult result = RecoverResult::kNothingFound;
    std::string summary;  // what was found and put back
};

// The whole operation; messages and the question go through `op`.
RecoverOutcome RecoverCard(IOperator& op, CSDCard& card, const RecoverOptions& options);

}  // namespace rk
