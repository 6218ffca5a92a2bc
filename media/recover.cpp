#include "media/recover.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "base/log.h"
#include "card/allocator.h"
#include "card/directory_journal.h"
#include "card/run_check.h"
#include "card/sd_card.h"
#include "card/video_modes.h"
#include "base/texts.h"
#include "codec/effect_marks.h"
#include "codec/kavq1_slot.h"
#include "codec/kvq1_decoder.h"
#include "codec/kvq1_format.h"
#include "ui/operator.h"

namespace rk {

namespace {

constexpr const char* kMoveFinishedText = "The move of an item that compaction left unfinished was completed.";

// What a slot holds, by its headers: a video frame of the mode, an effect
// frame (a frame of the mode carrying effect marks), a logo frame (an HD
// frame coded at rate code 50 with a 768-sector budget, whatever the card),
// or, on an HD 50 card, a frame that could be either; the logo frame layout
// tells those apart (see LogoProbe): ScanSlotKind.

// What the first two Clusters of a frame slot say.
struct SlotHead {
    bool valid = false;
    int mode = -1;
    uint32_t frame = 0;
    ScanSlotKind kind = ScanSlotKind::kVideo;
    EffectMarks marks;
};

constexpr int kLogoBudgetBytes = kHdBudgetSectors * 512;

// A head cluster with its sound chunk ("KAQ1", 0x85) followed by a KVQ1
// frame header whose size class, rate and budget are those of a mode (of
// `mode` when it is not -1), or those of a logo frame.
SlotHead ReadSlotHead(const uint8_t* twoClusters, int mode) {
    SlotHead h;
    if (std::memcmp(twoClusters, kAudioChunkMagic, 4) != 0 || twoClusters[4] != 0x85) return h;
    const uint8_t* frame = twoClusters + kClusterSize;
    if (std::memcmp(frame, kKVQ1Magic, 4) != 0) return h;
    const int sizeClass = frame[4];
    const int rate = NormaliseFrameRateCode(frame[5]);
    const int budget = int(ReadBE16(frame + 6)) * 512;
    const bool logoFrame = sizeClass == 1 && rate == 50 && budget == kLogoBudgetBytes;
    for (int m = 0; m < kVideoModeCount; ++m) {
        if (mode >= 0 && m != mode) continue;
        const VideoMode& vm = VideoModeAt(m);
        const bool modeFrame = sizeClass == vm.sizeClass && rate == NormaliseFrameRateCode(vm.frameRate) &&
                               budget == FrameBudgetSectors(vm.clustersPerFrame) * 512;
        if (modeFrame && vm.sizeClass == 1 && GetEffectMarks(frame, h.marks))
            h.kind = ScanSlotKind::kEffect;
        else if (modeFrame)
            h.kind = logoFrame ? ScanSlotKind::kVideoOrLogo : ScanSlotKind::kVideo;
        else if (logoFrame && mode >= 0)
            h.kind = ScanSlotKind::kLogo;  // (while the mode is learnt, logos say nothing of it)
        else
            continue;
        h.valid = true;
        h.mode = m;
        h.frame = ReadBE32(twoClusters + 8);
        return h;
    }
    return h;
}

// Whether a run of `want` kind may go on with a slot of kind `got`.
bool SameItem(ScanSlotKind want, ScanSlotKind got) {
    if (want == got) return true;
    if (got == ScanSlotKind::kVideoOrLogo) return want == ScanSlotKind::kVideo || want == ScanSlotKind::kLogo;
    return false;
}

// The logo frame layout: the colour picture in the top-left quarter, its
// alpha mask as grey in the top-right quarter, the lower half black. A
// frame is taken for a logo when its lower half is black and the mask
// quarter carries no colour. Buffers are made once per scan.
class LogoProbe {
public:
    bool IsLogoFrame(CSDCard& card, uint64_t cluster, uint64_t totalClusters) {
        constexpr int kSlotClusters = 33;
        if (cluster + kSlotClusters > totalClusters) return false;
        if (slot_.empty()) {
            const KVQ1Geometry g = KVQ1GeometryFor(1);
            slot_.resize(size_t(kSlotClusters) * kClusterSize);
            luma_.resize(g.LumaBytes());
            cb_.resize(g.ChromaBytes());
            cr_.resize(g.ChromaBytes());
            decoder_ = std::make_unique<KVQ1Decoder>();
        }
        if (!card.ReadClusters(uint32_t(cluster), slot_.data(), kSlotClusters)) return false;
        if (!decoder_->Decode(slot_.data() + kClusterSize, size_t(kLogoBudgetBytes), luma_.data(), cb_.data(),
                              cr_.data()))
            return false;
        constexpr int w = 1920, h = 1080, cw = w / 2;
        uint64_t lumaSum = 0;
        for (int y = h / 2; y < h; ++y)
            for (int x = 0; x < w; ++x) lumaSum += luma_[size_t(y) * w + x];
        if (lumaSum / (uint64_t(w) * (h / 2)) > 24) return false;
        uint64_t chromaDev = 0, count = 0;
        for (int y = 0; y < h / 4; ++y)  // chroma rows of the upper half
            for (int x = cw / 2; x < cw; ++x) {
                chromaDev += uint64_t(std::abs(int(cb_[size_t(y) * cw + x]) - 128)) +
                             uint64_t(std::abs(int(cr_[size_t(y) * cw + x]) - 128));
                ++count;
            }
        return chromaDev / (2 * count) <= 4;
    }

private:
    std::vector<uint8_t> slot_, luma_, cb_, cr_;
    std::unique_ptr<KVQ1Decoder> decoder_;
};

// The card's Clusters from its size: a card that reads as not formatted has
// no regions yet.
uint64_t CardClusters(const CSDCard& card) { return uint64_t(card.TotalSectors()) / kSectorsPerCluster; }

bool HeadAt(CSDCard& card, uint64_t cluster, int mode, SlotHead& head, bool& readFailed) {
    head = SlotHead{};
    if (cluster + 2 > CardClusters(card)) return false;
    uint8_t buf[2 * kClusterSize];
    if (!card.ReadClusters(uint32_t(cluster), buf, 2)) {
        readFailed = true;
        return false;
    }
    head = ReadSlotHead(buf, mode);
    return head.valid;
}

// The thumbnail block behind a run must not be frame data: a run that was
// overwritten or cut short shows a slot head where its thumbnail should be.
bool ThumbnailInPlace(CSDCard& card, uint64_t cluster) {
    if (cluster + kThumbnailClusters > CardClusters(card)) return false;
    uint8_t buf[kThumbnailBlockSize];
    if (!card.ReadClusters(uint32_t(cluster), buf, kThumbnailClusters)) return false;
    return !ReadSlotHead(buf, -1).valid;
}

bool HasItems(const CardDirectory& dir) {
    for (int v = 0; v < kVideoCount; ++v)
        if (dir.Video(v).Used()) return true;
    for (int s = 0; s < kStillCount; ++s)
        if (dir.Still(s).Used()) return true;
    for (int e = 0; e < kEffectCount; ++e)
        if (dir.Effect(e).Used()) return true;
    for (int l = 0; l < kLogoCount; ++l)
        if (dir.Logo(l).Used()) return true;
    return false;
}

}  // namespace

ScanSlotHead ReadScanSlotHead(const uint8_t* data, size_t bytes, int mode) {
    ScanSlotHead out;
    if (data == nullptr || bytes < 2 * kClusterSize) return out;
    const SlotHead h = ReadSlotHead(data, mode);
    if (!h.valid) return out;
    out.valid = true;
    out.mode = h.mode;
    out.frame = h.frame;
    out.kind = h.kind;
    if (h.kind == ScanSlotKind::kEffect) {
        out.effectKind = h.marks.kind;
        out.framesAfter = h.marks.framesAfter;
    }
    return out;
}

std::vector<std::string> MissingItems(CSDCard& card, const CardDirectory& dir, int mode) {
    std::vector<std::string> missing;
    if (!IsValidVideoMode(mode)) return {"the directory's video mode is unknown"};
    const CardRegions regions = CardRegions::For(mode, card.TotalSectors());
    if (regions.itemAreaClusters <= 0) return {std::string("the card is too small for ") + VideoModeName(mode)};
    for (const RunProblem& p : CheckRuns(dir, regions)) missing.push_back(RunProblemText(p));
    if (!missing.empty()) return missing;
    const uint64_t total = uint64_t(regions.totalClusters);
    const int x = regions.clustersPerFrame;
    SlotHead head;
    // One item: its first slot (and, for runs, its last, numbered in
    // sequence) carries a head cluster and a frame header of the mode, and
    // its thumbnail block, when it has one, is not frame data.
    auto check = [&](const std::string& name, const EntryHead& h, bool thumbnail) {
        bool readFailed = false;
        const uint64_t length = thumbnail ? h.RunClusters() : uint64_t(x);
        if (h.clustersPerFrame != x || uint64_t(h.startCluster) + length > total) {
            missing.push_back(name + ": does not fit the card");
            return;
        }
        if (!HeadAt(card, h.startCluster, mode, head, readFailed)) {
            missing.push_back(name + ": no frame at cluster " + std::to_string(h.startCluster) +
                              (readFailed ? " (cannot be read)" : ""));
            return;
        }
        if (!thumbnail) return;
        const uint32_t first = head.frame;
        const uint64_t last = uint64_t(h.startCluster) + uint64_t(h.numFrames - 1) * x;
        if (h.numFrames > 1 && (!HeadAt(card, last, mode, head, readFailed) || head.frame != first + h.numFrames - 1u)) {
            missing.push_back(name + ": its last frame is not at cluster " + std::to_string(last) +
                              (readFailed ? " (cannot be read)" : ""));
            return;
        }
        if (!ThumbnailInPlace(card, h.ThumbnailCluster()))
            missing.push_back(name + ": no thumbnail at cluster " + std::to_string(h.ThumbnailCluster()));
    };
    for (int v = 0; v < kVideoCount; ++v)
        if (dir.Video(v).Used()) check("video " + std::to_string(v + 1), dir.Video(v), true);
    for (int s = 0; s < kStillCount; ++s) {
        const EntryHead h = dir.Still(s);
        if (!h.Used()) continue;
        if (h.startCluster != regions.StillCluster(s))
            missing.push_back("still " + std::to_string(s + 1) + ": not at its place");
        else
            check("still " + std::to_string(s + 1), h, true);
    }
    for (int e = 0; e < kEffectCount; ++e)
        if (dir.Effect(e).Used()) check("effect " + std::to_string(e + 1), dir.Effect(e), true);
    for (int l = 0; l < kLogoCount; ++l)
        if (dir.Logo(l).Used()) check("logo " + std::to_string(l + 1), dir.Logo(l), true);
    for (int p = 0; p < kPlaylistCount; ++p)
        if (dir.ClipCount(p) > 0)
            check("the title card of playlist " + std::to_string(p + 1),
                  EntryHead{regions.TitleCluster(p), 1, uint16_t(x)}, false);
    return missing;
}

bool ItemsInPlace(CSDCard& card, const CardDirectory& dir, int mode) { return MissingItems(card, dir, mode).empty(); }

bool FindJournalledDirectory(CSDCard& card, const std::string& journalFolder, CardDirectory& found, int& mode,
                             std::vector<std::string>* missing) {
    const std::string folder = journalFolder.empty() ? DefaultJournalFolder() : journalFolder;
    if (folder.empty()) return false;
    CDirectoryJournal journal(folder);
    // The card's block as it now is: putting it back would change nothing.
    CardDirectory now;
    int error = 0;
    ICardDevice* device = card.Device();
    if (!device || !device->ReadAt(0, now.Bytes(), kDirectorySize, error)) return false;

    // Every directory kept for the card, in any mode, newest first: by the
    // record's time, then by its place in the record.
    struct Candidate {
        CardDirectory dir;
        int64_t when = 0;
        size_t order = 0;
    };
    std::vector<Candidate> candidates;
    for (int m = 0; m < kVideoModeCount; ++m) {
        const CardIdentity id = CardIdentityOf(card.Kind() == DeviceKind::kBlockDevice, card.Path(),
                                               card.TotalSectors(), m);
        std::vector<CardDirectory> kept;
        if (!journal.LoadGenerations(id, kept)) continue;
        struct stat st {};
        const int64_t when = ::stat(journal.RecordPath(id).c_str(), &st) == 0 ? int64_t(st.st_mtime) : 0;
        for (size_t i = 0; i < kept.size(); ++i) candidates.push_back({kept[i], when, i});
    }
    std::stable_sort(candidates.begin(), candidates.end(), [](const Candidate& a, const Candidate& b) {
        return a.when != b.when ? a.when > b.when : a.order > b.order;
    });
    bool named = false;
    for (const Candidate& c : candidates) {
        if (!c.dir.IsValid() || !HasItems(c.dir) || c.dir == now) continue;
        const int m = int(c.dir.StoredVideoMode());
        std::vector<std::string> gone = MissingItems(card, c.dir, m);
        if (gone.empty()) {
            found = c.dir;
            mode = m;
            return true;
        }
        LogMessage(3, "recover: a journalled directory (mode %d) does not match the card: %s", m, gone[0].c_str());
        // What is missing is told for the newest directory kept.
        if (missing && !named) *missing = std::move(gone);
        named = true;
    }
    return false;
}

namespace {

// Stills at their fixed places: a slot head there and its thumbnail behind.
void FindStills(CSDCard& card, const CardRegions& regions, int mode, CardDirectory& found, ScanTally& tally,
                bool& readFailed) {
    const int x = regions.clustersPerFrame;
    SlotHead head;
    for (int s = 0; s < kStillCount; ++s) {
        const uint32_t at = regions.StillCluster(s);
        if (HeadAt(card, at, mode, head, readFailed) && ThumbnailInPlace(card, uint64_t(at) + x)) {
            found.SetStill(s, EntryHead{at, 1, uint16_t(x)});
            ++tally.stills;
        }
    }
}

// A run found becomes the next free entry of its kind; runs past the last
// entry of their kind are counted, not kept.
void RecordRun(ScanSlotKind kind, const SlotHead& head, const EntryHead& entry, CardDirectory& found,
               ScanTally& tally) {
    if (kind == ScanSlotKind::kEffect && tally.effects < kEffectCount) {
        found.SetEffect(tally.effects, entry);
        // Keyframed kinds switch with 1, animated wipes with their kind;
        // an animated wipe's measured extent is not on the card (Hue 0).
        found.SetEffectSwitch(tally.effects, uint8_t(IsKeyframedEffectKind(head.marks.kind) ? 1 : head.marks.kind));
        ++tally.effects;
    } else if (kind == ScanSlotKind::kLogo && tally.logos < kLogoCount) {
        found.SetLogo(tally.logos++, entry);
    } else if (kind == ScanSlotKind::kVideo && tally.videos < kVideoCount) {
        found.SetVideo(tally.videos, entry);
        found.SetVideoNameUtf8(tally.videos, FormatText(IDS_RECOVERED_NAME, tally.videos + 1));
        ++tally.videos;
    } else {
        ++tally.runsLeftOut;
    }
}

// Ends the scan's progress on every way out.
struct ProgressScope {
    IOperator* op;
    ~ProgressScope() {
        if (op) op->EndProgress();
    }
};

// The mode of the first frame that is not a logo's (logos are coded at 50
// frames whatever the card); a card of logos alone is HD 50. -1 when no
// frame is found.
template <typename NextHead>
int LearnMode(CSDCard& card, uint64_t total, LogoProbe& logos, NextHead& nextHead) {
    uint64_t at = 0, from = kDirectoryClusters;
    SlotHead head;
    int fallback = -1;
    while (nextHead(from, total, -1, at, head)) {
        if (head.kind != ScanSlotKind::kVideoOrLogo || !logos.IsLogoFrame(card, at, total))
            return IsValidVideoMode(head.mode) ? head.mode : fallback;
        if (fallback < 0) fallback = head.mode;
        from = at + 1;
    }
    return fallback;
}

}  // namespace

bool ScanForItems(CSDCard& card, int mode, CardDirectory& found, int& foundMode, ScanTally& tally, IOperator* op) {
    tally = ScanTally{};
    found.Clear();
    const uint64_t total = CardClusters(card);
    bool readFailed = false;
    constexpr uint32_t kChunk = 256;
    std::vector<uint8_t> buf(size_t(kChunk + 1) * kClusterSize);

    // Progress through the card, and Stop, between chunks. A stopped scan
    // reads on as if the card ended there and answers false.
    const ProgressScope progress{op};
    if (op) op->BeginProgress(int64_t(total), ProgressUnit::kClusters, kClusterSize);
    auto stopAsked = [&](uint64_t at) {
        if (!op || tally.stopped) return tally.stopped;
        op->SetProgress(int64_t(std::min(at, total)), false);
        tally.stopped = op->PumpMessages();
        return tally.stopped;
    };

    // Finds the next slot head at or after `from` and before `end`, reading
    // in large chunks.
    auto nextHead = [&](uint64_t from, uint64_t end, int m, uint64_t& at, SlotHead& head) {
        for (uint64_t c = from; c + 1 < end;) {
            if (stopAsked(c)) return false;
            const uint32_t n = uint32_t(std::min<uint64_t>(kChunk + 1, end - c));
            if (!card.ReadClusters(uint32_t(c), buf.data(), n)) {
                readFailed = true;
                return false;
            }
            for (uint32_t i = 0; i + 1 < n; ++i) {
                head = ReadSlotHead(buf.data() + size_t(i) * kClusterSize, m);
                if (head.valid) {
                    at = c + i;
                    return true;
                }
            }
            c += n - 1;
        }
        return false;
    };

    LogoProbe logos;
    if (!IsValidVideoMode(mode)) {
        mode = LearnMode(card, total, logos, nextHead);
        if (!IsValidVideoMode(mode) || tally.stopped) return false;
    }
    foundMode = mode;
    const CardRegions regions = CardRegions::For(mode, card.TotalSectors());
    if (regions.itemAreaClusters <= 0) return false;
    const int x = regions.clustersPerFrame;

    FindStills(card, regions, mode, found, tally, readFailed);

    // Runs of frame slots in the item area, numbered in sequence, of one
    // kind, each with room for its thumbnail block behind it. An effect's
    // last frame says so in its marks.
    uint64_t c = uint64_t(regions.firstItemCluster);
    uint64_t at = 0;
    SlotHead head;
    while (!readFailed && nextHead(c, total, mode, at, head)) {
        ScanSlotKind kind = head.kind;
        if (kind == ScanSlotKind::kVideoOrLogo) kind = logos.IsLogoFrame(card, at, total) ? ScanSlotKind::kLogo : ScanSlotKind::kVideo;
        const uint32_t first = head.frame;
        uint32_t frames = 1;
        SlotHead last = head, next;
        while (frames < kMaxEntryFrames && at + uint64_t(frames + 1) * x + kThumbnailClusters <= total &&
               (frames % kChunk != 0 || !stopAsked(at + uint64_t(frames) * x)) &&
               !(kind == ScanSlotKind::kEffect && last.marks.framesAfter == 0) &&
               HeadAt(card, at + uint64_t(frames) * x, mode, next, readFailed) && next.frame == first + frames &&
               SameItem(kind, next.kind)) {
            last = next;
            ++frames;
        }
        if (at + uint64_t(frames) * x + kThumbnailClusters > total) --frames;  // no room for its thumbnail
        uint64_t resume = at + uint64_t(frames) * x;
        // Where a run goes on past what one entry holds, or another run starts
        // in the thumbnail's place, the last slot gives room for the thumbnail.
        SlotHead probe;
        if (frames > 1 && (frames == kMaxEntryFrames ||
                           HeadAt(card, resume, mode, probe, readFailed) || HeadAt(card, resume + 1, mode, probe, readFailed)))
            --frames;
        if (frames == 0) {
            c = at + 1;
            continue;
        }
        if (frames == 1 && resume + kThumbnailClusters <= total &&
            (HeadAt(card, resume, mode, probe, readFailed) || HeadAt(card, resume + 1, mode, probe, readFailed))) {
            c = resume;  // one slot with no room for a thumbnail: not an item
            continue;
        }
        RecordRun(kind, head, EntryHead{uint32_t(at), uint16_t(frames), uint16_t(x)}, found, tally);
        c = resume;
    }
    if (tally.stopped) return false;
    return !readFailed && (tally.videos > 0 || tally.stills > 0 || tally.effects > 0 || tally.logos > 0);
}

namespace {

OpResult NothingFound(RecoverOutcome& out) {
    out.cause = kRecoverNothingFound;
    return OpResult::kRefused;
}

}  // namespace

RecoverOutcome RecoverCard(IOperator& op, CSDCard& card, const RecoverOptions& options) {
    RecoverOutcome out;
    const bool valid = card.ReadDirectory();
    if (card.ErrorReported()) {
        out.result = OpResult::kFailed;
        return out;
    }
    // A compaction cut short inside the move of an item is finished first:
    // until then that item's entry points at Clusters partly overwritten.
    if (valid) {
        const PendingMoveResult moved = FinishPendingMove(card, op);
        if (moved == PendingMoveResult::kFailed) {
            out.result = OpResult::kFailed;
            return out;
        }
        if (moved == PendingMoveResult::kFinished && !options.force) {
            out.result = OpResult::kDone;
            out.summary = kMoveFinishedText;
            op.ShowMessage(kMsgNotice, kIconInformation, out.summary);
            return out;
        }
    }
    if (valid && !options.force) {
        out.result = OpResult::kRefused;
        out.cause = kRecoverDirectoryValid;
        op.ShowMessage(kMsgNotice, kIconWarning, LoadText(IDS_RECOVER_DIRECTORY_VALID));
        return out;
    }
    CardDirectory found;
    int mode = -1;
    std::string summary;
    if (options.scan) {
        ScanTally tally;
        const int scanMode = IsValidVideoMode(options.mode) ? options.mode : valid ? card.VideoMode() : -1;
        if (!ScanForItems(card, scanMode, found, mode, tally, &op)) {
            if (tally.stopped) {
                out.result = OpResult::kStopped;
                MessageById(op, kMsgNotice, kIconWarning, IDS_OPERATION_ABORTED);
                return out;
            }
            out.result = card.ErrorReported() ? OpResult::kFailed : NothingFound(out);
            if (!card.ErrorReported()) op.ShowMessage(kMsgNotice, kIconWarning, LoadText(IDS_RECOVER_NOTHING_FOUND));
            return out;
        }
        if (!CheckRuns(found, CardRegions::For(mode, card.TotalSectors())).empty()) {
            out.result = NothingFound(out);
            op.ShowMessage(kMsgNotice, kIconWarning, LoadText(IDS_RECOVER_RUNS_OVERLAP));
            return out;
        }
        summary = FormatText(IDS_RECOVER_FOUND_BY_SCAN, VideoModeName(mode), tally.videos, tally.stills,
                             tally.effects, tally.logos);
        if (tally.runsLeftOut > 0) summary += " " + FormatText(IDS_RECOVER_RUNS_LEFT_OUT, tally.runsLeftOut);
        summary += " " + LoadText(IDS_RECOVER_SCAN_NOTE);
    } else {
        std::vector<std::string> missing;
        if (!FindJournalledDirectory(card, options.journalFolder, found, mode, &missing)) {
            out.result = card.ErrorReported() ? OpResult::kFailed : NothingFound(out);
            if (!card.ErrorReported()) {
                // What the newest directory kept names but the card lacks.
                std::string detail;
                for (size_t i = 0; i < missing.size() && i < 8; ++i) detail += (i ? "\n" : "") + missing[i];
                if (missing.size() > 8) detail += "\n(" + std::to_string(missing.size() - 8) + " more)";
                op.ShowMessage(Message{kMsgNotice, kIconWarning, LoadText(IDS_RECOVER_NO_JOURNAL), detail});
            }
            return out;
        }
        int videos = 0, stills = 0, effects = 0, logos = 0;
        for (int v = 0; v < kVideoCount; ++v) videos += found.Video(v).Used();
        for (int s = 0; s < kStillCount; ++s) stills += found.Still(s).Used();
        for (int e = 0; e < kEffectCount; ++e) effects += found.Effect(e).Used();
        for (int l = 0; l < kLogoCount; ++l) logos += found.Logo(l).Used();
        summary = FormatText(IDS_RECOVER_FOUND_IN_JOURNAL, VideoModeName(mode), videos, stills, effects, logos);
    }
    out.summary = summary;
    if (options.ask &&
        op.ShowMessage(kMsgQuestion, kIconQuestion, summary + "\n" + LoadText(IDS_RECOVER_WRITE_QUESTION)) != kResultYes) {
        out.result = OpResult::kRefused;
        return out;
    }
    // The one write: the directory, last.
    card.SetVideoMode(mode);
    card.Directory() = found;
    if (!card.WriteDirectory()) {
        out.result = OpResult::kFailed;
        return out;
    }
    card.ReadDirectory();
    out.result = OpResult::kDone;
    // The directory put back may be one from before a move was cut short.
    const PendingMoveResult moved = FinishPendingMove(card, op);
    if (moved == PendingMoveResult::kFailed) out.result = OpResult::kFailed;
    if (moved == PendingMoveResult::kFinished) out.summary += std::string("\n") + kMoveFinishedText;
    return out;
}

}  // namespace rk
