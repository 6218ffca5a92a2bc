#pragma once
// A device that fails on purpose: wraps another ICardDevice and fails, drops
// or loses its reads, writes and flushes at chosen points. Tests use it to
// check error reporting and what a card looks like after a crash at every
// write of an operation.
#include <cstdint>
#include <memory>
#include <vector>

#include "card/card_device.h"

namespace rk {

class CFaultDevice : public ICardDevice {
public:
    // What happens to writes not yet flushed when the device crashes.
    enum class LostWrites {
        kDropAll,         // none of them reach the medium
        kKeepAll,         // all of them do
        kKeepNewestOnly,  // only the last one does (a reordering device)
    };

    explicit CFaultDevice(std::unique_ptr<ICardDevice> inner);

    // 1-based operation numbers; 0 means never.
    uint64_t failReadAt = 0;   // that read fails with `failError`
    uint64_t failWriteAt = 0;  // that write fails with `failError`, nothing written
    uint64_t failFlushAt = 0;  // that flush fails with `failError`
    bool failForever = false;  // after the first injected failure every access fails
    int failError = 5;         // EIO
    uint64_t refuseWritesWithAccessDenied = 0;  // the first N writes fail with EACCES
    // The N-th write reaches the medium with one bit of byte `flipByte`
    // (counted from the write's start, kept inside it) turned over, and
    // reports success: a card that silently stores wrong bytes.
    uint64_t flipBitAtWrite = 0;
    uint64_t flipByte = 0;
    bool sizeQueryFails = false;
    uint64_t sizeOverride = 0;  // non-zero: the reported length

    // Crash at the N-th write: that write and everything after it never reach
    // the medium, and the writes not yet flushed are treated as `lostWrites`
    // says. The operation sees the crashed write fail (EIO), as a pulled card.
    uint64_t crashAtWrite = 0;
    // The same at the N-th write or flush counted together (a crash just
    // before a flush makes the device lose what it had not yet written).
    uint64_t crashAtEvent = 0;
    LostWrites lostWrites = LostWrites::kDropAll;
    // A write torn by a power cut: the first write that begins at byte
    // `tearAtOffset` reaches the medium only for its first `tearBytes`
    // bytes, then the device is gone (that write and every later access
    // fail with EIO). -1: never.
    int64_t tearAtOffset = -1;
    size_t tearBytes = 0;

    // Counters.
    uint64_t reads = 0, writes = 0, flushes = 0, unmounts = 0, events = 0;
    bool crashed = false;

    bool QuerySize(uint64_t& bytes) override;
    bool ReadAt(uint64_t offset, void* buffer, size_t size, int& error) override;
    bool WriteAt(uint64_t offset, const void* buffer, size_t size, int& error) override;
    bool ReadBackAt(uint64_t offset, void* buffer, size_t size, int& error) override;
    bool Flush(int& error) override;
    void UnmountVolumes() override;
    DeviceKind Kind() const override;
    std::string Path() const override;

private:
    struct Pending {
        uint64_t offset;
        std::vector<uint8_t> data;
    };
    bool Dead() const { return crashed || dead_; }
    bool CrashMode() const { return crashAtWrite != 0 || crashAtEvent != 0; }
    void Crash();
    std::unique_ptr<ICardDevice> inner_;
    std::vector<Pending> pending_;  // written but not yet flushed (crash mode only)
    bool dead_ = false;
};

}  // namespace rk
