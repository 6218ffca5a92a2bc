// The watch on block devices and on the card folder.
#include "card/media_monitor.h"

#include <libudev.h>
#include <sys/epoll.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <string>

#include "card/drive_facts.h"

namespace rk {

struct CMediaMonitor::Impl {
    udev* u = nullptr;
    udev_monitor* mon = nullptr;
    int inotifyFd = -1;
    int watch = -1;
};

CMediaMonitor::CMediaMonitor() : impl_(new Impl) {}

CMediaMonitor::~CMediaMonitor() {
    if (impl_->mon) udev_monitor_unref(impl_->mon);
    if (impl_->u) udev_unref(impl_->u);
    if (impl_->inotifyFd >= 0) ::close(impl_->inotifyFd);
    if (epollFd_ >= 0) ::close(epollFd_);
    delete impl_;
}

bool CMediaMonitor::Start() {
    if (epollFd_ >= 0) return true;
    epollFd_ = ::epoll_create1(EPOLL_CLOEXEC);
    if (epollFd_ < 0) return false;
    bool any = false;
    impl_->u = udev_new();
    if (impl_->u) impl_->mon = udev_monitor_new_from_netlink(impl_->u, "udev");
    if (impl_->mon && udev_monitor_filter_add_match_subsystem_devtype(impl_->mon, "block", nullptr) >= 0 &&
        udev_monitor_enable_receiving(impl_->mon) >= 0) {
        epoll_event ev{};
        ev.events = EPOLLIN;
        ev.data.u32 = 1;
        if (::epoll_ctl(epollFd_, EPOLL_CTL_ADD, udev_monitor_get_fd(impl_->mon), &ev) == 0) any = true;
    }
    impl_->inotifyFd = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (impl_->inotifyFd >= 0) {
        std::string folder = CardFolderPath();
        // The card folder is ours: make it so that images dropped there later are seen.
        for (size_t i = 1; i <= folder.size(); ++i)
            if (i == folder.size() || folder[i] == '/') ::mkdir(folder.substr(0, i).c_str(), 0755);
        impl_->watch = ::inotify_add_watch(impl_->inotifyFd, folder.c_str(),
                                           IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO | IN_CLOSE_WRITE);
        epoll_event ev{};
        ev.events = EPOLLIN;
        ev.data.u32 = 2;
        if (impl_->watch >= 0 && ::epoll_ctl(epollFd_, EPOLL_CTL_ADD, impl_->inotifyFd, &ev) == 0) any = true;
    }
    return any;
}

bool CMediaMonitor::TakeChanges() {
    bool changed = false;
    if (impl_->mon) {
        while (udev_device* dev = udev_monitor_receive_device(impl_->mon)) {
            const char* action = udev_device_get_action(dev);
            if (action && (!std::strcmp(action, "add") || !std::strcmp(action, "remove") ||
                           !std::strcmp(action, "change")))
                changed = true;
            udev_device_unref(dev);
        }
    }
    if (impl_->inotifyFd >= 0) {
        alignas(inotify_event) char buf[4096];
        for (;;) {
            ssize_t n = ::read(impl_->inotifyFd, buf, sizeof buf);
            if (n <= 0) break;
            for (char* p = buf; p < buf + n;) {
                auto* ev = reinterpret_cast<inotify_event*>(p);
                std::string name = ev->len ? ev->name : "";
                if (IsCardImageName(name)) changed = true;
                p += sizeof(inotify_event) + ev->len;
            }
        }
    }
    return changed;
}

}  // namespace rk
