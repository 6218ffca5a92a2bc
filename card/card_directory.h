#pragma once
// The card's directory: the 36864-byte block in Clusters 0 to 2 that indexes
// every item on the card. The block is held as its exact byte image
// (little-endian, packed); the accessors below read and change fields in
// place, so bytes nobody names (the spare region, reserved bytes) pass
// through a read and a write untouched.
#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace rk {

// ---- Units ---------------------------------------------------------------
inline constexpr uint32_t kSectorSize = 512;
inline constexpr uint32_t kClusterSize = 0x3000;  // 12288 bytes, 24 sectors
inline constexpr uint32_t kSectorsPerCluster = kClusterSize / kSectorSize;
inline constexpr uint32_t kDirectoryClusters = 3;
inline constexpr uint32_t kDirectorySize = kDirectoryClusters * kClusterSize;  // 36864
inline constexpr uint32_t kThumbnailClusters = 2;
inline constexpr uint32_t kThumbnailBlockSize = kThumbnailClusters * kClusterSize;  // 24576
// An entry counts its frames in 16 bits.
inline constexpr uint32_t kMaxEntryFrames = 0xFFFF;

// ---- Table sizes and offsets ---------------------------------------------
inline constexpr int kPlaylistCount = 16;
inline constexpr int kPlaylistRowEntries = 16;  // title card + up to 15 clips
inline constexpr int kMaxClipsPerPlaylist = 15;
inline constexpr int kStillCount = 32;
inline constexpr int kEffectCount = 16;
inline constexpr int kLogoCount = 8;
inline constexpr int kVideoCount = 99;
inline constexpr int kVideoNameUnits = 128;  // UTF-16 code units, zero-terminated
inline constexpr int kVideoNameMaxChars = 127;

inline constexpr size_t kEntryHeadSize = 8;
inline constexpr size_t kOffPlaylistTable = 0;      // 16 rows x 16 entries x 8 bytes
inline constexpr size_t kOffStills = 2048;          // 32 x 8
inline constexpr size_t kOffEffects = 2304;         // 16 x 16
inline constexpr size_t kOffMagic = 2560;           // "KVH1"
inline constexpr size_t kOffVideoMode = 2564;       // u32
inline constexpr size_t kOffLogos = 2568;           // 8 x 16
inline constexpr size_t kOffSpare = 2696;           // 6942 bytes, passed through
inline constexpr size_t kSpareSize = 6942;
inline constexpr size_t kOffPlaylistRecords = 9638; // 16 x 68
inline constexpr size_t kOffVideos = 10726;         // 99 x 264
inline constexpr size_t kOffChecksum = 36862;       // u16, CRC-16/MODBUS of bytes 0..36861

inline constexpr size_t kPlaylistRowSize = kPlaylistRowEntries * kEntryHeadSize;  // 128
inline constexpr size_t kStillEntrySize = 8;
inline constexpr size_t kEffectEntrySize = 16;
inline constexpr size_t kLogoEntrySize = 16;
inline constexpr size_t kPlaylistRecordSize = 68;
inline constexpr size_t kVideoEntrySize = 264;

// Run record kinds, also used to name the table an item lives in.
enum ItemKind : int32_t { kKindEndMarker = 0, kKindVideo = 1, kKindEffect = 2, kKindLogo = 3 };

// CRC-16/MODBUS (reflected 0x8005, init 0xFFFF, no final XOR). "123456789" gives 0x4B37.
uint16_t Crc16Modbus(const uint8_t* data, size_t size);

// The first 8 bytes of every entry of every table.
struct EntryHead {
    uint32_t startCluster = 0;
    uint16_t numFrames = 0;         // 0 marks a free entry
    uint16_t clustersPerFrame = 0;

