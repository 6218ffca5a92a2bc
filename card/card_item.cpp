#include "card/card_item.h"

#include <cstring>

#include "base/log.h"
#include "card/sd_card.h"

namespace rk {

int ItemCount(CardItem kind) {
    switch (kind) {
    case CardItem::kVideo: return kVideoCount;
    case CardItem::kStill: return kStillCount;
    case CardItem::kEffect: return kEffectCount;
    case CardItem::kLogo: return kLogoCount;
    case CardItem::kTitleCard: return kPlaylistCount;
    }
    return 0;
}

size_t EntrySize(CardItem kind) {
    switch (kind) {
    case CardItem::kVideo: return kVideoEntrySize;
    case CardItem::kStill: return kStillEntrySize;
    case CardItem::kEffect: return kEffectEntrySize;
    case CardItem::kLogo: return kLogoEntrySize;
    case CardItem::kTitleCard: break;
    }
    return 0;
}

size_t EntryOffset(CardItem kind, int index) {
    const size_t i = static_cast<size_t>(index);
    switch (kind) {
    case CardItem::kVideo: return kOffVideos + i * kVideoEntrySize;
    case CardItem::kStill: return kOffStills + i * kStillEntrySize;
    case CardItem::kEffect: return kOffEffects + i * kEffectEntrySize;
    case CardItem::kLogo: return kOffLogos + i * kLogoEntrySize;
    case CardItem::kTitleCard: break;
    }
    return 0;
}

const char* ItemKindName(CardItem kind) {
    switch (kind) {
    case CardItem::kVideo: return "video";
    case CardItem::kStill: return "still";
    case CardItem::kEffect: return "effect";
    case CardItem::kLogo: return "logo";
    case CardItem::kTitleCard: return "title card";
    }
    return "item";
}

EntryHead ItemHead(const CardDirectory& dir, CardItem kind, int index) {
    if (index < 0 || index >= ItemCount(kind)) return {};
    switch (kind) {
    case CardItem::kVideo: return dir.Video(index);
    case CardItem::kStill: return dir.Still(index);
    case CardItem::kEffect: return dir.Effect(index);
    case CardItem::kLogo: return dir.Logo(index);
    case CardItem::kTitleCard: break;
    }
    return {};
}

int LowestFreeSlot(const CardDirectory& dir, CardItem kind) {
    if (kind == CardItem::kTitleCard) return -1;
    for (int i = 0; i < ItemCount(kind); ++i)
        if (!ItemHead(dir, kind, i).Used()) return i;
    return -1;
}

void PutItemEntry(CardDirectory& dir, const ItemEntry& e) {
    const size_t size = EntrySize(e.kind);
    if (size == 0 || e.index < 0 || e.index >= ItemCount(e.kind)) return;
    const size_t off = EntryOffset(e.kind, e.index);
    std::memset(dir.Bytes() + off, 0, size);
    dir.PutU32(off, e.head.startCluster);
    dir.PutU16(off + 4, e.head.numFrames);
    dir.PutU16(off + 6, e.head.clustersPerFrame);
    if (e.kind == CardItem::kVideo) dir.SetVideoNameUtf8(e.index, e.name);
    if (e.kind == CardItem::kEffect || e.kind == CardItem::kLogo) std::memcpy(dir.Bytes() + off + 8, e.tail, sizeof e.tail);
}

bool CSDCard::CommitDirectory(const CardDirectory& before) {
    if (WriteDirectory()) return true;
    // The card still holds the directory from before the change (or none the
    // device would give back): so must the memory. The card has shown its
    // write message.
    dir_ = before;
    RecountFreeSpace();
    return false;
}

bool CSDCard::CommitItem(const ItemEntry& entry, const void* thumbnailBlock) {
    if (entry.kind == CardItem::kTitleCard || entry.index < 0 || entry.index >= ItemCount(entry.kind)) return false;
    const CardDirectory before = dir_;
    // The thumbnail belongs to the item's data: it goes to the card before
    // the directory that points at it.
    if (thumbnailBlock && !WriteThumbnailBlock(static_cast<uint32_t>(entry.head.ThumbnailCluster()), thumbnailBlock))
        return false;
    PutItemEntry(dir_, entry);
    LogMessage(3, "CommitItem(): %s %d at cluster %u, %u frames of %u clusters", ItemKindName(entry.kind),
               entry.index, entry.head.startCluster, unsigned(entry.head.numFrames),
               unsigned(entry.head.clustersPerFrame));
    return CommitDirectory(before);
}

}  // namespace rk
