#include "card/card_directory.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "base/log.h"
#include "base/string_ids.h"
#include "base/texts.h"
#include "card/video_modes.h"

namespace rk {

namespace {

constexpr uint8_t kMagic[4] = {'K', 'V', 'H', '1'};

constexpr size_t VideoOff(int v) { return kOffVideos + kVideoEntrySize * size_t(v); }
constexpr size_t StillOff(int s) { return kOffStills + kStillEntrySize * size_t(s); }
constexpr size_t EffectOff(int e) { return kOffEffects + kEffectEntrySize * size_t(e); }
constexpr size_t LogoOff(int l) { return kOffLogos + kLogoEntrySize * size_t(l); }
constexpr size_t RecordOff(int p) { return kOffPlaylistRecords + kPlaylistRecordSize * size_t(p); }
constexpr size_t TableOff(int p, int j) { return kOffPlaylistTable + kPlaylistRowSize * size_t(p) + kEntryHeadSize * size_t(j); }

static_assert(VideoOff(kVideoCount) == kOffChecksum, "video table ends at the checksum");
static_assert(RecordOff(kPlaylistCount) == kOffVideos, "playlist records end at the video table");
static_assert(kOffSpare + kSpareSize == kOffPlaylistRecords, "spare region ends at the playlist records");
static_assert(LogoOff(kLogoCount) == kOffSpare, "logos end at the spare region");
static_assert(EffectOff(kEffectCount) == kOffMagic, "effects end at the magic");
static_assert(StillOff(kStillCount) == kOffEffects, "stills end at the effects");

// Appends the UTF-8 form of code point `cp`.
void PutUtf8(std::string& out, uint32_t cp) {
    if (cp < 0x80) {
        out.push_back(char(cp));
    } else if (cp < 0x800) {
        out.push_back(char(0xC0 | (cp >> 6)));
        out.push_back(char(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
        out.push_back(char(0xE0 | (cp >> 12)));
        out.push_back(char(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(char(0x80 | (cp & 0x3F)));
    } else {
        out.push_back(char(0xF0 | (cp >> 18)));
        out.push_back(char(0x80 | ((cp >> 12) & 0x3F)));
        out.push_back(char(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(char(0x80 | (cp & 0x3F)));
    }
}

}  // namespace

uint16_t Crc16Modbus(const uint8_t* data, size_t size) {
    static const auto table = [] {
        std::array<uint16_t, 256> t{};
        for (unsigned i = 0; i < 256; ++i) {
            uint16_t c = uint16_t(i);
            for (int k = 0; k < 8; ++k) c = (c & 1) ? uint16_t((c >> 1) ^ 0xA001) : uint16_t(c >> 1);
            t[i] = c;
        }
        return t;
    }();
    uint16_t crc = 0xFFFF;
    for (size_t i = 0; i < size; ++i) crc = uint16_t((crc >> 8) ^ table[(crc ^ data[i]) & 0xFF]);
    return crc;
}

CardRegions CardRegions::For(int videoMode, int64_t totalSectors) {
    CardRegions r;
    const int x = ClustersPerFrameOfMode(videoMode);
    r.clustersPerFrame = x;
    r.firstTitleCluster = 3;
    r.titleAreaSize = 16 * x;
    r.firstStillCluster = 16 * x + 3;
    r.stillAreaSize = kStillCount * (x + int(kThumbnailClusters));
    r.firstItemCluster = r.titleAreaSize + r.stillAreaSize + 3;
    r.totalClusters = totalSectors > 0 ? int64_t(uint64_t(totalSectors) / kSectorsPerCluster) : 0;
    r.itemAreaClusters = int32_t(r.totalClusters - r.firstItemCluster);
    return r;
}

// ---- Little-endian fields ----

uint16_t CardDirectory::U16(size_t off) const { return uint16_t(bytes_[off] | (bytes_[off + 1] << 8)); }

uint32_t CardDirectory::U32(size_t off) const {
    return uint32_t(bytes_[off]) | (uint32_t(bytes_[off + 1]) << 8) | (uint32_t(bytes_[off + 2]) << 16) |
           (uint32_t(bytes_[off + 3]) << 24);
}

void CardDirectory::PutU16(size_t off, uint16_t v) {
    bytes_[off] = uint8_t(v);
    bytes_[off + 1] = uint8_t(v >> 8);
}

void CardDirectory::PutU32(size_t off, uint32_t v) {
    for (int i = 0; i < 4; ++i) bytes_[off + i] = uint8_t(v >> (8 * i));
}

EntryHead CardDirectory::HeadAt(size_t off) const { return {U32(off), U16(off + 4), U16(off + 6)}; }

void CardDirectory::PutHeadAt(size_t off, const EntryHead& h) {
    PutU32(off, h.startCluster);
    PutU16(off + 4, h.numFrames);
    PutU16(off + 6, h.clustersPerFrame);
}

// ---- Validation and stamping ----

uint16_t CardDirectory::StoredChecksum() const { return U16(kOffChecksum); }
uint16_t CardDirectory::ComputedChecksum() const { return Crc16Modbus(bytes_.data(), kOffChecksum); }
uint32_t CardDirectory::StoredVideoMode() const { return U32(kOffVideoMode); }

DirectoryCheck CardDirectory::Check() const {
    if (ComputedChecksum() != StoredChecksum()) return DirectoryCheck::kBadChecksum;
    if (std::memcmp(bytes_.data() + kOffMagic, kMagic, 4) != 0) return DirectoryCheck::kBadMagic;
    if (StoredVideoMode() > 8) return DirectoryCheck::kBadMode;
    return DirectoryCheck::kValid;
}

void CardDirectory::RebuildPlaylistTable(int x) {
    std::memset(bytes_.data() + kOffPlaylistTable, 0, kPlaylistCount * kPlaylistRowSize);
    for (int p = 0; p < kPlaylistCount; ++p) {
        int32_t k = ClipCount(p);
        if (k <= 0) continue;
        // A record claiming more clips than a row holds is cut to the row.
        if (k > kMaxClipsPerPlaylist) k = kMaxClipsPerPlaylist;
        uint16_t frames = uint16_t(k & 0xFFFF);
        if (LoopFlag(p) != 0) frames |= 0x8000;
        PutHeadAt(TableOff(p, 0), {uint32_t(3 + p * x), frames, uint16_t(x)});
        for (int j = 1; j <= k; ++j) {
            int32_t v = Clip(p, j - 1);
            // A clip naming no video entry gets an empty entry rather than
            // bytes from outside the video table.
            if (v < 0 || v >= kVideoCount) continue;
            std::memcpy(bytes_.data() + TableOff(p, j), bytes_.data() + VideoOff(v), kEntryHeadSize);
        }
    }
}

void CardDirectory::StampMagicAndMode(uint32_t videoMode) {
    std::memcpy(bytes_.data() + kOffMagic, kMagic, 4);
    PutU32(kOffVideoMode, videoMode);
}

void CardDirectory::StoreChecksum() { PutU16(kOffChecksum, ComputedChecksum()); }

void CardDirectory::PrepareForWrite(uint32_t videoMode, int x) {
    RebuildPlaylistTable(x);
    StampMagicAndMode(videoMode);
    StoreChecksum();
}

// ---- Entries ----

EntryHead CardDirectory::Video(int v) const { return HeadAt(VideoOff(v)); }
void CardDirectory::SetVideo(int v, const EntryHead& h) { PutHeadAt(VideoOff(v), h); }
EntryHead CardDirectory::Still(int s) const { return HeadAt(StillOff(s)); }
void CardDirectory::SetStill(int s, const EntryHead& h) { PutHeadAt(StillOff(s), h); }
EntryHead CardDirectory::Effect(int e) const { return HeadAt(EffectOff(e)); }
void CardDirectory::SetEffect(int e, const EntryHead& h) { PutHeadAt(EffectOff(e), h); }
EntryHead CardDirectory::Logo(int l) const { return HeadAt(LogoOff(l)); }
void CardDirectory::SetLogo(int l, const EntryHead& h) { PutHeadAt(LogoOff(l), h); }
EntryHead CardDirectory::PlaylistTableEntry(int p, int j) const { return HeadAt(TableOff(p, j)); }

EntryHead CardDirectory::Item(ItemKind kind, int index) const {
    switch (kind) {
        case kKindVideo: return Video(index);
        case kKindEffect: return Effect(index);
        case kKindLogo: return Logo(index);
        default: return {};
    }
}

void CardDirectory::SetItem(ItemKind kind, int index, const EntryHead& h) {
    switch (kind) {
        case kKindVideo: SetVideo(index, h); break;
        case kKindEffect: SetEffect(index, h); break;
        case kKindLogo: SetLogo(index, h); break;
        default: break;
    }
}

void CardDirectory::ClearVideo(int v) { std::memset(bytes_.data() + VideoOff(v), 0, kVideoEntrySize); }
void CardDirectory::ClearEffect(int e) { std::memset(bytes_.data() + EffectOff(e), 0, kEffectEntrySize); }
void CardDirectory::ClearLogo(int l) { std::memset(bytes_.data() + LogoOff(l), 0, kLogoEntrySize); }
void CardDirectory::ClearStill(int s) { std::memset(bytes_.data() + StillOff(s), 0, kStillEntrySize); }

std::u16string CardDirectory::VideoName(int v) const {
    std::u16string name;
    const size_t base = VideoOff(v) + kEntryHeadSize;
    for (int i = 0; i < kVideoNameUnits; ++i) {
        char16_t c = char16_t(U16(base + 2 * size_t(i)));
        if (c == 0) break;
        name.push_back(c);
    }
    return name;
}

void CardDirectory::SetVideoName(int v, std::u16string_view name) {
    const size_t base = VideoOff(v) + kEntryHeadSize;
    std::memset(bytes_.data() + base, 0, 2 * kVideoNameUnits);
    const size_t n = EntryNameCut(name);
    for (size_t i = 0; i < n; ++i) {
        if (name[i] == 0) break;
        PutU16(base + 2 * i, uint16_t(name[i]));
    }
}

std::u16string EntryNameFromUtf8(std::string_view s) {
    std::u16string u;
    for (size_t i = 0; i < s.size();) {
        uint8_t b = uint8_t(s[i]);
        uint32_t cp = 0xFFFD;
        size_t len = 1;
        if (b < 0x80) {
            cp = b;
        } else if ((b & 0xE0) == 0xC0) {
            len = 2;
        } else if ((b & 0xF0) == 0xE0) {
            len = 3;
        } else if ((b & 0xF8) == 0xF0) {
            len = 4;
        }
        if (len > 1) {
            if (i + len > s.size()) {
                len = 1;
            } else {
                cp = b & (0x7F >> len);
                bool ok = true;
                for (size_t k = 1; k < len; ++k) {
                    uint8_t c = uint8_t(s[i + k]);
                    if ((c & 0xC0) != 0x80) ok = false;
                    cp = (cp << 6) | (c & 0x3F);
                }
                if (!ok || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
                    cp = 0xFFFD;
                    len = 1;
                }
            }
        }
        if (cp >= 0x10000) {
            cp -= 0x10000;
            u.push_back(char16_t(0xD800 + (cp >> 10)));
            u.push_back(char16_t(0xDC00 + (cp & 0x3FF)));
        } else {
            u.push_back(char16_t(cp));
        }
        i += len;
    }
    return u;
}

std::string Utf8FromEntryName(std::u16string_view u) {
    std::string out;
    for (size_t i = 0; i < u.size(); ++i) {
        uint32_t c = u[i];
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < u.size() && u[i + 1] >= 0xDC00 && u[i + 1] <= 0xDFFF) {
            c = 0x10000 + ((c - 0xD800) << 10) + (uint32_t(u[i + 1]) - 0xDC00);
            ++i;
        } else if (c >= 0xD800 && c <= 0xDFFF) {
            c = 0xFFFD;
        }
        PutUtf8(out, c);
    }
    return out;
}

size_t EntryNameCut(std::u16string_view name) {
    size_t n = std::min<size_t>(name.size(), kVideoNameMaxChars);
    // Never leave half of a surrogate pair at the cut.
    if (n == kVideoNameMaxChars && n < name.size() && name[n - 1] >= 0xD800 && name[n - 1] <= 0xDBFF) --n;
    return n;
}

std::string CutEntryName(std::string_view utf8) {
    std::u16string u = EntryNameFromUtf8(utf8);
    u.resize(EntryNameCut(u));
    return Utf8FromEntryName(u);
}

std::string CardDirectory::VideoNameUtf8(int v) const { return Utf8FromEntryName(VideoName(v)); }

void CardDirectory::SetVideoNameUtf8(int v, std::string_view s) { SetVideoName(v, EntryNameFromUtf8(s)); }

uint8_t CardDirectory::EffectSwitch(int e) const { return bytes_[EffectOff(e) + 8]; }
uint8_t CardDirectory::EffectHue(int e) const { return bytes_[EffectOff(e) + 9]; }
void CardDirectory::SetEffectSwitch(int e, uint8_t v) { bytes_[EffectOff(e) + 8] = v; }
void CardDirectory::SetEffectHue(int e, uint8_t v) { bytes_[EffectOff(e) + 9] = v; }

int32_t CardDirectory::ClipCount(int p) const { return int32_t(U32(RecordOff(p))); }
void CardDirectory::SetClipCount(int p, int32_t c) { PutU32(RecordOff(p), uint32_t(c)); }
int32_t CardDirectory::Clip(int p, int i) const { return int32_t(U32(RecordOff(p) + 4 + 4 * size_t(i))); }
void CardDirectory::SetClip(int p, int i, int32_t v) { PutU32(RecordOff(p) + 4 + 4 * size_t(i), uint32_t(v)); }
uint8_t CardDirectory::LoopFlag(int p) const { return bytes_[RecordOff(p) + 64]; }
bool CardDirectory::Loops(int p) const { return LoopFlag(p) != 0; }
void CardDirectory::SetLoopFlag(int p, uint8_t f) { bytes_[RecordOff(p) + 64] = f; }

// ---- Queries ----

namespace {

// The used ones among the `count` entry heads `head(i)` answers.
template <typename Head>
int CountUsed(int count, Head head) {
    int n = 0;
    for (int i = 0; i < count; ++i) n += head(i).Used();
    return n;
}

// Clusters of the runs of the used ones among them.
template <typename Head>
int64_t UsedRunClusters(int count, Head head) {
    int64_t clusters = 0;
    for (int i = 0; i < count; ++i)
        if (EntryHead h = head(i); h.Used()) clusters += int64_t(h.RunClusters());
    return clusters;
}

}  // namespace

int UsedVideoCount(const CardDirectory& d) { return CountUsed(kVideoCount, [&](int v) { return d.Video(v); }); }
int UsedStillCount(const CardDirectory& d) { return CountUsed(kStillCount, [&](int s) { return d.Still(s); }); }
int UsedEffectCount(const CardDirectory& d) { return CountUsed(kEffectCount, [&](int e) { return d.Effect(e); }); }
int UsedLogoCount(const CardDirectory& d) { return CountUsed(kLogoCount, [&](int l) { return d.Logo(l); }); }

int ListPositionOfVideo(const CardDirectory& d, int v) {
    if (v < 0) return -1;
    int n = 0;
    for (int i = 0; i < v && i < kVideoCount; ++i) n += d.Video(i).Used();
    return n;
}

int VideoOfListPosition(const CardDirectory& d, int n) {
    if (n < 0) return -1;
    for (int v = 0; v < kVideoCount; ++v) {
        if (!d.Video(v).Used()) continue;
        if (n-- == 0) return v;
    }
    return -1;
}

uint32_t EffectThumbnailCluster(const CardDirectory& d, int e) { return uint32_t(d.Effect(e).ThumbnailCluster()); }
uint32_t LogoThumbnailCluster(const CardDirectory& d, int l) { return uint32_t(d.Logo(l).ThumbnailCluster()); }

std::string FramesDurationText(int64_t frames, int rate) {
    if (rate <= 0) rate = 50;
    int64_t s = frames / rate;
    char buf[64];
    std::snprintf(buf, sizeof buf, "%d:%02d:%02d.%02d", int(s / 3600), int((s / 60) % 60), int(s % 60),
                  int(frames % rate));
    return buf;
}

std::string DurationText(int64_t frames, int clustersPerFrame, int rate) {
    int64_t k = (frames * clustersPerFrame + 1) * int64_t(kClusterSize) / 1000;
    char buf[64];
    std::snprintf(buf, sizeof buf, " (%d.%dMB)", int(k / 1000), int((k % 1000) / 100));
    return FramesDurationText(frames, rate) + buf;
}

std::string SizeText(int32_t mb) {
    std::string t = mb < 1000 ? FormatText(IDS_SIZE_MB, mb) : FormatText(IDS_SIZE_GB, mb / 1000, (mb % 1000) / 100);
    if (!t.empty()) return t;
    char buf[32];
    if (mb < 1000)
        std::snprintf(buf, sizeof buf, "%d MB", mb);
    else
        std::snprintf(buf, sizeof buf, "%d.%d GB", mb / 1000, (mb % 1000) / 100);
    return buf;
}

std::string VideoText(const CardDirectory& d, int v, int displayRate) {
    if (v < 0 || v >= kVideoCount) return {};
    EntryHead h = d.Video(v);
    if (!h.Used()) return {};
    std::string name = d.VideoNameUtf8(v);
    std::string text = name.empty() ? std::string() : name + "\r";
    return text + DurationText(h.numFrames, h.clustersPerFrame, displayRate);
}

int32_t CountFreeClusters(const CardDirectory& d, int32_t itemAreaClusters) {
    const int64_t free = itemAreaClusters - UsedRunClusters(kVideoCount, [&](int v) { return d.Video(v); }) -
                         UsedRunClusters(kEffectCount, [&](int e) { return d.Effect(e); }) -
                         UsedRunClusters(kLogoCount, [&](int l) { return d.Logo(l); });
    return free < 0 ? 0 : int32_t(free);
}

std::vector<DumpLine> DirectoryDumpLines(const CardDirectory& d, uint32_t videoMode, int32_t freeClusters,
                                         int32_t itemAreaClusters) {
    std::vector<DumpLine> out;
    auto line = [&](int level, const char* fmt, auto... args) {
        char buf[160];
        std::snprintf(buf, sizeof buf, fmt, args...);
        out.push_back({level, buf});
    };
    auto headLine = [&](int i, const EntryHead& h) {
        line(3, "%02d: %8d, %8d, %8d", i, int(h.numFrames), int(h.clustersPerFrame), int(h.startCluster));
    };
    line(2, "Video mode: %d", int(videoMode));
    line(3, "%d of %d clusters available", freeClusters, itemAreaClusters);
    line(3, "%s", "Files:");
    line(3, "%s", "i, NumFrames, ClustersPerFrame, StartCluster");
    for (int v = 0; v < kVideoCount; ++v)
        if (d.Video(v).Used()) headLine(v, d.Video(v));
    line(3, "%s", "Playlists:");
    for (int p = 0; p < kPlaylistCount; ++p) {
        if (d.PlaylistTableEntry(p, 0).numFrames == 0) continue;
        line(3, "Playlist %d:", p);
        line(3, "%s", "StartCluster, NumFrames, ClustersPerFrame");
        for (int j = 0; j < kPlaylistRowEntries; ++j) {
            EntryHead h = d.PlaylistTableEntry(p, j);
            if (h.numFrames == 0) break;
            line(3, "%02d: %8d, %8d, %8d", j, int(h.startCluster), int(h.numFrames), int(h.clustersPerFrame));
        }
    }
    line(3, "%s", "Stills:");
    line(3, "%s", "i, NumFrames, ClustersPerFrame, StartCluster");
    for (int s = 0; s < kStillCount; ++s)
        if (d.Still(s).Used()) headLine(s, d.Still(s));
    line(3, "%s", "Effects:");
    line(3, "%s", "i, NumFrames, ClustersPerFrame, StartCluster, Switch, Hue");
    for (int e = 0; e < kEffectCount; ++e) {
        EntryHead h = d.Effect(e);
        if (!h.Used()) continue;
        line(3, "%02d: %8d, %8d, %8d, %8d, %8d", e, int(h.numFrames), int(h.clustersPerFrame), int(h.startCluster),
             int(d.EffectSwitch(e)), int(d.EffectHue(e)));
    }
    line(3, "%s", "Logos:");
    line(3, "%s", "i, NumFrames, ClustersPerFrame, StartCluster");
    for (int l = 0; l < kLogoCount; ++l)
        if (d.Logo(l).Used()) headLine(l, d.Logo(l));
    return out;
}

void LogDirectoryDump(const CardDirectory& d, uint32_t videoMode, int32_t freeClusters, int32_t itemAreaClusters) {
    if (!LogVerbose()) {
        LogMessage(2, "Video mode: %d", int(videoMode));
        return;
    }
    for (const auto& l : DirectoryDumpLines(d, videoMode, freeClusters, itemAreaClusters))
        LogMessage(l.level, "%s", l.text.c_str());
}

}  // namespace rk
