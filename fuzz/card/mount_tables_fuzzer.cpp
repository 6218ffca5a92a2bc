// The kernel's mount and swap tables as hostile text.
#include <cstddef>
#include <cstdint>
#include <string>

#include "card/drive_scan.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string text(reinterpret_cast<const char*>(data), size);
    for (const auto& m : rk::ParseMountInfo(text))
        if (m.device.empty()) __builtin_trap();
    rk::ParseSwaps(text);
    rk::DeviceNameOf(text, text);
    return 0;
}
