#include "media/card_check.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

#include "base/log.h"
#include "card/card_device.h"
#include "card/card_directory.h"
#include "card/card_item.h"
#include "card/run_check.h"
#include "card/sd_card.h"
#include "card/video_modes.h"
#include "codec/effect_marks.h"
#include "codec/kavq1_slot.h"
#include "codec/kvq1_decoder.h"
#include "codec/kvq1_format.h"
#include "codec/kvq1_parser.h"
#include "ui/operator.h"

namespace rk {

namespace {

// Frame findings of one item beyond this many are summed up in one line, so
// that a run of garbage does not bury every other problem.
constexpr int kMaxFrameFindingsPerItem = 8;

struct Checker {
    IOperator& op;
    CSDCard& card;
    CheckFrames frames;
    CheckReport report;
    CardDirectory dir;
    CardRegions regions;
    VideoMode mode{};
    uint64_t totalClusters = 0;
    bool runsSound = true;

    void Add(const std::string& item, const char* code, const std::string& what) {
        report.findings.push_back({item, code, item + ": " + what});
        LogMessage(2, "check: %s: %s", item.c_str(), what.c_str());
    }

    std::string ItemName(ItemKind kind, int index) const {
        switch (kind) {
        case kKindVideo: {
            std::string name = "video " + std::to_string(index + 1);
            std::string title = dir.VideoNameUtf8(index);
            if (!title.empty()) name += " '" + title + "'";
            return name;
        }
        case kKindEffect: return "effect " + std::to_string(index + 1);
        case kKindLogo: return "logo " + std::to_string(index + 1);
        default: return "entry " + std::to_string(index + 1);
        }
    }

    bool ReadAt(uint64_t cluster, void* buffer, uint64_t clusters) {
        if (cluster + clusters > totalClusters) return false;
        int error = 0;
        return card.Device() != nullptr &&
               card.Device()->ReadAt(cluster * kClusterSize, buffer, size_t(clusters * kClusterSize), error);
    }

    // ---- Pass 1: the directory ----
    bool CheckDirectoryBlock() {
        int error = 0;
        if (card.Device() == nullptr || !card.Device()->ReadAt(0, dir.Bytes(), kDirectorySize, error)) {
            LogMessage(2, "check: the directory cannot be read (%d)", error);
            return false;
        }
        report.readable = true;
        // A block without the magic is a blank or foreign card: that one
        // finding says all (its checksum means nothing).
        if (std::memcmp(dir.Bytes() + kOffMagic, "KVH1", 4) != 0) {
            Add("directory", "magic", "no KVH1 magic: the card is not formatted");
            return false;
        }
        if (dir.StoredChecksum() != dir.ComputedChecksum()) {
            char text[96];
            std::snprintf(text, sizeof text, "checksum is 0x%04X, the contents give 0x%04X", dir.StoredChecksum(),
                          dir.ComputedChecksum());
            Add("directory", "checksum", text);
        }
        const uint32_t m = dir.StoredVideoMode();
        if (!IsValidVideoMode(m)) {
            Add("directory", "mode", "video mode " + std::to_string(m) + " is not one of 0 to 8");
            return false;
        }
        report.formatted = true;
        report.mode = int(m);
        mode = VideoModeAt(int(m));
        regions = CardRegions::For(int(m), card.TotalSectors());
        totalClusters = uint64_t(regions.totalClusters);
        report.itemAreaClusters = regions.itemAreaClusters;
        if (regions.itemAreaClusters <= 0)
            Add("directory", "size", "the card is too small to hold any item for its mode");
        return true;
    }

