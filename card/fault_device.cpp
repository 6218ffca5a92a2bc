#include "card/fault_device.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace rk {

CFaultDevice::CFaultDevice(std::unique_ptr<ICardDevice> inner) : inner_(std::move(inner)) {}

bool CFaultDevice::QuerySize(uint64_t& bytes) {
    if (sizeQueryFails) return false;
    if (sizeOverride != 0) {
        bytes = sizeOverride;
        return true;
    }
    return inner_->QuerySize(bytes);
}

void CFaultDevice::Crash() {
    crashed = true;
    switch (lostWrites) {
        case LostWrites::kDropAll: break;
        case LostWrites::kKeepAll:
            for (auto& p : pending_) {
                int e = 0;
                inner_->WriteAt(p.offset, p.data.data(), p.data.size(), e);
            }
            break;
        case LostWrites::kKeepNewestOnly:
            if (!pending_.empty()) {
                int e = 0;
                inner_->WriteAt(pending_.back().offset, pending_.back().data.data(), pending_.back().data.size(), e);
            }
            break;
    }
    pending_.clear();
    int e = 0;
    inner_->Flush(e);
}

bool CFaultDevice::ReadAt(uint64_t offset, void* buffer, size_t size, int& error) {
    ++reads;
    if (Dead() || reads == failReadAt) {
        if (reads == failReadAt && failForever) dead_ = true;
        error = failError;
        return false;
    }
    if (!inner_->ReadAt(offset, buffer, size, error)) return false;
    // Writes not yet flushed are visible to reads, as through a cache.
    auto* out = static_cast<uint8_t*>(buffer);
    for (const auto& p : pending_) {
        uint64_t lo = std::max(offset, p.offset);
        uint64_t hi = std::min(offset + size, p.offset + p.data.size());
        if (lo < hi) std::memcpy(out + (lo - offset), p.data.data() + (lo - p.offset), size_t(hi - lo));
    }
    return true;
}

bool CFaultDevice::WriteAt(uint64_t offset, const void* buffer, size_t size, int& error) {
    ++writes;
    ++events;
    if (writes <= refuseWritesWithAccessDenied && unmounts == 0) {
        error = EACCES;
        return false;
    }
    if (!Dead() && tearAtOffset >= 0 && offset == uint64_t(tearAtOffset)) {
        int e = 0;
        if (tearBytes > 0) inner_->WriteAt(offset, buffer, std::min(size, tearBytes), e);
        inner_->Flush(e);
        tearAtOffset = -1;
        crashed = true;
        error = EIO;
        return false;
    }
    if (!crashed && ((crashAtWrite != 0 && writes >= crashAtWrite) || (crashAtEvent != 0 && events >= crashAtEvent)))
        Crash();
    if (Dead() || writes == failWriteAt) {
        if (writes == failWriteAt && failForever) dead_ = true;
        error = crashed ? EIO : failError;
        return false;
    }
    if (writes == flipBitAtWrite && size > 0) {
        const auto* in = static_cast<const uint8_t*>(buffer);
        std::vector<uint8_t> wrong(in, in + size);
        wrong[size_t(flipByte % size)] ^= 0x10;
        if (CrashMode()) {
            pending_.push_back({offset, std::move(wrong)});
            return true;
        }
        return inner_->WriteAt(offset, wrong.data(), size, error);
    }
    if (CrashMode()) {
        const auto* in = static_cast<const uint8_t*>(buffer);
        pending_.push_back({offset, std::vector<uint8_t>(in, in + size)});
        return true;
    }
    return inner_->WriteAt(offset, buffer, size, error);
}

bool CFaultDevice::ReadBackAt(uint64_t offset, void* buffer, size_t size, int& error) {
    // Counted as a read; writes not yet flushed are what a device cache
    // would answer, so they show here as well.
    return ReadAt(offset, buffer, size, error);
}

bool CFaultDevice::Flush(int& error) {
    ++flushes;
    ++events;
    if (!crashed && crashAtEvent != 0 && events >= crashAtEvent) Crash();
    if (Dead() || flushes == failFlushAt) {
        if (flushes == failFlushAt && failForever) dead_ = true;
        error = crashed ? EIO : failError;
        return false;
    }
    for (auto& p : pending_)
        if (!inner_->WriteAt(p.offset, p.data.data(), p.data.size(), error)) return false;
    pending_.clear();
    return inner_->Flush(error);
}

void CFaultDevice::UnmountVolumes() {
    ++unmounts;
    inner_->UnmountVolumes();
}

DeviceKind CFaultDevice::Kind() const { return inner_->Kind(); }
std::string CFaultDevice::Path() const { return inner_->Path(); }

}  // namespace rk
