#pragma once
// The raw device under a card: a card reader's whole-disk block device or a
// card image file. CSDCard talks to the card only through ICardDevice, so
// tests can put a failing or crashing device in between.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace rk {

// Answers of opening a card, as CSDCard::Open gives them.
enum OpenAnswer : int { kOpenOk = 0, kOpenFailed = 1, kOpenAccessDenied = 2 };

enum class DeviceKind { kBlockDevice, kImageFile, kOther };

class ICardDevice {
public:
    virtual ~ICardDevice() = default;

    // Device length in bytes; false when it cannot be learnt.
    virtual bool QuerySize(uint64_t& bytes) = 0;
    // Whole transfers at a 64-bit byte offset; a short transfer is a failure.
    // On failure `error` holds the errno-style reason (EACCES for a write the
    // device refuses because an operating-system volume still covers it).
    virtual bool ReadAt(uint64_t offset, void* buffer, size_t size, int& error) = 0;
    virtual bool WriteAt(uint64_t offset, const void* buffer, size_t size, int& error) = 0;
    // Reads what the medium itself holds, past any cache of the operating
    // system (a block device reads with O_DIRECT): the read of a verify after
    // write, which proves nothing when it is answered from memory. Offsets
    // and sizes are whole Clusters.
    virtual bool ReadBackAt(uint64_t offset, void* buffer, size_t size, int& error) {
        return ReadAt(offset, buffer, size, error);
    }
    // Makes every write so far durable.
    virtual bool Flush(int& error) = 0;
    // Takes every mounted partition of this card off line so that raw writes
    // may go ahead; nothing for an image file.
    virtual void UnmountVolumes() = 0;

    virtual DeviceKind Kind() const = 0;
    virtual std::string Path() const = 0;
};

// What an opening of a card is for. Work that only reads (a check, a
// listing, a read back, the source of a backup or restore) opens for
// reading: read-only card images and backups open, and readers share the
// card with each other, never with a writer.
enum class CardAccess { kReadWrite, kRead };

// Opens `path` for exclusive raw reading and writing: a block device with
// O_EXCL (a card whose partitions are mounted opens shared, and refuses raw
// writes with EACCES until UnmountVolumes), a regular file under an exclusive
// advisory lock. For kRead: the block device read-only (still O_EXCL unless
// mounted), the file read-only under a shared lock; writes then fail with
// EROFS. Answers kOpenAccessDenied for EACCES/EPERM, kOpenFailed for
// everything else (missing, held by another program, not a device or file).
int OpenCardDevice(const std::string& path, std::unique_ptr<ICardDevice>& device, int& error,
                   CardAccess access = CardAccess::kReadWrite);

// Creates a sparse card image of `bytes` bytes (a new file; an existing file
// is refused). False with errno-style `error` on failure.
bool CreateCardImage(const std::string& path, uint64_t bytes, int& error);

// Parses sizes like "512M", "32G", "8GiB", "1T", "4096" (bytes), "2048s"
// (sectors). False for anything else, zero or overflow.
bool ParseSizeText(const std::string& text, uint64_t& bytes);

}  // namespace rk
