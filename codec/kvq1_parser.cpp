#include "codec/kvq1_parser.h"

#include <cstring>

#include "codec/kvq1_format.h"

namespace rk {

KVQ1Parser::KVQ1Parser(const uint8_t* h, size_t size) : header(h) {
    valid = (h != nullptr && size >= 12 && std::memcmp(h, kKVQ1Magic, 4) == 0) ? 1 : 0;
}

int KVQ1Parser::SizeClass() const {
    if (!valid) return -1;
    const int c = header[4];
    return (c == 1 || c == 2) ? c : -1;
}

int KVQ1Parser::FrameBudgetBytes() const { return valid ? int(ReadBE16(header + 6)) * 512 : 0; }

int KVQ1Parser::FrameRate() const { return valid ? NormaliseFrameRateCode(header[5]) : 0; }

uint32_t KVQ1Parser::FrameNumber() const { return valid ? ReadBE32(header + 8) : 0; }

}  // namespace rk
