#pragma once
// Pictures and sound for effects, through ffmpeg. Every conversion writes
// its raw output into the private folder of the operation (mkdtemp, 0700),
// which is also the tool's working directory, reads it back whole and
// removes it. A picture is decoded once for its preview and once for its
// frame: the frame run writes both the RGBA picture (for the alpha) and the
// limited-range 4:2:0 planes from one decode, with the same filters as two
// separate runs would use.
#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <future>
#include <memory>
#include <string>
#include <vector>

#include "convert/pipe_folder.h"
#include "convert/plane_memory.h"
#include "convert/rgb_to_frame.h"
#include "convert/tool_frame_pipe.h"
#include "effects/effect_picture_decoder.h"

struct SwsContext;

namespace rk {

class CStinger;

// The private folder of one effect operation; removed with its contents.
class CEffectWorkFolder {
public:
    bool Create() { return folder_.Create(); }
    const std::string& Cause() const { return folder_.Cause(); }
    const std::string& Path() const { return folder_.Path(); }
    std::string File(const char* name) const { return folder_.AddFile(name); }
    // A plain name in the folder for a person's file (CPipeFolder::LiteralName).
    std::string LiteralName(const char* stem, const std::string& path) const {
        return folder_.LiteralName(stem, path);
    }

private:
    mutable CPipeFolder folder_;  // links are made in it while the operation runs
};

// One picture to a 640 x 360 preview appended to the stinger; transparency
// 255 where the alpha is below 128, else 0. False when the tool fails or
// writes less than a whole picture.
bool AddPicture(CStinger& stinger, const std::string& picturePath, const CEffectWorkFolder& work);

// Planes of one frame: luma 1920 x 1088 (lines 1080.. left as they are),
// Cb and Cr 960 x 544; `rgba` is a scratch of 1920 x 1080 x 4 bytes. Luma
// is 2 where the alpha is below 128.
struct EffectPlanes {
    uint8_t* y = nullptr;
    uint8_t* cb = nullptr;
    uint8_t* cr = nullptr;
    uint8_t* rgba = nullptr;
};
bool ConvertFrame(const std::string& picturePath, const EffectPlanes& planes, const CEffectWorkFolder& work);

// True when `path` is a PNG file (by its name and its signature) whose
// header says 1920 x 1080, 8 bits a sample, RGB or RGBA: the tool decodes
// it to exactly those samples at the frame's size. Any other file, or one
// that cannot be read, gives false.
bool IsFrameSizedRgbPng(const std::string& path);

// The pictures of a whole sequence, each decoded once for what AddPicture
// and ConvertFrame give (the same conversions of the same decoded picture):
// its preview, its frame planes and the alpha of its frame. When every
// picture is a frame-sized RGB or RGBA PNG, they are decoded here
// (CFramePngDecoder), the next on a thread of its own while this one is
// converted: the 4:2:0 planes by the same zimg steps as the tool's
// (CRgbFrameConverter), the preview by the same libswscale scaler; a
// picture of that kind that this process does not decode goes through the
// tool runs of AddPicture and ConvertFrame. Otherwise one ffmpeg run sends
// the converted planes, one stacked picture a frame through a FIFO
// (EffectStreamGraph); the pictures are reached by links "p_000..." in the
// stream's private folder (0700), which is also the tool's working
// directory, so no name of the operator's reaches a pattern.
class CEffectPictureStream {
public:
    explicit CEffectPictureStream(const std::vector<std::string>& files);
    // Ends the tool and removes the FIFO, the links and the folder.
    ~CEffectPictureStream();
    CEffectPictureStream(const CEffectPictureStream&) = delete;
    CEffectPictureStream& operator=(const CEffectPictureStream&) = delete;

    // The next picture: its preview appended to `stinger` (as AddPicture),
    // its planes into `planes` (as ConvertFrame; `planes.rgba` is not used).
    // False when the tool cannot start, fails, ends early or stalls.
    bool Next(CStinger& stinger, const EffectPlanes& planes);
    const std::string& Cause() const { return pipe_.Cause(); }
    // The tool's pipe: its stall limit, and for tests its process and folder.
    CToolFramePipe& Pipe() { return pipe_; }
    // True once started when the pictures are decoded in this process.
    bool ConvertsHere() const { return convertsHere_; }

private:
    bool Start();
    void ReadAhead();
    bool TakeStack();
    const uint8_t* Stack() const { return stack_[current_].Data(); }
    void UnstackPlanes(const EffectPlanes& planes) const;
    void UnstackPreview(uint8_t* bgra) const;
    void DecodeAhead(size_t index);
    bool NextDecodedHere(CStinger& stinger, const EffectPlanes& planes);
    bool ConvertDecoded(const CFramePngDecoder& picture, const EffectPlanes& planes, std::string& why);
    bool ScalePreview(const CFramePngDecoder& picture, uint8_t* bgra, std::string& why);
    bool ConvertByTool(CStinger& stinger, const EffectPlanes& planes, std::string& why);

    std::vector<std::string> files_;
    size_t next_ = 0;
    bool started_ = false;
    bool convertsHere_ = false;
    CToolFramePipe pipe_{"CEffectPictureStream"};
    // Two stacked pictures from the tool: the one being unstacked and the
    // next, read meanwhile (`ahead_`; the pipe is not touched otherwise
    // while that read runs).
    CPlaneMemory stack_[2];
    int current_ = 0;
    std::future<CToolFramePipe::Frame> ahead_;
    // Decoded here: two decoders, the current picture's and the next's,
    // decoded meanwhile (`decoded_`), each with why it could not.
    CFramePngDecoder decoders_[2];
    std::string decodeWhy_[2];
    std::future<bool> decoded_;
    CRgbPlanes rgb_;      // the frame's R, G and B planes
    CRgbFrameConverter converter_;
    CPlaneMemory alpha_;   // the frame's alpha
    CPlaneMemory planes_;  // aligned planes for zimg when the caller's are not
    SwsContext* scalers_[2] = {};  // the preview's, from RGB and from RGBA
    CPlaneMemory preview_;         // the scaled preview before its transparency
    CEffectWorkFolder work_;       // for pictures left to the tool runs
    std::vector<uint8_t> rgba_;    // their RGBA frame
};

// The frame conversion's filters: the picture at 1920 x 1080 as limited-range
// BT.709 Y'CbCr 4:2:0, whatever the "YUV Range" choice.
std::string EffectFrameSteps();

// The filter graph of that run: one grey picture 1920 wide a frame, rows
// 0..1079 the frame's luma, 1080..2159 its alpha, 2160..2699 Cb beside Cr,
// 2700..3059 the preview's B, G and R planes side by side, 3060..3419 the
// preview's alpha (640 wide, then black).
std::string EffectStreamGraph();

// Up to `bytes` of 48 kHz stereo 24-bit sound (at most 5 seconds) into
// `buffer`; the rest stays as it was. False when the tool fails.
bool ConvertSound(const std::string& soundPath, uint8_t* buffer, size_t bytes, const CEffectWorkFolder& work);

}  // namespace rk
