#pragma once
// Sources made with the real ffmpeg for the import and export tests, and
// what the tests read back from frame slots.
#include <cstdint>
#include <string>
#include <vector>

#include "convert/test_util.h"

namespace rk::test {

// Runs the bundled ffmpeg (or ffprobe) with `args` filled into `argTemplate`;
// true when it ended with exit code 0. `output` receives standard output.
bool RunTool(const char* tool, const char* argTemplate, const std::vector<std::string>& args,
             std::string* output = nullptr);

// ffmpeg with the arguments as one template, for making sources.
bool MakeMedia(const std::string& argTemplate, const std::vector<std::string>& args);

// The value of `key=` in ffprobe's text for the first stream it printed.
std::string ProbeValue(const std::string& text, const std::string& key);

// A decoded slot: the luma plane of the picture size and the sound as
// interleaved little-endian 24-bit stereo.
struct DecodedSlot {
    bool ok = false;
    uint32_t videoFrameNumber = 0;
    uint32_t audioFrameNumber = 0;
    int chunkLengthWords = 0;
    std::vector<uint8_t> luma;
    std::vector<uint8_t> audio;
};
DecodedSlot DecodeSlot(const uint8_t* slot, size_t bytes);

// Luma PSNR of `luma` against frame `index` of a raw yuv420p file.
double LumaPsnr(const std::vector<uint8_t>& luma, const std::string& rawFile, int index, int width, int height);

// Sample `i` of channel `c` of interleaved s24le audio, as a signed value.
int32_t Sample24(const std::vector<uint8_t>& audio, size_t frame, int channel);

}  // namespace rk::test
