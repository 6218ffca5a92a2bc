#pragma once
// The journal of directories on the computer. The directory is a single
// 36864-byte block: a power cut while it is being written, or a format of
// the wrong card, leaves every item on the card with nothing pointing at it.
// Before each directory write the card's previous and new directory are
// added here, so that a card that reads as not formatted can be given its
// directory back, and a directory lost a few writes ago (a format of the
// wrong card followed by an add) is still known.
//
// A record is one file in the journal folder, named after the card's
// identity and replaced whole (written beside, synced, renamed):
//   "RKDJ", u32 version 2, u32 key length, the key, u32 count (1 to 16),
//   the card's last `count` distinct directories, oldest first,
//   u16 CRC-16/MODBUS of everything before it.
// Version 1 records (the previous and the new directory) are still read.
//
// Beside it, while compaction moves an item over its own start, a move file
// says which item goes where and how far the copy has come, so that an
// interrupted move can be finished (see CompactItemArea):
//   "RKMV", u32 version 1, u32 key length, the key, u32 kind, u32 entry,
//   u32 from, u32 to, u32 length, u32 done, u16 CRC-16/MODBUS.
// All integers little-endian.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "card/card_directory.h"

namespace rk {

// Who a card is: its device serial or image path, its size and its mode.
struct CardIdentity {
    std::string name;
    int64_t totalSectors = 0;
    int mode = 0;
    // "name|sectors|mode": what a record is keyed by.
    std::string Key() const;
};

// The identity of an opened card: a block device by its serial as udev knows
// it (its path when it has none), an image by its resolved path.
CardIdentity CardIdentityOf(bool blockDevice, const std::string& path, int64_t totalSectors, int mode);

// $XDG_STATE_HOME/Korvix/Reelkeep/journal, else
// ~/.local/state/Korvix/Reelkeep/journal; empty when neither is known.
std::string DefaultJournalFolder();

// How many directories a card's record keeps.
inline constexpr int kJournalGenerations = 16;

// Reads a record of either version: the directories it keeps, oldest first.
// False for anything short, damaged or of an unknown version.
bool ParseJournalGenerations(const uint8_t* data, size_t size, std::string& key,
                             std::vector<CardDirectory>& oldestFirst);
// The same, giving the two newest (`previous` is the newest when there is
// only one).
bool ParseJournalRecord(const uint8_t* data, size_t size, std::string& key, CardDirectory& previous,
                        CardDirectory& next);

// An item of the item area being moved down over its own start: Clusters
// [0, done) of it already lie at `to`, the rest still at `from` + done on.
struct PendingMove {
    ItemKind kind = kKindVideo;
    uint32_t entry = 0;
    uint32_t from = 0;
    uint32_t to = 0;
    uint32_t length = 0;
    uint32_t done = 0;
};

class CDirectoryJournal {
public:
    explicit CDirectoryJournal(std::string folder);

    // Adds both directories of the card to its record (each only when it
    // differs from the newest kept), keeping the newest kJournalGenerations.
    // The folder is made (0700) when missing. False when the record could
    // not be made durable; the old record then stays.
    bool Record(const CardIdentity& card, const CardDirectory& previous, const CardDirectory& next);
    // The two newest directories of the card's record; false when there is
    // none or it is damaged or keyed to another card.
    bool Load(const CardIdentity& card, CardDirectory& previous, CardDirectory& next) const;
    // Every directory kept for the card, oldest first.
    bool LoadGenerations(const CardIdentity& card, std::vector<CardDirectory>& oldestFirst) const;
    // The record file of a card.
    std::string RecordPath(const CardIdentity& card) const;
    // Why the last Record or RecordMove failed ("PATH: Read-only file system").
    const std::string& Cause() const { return cause_; }

    // The card's move in progress: made durable before the move overwrites
    // anything of the item, and again as the copy advances.
    bool RecordMove(const CardIdentity& card, const PendingMove& move);
    bool LoadMove(const CardIdentity& card, PendingMove& move) const;
    bool ClearMove(const CardIdentity& card);
    std::string MovePath(const CardIdentity& card) const;

private:
    bool Replace(const std::string& path, const std::vector<uint8_t>& bytes);
    bool LoadFile(const std::string& path, size_t most, std::vector<uint8_t>& bytes) const;
    std::string folder_;
    std::string cause_;
};

}  // namespace rk
