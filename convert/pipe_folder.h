#pragma once
// Every file we make in the temporary folder lives in one working folder of
// an operation: the FIFOs that carry raw pictures and sound between the tools
// and us, the tools' output files, the links to our artwork, a probe's
// captured output. The folder is private (mkdtemp, mode 0700), so two
// conversions never meet and nobody else can open what is in it.
//
// Each folder is named "reelkeep-<pid>-XXXXXX" and carries an owner mark: a
// file ".owner" that names the process (pid, start time, boot). A process
// killed mid-conversion cannot remove its folder, so the next start of either
// program sweeps every folder whose mark names a process that is gone, whole.
// Nothing without our mark is ever touched.
#include <sys/types.h>

#include <string>

namespace rk {

inline constexpr const char* kVideoPipeName = "video.yuv";
inline constexpr const char* kAudioPipeName = "audio.raw";

class CPipeFolder {
public:
    CPipeFolder() = default;
    ~CPipeFolder() { Remove(); }
    CPipeFolder(const CPipeFolder&) = delete;
    CPipeFolder& operator=(const CPipeFolder&) = delete;

    // Makes and marks the folder in the temporary folder; false when it
    // cannot, and Cause() then says where and why ("no working folder in
    // /tmp: Read-only file system"), for the message of the operation.
    bool Create();
    const std::string& Cause() const { return cause_; }
    // Makes a FIFO of that name in the folder; its path, or empty on failure.
    std::string MakeFifo(const char* name);
    // The path of a working file of that name in the folder, removed with
    // the folder (empty when there is no folder).
    std::string AddFile(const char* name) const;
    // A symbolic link of that name in the folder to `target`, so that a tool
    // working there finds it by its plain name; false when it cannot be made.
    bool Link(const char* name, const std::string& target);
    // A link in the folder to `path` (made absolute), named `stem` plus the
    // path's extension (its letters and digits only), so that a tool given
    // that name takes it as it stands: ffmpeg reads "%d", "*", "?" or "{" in
    // a picture's name as a sequence or pattern, and a name of its own
    // choosing in an output. The link's plain name (for a tool working in the
    // folder), or empty when it cannot be made. A path without any of
    // "%*?[{" needs no link: its absolute form comes back.
    std::string LiteralName(const char* stem, const std::string& path);
    // Removes the folder with everything in it.
    void Remove();

    const std::string& Path() const { return folder_; }

private:
    std::string folder_;
    std::string cause_;
};

// The name of the owner mark inside a working folder.
inline constexpr const char* kOwnerMarkName = ".owner";

// Who a process is, for the owner mark: its pid, its start time in clock
// ticks after boot (from /proc/PID/stat) and the boot's id. False when no
// such process runs.
struct ProcessStamp {
    pid_t pid = 0;
    unsigned long long startTicks = 0;
    std::string bootId;
};
bool StampOfProcess(pid_t pid, ProcessStamp& stamp);

// Removes the working folders of `tempFolder` (default: TempFolder()) whose
// owner is gone: only folders of our name, of this user, mode 0700, whose
// mark names a process that no longer runs (a folder left empty by a process
// killed between making and marking it goes too). They go whole: links,
// FIFOs, files and sub-folders, never following a link out of them.
// Answers the number of folders removed.
int SweepAbandonedWorkFolders(const std::string& tempFolder = std::string());

// Opens the reading end of a FIFO without waiting for a writer, with a
// large pipe buffer, whose size goes to `capacity` when asked for. -1 on
// failure.
int OpenFifoForReading(const std::string& path, int* capacity = nullptr);

// Gives the pipe of `fd` the largest buffer the system lets a user ask for
// (/proc/sys/fs/pipe-max-size, at most 16 MiB: a few pictures); best effort,
// the default is 64 KiB. The capacity it has afterwards, or -1.
int WidenPipe(int fd);

// A tool writes a picture into its pipe in pieces of 32 KiB (ffmpeg's output
// buffer), and a reader that takes each as it comes is woken for every one:
// at 1080p 45 wake-ups, polls and reads a picture, each a switch of a core
// that an encoder was using. Called when poll says the pipe has data: if it
// holds less than a quarter of its `capacity` and less than the `rest` of
// the picture, the tool is left to write on for a moment (it wakes nobody
// meanwhile), so that one read takes about ten of its pieces at once.
void LetPipeFill(int fd, int capacity, size_t rest);

}  // namespace rk
