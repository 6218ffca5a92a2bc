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
//
// Colour: every frame on a card is Y'CbCr with BT.709 coefficients, and every
// reading of a frame (thumbnails, read-back, title cards, the device) uses
// that formula. Y'CbCr sources in BT.709 pass through the scaler with their
// own samples. RGB pictures and BT.601 sources go through zimg (the zscale
// filter) instead: ffmpeg's scaler writes BT.601 from RGB whatever it is
// asked, and never changes the matrix between two Y'CbCr formats.
#include <cstddef>
#include <cstdint>
#include <string>
#include "codec/transforms.h"

namespace rk {

// What the picture probe tells of the source's first picture stream.
struct SourcePicture {
    int width = 0;
    int height = 0;
    std::string pixelFormat;  // ffprobe's pix_fmt ("yuv420p", "yuvj420p", ...)
    std::string colorRange;   // ffprobe's color_range ("tv", "pc", "unknown" or empty)
    bool displayMatrix = false;  // ffmpeg will rotate or flip the pictures before our filters
    std::string colorSpace;      // ffprobe's color_space ("bt709", "smpte170m", "unknown" or empty)
};

// How a picture of another shape than the card's frame fills it: stretched
// over the whole frame (the default), or scaled to fit inside it with its
// own shape kept and the rest of the frame black (letterbox or pillarbox).
enum class PictureFit : int { kStretch = 0, kPad };

// The size a `width` x `height` picture takes inside a `frameWidth` x
// `frameHeight` frame: the whole frame when stretched (and when the shapes
// agree to within one pixel), else the largest size of the picture's shape
// that fits, both sides even (4:2:0 chroma covers pixel pairs). A picture
// of no size takes the whole frame.
void FittedSize(int width, int height, int frameWidth, int frameHeight, PictureFit fit, int& fittedWidth,
                int& fittedHeight);

// How a source's pictures reach the card's BT.709 Y'CbCr.
enum class PictureRoad {
    kPassThrough,  // Y'CbCr in BT.709 (or a matrix we leave alone): scaled as they are
    kFromRgb,      // RGB, grey or palette pictures: converted with BT.709 coefficients
    kFromBt601,    // Y'CbCr in BT.601 / SMPTE 170M / BT.470BG: converted to BT.709
};

// The road of a source: by its pixel format, then by its tagged matrix. An
// untagged Y'CbCr source counts as BT.709 at HD sizes (wider than 1279 or
// taller than 576) and as BT.601 below them, the usual convention; an
// untagged JPEG (the yuvj formats) as BT.601 at any size.
PictureRoad RoadOf(const SourcePicture& source);

// The steps that turn pictures of any RGB layout into `width` x `height`
// planar 4:2:0 Y'CbCr with BT.709 coefficients, in limited ("tv") or full
// range, ending in yuv420p: for every picture made from RGB (stills, logo
// and effect pictures, title cards). Transparency is dropped; the colour
// stored under it stays.
std::string RgbToFrameSteps(int width, int height, bool limitedRange);
// The same from BT.601 Y'CbCr in any layout and depth; each picture's own
// range (limited unless marked full) is kept to.
std::string Bt601ToFrameSteps(int width, int height, bool limitedRange);

class CINIParser;
// The fields above from the picture probe's captured output.
SourcePicture ReadSourcePicture(CINIParser& probe);

// The -vf text for the picture decode: "fps=R,scale=W:H:out_range=X", after
// "yadif=mode=send_field:deint=interlaced," when deinterlacing (interlaced
// frames become one picture per field before the rate conversion). A
// limited-range (or unmarked) 8-bit 4:2:0 BT.709 source at the card's size,
// not turned, is told to the scaler as limited range and asked for limited
// range ("in_range=tv:out_range=tv"), so the scaler hands its pictures on
// untouched; for full range the caller expands them (ExpandsRangeByTable).
// Sources whose road is not kPassThrough are converted by zimg in place of
// the scaler, to the same size and range. `width` x `height`, when given,
// replaces the card's picture size (a picture fitted inside the frame).
std::string PictureFilter(int sizeClass, int frameRateCode, bool limitedRange, bool deinterlace,
                          const SourcePicture& source, int width = 0, int height = 0);

// The same chain with the scaler's own range step, for a source that passes
// through: the reference the expanded pictures must match byte for byte.
std::string ScalerPictureFilter(int sizeClass, int frameRateCode, bool limitedRange, bool deinterlace);

// True when the range expansion can be done by the table for this source:
// full range wanted, an 8-bit planar 4:2:0 source in limited (or unmarked)
// range at exactly the card's picture size, and not turned by a display
// matrix (then the scaler resizes the turned picture and the table would
// come after its rounding instead of inside it), and in BT.709 already.
bool ExpandsRangeByTable(int sizeClass, bool limitedRange, const SourcePicture& source);

// The scaler's limited-to-full expansion of one sample, luma or chroma: the
// reference of ExpandToFullRange.
uint8_t FullRangeSample(uint8_t v, bool chroma);

// Expands `bytes` samples of one plane in place from limited to full range
// exactly as ffmpeg's scaler does (FullRangeSample of every byte).
// With the widest vectors the codec's kernels took; the second form with the
// vectors of `variant` (at most what the processor has), for the tests.
void ExpandToFullRange(uint8_t* plane, size_t bytes, bool chroma);
void ExpandToFullRange(uint8_t* plane, size_t bytes, bool chroma, TransformVariant variant);

}  // namespace rk
