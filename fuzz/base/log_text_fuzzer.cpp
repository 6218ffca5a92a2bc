// Any bytes as a log message: the UTF-8 to UTF-16LE conversion never reads
// or writes out of bounds, respects its unit limit and never splits a pair.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "base/log.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    std::size_t limit = data[0] * 4u;
    std::string out;
    std::size_t units = rk::AppendUtf16Le(out, reinterpret_cast<const char*>(data + 1), size - 1, limit);
    if (units > limit || out.size() != units * 2) std::abort();
    // The last unit is never a lone high surrogate.
    if (units > 0) {
        unsigned last = static_cast<unsigned char>(out[out.size() - 2]) |
                        static_cast<unsigned char>(out[out.size() - 1]) << 8;
        if (last >= 0xD800 && last <= 0xDBFF) std::abort();
    }
    return 0;
}
