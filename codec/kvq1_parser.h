#pragma once
// KVQ1Parser: the small reader of a KVQ1 frame header that operations use to
// check a frame before copying it. The frame of a frame slot starts at slot
// offset 12288.
#include <cstddef>
#include <cstdint>

namespace rk {

class KVQ1Parser {
public:
    // Over the first bytes of a frame; the header is 32 bytes and at least the
    // first 12 must be readable. `size` bounds what may be read: fewer than 12
    // bytes make the parser invalid.
    explicit KVQ1Parser(const uint8_t* header, size_t size = 32);
    virtual ~KVQ1Parser() = default;

    bool Valid() const { return valid != 0; }      // the magic reads "KVQ1"
    int SizeClass() const;          // 1 or 2 when valid and the byte is 1 or 2; else -1
    int FrameBudgetBytes() const;   // budget field x 512 when valid; else 0
    int FrameRate() const;          // the rate code, 0 read as 50; 0 when not valid
    uint32_t FrameNumber() const;   // header bytes 8..11 when valid; else 0

private:
    const uint8_t* header;
    uint8_t valid = 0;
};

}  // namespace rk