    void CheckRunsAndHeads() {
        for (int v = 0; v < kVideoCount; ++v) {
            EntryHead h = dir.Video(v);
            if (h.Used() && h.clustersPerFrame != mode.clustersPerFrame)
                Add(ItemName(kKindVideo, v), "spacing",
                    "entry spaces its frames " + std::to_string(h.clustersPerFrame) + " clusters apart, the mode " +
                        std::to_string(mode.clustersPerFrame));
        }
        const std::vector<RunProblem> runProblems = CheckRuns(dir, regions);
        runsSound = runProblems.empty();
        for (const RunProblem& p : runProblems) {
            const EntryHead a = dir.Item(p.firstKind, p.firstEntry);
            const std::string name = ItemName(p.firstKind, p.firstEntry);
            switch (p.fault) {
            case RunFault::kPastEnd:
                if (a.startCluster + a.FrameClusters() <= totalClusters)
                    Add(name, "thumbnail", "thumbnail at cluster " + std::to_string(a.ThumbnailCluster()) +
                                               " lies past the card's last cluster " +
                                               std::to_string(totalClusters - 1));
                else
                    Add(name, "past-end", "run of clusters " + std::to_string(a.startCluster) + " to " +
                                              std::to_string(a.startCluster + a.RunClusters() - 1) +
                                              " reaches past the card's last cluster " +
                                              std::to_string(totalClusters - 1));
                break;
            case RunFault::kOutsideItemArea:
                Add(name, "outside", "run begins at cluster " + std::to_string(a.startCluster) +
                                         ", before the item area (cluster " +
                                         std::to_string(regions.firstItemCluster) + ")");
                break;
            case RunFault::kOverlap: {
                const EntryHead b = dir.Item(p.secondKind, p.secondEntry);
                // When only a thumbnail block reaches into the other run, say so.
                const bool thumbA = a.startCluster + a.FrameClusters() <= b.startCluster;
                const bool thumbB = b.startCluster + b.FrameClusters() <= a.startCluster;
                std::string other = ItemName(p.secondKind, p.secondEntry);
                if (thumbA)
                    Add(name, "thumbnail", "thumbnail lies inside the run of " + other);
                else if (thumbB)
                    Add(name, "overlap", "run holds the thumbnail of " + other);
                else
                    Add(name, "overlap", "run shares clusters with " + other);
                break;
            }
            }
        }
        for (int s = 0; s < kStillCount; ++s) {
            EntryHead h = dir.Still(s);
            if (!h.Used()) continue;
            const std::string name = "still " + std::to_string(s + 1);
            if (h.startCluster != regions.StillCluster(s))
                Add(name, "place", "entry points at cluster " + std::to_string(h.startCluster) +
                                       ", its place is cluster " + std::to_string(regions.StillCluster(s)));
            else if (h.numFrames != 1)
                Add(name, "frames", "entry holds " + std::to_string(h.numFrames) + " frames, a still has 1");
        }
    }

    void CheckPlaylists() {
        for (int p = 0; p < kPlaylistCount; ++p) {
            const std::string name = "playlist " + std::to_string(p + 1);
            const int32_t k = dir.ClipCount(p);
            if (k < 0 || k > kMaxClipsPerPlaylist) {
                Add(name, "clip-count", "clip count " + std::to_string(k) + " is not 0 to 15");
                continue;
            }
            for (int i = 0; i < k; ++i) {
                const int32_t v = dir.Clip(p, i);
                if (v < 0 || v >= kVideoCount)
                    Add(name, "clip", "clip " + std::to_string(i + 1) + " names no video entry (" + std::to_string(v) + ")");
                else if (!dir.Video(v).Used())
                    Add(name, "clip", "clip " + std::to_string(i + 1) + " refers to free video " + std::to_string(v + 1));
            }
        }
        CardDirectory rebuilt = dir;
        rebuilt.RebuildPlaylistTable(mode.clustersPerFrame);
        for (int p = 0; p < kPlaylistCount; ++p) {
            const size_t off = kOffPlaylistTable + size_t(p) * kPlaylistRowSize;
            if (std::memcmp(dir.Bytes() + off, rebuilt.Bytes() + off, kPlaylistRowSize) != 0)
                Add("playlist " + std::to_string(p + 1), "table",
                    "the device's playlist table differs from the playlist record");
        }
    }

    void CheckFreeSpace() {
        report.freeClusters = CountFreeClusters(dir, regions.itemAreaClusters);
        // Runs that overlap or leave the card were reported with their items.
        if (regions.itemAreaClusters <= 0 || !runsSound) return;
        uint64_t used = 0;
        for (int v = 0; v < kVideoCount; ++v)
            if (dir.Video(v).Used()) used += dir.Video(v).RunClusters();
        for (int e = 0; e < kEffectCount; ++e)
            if (dir.Effect(e).Used()) used += dir.Effect(e).RunClusters();
        for (int l = 0; l < kLogoCount; ++l)
            if (dir.Logo(l).Used()) used += dir.Logo(l).RunClusters();
        if (used > uint64_t(regions.itemAreaClusters))
            Add("directory", "free-space",
                "the items take " + std::to_string(used) + " clusters, the item area holds " +
                    std::to_string(regions.itemAreaClusters));
    }

    // ---- Pass 2: frame slots ----
    enum class Role { kVideo, kEffect, kLogo, kStill, kTitleCard };
    struct ItemToCheck {
        Role role;
        int index;
        EntryHead head;
        std::string name;
        int effectKind = -1;  // effects: the kind the entry's Switch names, -1 for either keyframed kind
    };

    bool Sampled(uint64_t f, uint64_t n) const {
        if (frames == CheckFrames::kAll) return true;
        if (frames == CheckFrames::kNone) return false;
        return f == 0 || f == n / 2 || f + 1 == n;
    }

