#include "convert/fifo_writer.h"

#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

#include "base/log.h"
#include "convert/app_launch.h"
#include "convert/tool_timing.h"

namespace rk {

namespace {

constexpr int kPollSliceMs = 100;

// Writing to a pipe whose reader has gone raises SIGPIPE. The signal is held
// back on this thread while we write, and a pending one is taken away
// afterwards, so that the write fails with EPIPE and nothing else happens.
class CHoldSigpipe {
public:
    CHoldSigpipe() {
        sigemptyset(&pipeOnly_);
        sigaddset(&pipeOnly_, SIGPIPE);
        pthread_sigmask(SIG_BLOCK, &pipeOnly_, &old_);
    }
    ~CHoldSigpipe() {
        sigset_t pending;
        sigpending(&pending);
        if (sigismember(&pending, SIGPIPE) && !sigismember(&old_, SIGPIPE)) {
            timespec zero{0, 0};
            sigtimedwait(&pipeOnly_, nullptr, &zero);
        }
        pthread_sigmask(SIG_SETMASK, &old_, nullptr);
    }

private:
    sigset_t pipeOnly_, old_;
};

}  // namespace

// ffmpeg opens its inputs in order, so a FIFO given first is reached first.
bool CFifoWriter::Open(const std::string& path, CAppLaunch& tool) {
    Close();
    tool_ = &tool;
    const int64_t start = NowMs();
    for (;;) {
        fd_ = open(path.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
        if (fd_ >= 0) {
            WidenPipe(fd_);
            return true;
        }
        if (errno != ENXIO && errno != EINTR) return false;
        if (!tool.started || tool.Wait(10)) return false;  // the tool ended without reading
        if (NowMs() - start >= stallLimitMs_) return false;
    }
}

bool CFifoWriter::Write(const iovec* parts, int count) {
    if (fd_ < 0 || !tool_ || count <= 0) return false;
    std::vector<iovec> iov(parts, parts + count);
    int first = 0;
    int64_t lastMove = NowMs();
    CHoldSigpipe hold;
    while (first < count) {
        ssize_t n = writev(fd_, iov.data() + first, count - first);
        if (n > 0) {
            lastMove = NowMs();
            size_t left = static_cast<size_t>(n);
            while (first < count && left >= iov[size_t(first)].iov_len) {
                left -= iov[size_t(first)].iov_len;
                ++first;
            }
            if (first < count) {
                iov[size_t(first)].iov_base = static_cast<uint8_t*>(iov[size_t(first)].iov_base) + left;
                iov[size_t(first)].iov_len -= left;
            }
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && errno != EAGAIN) {
            LogMessage(2, "CFifoWriter::Write(): pipe write failed: %s", strerror(errno));
            return false;
        }
        pollfd fds[2] = {{fd_, POLLOUT, 0}, {tool_->EndHandle(), POLLIN, 0}};
        poll(fds, fds[1].fd >= 0 ? 2 : 1, kPollSliceMs);
        if (fds[0].revents & (POLLERR | POLLHUP)) return false;
        if (!(fds[0].revents & POLLOUT)) {
            if (!tool_->started || tool_->Wait(0)) return false;  // the tool ended
            if (NowMs() - lastMove >= stallLimitMs_) return false;
        }
    }
    return true;
}

void CFifoWriter::Close() {
    if (fd_ >= 0) {
        close(fd_);
        fd_ = -1;
    }
}

}  // namespace rk
