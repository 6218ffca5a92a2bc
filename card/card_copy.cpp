#include "card/card_copy.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>
#include <thread>

#include "base/log.h"
#include "card/card_device.h"
#include "card/directory_journal.h"
#include "card/sd_card.h"

namespace rk {

std::vector<ClusterRange> ReferencedClusters(const CardDirectory& dir, const CardRegions& regions) {
    std::vector<ClusterRange> r;
    const uint64_t total = regions.totalClusters > 0 ? uint64_t(regions.totalClusters) : 0;
    auto add = [&](uint64_t first, uint64_t count) {
        if (first >= total || count == 0) return;
        r.push_back({first, std::min(count, total - first)});
    };
    add(0, kDirectoryClusters);
    const uint64_t x = uint64_t(regions.clustersPerFrame);
    for (int p = 0; p < kPlaylistCount; ++p)
        if (dir.ClipCount(p) > 0) add(regions.TitleCluster(p), x);
    for (int s = 0; s < kStillCount; ++s)
        if (dir.Still(s).Used()) add(regions.StillCluster(s), x + kThumbnailClusters);
    auto addRun = [&](const EntryHead& h) {
        if (h.Used()) add(h.startCluster, h.RunClusters());
    };
    for (int v = 0; v < kVideoCount; ++v) addRun(dir.Video(v));
    for (int e = 0; e < kEffectCount; ++e) addRun(dir.Effect(e));
    for (int l = 0; l < kLogoCount; ++l) addRun(dir.Logo(l));
    std::sort(r.begin(), r.end(), [](const ClusterRange& a, const ClusterRange& b) { return a.first < b.first; });
    std::vector<ClusterRange> merged;
    for (const auto& c : r) {
        if (!merged.empty() && c.first <= merged.back().first + merged.back().count) {
            merged.back().count = std::max(merged.back().count, c.first + c.count - merged.back().first);
        } else {
            merged.push_back(c);
        }
    }
    return merged;
}

uint64_t UsedExtentClusters(const std::vector<ClusterRange>& ranges) {
    return ranges.empty() ? 0 : ranges.back().first + ranges.back().count;
}

namespace {

uint64_t DataClusters(const std::vector<ClusterRange>& ranges) {
    uint64_t n = 0;
    for (const auto& c : ranges) n += c.count;
    return n;
}

bool Stopped(const CopyOptions& o) { return o.stop != nullptr && o.stop->load(); }

std::string ClusterError(const char* what, uint64_t cluster, int error) {
    std::string s = std::string(what) + " cluster " + std::to_string(cluster);
    if (error != 0) s += std::string(": ") + std::strerror(error);
    return s;
}

// Copies the ranges (the directory's Clusters 0 to 2 left out) from `from`
// to `to`, chunk by chunk; the caller writes the directory.
bool CopyData(ICardDevice& from, ICardDevice& to, const std::vector<ClusterRange>& ranges, std::vector<uint8_t>& buf,
              const CopyOptions& o, ICopyProgress* progress, int target, uint64_t& done, std::string& error) {
    for (const auto& c : ranges) {
        uint64_t first = c.first, count = c.count;
        if (first < kDirectoryClusters) {
            const uint64_t skip = std::min<uint64_t>(count, kDirectoryClusters - first);
            first += skip;
            count -= skip;
            done += skip;
        }
        while (count > 0) {
            if (Stopped(o)) {
                error = "stopped";
                return false;
            }
            const uint64_t n = std::min<uint64_t>(count, o.chunkClusters);
            const size_t bytes = size_t(n) * kClusterSize;
            int e = 0;
            if (!from.ReadAt(first * kClusterSize, buf.data(), bytes, e)) {
                error = ClusterError("reading", first, e);
                return false;
            }
            if (!to.WriteAt(first * kClusterSize, buf.data(), bytes, e)) {
                error = ClusterError("writing", first, e);
                return false;
            }
            first += n;
            count -= n;
            done += n;
            if (progress) progress->Advance(target, done);
        }
    }
    return true;
}

// Directory last: flush what went before, write it, flush again.
// Writes a directory block at Cluster 0 and makes it durable; `what` names
// the write in an error ("writing", "clearing").
bool WriteDirectoryBlock(ICardDevice& to, const CardDirectory& dir, const char* what, std::string& error) {
    int e = 0;
    if (!to.WriteAt(0, dir.Bytes(), kDirectorySize, e)) {
        error = ClusterError((std::string(what) + " the directory at").c_str(), 0, e);
        return false;
    }
    if (!to.Flush(e)) {
        error = std::string("flushing the directory: ") + std::strerror(e);
        return false;
    }
    return true;
}

bool WriteDirectoryLast(ICardDevice& to, const CardDirectory& dir, std::string& error) {
    int e = 0;
    if (!to.Flush(e)) {
        error = std::string("flushing: ") + std::strerror(e);
        return false;
    }
    return WriteDirectoryBlock(to, dir, "writing", error);
}

// A target's directory is made unreadable, and that made durable, before
// the first Cluster of the image lands on it: a restore cut short leaves a
// card that says it is not formatted rather than its old directory pointing
// at half-overwritten items. The journal keeps the old directory first, so
// `recover` can still put it back.
bool InvalidateDirectory(CSDCard& card, const CardDirectory& old, std::string& error) {
    ICardDevice& to = *card.Device();
    const CardDirectory blank;
    const int oldMode = old.IsValid() ? int(old.StoredVideoMode()) : card.VideoMode();
    JournalTargetDirectory(card, oldMode, old, blank);
    return WriteDirectoryBlock(to, blank, "clearing", error);
}

}  // namespace

void JournalTargetDirectory(CSDCard& card, int mode, const CardDirectory& previous, const CardDirectory& next) {
    const std::string folder = DefaultJournalFolder();
    if (folder.empty() || previous == next) return;
    const CardIdentity id =
        CardIdentityOf(card.Kind() == DeviceKind::kBlockDevice, card.Path(), card.TotalSectors(), mode);
    if (!CDirectoryJournal(folder).Record(id, previous, next))
        LogMessage(2, "restore: journal: not recorded for %s", card.Path().c_str());
}

CopyOutcome BackupCard(CSDCard& source, const std::string& outPath, ICopyProgress* progress,
                       const CopyOptions& o) {
    CopyOutcome out;
    if (!source.IsOpen() || !source.IsDirectoryValid() || source.Device() == nullptr) {
        out.error = "the card is not formatted";
        return out;
    }
    const auto ranges = ReferencedClusters(source.Directory(), source.Regions());
    int e = 0;
    if (!CreateCardImage(outPath, uint64_t(source.TotalSectors()) * kSectorSize, e)) {
        out.error = outPath + ": " + std::strerror(e);
        return out;
    }
    std::unique_ptr<ICardDevice> image;
    if (OpenCardDevice(outPath, image, e) != kOpenOk) {
        out.error = outPath + ": " + std::strerror(e);
        return out;
    }
    std::vector<uint8_t> buf(size_t(std::max<uint32_t>(o.chunkClusters, 1)) * kClusterSize);
    CopyOptions opt = o;
    opt.chunkClusters = std::max<uint32_t>(o.chunkClusters, 1);
    if (progress) progress->Begin(0, DataClusters(ranges));
    uint64_t done = 0;
    // The directory as read from the card, byte for byte.
    CardDirectory dir;
    if (!source.Device()->ReadAt(0, dir.Bytes(), kDirectorySize, e)) {
        out.error = ClusterError("reading", 0, e);
        return out;
    }
    if (!CopyData(*source.Device(), *image, ranges, buf, opt, progress, 0, done, out.error)) return out;
    if (!WriteDirectoryLast(*image, dir, out.error)) return out;
    out.directoryWritten = true;
    if (progress) progress->Advance(0, DataClusters(ranges));
    out.ok = true;
    LogMessage(2, "backup: %s: %llu clusters", outPath.c_str(), (unsigned long long)DataClusters(ranges));
    return out;
}

std::vector<CopyOutcome> RestoreImage(CSDCard& image, const std::vector<CSDCard*>& targets, ICopyProgress* progress,
                                      const CopyOptions& o) {
    std::vector<CopyOutcome> outcomes(targets.size());
    if (!image.IsDirectoryValid() || image.Device() == nullptr) {
        for (auto& out : outcomes) out.error = "the image holds no card directory";
        return outcomes;
    }
    CardDirectory dir;
    int e = 0;
    if (!image.Device()->ReadAt(0, dir.Bytes(), kDirectorySize, e)) {
        for (auto& out : outcomes) out.error = ClusterError("reading the image at", 0, e);
        return outcomes;
    }
    const auto ranges = ReferencedClusters(dir, image.Regions());
    const uint64_t extent = UsedExtentClusters(ranges);
    const uint64_t total = DataClusters(ranges);
    CopyOptions opt = o;
    opt.chunkClusters = std::max<uint32_t>(o.chunkClusters, 1);
    ICardDevice& from = *image.Device();  // pread: shared by the threads

    auto restoreOne = [&](int t) {
        CopyOutcome& out = outcomes[size_t(t)];
        CSDCard& card = *targets[size_t(t)];
        if (progress) progress->Begin(t, total * 2);
        if (!card.IsOpen() || card.Device() == nullptr) {
            out.error = "the card is not open";
            return;
        }
        if (uint64_t(card.TotalSectors()) / kSectorsPerCluster < extent) {
            out.error = "the card holds " + std::to_string(card.TotalSectors() / kSectorsPerCluster) +
                        " clusters, the image uses " + std::to_string(extent);
            return;
        }
        ICardDevice& to = *card.Device();
        std::vector<uint8_t> buf(size_t(opt.chunkClusters) * kClusterSize);
        std::vector<uint8_t> back(buf.size());
        uint64_t done = 0;
        if (Stopped(opt)) {
            out.error = "stopped";
            return;
        }
        CardDirectory old;
        int readError = 0;
        if (!to.ReadAt(0, old.Bytes(), kDirectorySize, readError)) {
            out.error = ClusterError("reading", 0, readError);
            return;
        }
        out.targetTouched = true;
        if (!InvalidateDirectory(card, old, out.error)) return;
        if (!CopyData(from, to, ranges, buf, opt, progress, t, done, out.error)) return;
        JournalTargetDirectory(card, int(dir.StoredVideoMode()), CardDirectory(), dir);
        if (!WriteDirectoryLast(to, dir, out.error)) return;
        out.directoryWritten = true;
        // Verify: every referenced Cluster, the directory included, read back
        // from the card (past the page cache) and compared with the image.
        for (const auto& c : ranges) {
            for (uint64_t first = c.first, left = c.count; left > 0;) {
                if (Stopped(opt)) {
                    out.error = "stopped while verifying";
                    return;
                }
                const uint64_t n = std::min<uint64_t>(left, opt.chunkClusters);
                const size_t bytes = size_t(n) * kClusterSize;
                int err = 0;
                if (!from.ReadAt(first * kClusterSize, buf.data(), bytes, err)) {
                    out.error = ClusterError("reading the image at", first, err);
                    return;
                }
                if (!to.ReadBackAt(first * kClusterSize, back.data(), bytes, err)) {
                    out.error = ClusterError("reading back", first, err);
                    return;
                }
                for (uint64_t k = 0; k < n; ++k)
                    if (std::memcmp(buf.data() + k * kClusterSize, back.data() + k * kClusterSize, kClusterSize) != 0) {
                        out.error = "cluster " + std::to_string(first + k) + " reads back different from the image";
                        return;
                    }
                first += n;
                left -= n;
                done += n;
                if (progress) progress->Advance(t, done);
            }
        }
        out.ok = true;
    };

    std::vector<std::thread> threads;
    threads.reserve(targets.size());
    for (size_t t = 0; t < targets.size(); ++t) threads.emplace_back(restoreOne, int(t));
    for (auto& th : threads) th.join();
    for (size_t t = 0; t < targets.size(); ++t)
        LogMessage(2, "restore: target %d: %s", int(t), outcomes[t].ok ? "done" : outcomes[t].error.c_str());
    return outcomes;
}

}  // namespace rk