    void CheckSlots() {
        std::vector<ItemToCheck> items;
        for (int v = 0; v < kVideoCount; ++v)
            if (dir.Video(v).Used()) items.push_back({Role::kVideo, v, dir.Video(v), ItemName(kKindVideo, v)});
        for (int e = 0; e < kEffectCount; ++e)
            if (dir.Effect(e).Used()) {
                const uint8_t sw = dir.EffectSwitch(e);
                items.push_back({Role::kEffect, e, dir.Effect(e), ItemName(kKindEffect, e), sw == 2 || sw == 3 ? sw : -1});
                if (sw < 1 || sw > 3)
                    Add(items.back().name, "switch",
                        "entry's switch byte is " + std::to_string(int(sw)) + ", not 1 to 3");
            }
        for (int l = 0; l < kLogoCount; ++l)
            if (dir.Logo(l).Used()) items.push_back({Role::kLogo, l, dir.Logo(l), ItemName(kKindLogo, l)});
        for (int s = 0; s < kStillCount; ++s)
            if (dir.Still(s).Used())
                items.push_back({Role::kStill, s, dir.Still(s), "still " + std::to_string(s + 1)});
        report.items = int(items.size());
        // The title card of every playlist with clips: one frame of the
        // card's mode at its fixed place (not an item of its own).
        for (int p = 0; p < kPlaylistCount; ++p) {
            const int32_t k = dir.ClipCount(p);
            if (k > 0 && k <= kMaxClipsPerPlaylist)
                items.push_back({Role::kTitleCard, p,
                                 EntryHead{regions.TitleCluster(p), 1, uint16_t(mode.clustersPerFrame)},
                                 "playlist " + std::to_string(p + 1)});
        }

        uint64_t total = 0;
        for (const auto& it : items) total += it.role == Role::kStill || it.role == Role::kTitleCard ? 1 : it.head.numFrames;
        const int x = mode.clustersPerFrame;
        op.BeginProgress(int64_t(total), ProgressUnit::kFrames, int64_t(x) * kClusterSize);

        // Buffers for the whole check: one slot and one picture.
        std::vector<uint8_t> slot(size_t(x) * kClusterSize);
        const KVQ1Geometry g = KVQ1GeometryFor(mode.sizeClass);
        std::vector<uint8_t> luma(g.LumaBytes()), cb(g.ChromaBytes()), cr(g.ChromaBytes());
        auto decoder = std::make_unique<KVQ1Decoder>();

        uint64_t done = 0;
        for (const auto& it : items) {
            const bool still = it.role == Role::kStill || it.role == Role::kTitleCard;
            const uint64_t n = still ? 1 : it.head.numFrames;
            // Stills lie at their fixed place with the mode's spacing; a
            // still whose entry points elsewhere was reported already.
            const uint64_t stride = still ? uint64_t(x) : it.head.clustersPerFrame;
            const uint64_t readClusters = std::min<uint64_t>(stride, uint64_t(x));
            if (stride < 2) continue;  // nothing a frame could live in (reported as spacing)
            int frameFindings = 0, hidden = 0;
            uint32_t firstNumber = 0;
            int firstKind = -1;
            for (uint64_t f = 0; f < n; ++f) {
                if (op.PumpMessages()) {
                    report.stopped = true;
                    op.EndProgress();
                    return;
                }
                const uint64_t first = uint64_t(it.head.startCluster) + f * stride;
                // Frames past the card's end were reported with the run.
                if (first + readClusters > totalClusters) break;
                const bool decode = Sampled(f, n);
                std::string problem;
                if (!ReadAt(first, slot.data(), decode ? readClusters : 2)) {
                    problem = "cannot be read";
                } else {
                    ++report.framesChecked;
                    problem = SlotProblem(it, f, slot.data(), firstNumber, firstKind);
                    if (problem.empty() && decode) {
                        const size_t budget = size_t(readClusters - 1) * kClusterSize;
                        ++report.framesDecoded;
                        if (!decoder->Decode(slot.data() + kClusterSize, budget, luma.data(), cb.data(), cr.data()))
                            problem = "does not decode (row " + std::to_string(decoder->FailedRow()) + ")";
                    }
                }
                if (!problem.empty()) {
                    if (it.role == Role::kTitleCard)
                        Add(it.name, "title-card", "title card at cluster " + std::to_string(it.head.startCluster) +
                                                       " " + problem);
                    else if (frameFindings < kMaxFrameFindingsPerItem)
                        Add(it.name, "frame", "frame " + std::to_string(f) + " " + problem);
                    else
                        ++hidden;
                    ++frameFindings;
                }
                op.SetProgress(int64_t(++done), !problem.empty());
            }
            if (hidden > 0) Add(it.name, "frames", "and " + std::to_string(hidden) + " more damaged frames");
        }
        op.EndProgress();
    }

