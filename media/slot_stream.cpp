#include "media/slot_stream.h"

#include <fcntl.h>

#include <cerrno>
#include <cstring>
#include <vector>

#include "base/fd_io.h"
#include "card/card_directory.h"
#include "card/sd_card.h"
#include "convert/kavq1_file_converter.h"
#include "convert/kavq1_file_encoder.h"
#include "ui/operator.h"

namespace rk {

int CFileSlotSource::Next(uint8_t* slot, size_t bytes) {
    errno = 0;
    int r = ReadWholeAt(fd_, offset_, slot, bytes);
    if (r > 0) offset_ += bytes;
    if (r < 0 && errno != 0) cause_ = std::strerror(errno);
    return r;
}

std::string FirstSlotFault(int fd, uint64_t offset, uint32_t count, uint64_t slotBytes, const SlotFaultCheck& fault) {
    constexpr size_t kHeadBytes = 32;
    std::vector<uint8_t> slot(size_t(kClusterSize) + kHeadBytes, 0);
    uint8_t* frame = slot.data() + kClusterSize;
    for (uint32_t i = 0; i < count; ++i) {
        const uint64_t at = offset + uint64_t(i) * slotBytes;
        const std::string where = "frame " + std::to_string(i + 1) + " of " + std::to_string(count);
        errno = 0;
        const int a = ReadWholeAt(fd, at, slot.data(), kHeadBytes);
        const int b = a > 0 ? ReadWholeAt(fd, at + kClusterSize, frame, kHeadBytes) : a;
        if (a < 0 || b < 0) return where + ": " + std::strerror(errno ? errno : EIO);
        if (a == 0 || b == 0) return where + ": the file ends there";
        if (const char* what = fault(slot.data(), slot.size(), i)) return where + ": " + what;
    }
    return {};
}

int CEncoderSlotSource::Next(uint8_t* slot, size_t bytes) {
    std::memset(slot, 0, bytes);
    return enc_.GetNextFrame(slot) ? 1 : 0;
}

std::string CEncoderSlotSource::Cause() const { return enc_.EndCause(); }

int CCardSlotSource::Next(uint8_t* slot, size_t bytes) {
    if (static_cast<uint64_t>(read_) * kClusterSize > bytes) return -1;
    if (!card_.ReadClusters(static_cast<uint32_t>(next_), slot, read_)) return -1;
    next_ += stride_;
    return 1;
}

bool CCardSlotSink::Put(const uint8_t* slot, size_t bytes) {
    if (static_cast<uint64_t>(write_) * kClusterSize > bytes) return false;
    if (!card_.WriteClusters(static_cast<uint32_t>(next_), slot, write_)) return false;
    next_ += stride_;
    return true;
}

bool CFileSlotSink::Put(const uint8_t* slot, size_t bytes) {
    const size_t n = bytes_ ? bytes_ : bytes;
    errno = 0;
    if (!WriteWhole(fd_, slot, n)) {
        cause_ = std::strerror(errno ? errno : EIO);
        return false;
    }
    // What was written is sent on its way every few megabytes, so the sync
    // that ends the file waits for the last of it only. Best effort: on
    // anything but a plain file this does nothing, and the sync at the end
    // still says whether every byte arrived.
    // (The whole file is named: pages already sent or clean are passed over.)
    unsent_ += n;
    if (unsent_ >= kWriteBehindBytes) {
        ::sync_file_range(fd_, 0, 0, SYNC_FILE_RANGE_WRITE);
        unsent_ = 0;
    }
    return true;
}

bool CProResSlotSink::Put(const uint8_t* slot, size_t) { return conv_.PushFrame(slot); }
std::string CProResSlotSink::Cause() const { return conv_.Cause(); }

PumpResult PumpSlots(IOperator& op, ISlotSource& source, ISlotSink& sink, uint64_t count, uint8_t* buffer,
                     size_t slotBytes, const PumpRules& rules) {
    PumpResult r;
    for (uint64_t i = 0; i < count; ++i) {
        const int got = source.Next(buffer, slotBytes);
        if (got < 0) {
            // A read error is never taken for the end of the source.
            r.status = PumpStatus::kReadError;
            r.cause = source.Cause();
            break;
        }
        if (got == 0) {
            if (r.moved == 0 && rules.emptySourceFails) {
                r.status = PumpStatus::kReadError;
                r.cause = source.Cause();
            }
            break;
        }
        if (rules.pumpBeforePut && op.PumpMessages()) {
            r.status = PumpStatus::kStopped;
            break;
        }
        if (!sink.Put(buffer, slotBytes)) {
            r.status = PumpStatus::kWriteError;
            r.cause = sink.Cause();
            break;
        }
        ++r.moved;
        if (rules.afterPut) rules.afterPut(i, buffer);
        if (rules.reportProgress)
            op.SetProgress(rules.progressBase + static_cast<int64_t>(i) + rules.progressOffset, false);
        if (rules.pumpAfterPut && op.PumpMessages()) {
            r.status = PumpStatus::kStopped;
            break;
        }
    }
    return r;
}

}  // namespace rk
