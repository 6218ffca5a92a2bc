#pragma once
// A tool that writes raw frames of a fixed size into a FIFO of its own
// private working folder, read here one whole frame at a time. The folder
// (0700) is also the tool's working directory, so the tool finds the FIFO
// and any links made beside it by their plain names. A tool that gives
// nothing for the stall limit is stopped; the first cause of a failure is
// the one kept, and every failure ends the tool and removes the folder.
#include <sys/types.h>
#include <sys/uio.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "convert/pipe_folder.h"

namespace rk {

class CAppLaunch;

// One piece of a frame as the tool writes it: bytes [begin, end) of the
// frame land at `base`.
struct FramePart {
    uint8_t* base;
    size_t begin, end;
};

// The read vector for the rest of a frame of which `received` bytes are in:
// the parts not yet full, each from where it stands. The number of entries
// written to `iov` (at most `count`).
int RestOfFrame(const FramePart* parts, int count, size_t received, iovec* iov);

class CToolFramePipe {
public:
    // `owner` names the reader in the log.
    explicit CToolFramePipe(std::string owner);
    // Ends the tool and removes the FIFO, the links and the folder.
    ~CToolFramePipe();
    CToolFramePipe(const CToolFramePipe&) = delete;
    CToolFramePipe& operator=(const CToolFramePipe&) = delete;

    // Makes the private folder; false (failed, with the folder's cause)
    // when it cannot.
    bool MakeFolder();
    // The folder, for links the tool is to find in it.
    CPipeFolder& Folder() { return folder_; }
    const std::string& FolderPath() const { return folder_.Path(); }
    // Makes the FIFO `name` in the folder and opens its reading end. Its
    // path, or empty (failed) when it cannot.
    std::string OpenPipe(const char* name);
    // Starts `tool` (a program of the program's folder) with `args`, working
    // in the folder; false (failed) when it does not start.
    bool StartTool(const std::string& tool, const std::vector<std::string>& args);

    enum class Frame { kRead, kToolEnded, kFailed };
    // One whole frame, the parts in order (at most 4). kToolEnded when the
    // tool ended before the frame was whole (ExitCode() tells how; the
    // caller fails with its own words), kFailed when the pipe failed or the
    // tool stalled.
    Frame ReadFrame(const FramePart* parts, int count);
    Frame ReadFrame(uint8_t* data, size_t bytes);
    // After the last frame: the tool must end, within the stall limit and
    // with exit code 0. Then it and the folder are gone; false (failed)
    // otherwise.
    bool Finish();

    // Logs `why`, keeps it as the cause unless one is kept already, stops;
    // always false.
    bool Fail(const std::string& why);
    // Ends a running tool, closes the pipe, removes the folder.
    void Stop();

    bool Failed() const { return failed_; }
    const std::string& Cause() const { return cause_; }
    int ExitCode() const;
    // The tool's process id, -1 when none runs.
    pid_t ToolPid() const;
    // How long the tool may give nothing before it counts as stalled.
    void SetStallLimitMs(int ms) { stallLimitMs_ = ms; }

private:
    std::string owner_;
    CPipeFolder folder_;
    std::unique_ptr<CAppLaunch> tool_;
    int pipe_ = -1;
    int capacity_ = 0;  // of the pipe, in bytes
    int stallLimitMs_ = 60000;
    bool failed_ = false;
    std::string cause_;
};

}  // namespace rk