    // The first thing wrong with the headers of frame `f` of `it`, or empty.
    std::string SlotProblem(const ItemToCheck& it, uint64_t f, const uint8_t* slot, uint32_t& firstNumber,
                            int& firstKind) const {
        const uint8_t* frame = slot + kClusterSize;
        KVQ1Parser header(frame, kKVQ1HeaderBytes);
        if (!header.Valid()) return "has a damaged frame header (no KVQ1 magic)";
        // Effects and logos are HD frames whatever the card; logos are coded
        // at rate code 50 whatever the card's rate.
        const bool logo = it.role == Role::kLogo, effect = it.role == Role::kEffect;
        const int sizeClass = logo || effect ? 1 : mode.sizeClass;
        const int rate = logo ? 50 : NormaliseFrameRateCode(mode.frameRate);
        if (header.SizeClass() != sizeClass)
            return "has a damaged frame header (size class " + std::to_string(int(frame[4])) + ", expected " +
                   std::to_string(sizeClass) + ")";
        if (header.FrameRate() != rate)
            return "has a damaged frame header (rate code " + std::to_string(int(frame[5])) + ", expected " +
                   std::to_string(rate) + ")";
        const int budget = (logo ? std::min<int>(it.head.clustersPerFrame, 33) - 1 : mode.clustersPerFrame - 1) *
                           int(kClusterSize);
        if (header.FrameBudgetBytes() != budget)
            return "has a damaged frame header (budget " + std::to_string(header.FrameBudgetBytes()) +
                   " bytes, the slot holds " + std::to_string(budget) + ")";
        if (it.role == Role::kStill || it.role == Role::kTitleCard) return {};
        // Videos: frames number on from their first one; effects and logos
        // from 0. The audio chunk carries the same number and the share of
        // its rate (effects and logos: always that of rate code 50).
        const uint32_t number = header.FrameNumber();
        if (f == 0 && it.role == Role::kVideo) firstNumber = number;
        const uint32_t expected = uint32_t(firstNumber + f);
        if (number != expected)
            return "has a damaged frame header (frame number " + std::to_string(number) + ", expected " +
                   std::to_string(expected) + ")";
        if (effect) {
            if (const char* fault = EffectMarksFault(frame, uint32_t(f), it.head.numFrames, it.effectKind))
                return "has damaged effect marks (" + std::string(fault) + ")";
            const int kind = frame[18];
            // Against the first frame whose marks are sound.
            if (firstKind < 0) firstKind = kind;
            else if (kind != firstKind)
                return "has damaged effect marks (transition kind " + std::to_string(kind) + ", the earlier frames' is " +
                       std::to_string(firstKind) + ")";
        }
        if (std::memcmp(slot, kAudioChunkMagic, 4) != 0) return "has a damaged audio chunk (no KAQ1 magic)";
        const uint32_t audioNumber = ReadBE32(slot + 8);
        if (audioNumber != number)
            return "has a damaged audio chunk (frame number " + std::to_string(audioNumber) + ", the frame's is " +
                   std::to_string(number) + ")";
        const int words = ReadBE16(slot + 12);
        const int share = AudioShareBytes(logo || effect ? 50 : mode.frameRate, number);
        const int wantWords = AudioChunkLengthWords(share);
        if (words != wantWords)
            return "has a damaged audio chunk (length " + std::to_string(words) + " words, expected " +
                   std::to_string(wantWords) + ")";
        return {};
    }
};

}  // namespace

CheckReport CheckCard(IOperator& op, CSDCard& card, CheckFrames frames) {
    Checker c{op, card, frames, {}, {}, {}, {}, 0, true};
    LogMessage(2, "check: %s, frames %d", card.Path().c_str(), int(frames));
    if (!c.CheckDirectoryBlock()) return c.report;
    c.CheckRunsAndHeads();
    c.CheckPlaylists();
    c.CheckFreeSpace();
    c.CheckSlots();
    return c.report;
}

std::string CheckSummaryText(const CheckReport& r) {
    if (!r.readable) return "check: the card could not be read";
    std::string text = "check: ";
    if (r.formatted) {
        text += std::to_string(r.items) + " items, " + std::to_string(r.framesChecked) + " frames (" +
                std::to_string(r.framesDecoded) + " decoded), " + std::to_string(r.freeClusters) + " of " +
                std::to_string(r.itemAreaClusters) + " clusters free";
    } else {
        text += "not formatted";
    }
    if (r.stopped) text += ", stopped";
    if (r.findings.empty())
        text += ": clean";
    else
        text += ": " + std::to_string(r.findings.size()) + (r.findings.size() == 1 ? " problem" : " problems");
    return text;
}

}  // namespace rk
