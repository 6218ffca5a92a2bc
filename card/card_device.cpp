#include "card/card_device.h"

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <sys/sysmacros.h>

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "base/fd_io.h"
#include "base/log.h"
#include "base/safe_open.h"
#include "card/volumes.h"

namespace rk {

namespace {

// Whole transfers only (base's whole-transfer helpers); a transfer that makes
// no progress fails as beyond the end of the device: EIO for a read, ENOSPC
// for a write.
bool FullPread(int fd, uint64_t offset, void* buffer, size_t size, int& error) {
    const int r = ReadWholeAt(fd, offset, buffer, size);
    if (r > 0) return true;
    error = r < 0 ? errno : EIO;
    return false;
}

// Writes of at least this many bytes start their own writeback at once.
constexpr size_t kWritebackFrom = 64 * 1024;

bool FullPwrite(int fd, uint64_t offset, const void* buffer, size_t size, int& error) {
    const int r = WriteWholeAt(fd, offset, buffer, size);
    if (r > 0) {
        // The card is written while the next slot is read, instead of all
        // at the final flush: the flush still waits for every byte before
        // the directory goes out, it only finds most of them on the card
        // already. Only a hint: if it fails, the flush does the work.
        if (size >= kWritebackFrom) ::sync_file_range(fd, off64_t(offset), off64_t(size), SYNC_FILE_RANGE_WRITE);
        return true;
    }
    error = r < 0 ? errno : ENOSPC;
    return false;
}

int AnswerFor(int err) { return (err == EACCES || err == EPERM) ? kOpenAccessDenied : kOpenFailed; }

// A card reader's whole-disk device. Opened with O_EXCL, which keeps other
// programs (and the desktop's automounter) off the card while it is open.
// A card whose partitions are mounted cannot be opened exclusively; it is
// then opened shared for reading, and writes are refused with EACCES until
// UnmountVolumes has taken the partitions off line and the exclusive open
// succeeded: nothing is ever written under a mounted file system.
class CBlockDevice final : public ICardDevice {
public:
    CBlockDevice(std::string path, int fd, bool exclusive, bool readOnly, dev_t rdev)
        : path_(std::move(path)), fd_(fd), exclusive_(exclusive), readOnly_(readOnly), rdev_(rdev) {}
    ~CBlockDevice() override {
        if (fd_ >= 0) ::close(fd_);
        if (directFd_ >= 0) ::close(directFd_);
        std::free(aligned_);
    }

    bool QuerySize(uint64_t& bytes) override {
        uint64_t size = 0;
        if (::ioctl(fd_, BLKGETSIZE64, &size) != 0) return false;
        bytes = size;
        return true;
    }
    bool ReadAt(uint64_t offset, void* buffer, size_t size, int& error) override {
        return FullPread(fd_, offset, buffer, size, error);
    }
    bool ReadBackAt(uint64_t offset, void* buffer, size_t size, int& error) override {
        // A second descriptor opened with O_DIRECT reads the card, not the
        // page cache, into a page-aligned buffer kept for the opening. The
        // kernel writes dirty cached pages of the range out before a direct
        // read, so what comes back is what the card holds.
        if (directFd_ < 0 && !directFailed_) {
            directFd_ = ::open(path_.c_str(), O_RDONLY | O_DIRECT | O_CLOEXEC);
            directFailed_ = directFd_ < 0;
        }
        if (directFd_ < 0 || offset % kDirectAlign != 0 || size % kDirectAlign != 0) {
            // No direct reads here: push the range out and drop it from the
            // cache, then read it from the device.
            if (::fsync(fd_) != 0) {
                error = errno;
                return false;
            }
            ::posix_fadvise(fd_, off_t(offset), off_t(size), POSIX_FADV_DONTNEED);
            return FullPread(fd_, offset, buffer, size, error);
        }
        if (size > alignedSize_) {
            void* p = nullptr;
            if (::posix_memalign(&p, kDirectAlign, size) != 0) {
                error = ENOMEM;
                return false;
            }
            std::free(aligned_);
            aligned_ = p;
            alignedSize_ = size;
        }
        if (!FullPread(directFd_, offset, aligned_, size, error)) return false;
        std::memcpy(buffer, aligned_, size);
        return true;
    }
    bool WriteAt(uint64_t offset, const void* buffer, size_t size, int& error) override {
        if (readOnly_) {
            error = EROFS;
            return false;
        }
        if (!exclusive_ && !BecomeExclusive()) {
            error = EACCES;
            return false;
        }
        return FullPwrite(fd_, offset, buffer, size, error);
    }
    bool Flush(int& error) override {
        if (::fsync(fd_) == 0) return true;
        error = errno;
        return false;
    }
    void UnmountVolumes() override {
        UnmountDiskVolumes(path_, unsigned(major(rdev_)), unsigned(minor(rdev_)));
        if (!exclusive_) BecomeExclusive();
    }
    DeviceKind Kind() const override { return DeviceKind::kBlockDevice; }
    std::string Path() const override { return path_; }

private:
    bool BecomeExclusive() {
        // Still mounted: never write, whatever the open would allow.
        if (DiskHasMountedVolumes(unsigned(major(rdev_)), unsigned(minor(rdev_)))) return false;
        int fd = ::open(path_.c_str(), O_RDWR | O_EXCL | O_CLOEXEC);
        if (fd < 0) return false;
        ::close(fd_);
        fd_ = fd;
        exclusive_ = true;
        return true;
    }

