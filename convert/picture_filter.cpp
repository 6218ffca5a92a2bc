#include "convert/picture_filter.h"

#include "convert/ini_parser.h"
#include "convert/tool_timing.h"

namespace rk {

namespace {

// ffmpeg's scaler expands limited range in its 15-bit intermediate (a
// sample v arrives as v << 7), then rounds back to 8 bits:
//   luma:   ((min(v << 7, 30189) x 19077 - 39057361) >> 14 + 64) >> 7
//   chroma: ((min(v << 7, 30775) x 4663 - 9289992) >> 12 + 64) >> 7
// clipped to 0..255. The shifts of negative values round down, as floor
// does in the filter's expressions, whose doubles hold these integers
// exactly. The filter graph parser takes the quoted commas as text. These
// are the constants of the ffmpeg we bundle; the picture filter test runs
// both chains through it and wants the same bytes, so a tool whose scaler
// rounds otherwise is caught by the tests, not by an operator.
constexpr const char* kLumaTable =
    "'clip(floor((floor((min(val*128,30189)*19077-39057361)/16384)+64)/128),0,255)'";
constexpr const char* kChromaTable =
    "'clip(floor((floor((min(val*128,30775)*4663-9289992)/4096)+64)/128),0,255)'";

// Deinterlacing comes first, while the fields are still the source's own
// lines at the source's own rate: one picture per field, in the order they
// were taken, and only for frames the decoder marks as interlaced, so a
// progressive picture passes untouched. The rate conversion then sees the
// field rate; the scaler never mixes the lines of two fields.
constexpr const char* kDeinterlace = "yadif=mode=send_field:deint=interlaced,";

std::string Chain(int sizeClass, int frameRateCode, const char* outRange, bool deinterlace, bool table) {
    std::string f = deinterlace ? kDeinterlace : "";
    f += "fps=";
    f += RateText(frameRateCode);
    f += sizeClass == 2 ? ",scale=3840:2160:out_range=" : ",scale=1920:1080:out_range=";
    f += outRange;
    if (table) {
        f += ",lutyuv=y=";
        f += kLumaTable;
        f += ":u=";
        f += kChromaTable;
        f += ":v=";
        f += kChromaTable;
    }
    return f;
}

}  // namespace

SourcePicture ReadSourcePicture(CINIParser& probe) {
    SourcePicture pic;
    pic.width = static_cast<int>(probe.GetInteger("STREAM", "width"));
    pic.height = static_cast<int>(probe.GetInteger("STREAM", "height"));
    pic.pixelFormat = probe.GetWord("STREAM", "pix_fmt");
    pic.colorRange = probe.GetWord("STREAM", "color_range");
    pic.displayMatrix = probe.HasLine("side_data_type=Display Matrix");
    return pic;
}

bool ExpandsRangeByTable(int sizeClass, bool limitedRange, const SourcePicture& source) {
    if (limitedRange || source.displayMatrix) return false;
    const int width = sizeClass == 2 ? 3840 : 1920, height = sizeClass == 2 ? 2160 : 1080;
    if (source.width != width || source.height != height) return false;
    // Only yuv420p itself: the yuvj formats are full range already, and any
    // other layout is converted (and its range with it) inside the scaler.
    if (source.pixelFormat != "yuv420p") return false;
    return source.colorRange.empty() || source.colorRange == "tv" || source.colorRange == "unknown";
}

std::string ScalerPictureFilter(int sizeClass, int frameRateCode, bool limitedRange, bool deinterlace) {
    return Chain(sizeClass, frameRateCode, limitedRange ? "tv" : "pc", deinterlace, false);
}

std::string PictureFilter(int sizeClass, int frameRateCode, bool limitedRange, bool deinterlace,
                          const SourcePicture& source) {
    if (!ExpandsRangeByTable(sizeClass, limitedRange, source))
        return ScalerPictureFilter(sizeClass, frameRateCode, limitedRange, deinterlace);
    // The scaler passes a limited-range picture of the right size through
    // untouched; the table then expands it.
    return Chain(sizeClass, frameRateCode, "tv", deinterlace, true);
}

}  // namespace rk
