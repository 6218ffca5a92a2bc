#include "effects/effect_conversions.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <system_error>
#include <vector>

#include "base/fd_io.h"
#include "base/safe_open.h"
#include "convert/app_launch.h"
#include "convert/tool_folder.h"
#include "effects/effect_format.h"
#include "effects/stinger.h"

namespace rk {

namespace {

constexpr size_t kPreviewBytes = size_t(kPreviewWidth) * kPreviewHeight * 4;
constexpr size_t kFramePixels = size_t(kEffectWidth) * kEffectHeight;

// Runs ffmpeg in the work folder; true when it ran and exited with 0.
bool RunFfmpeg(const std::vector<std::string>& args, const CEffectWorkFolder& work) {
    std::vector<std::string> all = {"-v", "error", "-nostdin"};
    all.insert(all.end(), args.begin(), args.end());
    CAppLaunch tool(kToolFfmpeg, all, false, work.Path());
    if (!tool.started) return false;
    if (!tool.Wait(-1)) return false;
    return tool.exitCode == 0;
}

// Reads exactly `bytes` of a file of the work folder; removes it afterwards.
bool ReadBack(const std::string& path, uint8_t* data, size_t bytes) {
    bool ok = false;
    {
        CFileHandle file(OpenInputFile(path));
        if (file.fd >= 0) ok = ReadWholeAt(file.fd, 0, data, bytes) == 1;
    }
    return ok;
}

struct RemoveAtEnd {
    std::vector<std::string> paths;
    ~RemoveAtEnd() {
        for (const auto& p : paths) ::unlink(p.c_str());
    }
};

}  // namespace

CEffectWorkFolder::~CEffectWorkFolder() {
    if (path_.empty()) return;
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
}

bool CEffectWorkFolder::Create() {
    std::string name = TempFolder() + "/rk-effect-XXXXXX";
    if (!::mkdtemp(name.data())) return false;  // mkdtemp makes it 0700
    path_ = name;
    return true;
}

bool AddPicture(CStinger& stinger, const std::string& picturePath, const CEffectWorkFolder& work) {
    if (work.Path().empty() || !CheckInputPath(picturePath)) return false;
    RemoveAtEnd cleanup{{work.File("1.rgb")}};
    if (!RunFfmpeg({"-i", AbsolutePath(picturePath), "-vf", "scale=640:360", "-an", "-pix_fmt", "bgra", "-q:v", "1",
                    "-f", "rawvideo", "-y", "1.rgb"},
                   work))
        return false;
    auto picture = std::make_unique<CPicture>();
    if (!picture->Create(kPreviewWidth, kPreviewHeight)) return false;
    if (!ReadBack(work.File("1.rgb"), picture->Bits(), kPreviewBytes)) return false;
    uint8_t* px = picture->Bits();
    for (size_t i = 0; i < kPreviewBytes; i += 4) px[i + 3] = px[i + 3] < 128 ? 255 : 0;
    stinger.Pictures().Add(std::move(picture));
    return true;
}

bool ConvertFrame(const std::string& picturePath, const EffectPlanes& p, const CEffectWorkFolder& work) {
    if (work.Path().empty() || !CheckInputPath(picturePath)) return false;
    RemoveAtEnd cleanup{{work.File("1.rgb"), work.File("1.yuv")}};
    // One decode, two outputs, each with the filters of its own run.
    if (!RunFfmpeg({"-i", AbsolutePath(picturePath), "-an", "-vf", "scale=1920:1080", "-pix_fmt", "rgba", "-f",
                    "rawvideo", "-y", "1.rgb", "-an", "-vf", "scale=1920:1080:out_range=tv", "-pix_fmt", "yuv420p",
                    "-f", "rawvideo", "-y", "1.yuv"},
                   work))
        return false;
    if (!ReadBack(work.File("1.rgb"), p.rgba, kFramePixels * 4)) return false;
    const size_t chroma = kFramePixels / 4;
    CFileHandle yuv(OpenInputFile(work.File("1.yuv")));
    if (yuv.fd < 0) return false;
    if (ReadWholeAt(yuv.fd, 0, p.y, kFramePixels) != 1 || ReadWholeAt(yuv.fd, kFramePixels, p.cb, chroma) != 1 ||
        ReadWholeAt(yuv.fd, kFramePixels + chroma, p.cr, chroma) != 1)
        return false;
    for (size_t i = 0; i < kFramePixels; ++i)
        if (p.rgba[i * 4 + 3] < 128) p.y[i] = 2;
    return true;
}

bool ConvertSound(const std::string& soundPath, uint8_t* buffer, size_t bytes, const CEffectWorkFolder& work) {
    if (work.Path().empty() || !CheckInputPath(soundPath)) return false;
    RemoveAtEnd cleanup{{work.File("1.raw")}};
    if (!RunFfmpeg({"-i", AbsolutePath(soundPath), "-t", "00:00:05", "-f", "s24le", "-ar", "48000", "-ac", "2",
                    "-acodec", "pcm_s24le", "-y", "1.raw"},
                   work))
        return false;
    CFileHandle file(OpenInputFile(work.File("1.raw")));
    if (file.fd < 0) return false;
    size_t got = 0;
    while (got < bytes) {
        ssize_t r = ::read(file.fd, buffer + got, bytes - got);
        if (r < 0 && errno == EINTR) continue;
        if (r < 0) return false;
        if (r == 0) break;
        got += size_t(r);
    }
    return true;
}

}  // namespace rk