    bool Used() const { return numFrames != 0; }
    // Clusters of the frame slots only.
    uint64_t FrameClusters() const { return uint64_t(numFrames) * clustersPerFrame; }
    // The whole item run: frame slots plus the thumbnail block.
    uint64_t RunClusters() const { return FrameClusters() + kThumbnailClusters; }
    // Where the thumbnail block lies: behind the frame slots.
    uint64_t ThumbnailCluster() const { return uint64_t(startCluster) + FrameClusters(); }
    bool operator==(const EntryHead&) const = default;
};

// The regions of a card, from its clusters-per-frame value X and its size.
struct CardRegions {
    int32_t clustersPerFrame = 0;   // X
    int32_t firstTitleCluster = 0;  // 3
    int32_t titleAreaSize = 0;      // 16 * X
    int32_t firstStillCluster = 0;  // 16 * X + 3
    int32_t stillAreaSize = 0;      // 32 * (X + 2)
    int32_t firstItemCluster = 0;   // 48 * X + 67
    int64_t totalClusters = 0;      // TotalSectors / 24
    int32_t itemAreaClusters = 0;   // totalClusters - firstItemCluster (may be negative on tiny cards)

    static CardRegions For(int videoMode, int64_t totalSectors);
    // Cluster of the title card of playlist p / the frame slot of still s.
    uint32_t TitleCluster(int p) const { return uint32_t(firstTitleCluster + p * clustersPerFrame); }
    uint32_t StillCluster(int s) const {
        return uint32_t(firstStillCluster + s * (clustersPerFrame + int(kThumbnailClusters)));
    }
};

// Why a block read from the card is not a directory (checked in this order).
enum class DirectoryCheck { kValid, kBadChecksum, kBadMagic, kBadMode };

class CardDirectory {
public:
    CardDirectory() { Clear(); }

    // The exact byte image, 36864 bytes.
    uint8_t* Bytes() { return bytes_.data(); }
    const uint8_t* Bytes() const { return bytes_.data(); }
    static constexpr size_t Size() { return kDirectorySize; }
    void Clear() { bytes_.fill(0); }

    // Checksum, then magic, then mode <= 8 (unsigned).
    DirectoryCheck Check() const;
    bool IsValid() const { return Check() == DirectoryCheck::kValid; }

    // Rebuilds the playlist table from the playlist records and the video
    // entries, stamps the magic and `videoMode` and stores the checksum: what
    // every write of the directory does first.
    void PrepareForWrite(uint32_t videoMode, int clustersPerFrame);
    void RebuildPlaylistTable(int clustersPerFrame);
    void StampMagicAndMode(uint32_t videoMode);
    void StoreChecksum();

    uint32_t StoredVideoMode() const;
    uint16_t StoredChecksum() const;
    uint16_t ComputedChecksum() const;

    // ---- Entry heads: index checked by the caller (0-based) ----
    EntryHead Video(int v) const;
    void SetVideo(int v, const EntryHead& head);
    EntryHead Still(int s) const;
    void SetStill(int s, const EntryHead& head);
    EntryHead Effect(int e) const;
    void SetEffect(int e, const EntryHead& head);
    EntryHead Logo(int l) const;
    void SetLogo(int l, const EntryHead& head);
    // Entry j of row p of the playlist table (derived data; rebuilt on write).
    EntryHead PlaylistTableEntry(int p, int j) const;
    // Entry of kind video, effect or logo; an empty head for other kinds.
    EntryHead Item(ItemKind kind, int index) const;
    void SetItem(ItemKind kind, int index, const EntryHead& head);

    // Clears the whole entry (head and the rest of it).
    void ClearVideo(int v);
    void ClearEffect(int e);
    void ClearLogo(int l);
    void ClearStill(int s);

    // Video name: up to 127 UTF-16 code units, zero-terminated, zero behind.
    std::u16string VideoName(int v) const;
    void SetVideoName(int v, std::u16string_view name);  // longer names are cut at 127 units
    std::string VideoNameUtf8(int v) const;
    void SetVideoNameUtf8(int v, std::string_view utf8);

