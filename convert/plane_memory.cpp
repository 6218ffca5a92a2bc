#include "convert/plane_memory.h"

#include <sys/mman.h>

namespace rk {

namespace {

// Buffers from this size on are asked for in large pages.
constexpr size_t kLargePage = size_t(2) << 20;

}  // namespace

CPlaneMemory::~CPlaneMemory() {
    if (data_) ::munmap(data_, bytes_);
}

bool CPlaneMemory::Allocate(size_t bytes) {
    if (data_) ::munmap(data_, bytes_);
    data_ = nullptr;
    bytes_ = 0;
    if (bytes == 0) return false;
    // Mapped a large page more than asked, so that the start can be moved
    // to a large page's boundary; the ends are given back.
    const size_t rounded = (bytes + kLargePage - 1) / kLargePage * kLargePage;
    const size_t span = bytes >= kLargePage ? rounded + kLargePage : rounded;
    void* p = ::mmap(nullptr, span, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (p == MAP_FAILED) return false;
    uint8_t* base = static_cast<uint8_t*>(p);
    size_t length = span;
    if (bytes >= kLargePage) {
        const uintptr_t at = reinterpret_cast<uintptr_t>(base);
        const size_t lead = (kLargePage - at % kLargePage) % kLargePage;
        if (lead) ::munmap(base, lead);
        base += lead;
        length -= lead;
        if (length > rounded) ::munmap(base + rounded, length - rounded);
        length = rounded;
        ::madvise(base, length, MADV_HUGEPAGE);  // a hint: without it, small pages
    }
    data_ = base;
    bytes_ = length;
    return true;
}

}  // namespace rk
