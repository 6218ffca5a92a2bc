// Probe output of any shape through CINIParser: every lookup stays within
// its value buffer and ends.
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <string>

#include "convert/ini_parser.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static int fd = memfd_create("probe", MFD_CLOEXEC);
    if (fd < 0) return 0;
    if (ftruncate(fd, 0) != 0 || (size && pwrite(fd, data, size, 0) != static_cast<ssize_t>(size))) return 0;
    rk::CINIParser parser("/proc/self/fd/" + std::to_string(fd));
    static const char* const kKeys[] = {"width", "height", "duration", "TAG:NUMBER_OF_FRAMES", "channels", ""};
    // The whole file, then the first picture stream's block alone, as the
    // import reads its one probe.
    for (const char* type : {"", "video", "audio"}) {
        if (*type) (void)parser.SelectBlock("STREAM", "codec_type", type);
        for (const char* section : {"STREAM", "FORMAT", ""})
            for (const char* key : kKeys) {
                const char* v = parser.GetValue(section, key);
                if (std::strlen(v) > 255) __builtin_trap();
                (void)parser.GetInteger(section, key);
                (void)parser.GetDouble(section, key);
            }
        (void)parser.HasLine("side_data_type=Display Matrix");
    }
    return 0;
}
