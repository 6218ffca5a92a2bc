#pragma once
// CFifoWriter: the writing end of a FIFO that a tool reads raw pictures
// from. It opens once the tool has opened the reading end — failing when the
// tool ends first or neither connects nor reads within the stall limit — and
// writes whole buffers while watching the tool's end, with SIGPIPE held back
// so a tool that goes away makes the write fail and nothing else.
#include <sys/uio.h>

#include <string>

namespace rk {

class CAppLaunch;

class CFifoWriter {
public:
    CFifoWriter() = default;
    ~CFifoWriter() { Close(); }
    CFifoWriter(const CFifoWriter&) = delete;
    CFifoWriter& operator=(const CFifoWriter&) = delete;

    // Opens `path` for writing once `tool` has opened it for reading. False
    // when the tool ended, the stall limit passed or the FIFO is not there.
    bool Open(const std::string& path, CAppLaunch& tool);
    // Writes every byte of `parts`; false when the pipe broke, the tool ended
    // or took nothing for the stall limit.
    bool Write(const iovec* parts, int count);
    // Closes the writing end: the tool reads the end of its input.
    void Close();
    bool IsOpen() const { return fd_ >= 0; }
    void SetStallLimitMs(int ms) { stallLimitMs_ = ms; }

private:
    int fd_ = -1;
    CAppLaunch* tool_ = nullptr;
    int stallLimitMs_ = 120000;
};

}  // namespace rk