    // Effect entry extras.
    uint8_t EffectSwitch(int e) const;
    uint8_t EffectHue(int e) const;
    void SetEffectSwitch(int e, uint8_t value);
    void SetEffectHue(int e, uint8_t value);

    // Playlist records: the editing model of the playlists.
    int32_t ClipCount(int p) const;
    void SetClipCount(int p, int32_t count);
    int32_t Clip(int p, int i) const;  // i = 0 to 14
    void SetClip(int p, int i, int32_t video);
    bool Loops(int p) const;
    uint8_t LoopFlag(int p) const;
    void SetLoopFlag(int p, uint8_t flag);

    // Little-endian field access at any offset (bounds are the caller's).
    uint16_t U16(size_t off) const;
    uint32_t U32(size_t off) const;
    void PutU16(size_t off, uint16_t v);
    void PutU32(size_t off, uint32_t v);

    bool operator==(const CardDirectory& o) const { return bytes_ == o.bytes_; }

private:
    EntryHead HeadAt(size_t off) const;
    void PutHeadAt(size_t off, const EntryHead& head);
    std::array<uint8_t, kDirectorySize> bytes_;
};

// ---- Read-only queries over a directory (the card's lists use these) ----
int UsedVideoCount(const CardDirectory& d);
int UsedStillCount(const CardDirectory& d);
int UsedEffectCount(const CardDirectory& d);
int UsedLogoCount(const CardDirectory& d);
// Number of used video entries below v; -1 for v = -1.
int ListPositionOfVideo(const CardDirectory& d, int v);
// The entry number of the n-th used video entry counted from 0, or -1.
int VideoOfListPosition(const CardDirectory& d, int n);
// StartCluster + NumFrames * ClustersPerFrame of that entry.
uint32_t EffectThumbnailCluster(const CardDirectory& d, int e);
uint32_t LogoThumbnailCluster(const CardDirectory& d, int l);
// The name, "\r", then the duration text; the name part left out when the
// name is empty; empty for a free entry.
std::string VideoText(const CardDirectory& d, int v, int displayRate);

// Free Clusters of the item area: itemAreaClusters minus the runs of all used
// video, effect and logo entries, never below 0.
int32_t CountFreeClusters(const CardDirectory& d, int32_t itemAreaClusters);

// The directory dump: "Video mode: %d" at level 2, then (verbose log only)
// free space, files, playlists, stills, effects and logos at level 3.
void LogDirectoryDump(const CardDirectory& d, uint32_t videoMode, int32_t freeClusters, int32_t itemAreaClusters);
// The lines of the dump, in order, each with its log level (for the CLI's --dump).
struct DumpLine {
    int level;
    std::string text;
};
std::vector<DumpLine> DirectoryDumpLines(const CardDirectory& d, uint32_t videoMode, int32_t freeClusters,
                                         int32_t itemAreaClusters);

// ---- Entry names: UTF-16 on the card, UTF-8 in the program ----
// Malformed UTF-8 bytes become U+FFFD; lone surrogates read back as U+FFFD.
std::u16string EntryNameFromUtf8(std::string_view utf8);
std::string Utf8FromEntryName(std::u16string_view name);
// How many units of `name` an entry keeps: at most 127, never half of a
// surrogate pair.
size_t EntryNameCut(std::u16string_view name);
// A UTF-8 name cut as the entry will keep it.
std::string CutEntryName(std::string_view utf8);

// ---- Texts the card shows ----
// "%d MB" below 1000, otherwise "%d.%d GB" (1999 gives "1.9 GB").
std::string SizeText(int32_t megabytes);
// "%d:%02d:%02d.%02d (%d.%dMB)" for f frames of c Clusters at display rate r.
std::string DurationText(int64_t frames, int clustersPerFrame, int displayRate);
// "%d:%02d:%02d.%02d" for f frames at display rate r (playlists, effects).
std::string FramesDurationText(int64_t frames, int displayRate);

}  // namespace rk
