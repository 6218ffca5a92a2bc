#include "media/still_ops.h"

#include <cstring>
#include <memory>
#include <vector>

#include "base/log.h"
#include "base/path_util.h"
#include "base/safe_open.h"
#include "base/string_ids.h"
#include "base/texts.h"
#include "card/allocator.h"
#include "card/card_directory.h"
#include "card/card_item.h"
#include "card/sd_card.h"
#include "card/video_modes.h"
#include "codec/kvq1_format.h"
#include "convert/kavq1_file_encoder.h"
#include "convert/pipe_folder.h"
#include "convert/tool_folder.h"
#include "media/frame_picture.h"
#include "media/item_writer.h"
#include "media/slot_buffer.h"
#include "media/slot_stream.h"
#include "ui/operator.h"

namespace rk {

int LowestFreeStillSlot(const CardDirectory& dir) { return LowestFreeSlot(dir, CardItem::kStill); }

OpOutcome AddStill(IOperator& op, CSDCard& card, std::string& rememberedPath, const ImportOptions& options) {
    const int slot = LowestFreeStillSlot(card.Directory());
    if (slot < 0) return {};
    FileChoice choice;
    choice.filter = LoadText(IDS_PICTURE_FILES) + " |*.jpg;*.png;*.tga;*.bmp;*.gif|";
    choice.initialName = rememberedPath;
    choice.title = LoadText(IDS_TITLE_ADD_STILL);
    std::string path;
    if (!op.ChooseOpenFile(choice, path)) return {};
    rememberedPath = path;
    op.Refresh(kRefreshCardLine);
    return AddStillFromPath(op, card, slot, path, options);
}

OpOutcome AddStillFromPath(IOperator& op, CSDCard& card, int slot, const std::string& source,
                              const ImportOptions& options) {
    OpOutcome out;
    if (slot < 0 || slot >= kStillCount || card.Directory().Still(slot).Used()) return out;
    const VideoMode& mode = VideoModeAt(card.VideoMode());
    const int cpf = card.ClustersPerFrame();
    std::string why;
    if (!CheckInputPath(source, &why)) {
        ErrorWithDetail(op, IDS_ERROR_OPENING_IMAGE, why);
        out.result = OpResult::kFailed;
        return out;
    }
    // A picture of another shape than the frame's asks whether it keeps its
    // shape on black bars or is stretched (the default), once its size is known.
    PictureFitting fitting;
    fitting.decide = [&](const SourcePicture& picture, PictureFit& fit) {
        const int frameWidth = mode.sizeClass == 2 ? 3840 : 1920, frameHeight = mode.sizeClass == 2 ? 2160 : 1080;
        int w = 0, h = 0;
        FittedSize(picture.width, picture.height, frameWidth, frameHeight, PictureFit::kPad, w, h);
        if (w == frameWidth && h == frameHeight) return true;
        PictureFitChoice choice;
        choice.picture = source;
        choice.width = picture.width;
        choice.height = picture.height;
        choice.pad = fit == PictureFit::kPad;
        if (!op.ChoosePictureFit(choice)) return false;
        fit = choice.pad ? PictureFit::kPad : PictureFit::kStretch;
        return true;
    };
    KAVQ1FileEncoder encoder(source, mode.sizeClass, FrameBudgetSectors(cpf), mode.frameRate,
                             options.limitedRange, options.deinterlace, fitting);
    if (encoder.Cancelled()) return out;
    if (!encoder.IsOpened()) {
        ErrorWithDetail(op, IDS_ERROR_OPENING_IMAGE, source + ": " + encoder.FailureCause());
        out.result = OpResult::kFailed;
        return out;
    }
    LogMessage(2, "AddStillFromPath(): writing still %d", slot);
    CEncoderSlotSource slots(encoder);
    ItemPlan plan;
    plan.kind = CardItem::kStill;
    plan.index = slot;
    plan.frames = 1;
    plan.clustersPerFrame = cpf;
    plan.sizeClass = mode.sizeClass;
    plan.placeAt = card.Regions().StillCluster(slot);
    plan.thumbnailFrame = 0;
    plan.readErrorText = IDS_ERROR_OPENING_IMAGE;
    const ItemWriteOutcome w = WriteItem(op, card, slots, plan);
    // A failed card write was reported by the card; the picture's failure
    // table names the image too.
    if (w.result == OpResult::kFailed && w.writeError) ErrorById(op, IDS_ERROR_OPENING_IMAGE);
    return w;
}

OpOutcome ReadStill(IOperator& op, CSDCard& card, int slot) {
    if (slot < 0 || slot >= kStillCount || !card.Directory().Still(slot).Used()) return {};
    std::string path;
    if (!ChooseOutputFile(op, IDS_TITLE_READ_STILL, IDS_FILTER_PNG, "png", path)) return {};
    return ReadStillToFile(op, card, slot, path);
}

OpOutcome ReadStillToFile(IOperator& op, CSDCard& card, int slot, const std::string& outputPath) {
    OpOutcome out;
    if (slot < 0 || slot >= kStillCount) return out;
    const EntryHead head = card.Directory().Still(slot);
    if (!head.Used()) return out;
    const int cpf = card.ClustersPerFrame();
    const int sizeClass = VideoModeAt(card.VideoMode()).sizeClass;
    out.slot = slot;
    out.result = OpResult::kFailed;
    if (RefuseOutputOntoCard(op, outputPath, card.Path())) return out;
    CSlotBuffer buffer;
    if (!buffer.Allocate(static_cast<size_t>(cpf) * kClusterSize)) {
        ErrorById(op, IDS_ERROR_WRITING_FILE);
        return out;
    }
    for (int i = 0; i < cpf; ++i) {
        // The card reports a failed read once.
        if (!card.ReadCluster(head.startCluster + static_cast<uint32_t>(i), buffer.Data() + size_t(i) * kClusterSize))
            return out;
    }
    std::vector<uint8_t> rgb;
    int width = 0, height = 0;
    bool ok = DecodeSlotToRGB(buffer.Data(), cpf, sizeClass, rgb, width, height);
    buffer.Free();
    std::string why;
    if (ok) ok = CheckOutputPath(outputPath, &why);
    if (ok) {
        CPipeFolder folder;
        ok = folder.Create() && RawToPictureFile(folder, rgb, width, height, AbsolutePath(outputPath));
        if (!folder.Cause().empty()) why = outputPath + ": " + folder.Cause();
    }
    if (!ok) {
        ErrorWithDetail(op, IDS_ERROR_WRITING_FILE, why.empty() ? outputPath : why);
        return out;
    }
    MessageById(op, kMsgNotice, kIconInformation, IDS_READ_COMPLETED);
    out.result = OpResult::kDone;
    return out;
}

namespace {

// Where a still's picture waits while its own place is rewritten: a free
// still slot, or a free run of the item area named by a free video entry.
struct Parking {
    int still = -1;
    int video = -1;
    uint32_t place = 0;
};

bool FindParking(const CSDCard& card, int a, int b, uint32_t run, Parking& park) {
    const CardDirectory& dir = card.Directory();
    for (int s = 0; s < kStillCount; ++s)
        if (s != a && s != b && !dir.Still(s).Used()) {
            park.still = s;
            park.place = card.Regions().StillCluster(s);
            return true;
        }
    for (int v = 0; v < kVideoCount && park.video < 0; ++v)
        if (!dir.Video(v).Used()) park.video = v;
    if (park.video < 0) return false;
    RunList list;
    BuildRunRecords(dir, list);
    SortRunRecords(list);
    AppendEndMarker(list, card.TotalClusters());
    const int64_t gap = list.count == 0 ? card.FirstItemCluster()
                                        : FirstFit(list, run, card.FirstItemCluster(), card.TotalClusters());
    if (gap < 0 || gap + run > card.TotalClusters()) return false;
    park.place = uint32_t(gap);
    return true;
}

}  // namespace

OpOutcome SwapStills(IOperator& op, CSDCard& card, int a, int b) {
    OpOutcome out;
    CardDirectory& dir = card.Directory();
    if (a < 0 || b < 0 || a >= kStillCount || b >= kStillCount || a == b || !dir.Still(a).Used()) return out;
    out.result = OpResult::kFailed;
    const int cpf = card.ClustersPerFrame();
    const uint32_t run = static_cast<uint32_t>(cpf) + kThumbnailClusters;
    const uint32_t placeA = card.Regions().StillCluster(a);
    const uint32_t placeB = card.Regions().StillCluster(b);
    const EntryHead headA = dir.Still(a);
    const EntryHead headB = dir.Still(b);
    const bool bUsed = headB.Used();

    std::vector<uint8_t> picA(size_t(run) * kClusterSize), picB;
    if (!card.ReadClusters(placeA, picA.data(), run)) return out;
    if (bUsed) {
        picB.resize(size_t(run) * kClusterSize);
        if (!card.ReadClusters(placeB, picB.data(), run)) return out;
    }

    // Each place is written only while no entry names it, and each picture
    // is named by an entry at every moment, so an interrupted swap never
    // leaves an entry on a half-written picture nor loses either one. With
    // b free, a's picture goes to b and a is dropped in one directory write.
    // With both used, b's picture is first parked at a place no entry names
    // (a free still slot, else a free run of the item area held by a free
    // video entry), then a's picture goes to b, and b's to a.
    CardDirectory before = dir;
    auto writeAndCommit = [&](uint32_t place, const std::vector<uint8_t>& pic, auto&& change) {
        if (!card.WriteClusters(place, pic.data(), run)) return false;
        before = dir;
        change();
        return card.CommitDirectory(before);
    };
    auto at = [](EntryHead h, uint32_t place) {
        h.startCluster = place;
        return h;
    };
    if (!bUsed) {
        if (!writeAndCommit(placeB, picA, [&] {
                dir.ClearStill(a);
                dir.SetStill(b, at(headA, placeB));
            })) {
            out.writeError = true;
            return out;
        }
    } else {
        Parking park;
        if (!FindParking(card, a, b, run, park)) {
            op.ShowMessage(kMsgNotice, kIconWarning,
                           "Still images " + std::to_string(a + 1) + " and " + std::to_string(b + 1) +
                               " cannot be swapped safely: the card has no free still slot and no free room of " +
                               std::to_string(run) + " clusters.");
            return out;
        }
        auto parkB = [&] {
            dir.ClearStill(b);
            if (park.still >= 0) {
                dir.SetStill(park.still, at(headB, park.place));
            } else {
                dir.SetVideo(park.video, at(headB, park.place));
                dir.SetVideoNameUtf8(park.video, "still " + std::to_string(b + 1));
            }
        };
        auto unpark = [&] {
            if (park.still >= 0)
                dir.ClearStill(park.still);
            else
                dir.ClearVideo(park.video);
        };
        const bool ok = writeAndCommit(park.place, picB, parkB) && writeAndCommit(placeB, picA, [&] {
                            dir.ClearStill(a);
                            dir.SetStill(b, at(headA, placeB));
                        }) && writeAndCommit(placeA, picB, [&] {
                            unpark();
                            dir.SetStill(a, at(headB, placeA));
                        });
        if (!ok) {
            out.writeError = true;
            return out;
        }
    }
    op.Refresh(kRefreshLists | kRefreshCardLine);
    out.result = OpResult::kDone;
    out.slot = b;
    return out;
}

}  // namespace rk
