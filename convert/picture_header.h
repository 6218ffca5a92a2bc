#pragma once
// What a picture file's own header says when the tools cannot read it: a
// person told only "Error opening image file!" cannot tell a picture of no
// size from one too large to decode, or from a text file given a picture's
// name. The size is read from the first bytes of PNG, JPEG, GIF and BMP
// files; the pixels are never decoded here.
#include <string>

namespace rk {

// The size a picture file declares. False when its first bytes are not
// those of a PNG, JPEG, GIF or BMP file, or it ends before its size.
bool ReadPictureSize(const std::string& path, int& width, int& height);

// Why `path` cannot be a picture for the tools, in words ("a picture of
// 0 x 0 pixels", "a picture of 20000 x 20000 pixels, more than ffmpeg
// decodes", "text, not a picture", "empty"); empty when its header shows
// nothing wrong (or it cannot be read at all: the open says why).
std::string PictureFileFault(const std::string& path);

// The most pixels ffmpeg decodes in one picture: (width + 128) x (height +
// 128) must stay below this.
inline constexpr long long kMaxToolPicturePixels = 2147483647LL / 8;

}  // namespace rk
