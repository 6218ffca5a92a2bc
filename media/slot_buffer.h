#pragma once
// One frame slot buffer per operation: page-aligned, allocated once and
// reused for every frame, freed on every path.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

namespace rk {

class CSlotBuffer {
public:
    CSlotBuffer() = default;
    ~CSlotBuffer() { Free(); }
    CSlotBuffer(const CSlotBuffer&) = delete;
    CSlotBuffer& operator=(const CSlotBuffer&) = delete;

    // False when the memory cannot be had.
    bool Allocate(size_t bytes) {
        Free();
        size_t rounded = (bytes + 4095) / 4096 * 4096;
        data_ = static_cast<uint8_t*>(std::aligned_alloc(4096, rounded ? rounded : 4096));
        size_ = data_ ? bytes : 0;
        return data_ != nullptr;
    }
    void Free() {
        std::free(data_);
        data_ = nullptr;
        size_ = 0;
    }
    uint8_t* Data() { return data_; }
    size_t Size() const { return size_; }

private:
    uint8_t* data_ = nullptr;
    size_t size_ = 0;
};

}  // namespace rk
