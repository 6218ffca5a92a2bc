#pragma once
// The consistency of the item runs a directory describes: every used video,
// effect and logo run lies inside the item area and no two share a Cluster.
// Compaction moves items by their runs, so it must not start on a directory
// that breaks this (it would copy one item over another); a card check
// reports the same problems.
#include <cstdint>
#include <string>
#include <vector>

#include "card/card_directory.h"

namespace rk {

enum class RunFault {
    kOverlap,         // two runs share at least one Cluster (nested, partial or same start)
    kPastEnd,         // a run reaches past the card's last Cluster
    kOutsideItemArea  // a run begins over the directory, title-card or still regions
};

// One problem; `second` is used for kOverlap only. Items are (kind, entry
// number counted from 0).
struct RunProblem {
    RunFault fault = RunFault::kOverlap;
    ItemKind firstKind = kKindVideo;
    int firstEntry = 0;
    ItemKind secondKind = kKindVideo;
    int secondEntry = 0;
};

// Every problem of the directory's runs against the card's regions, ordered
// by table (videos, effects, logos) and entry number. Empty when the runs are
// sound. Reads nothing but the directory image.
std::vector<RunProblem> CheckRuns(const CardDirectory& dir, const CardRegions& regions);

// The operator's text for a problem, naming the items by number counted from
// 1: "Videos 2 and 3 share clusters; the card needs checking".
std::string RunProblemText(const RunProblem& problem);

}  // namespace rk
