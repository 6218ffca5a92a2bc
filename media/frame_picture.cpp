#include "media/frame_picture.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <new>

#include "base/fd_io.h"
#include "base/log.h"
#include "card/card_directory.h"
#include "codec/kvq1_decoder.h"
#include "convert/app_launch.h"
#include "convert/pipe_folder.h"
#include "convert/plane_memory.h"
#include "convert/tool_folder.h"
#include "media/picture.h"

namespace rk {

namespace {

// Decodes the slot's frame and hands its planes to `convert` (R, G, B rows
// of the frame's size into memory it provides).
template <class Convert>
bool DecodeSlotFrame(const uint8_t* slot, int clustersPerFrame, int sizeClass, int& width, int& height,
                     Convert&& convert) {
    if (clustersPerFrame < 2) return false;
    const int w = sizeClass == 2 ? 3840 : 1920;
    const int h = sizeClass == 2 ? 2160 : 1080;
    const size_t plane = static_cast<size_t>(w) * static_cast<size_t>(h + 8);
    // Fresh memory in large pages: a 4K frame's planes would otherwise cost
    // thousands of page faults on first touch.
    CPlaneMemory planes;
    if (!planes.Allocate(plane * 3)) return false;
    uint8_t* y = planes.Data();
    uint8_t* cb = y + plane;
    uint8_t* cr = cb + plane;
    // The planes hold a frame of the card's size class: one whose header
    // claims the other is not decoded into them.
    const uint8_t* frame = slot + kClusterSize;
    if (std::memcmp(frame, kKVQ1Magic, 4) != 0 || frame[4] != sizeClass) return false;
    KVQ1Decoder decoder;
    const size_t frameBytes = static_cast<size_t>(clustersPerFrame - 1) * kClusterSize;
    if (!decoder.Decode(slot + kClusterSize, frameBytes, y, cb, cr)) return false;
    if (decoder.Geometry().width != w || decoder.Geometry().height != h) return false;
    uint8_t* out = convert(static_cast<size_t>(w) * h * 3);
    if (!out) return false;
    FrameToRGB24(FramePlanes{y, cb, cr, w, h}, out);
    width = w;
    height = h;
    return true;
}

}  // namespace

bool DecodeSlotToRGB(const uint8_t* slot, int clustersPerFrame, int sizeClass, std::vector<uint8_t>& rgb,
                     int& width, int& height) {
    return DecodeSlotFrame(slot, clustersPerFrame, sizeClass, width, height, [&](size_t bytes) {
        rgb.assign(bytes, 0);
        return rgb.data();
    });
}

bool DecodeSlotToRGB(const uint8_t* slot, int clustersPerFrame, int sizeClass, CPlaneMemory& rgb, int& width,
                     int& height) {
    return DecodeSlotFrame(slot, clustersPerFrame, sizeClass, width, height,
                           [&](size_t bytes) { return rgb.Allocate(bytes) ? rgb.Data() : nullptr; });
}

namespace {

bool WriteFolderFile(const std::string& path, const void* head, size_t headBytes, const uint8_t* data,
                     size_t bytes) {
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) return false;
    const bool written = WriteWhole(fd, head, headBytes) && WriteWhole(fd, data, bytes);
    const bool closed = ::close(fd) == 0;
    if (!written || !closed) {
        LogMessage(2, "cannot write %s", path.c_str());
        return false;
    }
    return true;
}

}  // namespace

std::string WriteRgbAsPpm(CPipeFolder& folder, const std::vector<uint8_t>& rgb, int width, int height,
                          const char* name) {
    if (width <= 0 || height <= 0 || rgb.size() != size_t(width) * size_t(height) * 3) return {};
    return WriteRgbAsPpm(folder, rgb.data(), width, height, name);
}

std::string WriteRgbAsPpm(CPipeFolder& folder, const uint8_t* rgb, int width, int height, const char* name) {
    if (!rgb || width <= 0 || height <= 0) return {};
    const std::string path = folder.AddFile(name);
    if (path.empty()) return {};
    char head[48];
    const int n = std::snprintf(head, sizeof head, "P6\n%d %d\n255\n", width, height);
    if (!WriteFolderFile(path, head, size_t(n), rgb, size_t(width) * size_t(height) * 3)) return {};
    return path;
}

bool RawToPictureFile(CPipeFolder& folder, const std::vector<uint8_t>& rgb, int width, int height,
                      const std::string& outputPath, const std::vector<std::string>& extraArgs) {
    const std::string raw = folder.AddFile("1.raw");
    if (raw.empty()) return false;
    if (!WriteFolderFile(raw, nullptr, 0, rgb.data(), rgb.size())) return false;
    std::vector<std::string> args = {"-f", "rawvideo", "-pix_fmt", "rgb24", "-s",
                                     std::to_string(width) + "x" + std::to_string(height), "-i", "1.raw", "-y"};
    args.insert(args.end(), extraArgs.begin(), extraArgs.end());
    // The output by a name of ours, linked to the person's: written under
    // exactly the name they gave, "%03d" and all.
    const std::string output = folder.LiteralName("output", outputPath);
    if (output.empty()) return false;
    args.push_back(output);
    CAppLaunch ffmpeg(kToolFfmpeg, args, false, folder.Path());
    if (!ffmpeg.started || !ffmpeg.Wait(-1)) return false;
    if (ffmpeg.exitCode != 0) {
        LogMessage(2, "RawToPictureFile(): ffmpeg ended with %d", ffmpeg.exitCode);
        return false;
    }
    return true;
}

}  // namespace rk
