#include "codec_test_util.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>

namespace rk::test {

Planes MakePlanes(int sizeClass, uint8_t luma, uint8_t chroma) {
    Planes p;
    p.g = KVQ1GeometryFor(sizeClass);
    p.y.assign(p.g.LumaBytes(), luma);
    p.cb.assign(p.g.ChromaBytes(), chroma);
    p.cr.assign(p.g.ChromaBytes(), chroma);
    return p;
}

std::string TestDataDir() {
    const char* base = std::getenv("RK_TEST_DATA");
    std::string dir = base && *base ? std::string(base) : std::string("/tmp/rk-testdata");
    ::mkdir(dir.c_str(), 0755);
    dir += "/codec";
    ::mkdir(dir.c_str(), 0755);
    return dir;
}

std::vector<std::string> PhotoNames() { return {"adwaita-l", "pixels-l", "wood-l", "licorice-l"}; }

bool LoadPhoto(const std::string& name, int sizeClass, Planes& out, std::string* why) {
    out = MakePlanes(sizeClass, 0, 128);
    const KVQ1Geometry& g = out.g;
    const std::string source = "/usr/share/backgrounds/gnome/" + name + ".webp";
    if (::access(source.c_str(), R_OK) != 0) {
        if (why) *why = "missing " + source;
        return false;
    }
    const std::string raw = TestDataDir() + "/" + name + "_" + std::to_string(g.width) + "x" +
                            std::to_string(g.height) + ".yuv";
    const size_t lumaBytes = size_t(g.width) * g.height, chromaBytes = lumaBytes / 4;
    const size_t want = lumaBytes + 2 * chromaBytes;
    struct stat st {};
    if (::stat(raw.c_str(), &st) != 0 || size_t(st.st_size) != want) {
        const std::string tmp = raw + "." + std::to_string(::getpid()) + ".tmp";
        const std::string cmd = "/usr/bin/ffmpeg -nostdin -v error -y -i '" + source + "' -vf 'scale=" +
                                std::to_string(g.width) + ":" + std::to_string(g.width) + ",crop=" +
                                std::to_string(g.width) + ":" + std::to_string(g.height) +
                                "' -pix_fmt yuv420p -f rawvideo '" + tmp + "'";
        if (std::system(cmd.c_str()) != 0) {
            if (why) *why = "ffmpeg failed: " + cmd;
            std::remove(tmp.c_str());
            return false;
        }
        std::rename(tmp.c_str(), raw.c_str());
    }
    std::ifstream in(raw, std::ios::binary);
    std::vector<uint8_t> data(want);
    if (!in.read(reinterpret_cast<char*>(data.data()), std::streamsize(want))) {
        if (why) *why = "short read of " + raw;
        return false;
    }
    std::copy(data.begin(), data.begin() + lumaBytes, out.y.begin());
    std::copy(data.begin() + lumaBytes, data.begin() + lumaBytes + chromaBytes, out.cb.begin());
    std::copy(data.begin() + lumaBytes + chromaBytes, data.end(), out.cr.begin());
    return true;
}

double LumaPsnr(const Planes& a, const Planes& b) {
    double sum = 0;
    const size_t n = size_t(a.g.width) * a.g.height;
    for (size_t i = 0; i < n; ++i) {
        const double d = double(a.y[i]) - double(b.y[i]);
        sum += d * d;
    }
    if (sum == 0) return 99.0;
    return 10.0 * std::log10(255.0 * 255.0 * double(n) / sum);
}

}  // namespace rk::test
