// A hostile PNG given to the frame-sized picture decoder (through a file,
// as the add gives it): it reads nothing past the file or its own buffers,
// and a picture it takes has every row of the size it was asked for. The
// size asked is the header's own when that is small (up to 64 x 64), so the
// fuzzer reaches the row filters without inflating whole frames.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "base/fd_io.h"
#include "codec/kvq1_format.h"
#include "effects/effect_picture_decoder.h"

namespace {

char g_name[] = "/tmp/rk-fuzz-png-XXXXXX";

std::string ScratchFile() {
    const int fd = mkstemp(g_name);
    if (fd < 0) std::abort();
    close(fd);
    std::atexit([] { unlink(g_name); });
    return g_name;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const std::string path = ScratchFile();
    static rk::CFramePngDecoder decoder;  // kept, as the add keeps it from picture to picture
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) std::abort();
    if (size && std::fwrite(data, 1, size, f) != size) std::abort();
    std::fclose(f);
    int width = 1920, height = 1080;
    if (size >= 24) {
        const uint32_t w = rk::ReadBE32(data + 16), h = rk::ReadBE32(data + 20);
        if (w >= 1 && w <= 64 && h >= 1 && h <= 64) width = int(w), height = int(h);
    }
    std::string why;
    if (decoder.Decode(path, width, height, why)) {
        const size_t channels = decoder.HasAlpha() ? 4 : 3;
        if (decoder.RowBytes() != size_t(width) * channels) __builtin_trap();
        unsigned sum = 0;
        for (size_t i = 0; i < decoder.RowBytes() * size_t(height); ++i) sum += decoder.Pixels()[i];
        if (sum == 0xFFFFFFFFu) std::puts("");  // keeps the reads
    } else if (why.empty()) {
        __builtin_trap();  // a refusal always says why
    }
    return 0;
}
