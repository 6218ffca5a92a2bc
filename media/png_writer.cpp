// A small PNG writer: 8-bit truecolour, filter 0 on every row, the zlib
// stream made of stored (uncompressed) deflate blocks. Thumbnails and
// previews are small, so size matters less than having no dependency.
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <vector>

#include "media/thumbnail.h"
#include "base/fd_io.h"
#include "base/safe_open.h"
#include "ui/operator.h"

namespace rk {

namespace {

struct Crc32Table {
    uint32_t t[256];
    Crc32Table() {
        for (uint32_t n = 0; n < 256; ++n) {
            uint32_t c = n;
            for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            t[n] = c;
        }
    }
};

uint32_t Crc32(uint32_t crc, const uint8_t* p, size_t n) {
    static const Crc32Table table;
    crc = ~crc;
    for (size_t i = 0; i < n; ++i) crc = table.t[(crc ^ p[i]) & 0xFF] ^ (crc >> 8);
    return ~crc;
}

void PutBE32(std::vector<uint8_t>& out, uint32_t v) {
    out.push_back(static_cast<uint8_t>(v >> 24));
    out.push_back(static_cast<uint8_t>(v >> 16));
    out.push_back(static_cast<uint8_t>(v >> 8));
    out.push_back(static_cast<uint8_t>(v));
}

void PutChunk(std::vector<uint8_t>& out, const char type[4], const std::vector<uint8_t>& data) {
    PutBE32(out, static_cast<uint32_t>(data.size()));
    size_t start = out.size();
    out.insert(out.end(), type, type + 4);
    out.insert(out.end(), data.begin(), data.end());
    PutBE32(out, Crc32(0, out.data() + start, out.size() - start));
}


}  // namespace

bool WritePNG(const std::string& path, int width, int height, const uint8_t* rgb, std::string* why) {
    if (width <= 0 || height <= 0 || !rgb) {
        if (why) *why = path + ": no picture to write";
        return false;
    }
    const size_t rowBytes = static_cast<size_t>(width) * 3;
    // The filtered image: one filter byte (0) in front of every row.
    std::vector<uint8_t> raw;
    raw.reserve((rowBytes + 1) * static_cast<size_t>(height));
    for (int y = 0; y < height; ++y) {
        raw.push_back(0);
        const uint8_t* row = rgb + static_cast<size_t>(y) * rowBytes;
        raw.insert(raw.end(), row, row + rowBytes);
    }

    // zlib header (deflate, 32K window, no dictionary), stored blocks of at
    // most 65535 bytes, then the Adler-32 of the raw data.
    std::vector<uint8_t> z;
    z.reserve(raw.size() + raw.size() / 65535 * 5 + 16);
    z.push_back(0x78);
    z.push_back(0x01);
    size_t pos = 0;
    do {
        size_t len = std::min<size_t>(65535, raw.size() - pos);
        bool last = pos + len == raw.size();
        z.push_back(last ? 1 : 0);
        z.push_back(static_cast<uint8_t>(len));
        z.push_back(static_cast<uint8_t>(len >> 8));
        z.push_back(static_cast<uint8_t>(~len));
        z.push_back(static_cast<uint8_t>(~len >> 8));
        z.insert(z.end(), raw.begin() + static_cast<ptrdiff_t>(pos), raw.begin() + static_cast<ptrdiff_t>(pos + len));
        pos += len;
    } while (pos < raw.size());
    uint32_t a = 1, b = 0;
    for (uint8_t c : raw) {
        a = (a + c) % 65521;
        b = (b + a) % 65521;
    }
    PutBE32(z, (b << 16) | a);

    std::vector<uint8_t> png = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    std::vector<uint8_t> ihdr;
    PutBE32(ihdr, static_cast<uint32_t>(width));
    PutBE32(ihdr, static_cast<uint32_t>(height));
    ihdr.insert(ihdr.end(), {8, 2, 0, 0, 0});  // 8 bits, truecolour, deflate, filter 0, no interlace
    PutChunk(png, "IHDR", ihdr);
    PutChunk(png, "IDAT", z);
    PutChunk(png, "IEND", {});

    std::string reason;
    int fd = OpenOutputFile(path, &reason);  // never waits on a FIFO or a device
    if (fd >= 0) {
        bool ok = WriteWhole(fd, png.data(), png.size());
        if (!ok) reason = FileCause(path, errno ? errno : EIO);
        if (::close(fd) != 0 && ok) {
            ok = false;
            reason = FileCause(path, errno);
        }
        if (ok) return true;
    }
    if (why) *why = reason;
    return false;
}

bool WritePicturePNG(const std::string& path, const CPicture& picture, std::string* why) {
    const int w = picture.Width(), h = picture.Height();
    if (w <= 0 || h <= 0) return WritePNG(path, 0, 0, nullptr, why);
    std::vector<uint8_t> rgb(static_cast<size_t>(w) * static_cast<size_t>(h) * 3);
    for (int y = 0; y < h; ++y) {
        const uint8_t* s = picture.Row(y);
        uint8_t* d = rgb.data() + static_cast<size_t>(y) * static_cast<size_t>(w) * 3;
        for (int x = 0; x < w; ++x) {
            d[3 * x] = s[4 * x + 2];
            d[3 * x + 1] = s[4 * x + 1];
            d[3 * x + 2] = s[4 * x];
        }
    }
    return WritePNG(path, w, h, rgb.data(), why);
}

}  // namespace rk
