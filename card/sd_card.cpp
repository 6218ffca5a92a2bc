#include "card/sd_card.h"

#include <atomic>
#include <cerrno>
#include <cstring>

#include "base/log.h"
#include "base/string_ids.h"
#include "base/texts.h"
#include "card/video_modes.h"
#include "ui/operator.h"

namespace rk {

namespace {
std::atomic<int> g_verifyPolicy{CSDCard::kVerifyByDevice};
}  // namespace

CSDCard::CSDCard(IOperator* op) : op_(op) {}

CSDCard::~CSDCard() = default;

void CSDCard::Close() {
    device_.reset();
    open_ = false;
    errorReported_ = false;
    errorText_.clear();
}

std::string CSDCard::Path() const { return device_ ? device_->Path() : std::string(); }
DeviceKind CSDCard::Kind() const { return device_ ? device_->Kind() : DeviceKind::kOther; }

int CSDCard::Open(const std::string& path, int driveNumber, CardAccess access) {
    Close();
    journalWarned_ = false;
    drive_ = driveNumber;
    if (path.empty()) return kOpenFailed;  // a drive number the table does not know
    std::unique_ptr<ICardDevice> device;
    int error = 0;
    int answer = OpenCardDevice(path, device, error, access);
    if (answer != kOpenOk) {
        LogMessage(3, "CSDCard::Open(%s): error %d", path.c_str(), error);
        openError_ = error;
        return answer;
    }
    return OpenDevice(std::move(device), driveNumber);
}

int CSDCard::OpenDevice(std::unique_ptr<ICardDevice> device, int driveNumber) {
    Close();
    drive_ = driveNumber;
    openError_ = EINVAL;
    if (!device) return kOpenFailed;
    uint64_t length = 0;
    if (!device->QuerySize(length)) {
        openError_ = errno ? errno : EIO;
        return kOpenFailed;  // the device goes with it
    }
    totalSectors_ = int64_t(length / kSectorSize);
    LogMessage(3, "CSDCard::Open(%d): XP style used disk size: %lld sectors", drive_, (long long)totalSectors_);
    const int64_t mib = totalSectors_ / 2048;
    LogMessage(3, "CSDCard::Open(%d): total sectors: %ld", drive_, long(totalSectors_));
    openSizeMiB_ = mib;
    if (mib > kMaxCardMiB) {
        openError_ = EFBIG;
        return kOpenFailed;
    }
    openError_ = 0;
    sizeMiB_ = int32_t(mib);
    device_ = std::move(device);
    open_ = true;
    dirValid_ = false;
    const int policy = g_verifyPolicy.load();
    verify_ = policy == kVerifyByDevice ? VerifyDefault(device_->Kind()) : policy == kVerifyOn;
    LogMessage(3, "CSDCard::Open(%d): verify after write %s", drive_, verify_ ? "on" : "off");
    onCardKnown_ = false;
    return kOpenOk;
}

void CSDCard::SetVerifyPolicy(int policy) { g_verifyPolicy.store(policy); }
int CSDCard::VerifyPolicy() { return g_verifyPolicy.load(); }

// The fixed texts say only "access" or "write"; the cause (a full file
// system under an image, an I/O error of the reader) goes with the message
// as its detail, and stays with the card (ErrorText) for callers that show
// no message themselves. Only the first failure of an opening is reported.
void CSDCard::ReportError(int textId, const std::string& cause) {
    if (errorReported_) return;
    errorReported_ = true;
    errorText_ = Path() + ": " + cause;
    if (op_) ErrorWithDetail(*op_, textId, errorText_);
    else LogMessage(2, "CSDCard: %s", errorText_.c_str());
}

void CSDCard::ReportAccessError(const char* what, int error) {
    ReportError(IDS_MEDIA_ACCESS_ERROR, std::string(what) + ": " + std::strerror(error ? error : EIO));
}

void CSDCard::ReportWriteError(const char* what, int error) {
    ReportError(IDS_MEDIA_WRITE_ERROR, std::string(what) + ": " + std::strerror(error ? error : EIO));
}

int CSDCard::ClustersPerFrame() const { return ClustersPerFrameOfMode(mode_); }
int CSDCard::DisplayRate() const { return DisplayRateOfMode(mode_); }

void CSDCard::DeriveRegions() { regions_ = CardRegions::For(mode_, totalSectors_); }

void CSDCard::RecountFreeSpace() {
    freeClusters_ = CountFreeClusters(dir_, regions_.itemAreaClusters);
    LogDirectoryDump(dir_, uint32_t(mode_), freeClusters_, regions_.itemAreaClusters);
}

bool CSDCard::ReadDirectory() {
    LogMessage(3, "CSDCard::ReadDirectory(): %d bytes", int(kDirectorySize));
    dirValid_ = false;
    int error = 0;
    // A file shorter than the directory is no card: said as such rather
    // than as the short read it would give.
    uint64_t length = 0;
    if (device_ && device_->QuerySize(length) && length < kDirectorySize) {
        LogMessage(2, "CSDCard::ReadDirectory(): %llu bytes only", static_cast<unsigned long long>(length));
        ReportError(IDS_MEDIA_ACCESS_ERROR, std::to_string(length) + " bytes, too small for a card, whose directory alone takes " +
                                                std::to_string(kDirectorySize) + " bytes");
        return false;
    }
    if (!device_ || !device_->ReadAt(0, dir_.Bytes(), kDirectorySize, error)) {
        LogMessage(2, "CSDCard::ReadDirectory(): ERROR: %d (%s)", error, std::strerror(error));
        ReportAccessError("reading the directory", error);
        return false;
    }
    onCard_ = dir_;
    onCardKnown_ = true;
    if (!dir_.IsValid()) return false;  // blank or foreign: "Not formatted"
    mode_ = int(dir_.StoredVideoMode());
    DeriveRegions();
    RecountFreeSpace();
    dirValid_ = true;
    return true;
}

bool CSDCard::WriteWithRetry(uint64_t offset, const void* buffer, size_t size, int& error) {
    if (!device_) {
        error = EBADF;
        return false;
    }
    if (device_->WriteAt(offset, buffer, size, error)) return true;
    if (error != EACCES && error != EPERM) return false;
    // A mounted partition of the card still covers the sectors: take the
    // card's volumes off line and try once more.
    LogMessage(3, "CSDCard::WriteDirectory(): lock+dismount");
    UnmountVolumes();
    return device_->WriteAt(offset, buffer, size, error);
}

CardIdentity CSDCard::Identity() const {
    return CardIdentityOf(Kind() == DeviceKind::kBlockDevice, Path(), totalSectors_, mode_);
}

// The previous and the new directory go to the journal on the computer
// before the card's block is touched, so that a write torn by a power cut
// (or a format of the wrong card) can be undone. The journal is a safety
// net: when it cannot be written the card's write goes ahead all the same.
void CSDCard::JournalDirectory() {
    if (!device_) return;
    if (!onCardKnown_) {
        int error = 0;
        if (!device_->ReadAt(0, onCard_.Bytes(), kDirectorySize, error)) {
            LogMessage(2, "CSDCard::WriteDirectory(): journal: cannot read the previous directory: %d (%s)", error,
                       std::strerror(error));
            onCard_.Clear();
        }
        onCardKnown_ = true;
    }
    if (onCard_ == dir_) return;  // nothing changes: the record keeps the older side
    const std::string folder = DefaultJournalFolder();
    if (folder.empty()) {
        LogMessage(2, "CSDCard::WriteDirectory(): journal: no state folder (neither XDG_STATE_HOME nor HOME)");
        WarnJournalNotWritten("no state folder (neither XDG_STATE_HOME nor HOME is set)");
        return;
    }
    CDirectoryJournal journal(folder);
    if (!journal.Record(Identity(), onCard_, dir_)) {
        LogMessage(2, "CSDCard::WriteDirectory(): journal: not recorded in %s", folder.c_str());
        WarnJournalNotWritten(journal.Cause().empty() ? folder : journal.Cause());
    }
}

// Said once for each card opened, not at every write: the person learns that
// recover will not find this card's earlier directories here, and why.
void CSDCard::WarnJournalNotWritten(const std::string& cause) {
    if (journalWarned_ || !op_) return;
    journalWarned_ = true;
    op_->ShowMessage(Message{kMsgNotice, kIconWarning, LoadText(IDS_JOURNAL_NOT_WRITTEN), cause});
}

bool CSDCard::WriteDirectory() {
    dir_.PrepareForWrite(uint32_t(mode_), ClustersPerFrameOfMode(mode_));
    JournalDirectory();
    int error = 0;
    // The item data written before must be on the card before the directory
    // that points at it; the directory itself must be on the card before
    // success is reported.
    bool ok = device_ != nullptr && device_->Flush(error) && WriteWithRetry(0, dir_.Bytes(), kDirectorySize, error) &&
              device_->Flush(error);
    // The directory is read back like any other write: a block that changed
    // on its way would leave a card that reads as not formatted.
    bool verified = true;
    if (ok && verify_) {
        verified = VerifyClusters(0, dir_.Bytes(), kDirectoryClusters);
        if (!verified) onCardKnown_ = false;  // what the card holds now is unknown
    }
    if (ok && verified) {
        LogMessage(3, "CSDCard::WriteDirectory(): OK");
        onCard_ = dir_;
    }
    if (!ok)
        LogMessage(3, "CSDCard::WriteDirectory(): ERROR: %d (%s)", error, std::strerror(error));
    RecountFreeSpace();
    if (!ok) {
        ReportWriteError("writing the directory", error);
    }
    return ok && verified;
}

void CSDCard::UnmountVolumes() {
    if (device_) device_->UnmountVolumes();
}

int CSDCard::PresetFormatMode() const { return dirValid_ ? mode_ : 0; }

bool CSDCard::Format(int mode) {
    if (!open_ || !IsValidVideoMode(mode)) return false;
    LogMessage(3, "CSDCard::Format(%d)", mode);
    mode_ = mode;
    dir_.Clear();
    DeriveRegions();
    RecountFreeSpace();
    dirValid_ = true;
    return WriteDirectory();
}

bool CSDCard::ReadClusters(uint32_t first, void* buffer, uint32_t count) {
    int error = 0;
    if (!device_ || !device_->ReadAt(uint64_t(first) * kClusterSize, buffer, size_t(count) * kClusterSize, error)) {
        LogMessage(2, "CSDCard::ReadClusters(%u, %u): ERROR: %d (%s)", first, count, error, std::strerror(error));
        ReportAccessError("reading", error);
        return false;
    }
    return true;
}

bool CSDCard::ReadCluster(uint32_t n, void* buffer) { return ReadClusters(n, buffer, 1); }

bool CSDCard::WriteClusters(uint32_t first, const void* buffer, uint32_t count) {
    int error = 0;
    if (!WriteWithRetry(uint64_t(first) * kClusterSize, buffer, size_t(count) * kClusterSize, error)) {
        LogMessage(2, "CSDCard::WriteClusters(%u, %u): ERROR: %d (%s)", first, count, error, std::strerror(error));
        ReportWriteError("writing", error);
        return false;
    }
    if (verify_) return VerifyClusters(first, buffer, count);
    return true;
}

bool CSDCard::VerifyClusters(uint32_t first, const void* buffer, uint32_t count) {
    const size_t bytes = size_t(count) * kClusterSize;
    if (verifyBuffer_.size() < bytes) verifyBuffer_.resize(bytes);
    int error = 0;
    if (!device_->ReadBackAt(uint64_t(first) * kClusterSize, verifyBuffer_.data(), bytes, error)) {
        LogMessage(2, "CSDCard::VerifyClusters(%u, %u): ERROR: %d (%s)", first, count, error, std::strerror(error));
        ReportWriteError("reading back", error);
        return false;
    }
    const auto* want = static_cast<const uint8_t*>(buffer);
    for (uint32_t k = 0; k < count; ++k) {
        const size_t off = size_t(k) * kClusterSize;
        if (std::memcmp(verifyBuffer_.data() + off, want + off, kClusterSize) == 0) continue;
        LogMessage(2, "CSDCard::VerifyClusters(): cluster %u reads back different from what was written", first + k);
        // The operator is told which Cluster the card failed to keep.
        ReportError(IDS_MEDIA_WRITE_ERROR,
                    "cluster " + std::to_string(first + k) + " reads back different from what was written");
        return false;
    }
    return true;
}

bool CSDCard::WriteCluster(uint32_t n, const void* buffer) { return WriteClusters(n, buffer, 1); }

bool CSDCard::WriteThumbnailBlock(uint32_t n, const void* block) {
    const auto* p = static_cast<const uint8_t*>(block);
    return WriteCluster(n, p) && WriteCluster(n + 1, p + kClusterSize);
}

bool CSDCard::Flush() {
    int error = 0;
    if (!device_ || !device_->Flush(error)) {
        LogMessage(2, "CSDCard::Flush(): ERROR: %d (%s)", error, std::strerror(error));
        ReportWriteError("flushing", error);
        return false;
    }
    return true;
}

// ---- Queries ----

int CSDCard::VideoCount() const { return open_ && dirValid_ ? UsedVideoCount(dir_) : 0; }
int CSDCard::StillCount() const { return open_ && dirValid_ ? UsedStillCount(dir_) : 0; }
int CSDCard::EffectCount() const { return open_ && dirValid_ ? UsedEffectCount(dir_) : 0; }
int CSDCard::LogoCount() const { return open_ && dirValid_ ? UsedLogoCount(dir_) : 0; }

int CSDCard::ListPositionOfVideo(int v) const {
    return open_ && dirValid_ && v < kVideoCount ? rk::ListPositionOfVideo(dir_, v) : -1;
}

int CSDCard::VideoOfListPosition(int n) const { return open_ && dirValid_ ? rk::VideoOfListPosition(dir_, n) : -1; }

uint32_t CSDCard::EffectThumbnailCluster(int e) const {
    return e >= 0 && e < kEffectCount ? rk::EffectThumbnailCluster(dir_, e) : 0;
}

uint32_t CSDCard::LogoThumbnailCluster(int l) const {
    return l >= 0 && l < kLogoCount ? rk::LogoThumbnailCluster(dir_, l) : 0;
}

std::string CSDCard::VideoText(int v) const {
    return open_ && dirValid_ ? rk::VideoText(dir_, v, DisplayRate()) : std::string();
}

}  // namespace rk
