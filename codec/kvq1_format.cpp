#include "codec/kvq1_format.h"

namespace rk {

namespace {

// The two size classes: picture and slot.
struct SizeClassRow {
    KVQ1Geometry picture;
    int clustersPerFrame;
};
constexpr SizeClassRow kSizeClasses[] = {
    {{1, 1920, 1080, 1088, 68, 120}, 33},
    {{2, 3840, 2160, 2160, 135, 240}, 65},
};

const SizeClassRow* FindSizeClass(int sizeClass) {
    for (const SizeClassRow& r : kSizeClasses)
        if (r.picture.sizeClass == sizeClass) return &r;
    return nullptr;
}

constexpr int kDefaultRateCode = 50;

}  // namespace

KVQ1Geometry KVQ1GeometryFor(int sizeClass) {
    const SizeClassRow* r = FindSizeClass(sizeClass);
    return r ? r->picture : KVQ1Geometry{};
}

SlotGeometry SlotGeometryFor(int sizeClass) {
    SlotGeometry g;
    if (const SizeClassRow* r = FindSizeClass(sizeClass)) {
        g.sizeClass = sizeClass;
        g.clustersPerFrame = r->clustersPerFrame;
        g.slotBytes = g.clustersPerFrame * kClusterBytes;
        g.budgetSectors = FrameBudgetSectors(g.clustersPerFrame);
        g.budgetBytes = g.budgetSectors * 512;
    }
    return g;
}

int NormaliseFrameRateCode(int code) { return code == 0 ? kDefaultRateCode : code; }

const KVQ1FrameRate* FindFrameRate(int code) {
    code = NormaliseFrameRateCode(code);
    for (const KVQ1FrameRate& r : kKVQ1FrameRates)
        if (r.code == code) return &r;
    return nullptr;
}

const KVQ1FrameRate& FrameRateOrDefault(int code) {
    const KVQ1FrameRate* r = FindFrameRate(code);
    return r ? *r : *FindFrameRate(kDefaultRateCode);
}

bool IsKnownFrameRateCode(int code) { return FindFrameRate(code) != nullptr; }

bool FrameRateFraction(int code, int& numerator, int& denominator) {
    const KVQ1FrameRate* r = FindFrameRate(code);
    if (!r) return false;
    numerator = r->numerator;
    denominator = r->denominator;
    return true;
}

}  // namespace rk
