#pragma once
// The filter chain of the import's picture decode: the source is brought to
// the card's frame rate and picture size, the range the operator chose, and
// deinterlaced when asked (only the frames that are interlaced).
//
// Most sources are already 8-bit 4:2:0 in limited range at the card's size.
// For them ffmpeg's scale filter does nothing but the range expansion, which
// it does the slow way (through its whole scaler, a 15-bit intermediate and
// one thread): about a quarter of the import's CPU time at 1920x1080. The
// same expansion, ffmpeg's own integer arithmetic done by us on the pictures
// as they arrive (ExpandToFullRange, in the encoder's workers and in vector
// registers), gives the identical pictures for a fraction of the work; ffmpeg
// then passes those pictures through untouched. Every other source keeps the
// scale filter's conversion.
#include <cstddef>
#include <cstdint>
#include <string>

namespace rk {

// What the picture probe tells of the source's first picture stream.
struct SourcePicture {
    int width = 0;
    int height = 0;
    std::string pixelFormat;  // ffprobe's pix_fmt ("yuv420p", "yuvj420p", ...)
    std::string colorRange;   // ffprobe's color_range ("tv", "pc", "unknown" or empty)
    bool displayMatrix = false;  // ffmpeg will rotate or flip the pictures before our filters
};

class CINIParser;
// The fields above from the picture probe's captured output.
SourcePicture ReadSourcePicture(CINIParser& probe);

// The -vf text for the picture decode: "fps=R,scale=W:H:out_range=X", after
// "yadif=mode=send_field:deint=interlaced," when deinterlacing (interlaced
// frames become one picture per field before the rate conversion). When
// `source` qualifies for ExpandsRangeByTable the scaler is asked for limited
// range (it then passes the pictures through) and the caller expands them.
std::string PictureFilter(int sizeClass, int frameRateCode, bool limitedRange, bool deinterlace,
                          const SourcePicture& source);

// The same chain with the scaler's own range step, whatever the source: the
// reference the expanded pictures must match byte for byte.
std::string ScalerPictureFilter(int sizeClass, int frameRateCode, bool limitedRange, bool deinterlace);

// True when the range expansion can be done by the table for this source:
// full range wanted, an 8-bit planar 4:2:0 source in limited (or unmarked)
// range at exactly the card's picture size, and not turned by a display
// matrix (then the scaler resizes the turned picture and the table would
// come after its rounding instead of inside it).
bool ExpandsRangeByTable(int sizeClass, bool limitedRange, const SourcePicture& source);

// The scaler's limited-to-full expansion of one sample, luma or chroma: the
// reference of ExpandToFullRange.
uint8_t FullRangeSample(uint8_t v, bool chroma);

// Expands `bytes` samples of one plane in place from limited to full range
// exactly as ffmpeg's scaler does (FullRangeSample of every byte).
void ExpandToFullRange(uint8_t* plane, size_t bytes, bool chroma);

}  // namespace rk
