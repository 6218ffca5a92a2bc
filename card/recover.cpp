#include "card/recover.h"

#include <sys/stat.h>

#include <cstring>
#include <vector>

#include "base/log.h"
#include "card/directory_journal.h"
#include "card/run_check.h"
#include "card/sd_card.h"
#include "card/video_modes.h"
#include "codec/kavq1_slot.h"
#include "codec/kvq1_format.h"
#include "ui/operator.h"

namespace rk {

namespace {

constexpr uint32_t kMaxEntryFrames = 0xFFFF;

// What the first two Clusters of a frame slot say.
struct SlotHead {
    bool valid = false;
    int mode = -1;
    uint32_t frame = 0;
};

// A head cluster with its sound chunk ("KAQ1", 0x85) followed by a KVQ1
// frame header whose size class, rate and budget are those of a mode (of
// `mode` when it is not -1).
SlotHead ReadSlotHead(const uint8_t* twoClusters, int mode) {
    SlotHead h;
    if (std::memcmp(twoClusters, kAudioChunkMagic, 4) != 0 || twoClusters[4] != 0x85) return h;
    for (int m = 0; m < kVideoModeCount; ++m) {
        if (mode >= 0 && m != mode) continue;
        const VideoMode& vm = VideoModeAt(m);
        if (CheckKAVQ1Slot(twoClusters, 2 * kClusterSize, vm.sizeClass, vm.frameRate,
                           vm.clustersPerFrame * int(kClusterSize)) == KAVQ1Check::Ok) {
            h.valid = true;
            h.mode = m;
            h.frame = ReadBE32(twoClusters + 8);
            return h;
        }
    }
    return h;
}

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

bool ItemsInPlace(CSDCard& card, const CardDirectory& dir, int mode) {
    if (!IsValidVideoMode(mode)) return false;
    const CardRegions regions = CardRegions::For(mode, card.TotalSectors());
    if (regions.itemAreaClusters <= 0 || !CheckRuns(dir, regions).empty()) return false;
    const uint64_t total = uint64_t(regions.totalClusters);
    const int x = regions.clustersPerFrame;
    auto runFits = [&](const EntryHead& h) {
        return h.clustersPerFrame > 0 && uint64_t(h.startCluster) + h.RunClusters() <= total;
    };
    SlotHead head;
    bool readFailed = false;
    for (int v = 0; v < kVideoCount; ++v) {
        const EntryHead h = dir.Video(v);
        if (!h.Used()) continue;
        if (!runFits(h) || h.clustersPerFrame != x) return false;
        if (!HeadAt(card, h.startCluster, mode, head, readFailed)) return false;
        const uint32_t first = head.frame;
        if (!HeadAt(card, uint64_t(h.startCluster) + uint64_t(h.numFrames - 1) * x, mode, head, readFailed) ||
            head.frame != first + h.numFrames - 1u)
            return false;
        if (!ThumbnailInPlace(card, h.ThumbnailCluster())) return false;
    }
    for (int s = 0; s < kStillCount; ++s) {
        const EntryHead h = dir.Still(s);
        if (!h.Used()) continue;
        if (h.startCluster != regions.StillCluster(s) || !runFits(h)) return false;
        if (!HeadAt(card, h.startCluster, mode, head, readFailed)) return false;
        if (!ThumbnailInPlace(card, h.ThumbnailCluster())) return false;
    }
    // Effects and logos: their frames need not be plain KVQ1 slots; their
    // runs must fit and end in a thumbnail.
    for (int e = 0; e < kEffectCount; ++e) {
        const EntryHead h = dir.Effect(e);
        if (h.Used() && (!runFits(h) || !ThumbnailInPlace(card, h.ThumbnailCluster()))) return false;
    }
    for (int l = 0; l < kLogoCount; ++l) {
        const EntryHead h = dir.Logo(l);
        if (h.Used() && (!runFits(h) || !ThumbnailInPlace(card, h.ThumbnailCluster()))) return false;
    }
    return !readFailed;
}

bool FindJournalledDirectory(CSDCard& card, const std::string& journalFolder, CardDirectory& found, int& mode) {
    const std::string folder = journalFolder.empty() ? DefaultJournalFolder() : journalFolder;
    if (folder.empty()) return false;
    CDirectoryJournal journal(folder);
    // The card's block as it now is: putting it back would change nothing.
    CardDirectory now;
    int error = 0;
    ICardDevice* device = card.Device();
    if (!device || !device->ReadAt(0, now.Bytes(), kDirectorySize, error)) return false;

    struct Candidate {
        CardDirectory dir;
        int64_t when = 0;
        int order = 0;  // the new side before the previous one
    };
    std::vector<Candidate> candidates;
    for (int m = 0; m < kVideoModeCount; ++m) {
        const CardIdentity id = CardIdentityOf(card.Kind() == DeviceKind::kBlockDevice, card.Path(),
                                               card.TotalSectors(), m);
        CardDirectory previous, next;
        if (!journal.Load(id, previous, next)) continue;
        struct stat st {};
        const int64_t when = ::stat(journal.RecordPath(id).c_str(), &st) == 0 ? int64_t(st.st_mtime) : 0;
        candidates.push_back({next, when, 0});
        candidates.push_back({previous, when, 1});
    }
    const Candidate* best = nullptr;
    for (const Candidate& c : candidates) {
        if (!c.dir.IsValid() || !HasItems(c.dir) || c.dir == now) continue;
        const int m = int(c.dir.StoredVideoMode());
        if (best && (best->when > c.when || (best->when == c.when && best->order <= c.order))) continue;
        if (!ItemsInPlace(card, c.dir, m)) {
            LogMessage(3, "recover: a journalled directory (mode %d) does not match the card", m);
            continue;
        }
        best = &c;
    }
    if (!best) return false;
    found = best->dir;
    mode = int(found.StoredVideoMode());
    return true;
}

bool ScanForItems(CSDCard& card, int mode, CardDirectory& found, int& foundMode, ScanTally& tally) {
    tally = ScanTally{};
    found.Clear();
    const uint64_t total = CardClusters(card);
    bool readFailed = false;
    constexpr uint32_t kChunk = 256;
    std::vector<uint8_t> buf(size_t(kChunk + 1) * kClusterSize);

    // Finds the next slot head at or after `from` and before `end`, reading
    // in large chunks.
    auto nextHead = [&](uint64_t from, uint64_t end, int m, uint64_t& at, SlotHead& head) {
        for (uint64_t c = from; c + 1 < end;) {
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

    if (!IsValidVideoMode(mode)) {
        uint64_t at = 0;
        SlotHead head;
        if (!nextHead(kDirectoryClusters, total, -1, at, head)) return false;
        mode = head.mode;
    }
    foundMode = mode;
    const CardRegions regions = CardRegions::For(mode, card.TotalSectors());
    if (regions.itemAreaClusters <= 0) return false;
    const int x = regions.clustersPerFrame;

    // Stills at their fixed places.
    SlotHead head;
    for (int s = 0; s < kStillCount; ++s) {
        const uint32_t at = regions.StillCluster(s);
        if (HeadAt(card, at, mode, head, readFailed) && ThumbnailInPlace(card, uint64_t(at) + x)) {
            found.SetStill(s, EntryHead{at, 1, uint16_t(x)});
            ++tally.stills;
        }
    }

    // Runs of frame slots in the item area, numbered in sequence, each with
    // room for its thumbnail block behind it.
    int video = 0;
    uint64_t c = uint64_t(regions.firstItemCluster);
    uint64_t at = 0;
    while (!readFailed && nextHead(c, total, mode, at, head)) {
        const uint32_t first = head.frame;
        uint32_t frames = 1;
        SlotHead next;
        while (frames < kMaxEntryFrames && at + uint64_t(frames + 1) * x + kThumbnailClusters <= total &&
               HeadAt(card, at + uint64_t(frames) * x, mode, next, readFailed) && next.frame == first + frames)
            ++frames;
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
        if (video < kVideoCount) {
            found.SetVideo(video, EntryHead{uint32_t(at), uint16_t(frames), uint16_t(x)});
            found.SetVideoNameUtf8(video, "Recovered " + std::to_string(video + 1));
            ++video;
        } else {
            ++tally.runsLeftOut;
        }
        c = resume;
    }
    tally.videos = video;
    return !readFailed && (tally.videos > 0 || tally.stills > 0);
}

RecoverOutcome RecoverCard(IOperator& op, CSDCard& card, const RecoverOptions& options) {
    RecoverOutcome out;
    const bool valid = card.ReadDirectory();
    if (card.ErrorReported()) {
        out.result = RecoverResult::kFailed;
        return out;
    }
    if (valid && !options.force) {
        out.result = RecoverResult::kDirectoryValid;
        op.ShowMessage(kMsgNotice, kIconWarning,
                       "The card's directory is valid; nothing was recovered (--force recovers all the same).");
        return out;
    }
    CardDirectory found;
    int mode = -1;
    std::string summary;
    if (options.scan) {
        ScanTally tally;
        const int scanMode = IsValidVideoMode(options.mode) ? options.mode : valid ? card.VideoMode() : -1;
        if (!ScanForItems(card, scanMode, found, mode, tally)) {
            out.result = card.ErrorReported() ? RecoverResult::kFailed : RecoverResult::kNothingFound;
            if (!card.ErrorReported()) op.ShowMessage(kMsgNotice, kIconWarning, "No items were found on the card.");
            return out;
        }
        if (!CheckRuns(found, CardRegions::For(mode, card.TotalSectors())).empty()) {
            out.result = RecoverResult::kNothingFound;
            op.ShowMessage(kMsgNotice, kIconWarning, "The runs found on the card overlap; nothing was written.");
            return out;
        }
        summary = "Found by scanning (" + std::string(VideoModeName(mode)) + "): " + std::to_string(tally.videos) +
                  " videos, " + std::to_string(tally.stills) + " stills.";
        if (tally.runsLeftOut > 0)
            summary += " " + std::to_string(tally.runsLeftOut) + " more runs found no free video entry.";
        summary += " Playlists, effects and logos cannot be recovered by a scan; videos are named \"Recovered 1\", "
                   "\"Recovered 2\"...";
    } else {
        if (!FindJournalledDirectory(card, options.journalFolder, found, mode)) {
            out.result = card.ErrorReported() ? RecoverResult::kFailed : RecoverResult::kNothingFound;
            if (!card.ErrorReported())
                op.ShowMessage(kMsgNotice, kIconWarning,
                               "No journalled directory of this card matches what lies on it (--scan rebuilds one "
                               "from the card).");
            return out;
        }
        int videos = 0, stills = 0, effects = 0, logos = 0;
        for (int v = 0; v < kVideoCount; ++v) videos += found.Video(v).Used();
        for (int s = 0; s < kStillCount; ++s) stills += found.Still(s).Used();
        for (int e = 0; e < kEffectCount; ++e) effects += found.Effect(e).Used();
        for (int l = 0; l < kLogoCount; ++l) logos += found.Logo(l).Used();
        summary = "Found in the journal (" + std::string(VideoModeName(mode)) + "): " + std::to_string(videos) +
                  " videos, " + std::to_string(stills) + " stills, " + std::to_string(effects) + " effects, " +
                  std::to_string(logos) + " logos, with their playlists.";
    }
    out.summary = summary;
    if (options.ask &&
        op.ShowMessage(kMsgQuestion, kIconQuestion, summary + "\nWrite this directory to the card?") != kResultYes) {
        out.result = RecoverResult::kCancelled;
        return out;
    }
    // The one write: the directory, last.
    card.SetVideoMode(mode);
    card.Directory() = found;
    if (!card.WriteDirectory()) {
        out.result = RecoverResult::kFailed;
        return out;
    }
    card.ReadDirectory();
    out.result = RecoverResult::kRecovered;
    return out;
}

}  // namespace rk
