#pragma once
// A card's frame slot turned into a picture file by the tools: the frame is
// decoded, converted to 24-bit RGB and written as "1.raw" into an
// operation's private folder, where ffmpeg (working in that folder) makes
// the picture. Stills read back and title cards both start this way.
#include <cstdint>
#include <string>
#include <vector>

namespace rk {

class CPipeFolder;
class CPlaneMemory;

// Decodes the KVQ1 frame at byte 12288 of `slot` ((clustersPerFrame - 1) x
// 12288 bytes) of a card of `sizeClass` into `rgb` (R, G, B rows); sets the
// picture's size. False when the frame does not decode or is of another size.
bool DecodeSlotToRGB(const uint8_t* slot, int clustersPerFrame, int sizeClass, std::vector<uint8_t>& rgb,
                     int& width, int& height);
// The same into `rgb` (made here, in large pages, not cleared first: a
// fresh 4K picture's 25 MB are otherwise zeroed and faulted in twice).
bool DecodeSlotToRGB(const uint8_t* slot, int clustersPerFrame, int sizeClass, CPlaneMemory& rgb, int& width,
                     int& height);

// Writes `rgb` as "1.raw" in `folder` and runs ffmpeg there to make
// `outputPath` (absolute, or a plain name inside the folder). `extraArgs`
// go before the output name. True when ffmpeg ended with 0.
bool RawToPictureFile(CPipeFolder& folder, const std::vector<uint8_t>& rgb, int width, int height,
                      const std::string& outputPath, const std::vector<std::string>& extraArgs = {});

// Writes `rgb` as the binary PPM `name` in `folder` (a header and the rows
// as they are): a picture ImageMagick reads with the same pixels as the PNG
// ffmpeg would make of it, without a tool run. Answers its path, or empty.
std::string WriteRgbAsPpm(CPipeFolder& folder, const std::vector<uint8_t>& rgb, int width, int height,
                          const char* name);
// The same of width x height x 3 bytes at `rgb`.
std::string WriteRgbAsPpm(CPipeFolder& folder, const uint8_t* rgb, int width, int height, const char* name);

}  // namespace rk
