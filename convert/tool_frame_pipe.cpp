#include "convert/tool_frame_pipe.h"

#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <utility>

#include "base/log.h"
#include "convert/app_launch.h"
#include "convert/tool_timing.h"

namespace rk {

namespace {

constexpr int kPollSliceMs = 100;
constexpr int kMostParts = 4;

}  // namespace

int RestOfFrame(const FramePart* parts, int count, size_t received, iovec* iov) {
    int n = 0;
    for (int i = 0; i < count; ++i) {
        const FramePart& p = parts[i];
        if (received >= p.end) continue;
        const size_t from = received > p.begin ? received : p.begin;
        iov[n].iov_base = p.base + (from - p.begin);
        iov[n].iov_len = p.end - from;
        ++n;
    }
    return n;
}

CToolFramePipe::CToolFramePipe(std::string owner) : owner_(std::move(owner)) {}

CToolFramePipe::~CToolFramePipe() { Stop(); }

bool CToolFramePipe::MakeFolder() {
    if (!folder_.Create()) return Fail(folder_.Cause());
    return true;
}

std::string CToolFramePipe::OpenPipe(const char* name) {
    const std::string fifo = folder_.MakeFifo(name);
    if (fifo.empty()) return Fail("cannot make the picture pipe"), std::string();
    pipe_ = OpenFifoForReading(fifo, &capacity_);
    if (pipe_ < 0) return Fail("cannot open the picture pipe"), std::string();
    return fifo;
}

bool CToolFramePipe::StartTool(const std::string& tool, const std::vector<std::string>& args) {
    tool_ = std::make_unique<CAppLaunch>(tool, args, false, folder_.Path());
    if (!tool_->started) return Fail("the picture tool did not start");
    return true;
}

CToolFramePipe::Frame CToolFramePipe::ReadFrame(uint8_t* data, size_t bytes) {
    const FramePart whole{data, 0, bytes};
    return ReadFrame(&whole, 1);
}

// A tool that ends first, or gives nothing for the stall limit, ends the
// reading; 0 from the pipe also comes before the tool has opened it.
CToolFramePipe::Frame CToolFramePipe::ReadFrame(const FramePart* parts, int count) {
    if (failed_) return Frame::kFailed;
    if (!tool_ || pipe_ < 0 || count < 1 || count > kMostParts) {
        Fail("the picture tool is not running");
        return Frame::kFailed;
    }
    const size_t total = parts[count - 1].end;
    size_t received = 0;
    int64_t lastMs = NowMs();
    while (received < total) {
        iovec iov[kMostParts];
        const int n = RestOfFrame(parts, count, received, iov);
        ssize_t got = ::readv(pipe_, iov, n);
        if (got > 0) {
            received += size_t(got);
            lastMs = NowMs();
            continue;
        }
        if (got < 0 && errno != EAGAIN && errno != EINTR) {
            Fail(std::string("picture pipe: ") + std::strerror(errno));
            return Frame::kFailed;
        }
        // A tool that has ended gives nothing more once the pipe is drained;
        // a live one silent too long has stalled.
        if (!tool_->started || tool_->Wait(0)) {
            got = ::readv(pipe_, iov, n);
            if (got > 0) {
                received += size_t(got);
                continue;
            }
            return Frame::kToolEnded;
        }
        if (NowMs() - lastMs >= stallLimitMs_) {
            Fail("the picture tool stalled");
            return Frame::kFailed;
        }
        pollfd fds[2] = {{pipe_, POLLIN, 0}, {tool_->EndHandle(), POLLIN, 0}};
        if (::poll(fds, fds[1].fd >= 0 ? 2 : 1, kPollSliceMs) > 0 && fds[0].revents == POLLIN)
            LetPipeFill(pipe_, capacity_, total - received);
    }
    return Frame::kRead;
}

bool CToolFramePipe::Finish() {
    if (failed_) return false;
    if (!tool_) return Fail("the picture tool is not running");
    const int64_t until = NowMs() + stallLimitMs_;
    while (tool_->started && !tool_->Wait(kPollSliceMs) && NowMs() < until) {
    }
    if (tool_->started) return Fail("the picture tool did not end");
    if (tool_->exitCode != 0) return Fail("the picture tool failed (exit code " + std::to_string(tool_->exitCode) + ")");
    Stop();
    return true;
}

bool CToolFramePipe::Fail(const std::string& why) {
    LogMessage(2, "%s: %s", owner_.c_str(), why.c_str());
    failed_ = true;
    if (cause_.empty()) cause_ = why;
    Stop();
    return false;
}

void CToolFramePipe::Stop() {
    if (pipe_ >= 0) ::close(pipe_);
    pipe_ = -1;
    if (tool_ && tool_->started && !tool_->Wait(0)) tool_->Terminate(200);
    tool_.reset();
    folder_.Remove();
}

int CToolFramePipe::ExitCode() const { return tool_ ? tool_->exitCode : 0; }

pid_t CToolFramePipe::ToolPid() const { return tool_ && tool_->started ? tool_->Pid() : -1; }

}  // namespace rk
