#pragma once
// Backing up a card to a sparse image and writing such an image to one or
// more cards. Only the Clusters the directory references are copied: the
// directory, the title cards of playlists that have clips, used stills, and
// the runs of used videos, effects and logos (frames and thumbnail).
//
// A restore writes each target's item data first, flushes, and writes the
// directory last, so a target that fails or is pulled out part-way holds no
// directory pointing at missing data. Each target runs in its own thread;
// one failing never stops the others.
#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "card/card_directory.h"

namespace rk {

class CSDCard;

struct ClusterRange {
    uint64_t first = 0;
    uint64_t count = 0;
};

// The referenced Clusters of `dir` (directory included) on a card of
// `regions`, sorted and merged; ranges are cut at the card's end.
std::vector<ClusterRange> ReferencedClusters(const CardDirectory& dir, const CardRegions& regions);
// One past the last referenced Cluster: how large a target must be.
uint64_t UsedExtentClusters(const std::vector<ClusterRange>& ranges);

// Progress of the copies; called from the copying threads, so an
// implementation must be thread-safe.
class ICopyProgress {
public:
    virtual ~ICopyProgress() = default;
    virtual void Begin(int target, uint64_t totalClusters) = 0;
    virtual void Advance(int target, uint64_t doneClusters) = 0;
};

struct CopyOptions {
    uint32_t chunkClusters = 256;            // Clusters per read and write
    const std::atomic<bool>* stop = nullptr;  // set: every copy stops at its next chunk
};

struct CopyOutcome {
    bool ok = false;
    bool directoryWritten = false;
    bool targetTouched = false;  // restore: the target's old directory was cleared
    std::string error;  // why it failed, in words
};

// Writes the card `source` (valid directory) to a new sparse image file
// `outPath` of the card's size: referenced Clusters, the directory last.
CopyOutcome BackupCard(CSDCard& source, const std::string& outPath, ICopyProgress* progress,
                       const CopyOptions& options = {});

// Writes the card image `image` (open, valid directory) to every card of
// `targets` (open; their operators are not used and should be null), each in
// its own thread, then reads each one back and compares. Outcomes in the
// order of `targets`. Each target's directory is cleared first, its old one
// kept in the journal. The caller checks the image's items first
// (MissingItems): this copies what the directory references, as it is.

// Adds a directory change of a card written past CSDCard (a restore) to
// the journal, keyed as CSDCard keys it for `mode`.
void JournalTargetDirectory(CSDCard& card, int mode, const CardDirectory& previous, const CardDirectory& next);

std::vector<CopyOutcome> RestoreImage(CSDCard& image, const std::vector<CSDCard*>& targets,
                                      ICopyProgress* progress, const CopyOptions& options = {});

}  // namespace rk
