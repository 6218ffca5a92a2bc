#pragma once
// The FIFOs that carry raw pictures and sound between the tools and us live
// in a private folder made per object (mkdtemp, mode 0700), so that two
// conversions never meet and nobody else can open them.
#include <string>
#include <vector>

namespace rk {

inline constexpr const char* kVideoPipeName = "video.yuv";
inline constexpr const char* kAudioPipeName = "audio.raw";

class CPipeFolder {
public:
    CPipeFolder() = default;
    ~CPipeFolder() { Remove(); }
    CPipeFolder(const CPipeFolder&) = delete;
    CPipeFolder& operator=(const CPipeFolder&) = delete;

    // Makes the folder in the temporary folder; false when it cannot.
    bool Create();
    // Makes a FIFO of that name in the folder; its path, or empty on failure.
    std::string MakeFifo(const char* name);
    // Removes every FIFO made here and the folder.
    void Remove();

    const std::string& Path() const { return folder_; }

private:
    std::string folder_;
    std::vector<std::string> fifos_;
};

// Opens the reading end of a FIFO without waiting for a writer, with a
// large pipe buffer. -1 on failure.
int OpenFifoForReading(const std::string& path);

}  // namespace rk
