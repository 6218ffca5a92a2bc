#pragma once
// The kinds of item a card holds, where each one's entry lies in the
// directory, and the one way an item's entry is committed.
#include <cstddef>
#include <cstdint>
#include <string>

#include "card/card_directory.h"

namespace rk {

enum class CardItem : int {
    kVideo = 0,
    kStill,
    kEffect,
    kLogo,
    kTitleCard,  // a playlist's title-card slot: a fixed place, no entry of its own
};

// How many entries of a kind the directory has (title cards: one a playlist).
int ItemCount(CardItem kind);
// Byte offset and size of entry `index` of `kind` (title cards: none, 0).
size_t EntryOffset(CardItem kind, int index);
size_t EntrySize(CardItem kind);
// The word people use for a kind ("video", "still", "effect", "logo", "title card").
const char* ItemKindName(CardItem kind);
// Head of entry `index` (title cards: an empty head).
EntryHead ItemHead(const CardDirectory& dir, CardItem kind, int index);
// The lowest free entry of `kind`, where an add goes; -1 when all are used
// (title cards have no entries: always -1).
int LowestFreeSlot(const CardDirectory& dir, CardItem kind);

// What an item's entry says once it is written.
struct ItemEntry {
    CardItem kind = CardItem::kVideo;
    int index = -1;
    EntryHead head;
    std::string name;       // videos: UTF-8, cut to what the entry keeps
    uint8_t tail[8] = {};   // effects and logos: entry bytes 8 to 15
};

// Writes `entry` into `dir`: the whole entry is cleared first, so no byte of
// an earlier item survives in it.
void PutItemEntry(CardDirectory& dir, const ItemEntry& entry);

}  // namespace rk
