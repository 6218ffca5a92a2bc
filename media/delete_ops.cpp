#include "media/delete_ops.h"

#include <cstring>
#include <vector>

#include "base/log.h"
#include "base/string_ids.h"
#include "base/texts.h"
#include "card/card_directory.h"
#include "card/card_item.h"
#include "card/sd_card.h"
#include "media/playlist_ops.h"
#include "ui/operator.h"

namespace rk {

namespace {

DeleteOutcome Commit(IOperator& op, CSDCard& card, const CardDirectory& before, DeleteOutcome out) {
    out.result = card.CommitDirectory(before) ? OpResult::kDone : OpResult::kFailed;
    op.Refresh(kRefreshLists | kRefreshCardLine);
    return out;
}

// The question, then on its own line the item it is about ("Video 3 'Intro'"),
// so the person answers for the item and not for a row of the list.
MsgResult AskAbout(IOperator& op, const std::string& question, const std::string& target) {
    return op.ShowMessage(kMsgQuestion, kIconQuestion, question + "\n\n" + target);
}

std::string VideoTarget(const CardDirectory& dir, int slot) {
    const std::string name = dir.VideoNameUtf8(slot);
    const int row = ListPositionOfVideo(dir, slot) + 1;
    return name.empty() ? FormatText(IDS_ITEM_VIDEO, row) : FormatText(IDS_ITEM_NAMED_VIDEO, row, name.c_str());
}

}  // namespace

DeleteOutcome DeleteVideo(IOperator& op, CSDCard& card, int slot) {
    DeleteOutcome out;
    CardDirectory& dir = card.Directory();
    if (slot < 0 || slot >= kVideoCount || !dir.Video(slot).Used()) return out;
    const int used = PlaylistsUsingVideo(dir, slot);
    const std::string question = used > 0 ? FormatText(IDS_DELETE_VIDEO_USED, used) : LoadText(IDS_DELETE_VIDEO_UNUSED);
    const MsgResult answer = AskAbout(op, question, VideoTarget(dir, slot));
    if (answer != kResultYes) return out;
    const CardDirectory before = dir;
    bool changed[kPlaylistCount] = {};
    out.playlistsChanged = RemoveVideoFromPlaylists(dir, slot, changed);
    dir.ClearVideo(slot);
    // The remaining clips are other videos: the title cards never read the
    // deleted one's frames.
    std::vector<int> remade;
    for (int p = 0; p < kPlaylistCount; ++p)
        if (changed[p]) remade.push_back(p);
    const PlaylistEdit e = CommitPlaylistEdit(op, card, before, remade);
    out.titleCardFailures = e.titleCardFailures;
    if (e.stopped) {
        out.playlistsChanged = 0;
        out.result = OpResult::kStopped;
    } else {
        out.result = e.written ? OpResult::kDone : OpResult::kFailed;
    }
    return out;
}

DeleteOutcome DeleteStill(IOperator& op, CSDCard& card, int slot) {
    DeleteOutcome out;
    CardDirectory& dir = card.Directory();
    if (slot < 0 || slot >= kStillCount || !dir.Still(slot).Used()) return out;
    if (AskAbout(op, LoadText(IDS_DELETE_STILL), FormatText(IDS_PLAYER_STILL, slot + 1)) != kResultYes) return out;
    const CardDirectory before = dir;
    dir.ClearStill(slot);
    return Commit(op, card, before, out);
}

DeleteOutcome DeleteEffect(IOperator& op, CSDCard& card, int slot) {
    DeleteOutcome out;
    CardDirectory& dir = card.Directory();
    if (slot < 0 || slot >= kEffectCount || !dir.Effect(slot).Used()) return out;
    if (AskAbout(op, LoadText(IDS_DELETE_EFFECT), FormatText(IDS_ITEM_EFFECT, slot + 1)) != kResultYes) return out;
    const CardDirectory before = dir;
    // The head only: Switch and Hue stay with the slot.
    dir.SetEffect(slot, EntryHead{});
    return Commit(op, card, before, out);
}

DeleteOutcome DeleteLogo(IOperator& op, CSDCard& card, int slot) {
    DeleteOutcome out;
    CardDirectory& dir = card.Directory();
    if (slot < 0 || slot >= kLogoCount || !dir.Logo(slot).Used()) return out;
    if (AskAbout(op, LoadText(IDS_DELETE_LOGO), FormatText(IDS_ITEM_LOGO, slot + 1)) != kResultYes) return out;
    const CardDirectory before = dir;
    dir.SetLogo(slot, EntryHead{});
    return Commit(op, card, before, out);
}

namespace {

bool SwapEntries(IOperator& op, CSDCard& card, CardItem kind, int a, int b) {
    CardDirectory& dir = card.Directory();
    const int count = ItemCount(kind);
    if (a < 0 || b < 0 || a >= count || b >= count || a == b || !ItemHead(dir, kind, a).Used()) return false;
    const CardDirectory before = dir;
    uint8_t* ea = dir.Bytes() + EntryOffset(kind, a);
    uint8_t* eb = dir.Bytes() + EntryOffset(kind, b);
    uint8_t tmp[16];
    const size_t size = EntrySize(kind);
    std::memcpy(tmp, ea, size);
    std::memcpy(ea, eb, size);
    std::memcpy(eb, tmp, size);
    const bool ok = card.CommitDirectory(before);
    op.Refresh(kRefreshLists | kRefreshCardLine);
    return ok;
}

}  // namespace

bool SwapEffects(IOperator& op, CSDCard& card, int a, int b) { return SwapEntries(op, card, CardItem::kEffect, a, b); }
bool SwapLogos(IOperator& op, CSDCard& card, int a, int b) { return SwapEntries(op, card, CardItem::kLogo, a, b); }

}  // namespace rk
