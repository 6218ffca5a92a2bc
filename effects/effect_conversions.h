#pragma once
// Pictures and sound for effects, through ffmpeg. Every conversion writes
// its raw output into the private folder of the operation (mkdtemp, 0700),
// which is also the tool's working directory, reads it back whole and
// removes it. A picture is decoded once for its preview and once for its
// frame: the frame run writes both the RGBA picture (for the alpha) and the
// limited-range 4:2:0 planes from one decode, with the same filters as two
// separate runs would use.
#include <cstddef>
#include <cstdint>
#include <string>

namespace rk {

class CStinger;

// The private folder of one effect operation; removed with its contents.
class CEffectWorkFolder {
public:
    CEffectWorkFolder() = default;
    ~CEffectWorkFolder();
    CEffectWorkFolder(const CEffectWorkFolder&) = delete;
    CEffectWorkFolder& operator=(const CEffectWorkFolder&) = delete;
    bool Create();
    const std::string& Path() const { return path_; }
    std::string File(const char* name) const { return path_ + "/" + name; }

private:
    std::string path_;
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

// Up to `bytes` of 48 kHz stereo 24-bit sound (at most 5 seconds) into
// `buffer`; the rest stays as it was. False when the tool fails.
bool ConvertSound(const std::string& soundPath, uint8_t* buffer, size_t bytes, const CEffectWorkFolder& work);

}  // namespace rk
