#include "card/run_check.h"

#include "base/string_ids.h"
#include "base/texts.h"

namespace rk {

namespace {

struct Run {
    ItemKind kind;
    int entry;
    uint64_t start;
    uint64_t end;  // one past the last Cluster
};

}  // namespace

std::vector<RunProblem> CheckRuns(const CardDirectory& dir, const CardRegions& regions) {
    std::vector<Run> runs;
    runs.reserve(kVideoCount + kEffectCount + kLogoCount);
    auto add = [&](ItemKind kind, int count) {
        for (int i = 0; i < count; ++i) {
            EntryHead h = dir.Item(kind, i);
            if (h.Used()) runs.push_back({kind, i, h.startCluster, uint64_t(h.startCluster) + h.RunClusters()});
        }
    };
    add(kKindVideo, kVideoCount);
    add(kKindEffect, kEffectCount);
    add(kKindLogo, kLogoCount);

    std::vector<RunProblem> problems;
    const uint64_t firstItem = uint64_t(std::max<int32_t>(regions.firstItemCluster, 0));
    const uint64_t total = uint64_t(std::max<int64_t>(regions.totalClusters, 0));
    for (size_t i = 0; i < runs.size(); ++i) {
        const Run& a = runs[i];
        if (a.start < firstItem)
            problems.push_back({RunFault::kOutsideItemArea, a.kind, a.entry});
        else if (a.end > total)
            problems.push_back({RunFault::kPastEnd, a.kind, a.entry});
        for (size_t j = i + 1; j < runs.size(); ++j) {
            const Run& b = runs[j];
            if (a.start < b.end && b.start < a.end)
                problems.push_back({RunFault::kOverlap, a.kind, a.entry, b.kind, b.entry});
        }
    }
    return problems;
}

namespace {

std::string ItemName(ItemKind kind, int entry) {
    int id = kind == kKindEffect ? IDS_ITEM_EFFECT : kind == kKindLogo ? IDS_ITEM_LOGO : IDS_ITEM_VIDEO;
    return FormatText(id, entry + 1);
}

}  // namespace

std::string RunProblemText(const RunProblem& p) {
    switch (p.fault) {
    case RunFault::kOverlap:
        if (p.firstKind == p.secondKind) {
            int id = p.firstKind == kKindEffect  ? IDS_EFFECTS_SHARE_CLUSTERS
                     : p.firstKind == kKindLogo ? IDS_LOGOS_SHARE_CLUSTERS
                                                : IDS_VIDEOS_SHARE_CLUSTERS;
            return FormatText(id, p.firstEntry + 1, p.secondEntry + 1);
        }
        return FormatText(IDS_ITEMS_SHARE_CLUSTERS, ItemName(p.firstKind, p.firstEntry).c_str(),
                          ItemName(p.secondKind, p.secondEntry).c_str());
    case RunFault::kPastEnd:
        return FormatText(IDS_ITEM_PAST_CARD_END, ItemName(p.firstKind, p.firstEntry).c_str());
    case RunFault::kOutsideItemArea:
        return FormatText(IDS_ITEM_OUTSIDE_ITEM_AREA, ItemName(p.firstKind, p.firstEntry).c_str());
    }
    return {};
}

}  // namespace rk