    static constexpr size_t kDirectAlign = 4096;
    std::string path_;
    int fd_;
    bool exclusive_;
    bool readOnly_;
    dev_t rdev_;
    int directFd_ = -1;
    bool directFailed_ = false;
    void* aligned_ = nullptr;
    size_t alignedSize_ = 0;
};

// A card image file, held under an exclusive advisory lock for as long as it
// is open. No volume of the system can cover it.
class CImageFile final : public ICardDevice {
public:
    CImageFile(std::string path, int fd, bool readOnly) : path_(std::move(path)), fd_(fd), readOnly_(readOnly) {}
    ~CImageFile() override {
        if (fd_ >= 0) ::close(fd_);  // releases the lock
    }

    bool QuerySize(uint64_t& bytes) override {
        struct stat st {};
        if (::fstat(fd_, &st) != 0 || st.st_size < 0) return false;
        bytes = uint64_t(st.st_size);
        return true;
    }
    bool ReadAt(uint64_t offset, void* buffer, size_t size, int& error) override {
        return FullPread(fd_, offset, buffer, size, error);
    }
    bool WriteAt(uint64_t offset, const void* buffer, size_t size, int& error) override {
        if (readOnly_) {
            error = EROFS;
            return false;
        }
        // The card does not grow: a write past its end is a short write.
        struct stat st {};
        if (::fstat(fd_, &st) != 0) {
            error = errno;
            return false;
        }
        if (offset > uint64_t(st.st_size) || size > uint64_t(st.st_size) - offset) {
            error = ENOSPC;
            return false;
        }
        return FullPwrite(fd_, offset, buffer, size, error);
    }
    bool Flush(int& error) override {
        if (readOnly_) return true;  // nothing was written
        if (::fdatasync(fd_) == 0) return true;
        error = errno;
        return false;
    }
    void UnmountVolumes() override {}
    DeviceKind Kind() const override { return DeviceKind::kImageFile; }
    std::string Path() const override { return path_; }

private:
    std::string path_;
    int fd_;
    bool readOnly_;
};

}  // namespace

int OpenCardDevice(const std::string& path, std::unique_ptr<ICardDevice>& device, int& error, CardAccess access) {
    device.reset();
    error = 0;
    const bool reading = access == CardAccess::kRead;
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) {
        error = errno;
        return AnswerFor(error);
    }
    if (S_ISBLK(st.st_mode)) {
        int fd = ::open(path.c_str(), (reading ? O_RDONLY : O_RDWR) | O_EXCL | O_CLOEXEC);
        if (fd >= 0 && reading) {
            device = std::make_unique<CBlockDevice>(path, fd, true, true, st.st_rdev);
            return kOpenOk;
        }
        if (fd >= 0) {
            device = std::make_unique<CBlockDevice>(path, fd, true, false, st.st_rdev);
            return kOpenOk;
        }
        error = errno;
        const unsigned maj = unsigned(major(st.st_rdev)), min = unsigned(minor(st.st_rdev));
        if (error == EROFS || error == EACCES) {
            // A write-protected card opens for reading; its writes then fail
            // with the write-protection message.
            int ro = -1;
            int rfd = ::open(path.c_str(), O_RDONLY | O_EXCL | O_CLOEXEC);
            if (rfd >= 0 && ::ioctl(rfd, BLKROGET, &ro) == 0 && ro == 1) {
                device = std::make_unique<CBlockDevice>(path, rfd, true, true, st.st_rdev);
                return kOpenOk;
            }
            if (rfd >= 0) ::close(rfd);
            return AnswerFor(error);
        }
        if (error == EBUSY && DiskHasMountedVolumes(maj, min)) {
            // Its partitions are mounted: list it and read it; raw writes
            // wait for UnmountVolumes.
            fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
            if (fd < 0) {
                error = errno;
                return AnswerFor(error);
            }
            device = std::make_unique<CBlockDevice>(path, fd, false, reading, st.st_rdev);
            return kOpenOk;
        }
        return AnswerFor(error);  // EBUSY: another program holds it
    }
    if (S_ISREG(st.st_mode)) {
        // Checked again on the open file: a FIFO put in the image's place
        // between the stat and the open must not make the open wait.
        int fd = OpenChecked(path, reading ? O_RDONLY : O_RDWR, FileUse::kFile);
        if (fd < 0) {
            error = errno;
            return AnswerFor(error);
        }
        // Readers share the image with each other; a writer has it alone.
        if (::flock(fd, (reading ? LOCK_SH : LOCK_EX) | LOCK_NB) != 0) {
            error = errno;  // EWOULDBLOCK: another program holds it
            ::close(fd);
            return kOpenFailed;
        }
        device = std::make_unique<CImageFile>(path, fd, reading);
        return kOpenOk;
    }
    error = ENODEV;
    return kOpenFailed;
}

