#pragma once
// The FIFOs that carry raw pictures and sound between the tools and us live
// in a private folder made per object (mkdtemp, mode 0700), so that two
// conversions never meet and nobody else can open them.
//
// Each folder carries an owner mark: a lock file inside it, held with flock
// for as long as the folder lives. A process killed mid-conversion cannot
// remove its folder, but its lock dies with it, so the next start of either
// program sweeps every such folder whose lock is free.
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
    // The path of a working file of that name in the folder, removed with
    // the folder (empty when there is no folder).
    std::string AddFile(const char* name);
    // A symbolic link of that name in the folder to `target`, so that a tool
    // working there finds it by its plain name; false when it cannot be made.
    bool Link(const char* name, const std::string& target);
    // Removes every FIFO and file named here and the folder.
    void Remove();

    const std::string& Path() const { return folder_; }

private:
    std::string folder_;
    std::vector<std::string> fifos_;
    int ownerFd_ = -1;  // the held lock of the owner mark
};

// The name of the owner mark inside a working folder.
inline constexpr const char* kOwnerMarkName = ".owner";

// Removes the working folders ("reelkeep-XXXXXX") of `tempFolder` (default:
// TempFolder()) whose owner is gone: their owner mark's lock can be taken,
// or they carry no mark and were last changed more than `unmarkedAgeSeconds`
// ago (a process killed between making the folder and marking it). Only this
// user's folders, and inside them only plain files and FIFOs, are removed.
// Answers the number of folders removed.
int SweepAbandonedWorkFolders(const std::string& tempFolder = std::string(), int unmarkedAgeSeconds = 3600);

// Opens the reading end of a FIFO without waiting for a writer, with a
// large pipe buffer. -1 on failure.
int OpenFifoForReading(const std::string& path);

}  // namespace rk
