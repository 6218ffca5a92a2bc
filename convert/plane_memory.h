#pragma once
#include <cstddef>
#include <cstdint>

namespace rk {

// Memory for a picture's planes: 64-byte aligned, and for large sizes in
// the kernel's large pages where it gives them (a fresh 4K picture
// otherwise costs thousands of page faults on first touch). Contents
// undefined until written.
class CPlaneMemory {
public:
    CPlaneMemory() = default;
    ~CPlaneMemory();
    CPlaneMemory(const CPlaneMemory&) = delete;
    CPlaneMemory& operator=(const CPlaneMemory&) = delete;
    // False when the memory cannot be had.
    bool Allocate(size_t bytes);
    uint8_t* Data() const { return data_; }

private:
    uint8_t* data_ = nullptr;
    size_t bytes_ = 0;
};

}  // namespace rk
