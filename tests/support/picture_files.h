#pragma once
// Picture files for tests of every subsystem, through the bundled ffmpeg:
// a picture file's pixels as 24-bit RGB rows, and sources made with one
// ffmpeg command line.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "convert/tool_folder.h"
#include "support/test_files.h"

namespace rk::test {

// Runs the bundled ffmpeg with `args` (pasted into a shell command line after
// "-v error -nostdin -y", quoted by the caller); true when it exits with 0.
inline bool RunFfmpeg(const std::string& args) {
    const std::string cmd = "'" + ProgramFile(kToolFfmpeg) + "' -v error -nostdin -y " + args + " </dev/null";
    return std::system(cmd.c_str()) == 0;
}

// The first picture of `path` as `width` x `height` x 3 bytes R, G, B (scaled
// when its size differs); empty when ffmpeg cannot read it.
inline std::vector<uint8_t> ReadPictureRgb(const std::string& path, int width, int height) {
    TempDir dir("rk-picture");
    const std::string out = dir.File("p.rgb");
    if (!RunFfmpeg("-i '" + path + "' -frames:v 1 -vf scale=" + std::to_string(width) + ":" + std::to_string(height) +
                   " -f rawvideo -pix_fmt rgb24 '" + out + "'"))
        return {};
    std::vector<uint8_t> rgb = ReadFileBytes(out);
    if (rgb.size() != size_t(width) * size_t(height) * 3) return {};
    return rgb;
}

}  // namespace rk::test
