#pragma once
// Pictures and frames for the codec tests and benchmarks.
#include <cstdint>
#include <string>
#include <vector>

#include "codec/kvq1_format.h"

namespace rk::test {

struct Planes {
    KVQ1Geometry g;
    std::vector<uint8_t> y, cb, cr;
};

// Planes of the coded size, every sample set.
Planes MakePlanes(int sizeClass, uint8_t luma, uint8_t chroma);

// A photograph from Debian's gnome-backgrounds, scaled and cropped by ffmpeg
// to the picture size of the size class, as yuv420p with the filler lines of
// size class 1 set to luma 0 and chroma 128. The raw frame is cached under
// $RK_TEST_DATA/codec (or /tmp). False (with a reason) when ffmpeg or the
// picture is missing.
bool LoadPhoto(const std::string& name, int sizeClass, Planes& out, std::string* why = nullptr);
// The pictures used for round trips and benchmarks.
std::vector<std::string> PhotoNames();

// Luma PSNR over the picture (filler lines left out).
double LumaPsnr(const Planes& a, const Planes& b);

// A folder for the test's own files, created when missing.
std::string TestDataDir();

}  // namespace rk::test
