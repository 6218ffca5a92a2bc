#pragma once
// The card check: reads a whole card in passes, as a file-system check does,
// and reports every problem once with the item it concerns. It never writes.
//
//   1. the directory: checksum, magic, mode; every entry head inside the item
//      area or at its fixed place; no two runs sharing a Cluster; thumbnails
//      inside the card; playlist records (clip counts, clips naming used
//      videos) and the device's playlist table equal to its rebuild;
//   2. every item's frame slots: the head Cluster's audio chunk (magic, frame
//      number, length for the rate) and the KVQ1 header (magic, size class,
//      rate, budget, frame number); the effect marks of every effect frame
//      (codec/effect_marks.h); logos as HD frames at rate code 50; the title
//      card of every playlist with clips; with CheckFrames::kAll a full
//      decode of every frame, with kSample of the first, middle and last;
//   3. the free-space accounting the card's list shows.
//
// Progress is counted in frames through the operator; Stop ends the check at
// the next frame with what was found so far.
#include <cstdint>
#include <string>
#include <vector>

namespace rk {

class CSDCard;
class IOperator;

enum class CheckFrames : int { kNone = 0, kSample, kAll };

// One problem. `item` names what it concerns ("video 3 'Intro'", "still 2",
// "playlist 4", "directory"); `text` is the whole line ("video 3 'Intro':
// frame 118 does not decode"); `code` a short machine word for scripts.
struct CheckFinding {
    std::string item;
    std::string code;
    std::string text;
};

struct CheckReport {
    bool readable = false;      // the directory block could be read at all
    bool formatted = false;     // magic and mode are those of a card of this program
    bool stopped = false;       // Stop ended the check early
    int mode = -1;
    int items = 0;              // used entries checked
    uint64_t framesChecked = 0; // frame slots whose headers were read
    uint64_t framesDecoded = 0; // frames fully decoded
    int32_t freeClusters = 0;   // as the card's list shows it
    int32_t itemAreaClusters = 0;
    std::vector<CheckFinding> findings;

    bool Clean() const { return readable && findings.empty(); }
};

// Checks the open card `card` (its directory need not be valid). `op` gets
// the progress and answers Stop.
CheckReport CheckCard(IOperator& op, CSDCard& card, CheckFrames frames);

// "check: 3 items, 120 frames (6 decoded), 1234 clusters free: clean" or
// "...: 2 problems".
std::string CheckSummaryText(const CheckReport& report);

}  // namespace rk
