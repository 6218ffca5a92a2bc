#pragma once
// The journal of directories on the computer. The directory is a single
// 36864-byte block: a power cut while it is being written, or a format of
// the wrong card, leaves every item on the card with nothing pointing at it.
// Before each directory write the card's previous and new directory are kept
// here, one record per card, so that a card that reads as not formatted can
// be given its directory back.
//
// A record is one file in the journal folder, named after the card's
// identity and replaced whole (written beside, synced, renamed):
//   "RKDJ", u32 version 1, u32 key length, the key, the previous directory,
//   the new directory, u16 CRC-16/MODBUS of everything before it.
// All integers little-endian.
#include <cstddef>
#include <cstdint>
#include <string>

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

// Reads a record; false for anything short, damaged or of another version.
bool ParseJournalRecord(const uint8_t* data, size_t size, std::string& key, CardDirectory& previous,
                        CardDirectory& next);

class CDirectoryJournal {
public:
    explicit CDirectoryJournal(std::string folder);

    // Keeps both directories of the card, replacing its earlier record. The
    // folder is made (0700) when missing. False when the record could not be
    // made durable; the old record then stays.
    bool Record(const CardIdentity& card, const CardDirectory& previous, const CardDirectory& next);
    // The card's record; false when there is none or it is damaged or keyed
    // to another card.
    bool Load(const CardIdentity& card, CardDirectory& previous, CardDirectory& next) const;
    // The record file of a card.
    std::string RecordPath(const CardIdentity& card) const;

private:
    std::string folder_;
};

}  // namespace rk
