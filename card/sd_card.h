#pragma once
// CSDCard: the one way to a card. It opens a card reader's device or a card
// image exclusively, learns its size, reads, validates and writes the
// directory, derives the card's regions from the video mode and moves whole
// Clusters. A failed card access is shown to the operator once per opening
// ("Media access error!" or "Media write error!..."); further failures until
// the next Open or Close answer false silently.
//
// Writes are ordered and durable: callers write an item's Clusters, then
// WriteDirectory, which flushes the device before and after writing the
// directory, so the directory never points at data that is not on the card.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "card/card_device.h"
#include "card/card_directory.h"
#include "card/directory_journal.h"
#include "card/card_item.h"

namespace rk {

class IOperator;

// The largest card accepted, in MiB (500 GiB).
inline constexpr int64_t kMaxCardMiB = 512000;

class CSDCard {
public:
    // `op` receives the once-per-opening error messages; null shows none
    // (the scan's short-lived probes).
    explicit CSDCard(IOperator* op = nullptr);
    virtual ~CSDCard();
    CSDCard(const CSDCard&) = delete;
    CSDCard& operator=(const CSDCard&) = delete;

    void SetOperator(IOperator* op) { op_ = op; }
    IOperator* Operator() const { return op_; }

    // ---- Opening: 0 ok, 1 failed, 2 access denied (OpenAnswer) ----
    // A card image or block device by path, known to the caller as drive
    // `driveNumber` (0 for none; the drive table's OpenDrive gives it). An
    // empty path fails.
    // `access` kRead opens for work that only reads (its writes fail as on
    // a write-protected card).
    int Open(const std::string& path, int driveNumber = 0, CardAccess access = CardAccess::kReadWrite);
    // The same, by path alone.
    int OpenPath(const std::string& path, CardAccess access = CardAccess::kReadWrite) {
        return Open(path, 0, access);
    }
    // An already opened device (tests put a CFaultDevice here).
    int OpenDevice(std::unique_ptr<ICardDevice> device, int driveNumber = 0);
    // Closes the device; clears the open and error-reported flags.
    void Close();

    // ---- The directory ----
    // Reads and validates the directory, derives the regions and recounts
    // free space. False without a message for a blank or foreign card.
    bool ReadDirectory();
    // Rebuilds the playlist table, stamps magic, mode and checksum and writes
    // the whole block, after flushing the item data written before it and
    // followed by a flush. A write refused because a mounted partition covers
    // the card is retried once after UnmountVolumes. Free space is recounted
    // either way.
    bool WriteDirectory();
    // Writes the directory as it now is; when that fails, puts `before` (the
    // directory as the card still has it) back in memory and recounts free
    // space. Every change of entries ends here.
    bool CommitDirectory(const CardDirectory& before);
    // Commits one item whose frame slots are already on the card: writes its
    // thumbnail block (when given, 24576 bytes) behind its frames, fills its
    // entry (cleared first) and writes the directory, with the rollback of
    // CommitDirectory. False (the card has shown its message) leaves memory
    // as the card has it.
    bool CommitItem(const ItemEntry& entry, const void* thumbnailBlock);
    // Takes this card's mounted partitions (and only those) off line.
    void UnmountVolumes();

    // Sets a new empty directory for `mode` and writes it: only Clusters 0 to
    // 2 are written. False (write message shown once) when the write failed;
    // the in-memory state is then the new empty directory, as after a failed
    // WriteDirectory. Does nothing and answers false when no card is open.
    bool Format(int mode);
    // The mode the format dialog starts with: the card's mode when its
    // directory is valid, else 0.
    int PresetFormatMode() const;

    // ---- Clusters: 64-bit byte offsets; `n` up to 2^31 - 1 and beyond ----
    bool ReadCluster(uint32_t n, void* buffer);                       // 12288 bytes
    bool ReadClusters(uint32_t first, void* buffer, uint32_t count);  // one read
    bool WriteCluster(uint32_t n, const void* buffer);
    bool WriteClusters(uint32_t first, const void* buffer, uint32_t count);  // one write
    // Cluster n from the first half of `block`, then n + 1 from the second;
    // stops at the first failure.
    bool WriteThumbnailBlock(uint32_t n, const void* block);
    // Verify after write: every WriteClusters, and WriteDirectory's block,
    // reads its Clusters back (past the page cache) and compares them; a
    // difference is a write error that names the first Cluster that differs
    // ("Media write error!" once, the cause noted). Off until set; VerifyDefault says what a device kind
    // starts with (on for block devices, off for image files).
    void SetVerify(bool on) { verify_ = on; }
    bool Verifying() const { return verify_; }
    static bool VerifyDefault(DeviceKind kind) { return kind == DeviceKind::kBlockDevice; }
    // What every later opening starts with, for the whole program (the
    // "Verify" setting, --verify / --no-verify): by device kind, on or off.
    enum : int { kVerifyByDevice = -1, kVerifyOff = 0, kVerifyOn = 1 };
    static void SetVerifyPolicy(int policy);
    static int VerifyPolicy();
    // Makes every Cluster written so far durable ("Media write error!" once on failure).
    bool Flush();

