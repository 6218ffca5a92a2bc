// Writes seed frames for the codec fuzzers into the folder given: small real
// frames of both size classes made by the encoder at small budgets, all-empty
// frames, and a few header-only inputs for the parser.
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "codec/kavq1_slot.h"
#include "codec/kvq1_encoder.h"

namespace {

bool Save(const std::string& path, const uint8_t* data, size_t size) {
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return false;
    const bool ok = std::fwrite(data, 1, size, f) == size;
    return std::fclose(f) == 0 && ok;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s DECODER_CORPUS PARSER_CORPUS\n", argv[0]);
        return 2;
    }
    const std::string dec = argv[1], par = argv[2];
    int n = 0;
    for (int sc : {1, 2}) {
        const rk::KVQ1Geometry g = rk::KVQ1GeometryFor(sc);
        std::vector<uint8_t> y(g.LumaBytes()), cb(g.ChromaBytes()), cr(g.ChromaBytes());
        // A smooth picture with some texture: gradients, rings and a little noise.
        uint32_t seed = 1;
        for (int row = 0; row < g.codedHeight; ++row)
            for (int x = 0; x < g.width; ++x) {
                seed = seed * 1664525u + 1013904223u;
                const double r = std::hypot(x - g.width / 2.0, row - g.height / 2.0);
                y[size_t(row) * g.width + x] =
                    uint8_t(std::lround(127 + 60 * std::sin(r / 17.0) + (x * 50) / g.width + (seed >> 29)));
            }
        for (size_t i = 0; i < cb.size(); ++i) {
            cb[i] = uint8_t(100 + (i % 97));
            cr[i] = uint8_t(160 - (i % 61));
        }
        for (int sectors : {1, 16, 48}) {
            const int budget = sc == 1 ? sectors : sectors * 2;
            rk::KVQ1Encoder enc(sc, budget, 50);
            std::vector<uint8_t> out(size_t(enc.BudgetBytes()));
            const int len = enc.Encode(uint32_t(n), y.data(), cb.data(), cr.data(), out.data());
            if (len <= 0) continue;
            // The budget as size, as every caller passes it.
            if (!Save(dec + "/frame" + std::to_string(n++), out.data(), out.size())) return 1;
        }
    }
    // Headers for the parser: a chunk header then a frame header.
    for (int sc : {1, 2, 3}) {
        uint8_t h[64] = {};
        rk::WriteAudioChunkHeader(h, 7, rk::AudioShareBytes(29, 7));
        const uint8_t frame[12] = {'K', 'V', 'Q', '1', uint8_t(sc), 29, 3, 0, 0, 0, 0, 7};
        for (int i = 0; i < 12; ++i) h[32 + i] = frame[i];
        if (!Save(par + "/header" + std::to_string(sc), h, sizeof h)) return 1;
    }
    std::printf("%d decoder seeds\n", n);
    return 0;
}
