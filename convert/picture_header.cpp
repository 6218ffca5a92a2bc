#include "convert/picture_header.h"

#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <vector>

#include "base/safe_open.h"

namespace rk {

namespace {

// The first bytes of a picture file: enough for every header below, and
// for a JPEG's markers up to its frame header in all but odd files.
constexpr size_t kHeadBytes = 64 * 1024;

uint32_t BE16(const uint8_t* p) { return uint32_t(p[0]) << 8 | p[1]; }
uint32_t BE32(const uint8_t* p) { return BE16(p) << 16 | BE16(p + 2); }
uint32_t LE16(const uint8_t* p) { return uint32_t(p[1]) << 8 | p[0]; }
uint32_t LE32(const uint8_t* p) { return LE16(p + 2) << 16 | LE16(p); }

std::vector<uint8_t> ReadHead(const std::string& path) {
    std::vector<uint8_t> head;
    const int fd = OpenInputFile(path);
    if (fd < 0) return head;
    head.resize(kHeadBytes);
    size_t got = 0;
    while (got < head.size()) {
        const ssize_t n = ::read(fd, head.data() + got, head.size() - got);
        if (n <= 0) break;
        got += size_t(n);
    }
    ::close(fd);
    head.resize(got);
    return head;
}

bool SizeFromHead(const std::vector<uint8_t>& h, long long& width, long long& height) {
    const size_t n = h.size();
    static const uint8_t kPng[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    if (n >= 24 && std::memcmp(h.data(), kPng, 8) == 0 && std::memcmp(h.data() + 12, "IHDR", 4) == 0) {
        width = BE32(&h[16]);
        height = BE32(&h[20]);
        return true;
    }
    if (n >= 10 && (std::memcmp(h.data(), "GIF87a", 6) == 0 || std::memcmp(h.data(), "GIF89a", 6) == 0)) {
        width = LE16(&h[6]);
        height = LE16(&h[8]);
        return true;
    }
    if (n >= 26 && h[0] == 'B' && h[1] == 'M') {
        width = int32_t(LE32(&h[18]));
        height = int32_t(LE32(&h[22]));
        if (height < 0) height = -height;  // top-down rows
        return true;
    }
    if (n >= 4 && h[0] == 0xFF && h[1] == 0xD8) {
        // Marker segments up to the first frame header (SOF0 to SOF15, less
        // the table and restart markers that share the range).
        size_t at = 2;
        while (at + 9 <= n) {
            if (h[at] != 0xFF) return false;
            const uint8_t marker = h[at + 1];
            if (marker == 0xFF) {
                ++at;
                continue;
            }
            if (marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC) {
                height = BE16(&h[at + 5]);
                width = BE16(&h[at + 7]);
                return true;
            }
            at += 2 + BE16(&h[at + 2]);
        }
    }
    return false;
}

bool LooksLikeText(const std::vector<uint8_t>& h) {
    for (uint8_t c : h)
        if (c < 0x09 || (c > 0x0D && c < 0x20) || c == 0x7F) return false;
    return true;
}

}  // namespace

bool ReadPictureSize(const std::string& path, int& width, int& height) {
    long long w = 0, h = 0;
    if (!SizeFromHead(ReadHead(path), w, h)) return false;
    width = int(w > 2147483647LL ? 2147483647LL : w);
    height = int(h > 2147483647LL ? 2147483647LL : h);
    return true;
}

std::string PictureFileFault(const std::string& path) {
    std::string why;
    if (!CheckInputPath(path, &why)) return {};
    const std::vector<uint8_t> head = ReadHead(path);
    if (head.empty()) return "the file is empty";
    long long w = 0, h = 0;
    if (SizeFromHead(head, w, h)) {
        const std::string size = std::to_string(w) + " x " + std::to_string(h) + " pixels";
        if (w <= 0 || h <= 0) return "a picture of " + size + ": there is nothing to show";
        if ((w + 128) * (h + 128) >= kMaxToolPicturePixels)
            return "a picture of " + size + ", more than ffmpeg decodes (about " +
                   std::to_string(kMaxToolPicturePixels / 1000000) + " million pixels at most)";
        return {};
    }
    if (LooksLikeText(head)) return "it holds text, not a picture";
    return {};
}

}  // namespace rk