    // ---- State ----
    bool IsOpen() const { return open_; }
    bool IsDirectoryValid() const { return dirValid_; }
    bool ErrorReported() const { return errorReported_; }
    // The card and the cause of the error reported ("c.img: writing: No
    // space left on device"); empty while none was.
    const std::string& ErrorText() const { return errorText_; }
    int DriveNumber() const { return drive_; }
    std::string Path() const;
    DeviceKind Kind() const;

    int VideoMode() const { return mode_; }
    void SetVideoMode(int mode) { mode_ = mode; }
    CardDirectory& Directory() { return dir_; }
    const CardDirectory& Directory() const { return dir_; }
    const CardRegions& Regions() const { return regions_; }

    int64_t TotalSectors() const { return totalSectors_; }
    int32_t SizeMiB() const { return sizeMiB_; }
    // Why the last Open failed, errno-style: EWOULDBLOCK when another
    // program holds the card, EFBIG when it is larger than kMaxCardMiB (its
    // size in MiB then in OpenSizeMiB), else what the system said; 0 after
    // a successful Open.
    int OpenError() const { return openError_; }
    int64_t OpenSizeMiB() const { return openSizeMiB_; }
    int64_t TotalClusters() const { return regions_.totalClusters; }
    int32_t ItemAreaClusters() const { return regions_.itemAreaClusters; }
    int32_t FreeClusters() const { return freeClusters_; }
    int32_t FirstTitleCluster() const { return regions_.firstTitleCluster; }
    int32_t TitleAreaSize() const { return regions_.titleAreaSize; }
    int32_t FirstStillCluster() const { return regions_.firstStillCluster; }
    int32_t StillAreaSize() const { return regions_.stillAreaSize; }
    int32_t FirstItemCluster() const { return regions_.firstItemCluster; }
    int ClustersPerFrame() const;  // X of the card's mode
    int DisplayRate() const;       // of the card's mode

    // Recomputes FreeClusters from the directory image and logs the dump.
    void RecountFreeSpace();

    // ---- Queries (0 / -1 / empty when no valid directory is open) ----
    int VideoCount() const;
    int StillCount() const;
    int EffectCount() const;
    int LogoCount() const;
    int ListPositionOfVideo(int v) const;
    int VideoOfListPosition(int n) const;
    uint32_t EffectThumbnailCluster(int e) const;
    uint32_t LogoThumbnailCluster(int l) const;
    std::string VideoText(int v) const;

    // Who the card is, for the directory journal: its serial or image path,
    // its size and its mode.
    CardIdentity Identity() const;

    // The device itself (tests reach a CFaultDevice through it); null when closed.
    ICardDevice* Device() { return device_.get(); }

private:
    void ReportError(int textId, const std::string& cause);
    void ReportAccessError(const char* what, int error);
    void ReportWriteError(const char* what, int error);
    bool VerifyClusters(uint32_t first, const void* buffer, uint32_t count);
    bool WriteWithRetry(uint64_t offset, const void* buffer, size_t size, int& error);
    void DeriveRegions();
    void JournalDirectory();
    void WarnJournalNotWritten(const std::string& cause);

    IOperator* op_ = nullptr;
    std::unique_ptr<ICardDevice> device_;
    int drive_ = 0;
    bool open_ = false;
    int openError_ = 0;
    int64_t openSizeMiB_ = 0;
    bool dirValid_ = false;
    int mode_ = 0;
    CardDirectory dir_;
    int64_t totalSectors_ = 0;
    int32_t sizeMiB_ = 0;
    CardRegions regions_;
    int32_t freeClusters_ = 0;
    bool errorReported_ = false;
    std::string errorText_;
    bool verify_ = false;
    std::vector<uint8_t> verifyBuffer_;  // grown once to the largest write verified
    // The directory block as the card was last read or written, kept for the
    // journal's "previous" side.
    CardDirectory onCard_;
    bool onCardKnown_ = false;
    bool journalWarned_ = false;
};

}  // namespace rk
