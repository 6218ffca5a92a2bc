#pragma once
// Watching for cards coming and going.
namespace rk {

// A libudev monitor on block devices plus an inotify watch on the card
// folder, behind one pollable descriptor (epoll). The window watches Fd()
// with a QSocketNotifier and calls TakeChanges() when it is readable; a true
// answer means a rescan is due.
class CMediaMonitor {
public:
    CMediaMonitor();
    ~CMediaMonitor();
    CMediaMonitor(const CMediaMonitor&) = delete;
    CMediaMonitor& operator=(const CMediaMonitor&) = delete;

    bool Start();  // false when neither source can be watched
    int Fd() const { return epollFd_; }
    // Drains pending events; true when a disk or a card image appeared,
    // vanished or changed.
    bool TakeChanges();

private:
    struct Impl;
    Impl* impl_ = nullptr;
    int epollFd_ = -1;
};

}  // namespace rk
