#pragma once
// Giving a card whose directory was lost (a power cut while it was written,
// a format of the wrong card) its directory back. Two ways:
// - the journal on the computer: a directory kept for this card whose items
//   are all found where its entries say is put back as it was;
// - a scan: entries are rebuilt from the runs of frame slots found on
//   cluster boundaries (effects told apart by their effect marks, logos by
//   their rate code 50 and frame layout) and from the stills at their fixed
//   places. Playlists cannot be rebuilt this way.
// Everything up to the operator's Yes only reads; then the directory is
// written once, last, and nothing else on the card is touched.
#include <cstdint>
#include <string>
#include <vector>

#include "base/op_result.h"
#include "card/card_directory.h"

namespace rk {

class CSDCard;
class IOperator;

// What of `dir` is not on the card for `mode`, one line per item ("video 3:
// no frame at cluster 1700"); empty when every used entry lies on the card
// without overlaps, its first frame slot (and its last, numbered in
// sequence) carries a head cluster and a KVQ1 frame header of the mode, its
// thumbnail block is not frame data, and every playlist with clips has its
// title card's slot. Videos, stills, effects, logos and title cards alike.
std::vector<std::string> MissingItems(CSDCard& card, const CardDirectory& dir, int mode);
bool ItemsInPlace(CSDCard& card, const CardDirectory& dir, int mode);

// The newest directory kept in the journal for this card (any mode) that has
// items, differs from what the card now holds and whose items are all in
// place. When none is, `missing` (when given) names what the newest one kept
// lacks on the card.
bool FindJournalledDirectory(CSDCard& card, const std::string& journalFolder, CardDirectory& found, int& mode,
                             std::vector<std::string>* missing = nullptr);

// What the scan reads from the first two Clusters (24576 bytes) of a would-be
// frame slot: a head cluster with its sound chunk and a KVQ1 frame header of
// mode `mode` (-1: of any mode), told apart as a video, an effect (its
// effect marks), a logo (an HD frame at rate code 50 on a card of another
// rate or size) or, on an HD 50 card, a frame that may be a video or a logo.
enum class ScanSlotKind : int { kVideo = 0, kEffect, kLogo, kVideoOrLogo };
struct ScanSlotHead {
    bool valid = false;
    int mode = -1;
    uint32_t frame = 0;        // the sound chunk's frame number
    ScanSlotKind kind = ScanSlotKind::kVideo;
    int effectKind = -1;       // effects: the transition kind of the marks
    int framesAfter = -1;      // effects: frames after this one, as the marks say
};
// Fewer than 24576 bytes read as no slot.
ScanSlotHead ReadScanSlotHead(const uint8_t* data, size_t bytes, int mode);

struct ScanTally {
    int videos = 0;
    int stills = 0;
    int effects = 0;
    int logos = 0;
    int runsLeftOut = 0;  // runs found after all entries of their kind were taken
    bool stopped = false;  // Stop was asked for: what was found is not whole
};

// Rebuilds a directory from what lies on the card. `mode` -1 learns the mode
// from the first frame slot found; false when no slot at all is found, and
// when `op` (if given) answered Stop: the scan shows its progress through
// the card on `op` and asks it for Stop after every chunk read.
bool ScanForItems(CSDCard& card, int mode, CardDirectory& found, int& foundMode, ScanTally& tally,
                  IOperator* op = nullptr);

struct RecoverOptions {
    bool scan = false;   // rebuild from the card instead of the journal
    bool force = false;  // go on although the card's directory is valid
    bool ask = true;     // ask before writing (false: --yes)
    int mode = -1;       // scan: the card's mode when known, -1 to learn it
    std::string journalFolder;  // empty: DefaultJournalFolder()
};

// The causes of a refused recovery (kRefused without a cause: the person
// said No).
inline constexpr char kRecoverDirectoryValid[] = "the card's directory is valid";
inline constexpr char kRecoverNothingFound[] = "no directory to put back was found";

// kDone: the directory was written; kRefused: the directory is valid and
// force was not given, nothing was found, or the person said No (nothing
// written); kStopped: Stop during the scan ("Operation aborted." shown);
// kFailed: reading or the directory write failed (message shown).
struct RecoverOutcome : OpOutcome {
    std::string summary;  // what was found and put back
};

// The whole operation; messages and the question go through `op`.
RecoverOutcome RecoverCard(IOperator& op, CSDCard& card, const RecoverOptions& options);

}  // namespace rk