bool CreateCardImage(const std::string& path, uint64_t bytes, int& error) {
    error = 0;
    if (bytes == 0 || bytes > uint64_t(INT64_MAX)) {
        error = EINVAL;
        return false;
    }
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd < 0) {
        error = errno;
        return false;
    }
    // ftruncate makes the file sparse: no data blocks until Clusters are written.
    bool ok = ::ftruncate(fd, off_t(bytes)) == 0 && ::fsync(fd) == 0;
    if (!ok) error = errno;
    ::close(fd);
    if (!ok) ::unlink(path.c_str());
    return ok;
}

bool ParseSizeText(const std::string& text, uint64_t& bytes) {
    size_t i = 0;
    uint64_t value = 0;
    if (text.empty() || text[0] < '0' || text[0] > '9') return false;
    while (i < text.size() && text[i] >= '0' && text[i] <= '9') {
        uint64_t d = uint64_t(text[i] - '0');
        if (value > (UINT64_MAX - d) / 10) return false;
        value = value * 10 + d;
        ++i;
    }
    std::string unit = text.substr(i);
    for (auto& c : unit) c = char(std::toupper(static_cast<unsigned char>(c)));
    uint64_t mul = 1;
    if (unit.empty() || unit == "B")
        mul = 1;
    else if (unit == "S")
        mul = 512;
    else if (unit == "K" || unit == "KB" || unit == "KIB")
        mul = 1ull << 10;
    else if (unit == "M" || unit == "MB" || unit == "MIB")
        mul = 1ull << 20;
    else if (unit == "G" || unit == "GB" || unit == "GIB")
        mul = 1ull << 30;
    else if (unit == "T" || unit == "TB" || unit == "TIB")
        mul = 1ull << 40;
    else
        return false;
    if (value == 0 || value > uint64_t(INT64_MAX) / mul) return false;
    bytes = value * mul;
    return true;
}

}  // namespace rk
