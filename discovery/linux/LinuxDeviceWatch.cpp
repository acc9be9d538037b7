// Arrivals on Linux: udev's monitor for tty devices, and inotify on the port
// directory for its entries (a pseudo-terminal's link appears there without
// any udev event). One thread polls both and a pipe that ends it.
#include "discovery/DeviceWatch.h"

#include <fcntl.h>
#include <libudev.h>
#include <poll.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <thread>

#include "platform/posix/PortNames.h"

namespace pelvar {

namespace {

class LinuxDeviceWatch : public DeviceWatch {
public:
    explicit LinuxDeviceWatch(std::function<void()> arrived) : m_arrived(std::move(arrived)) {}

    ~LinuxDeviceWatch() override
    {
        if (m_thread.joinable()) {
            const char stop = 0;
            (void)!write(m_stop[1], &stop, 1);
            m_thread.join();
        }
        for (const int fd : {m_stop[0], m_stop[1], m_inotify})
            if (fd >= 0)
                close(fd);
        if (m_monitor)
            udev_monitor_unref(m_monitor);
        if (m_udev)
            udev_unref(m_udev);
    }

    // False when neither source could be opened: the caller keeps looking.
    bool Start()
    {
        if (pipe2(m_stop, O_CLOEXEC) != 0)
            return false;
        m_udev = udev_new();
        if (m_udev)
            m_monitor = udev_monitor_new_from_netlink(m_udev, "udev");
        if (m_monitor
            && (udev_monitor_filter_add_match_subsystem_devtype(m_monitor, "tty", nullptr) < 0
                || udev_monitor_enable_receiving(m_monitor) < 0)) {
            udev_monitor_unref(m_monitor);
            m_monitor = nullptr;
        }
        const PortDirectory dir = CurrentPortDirectory();
        if (!dir.path.empty()) {
            m_inotify = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
            if (m_inotify >= 0 && inotify_add_watch(m_inotify, dir.path.c_str(), IN_CREATE | IN_MOVED_TO) < 0) {
                close(m_inotify);
                m_inotify = -1;
            }
        }
        if (!m_monitor && m_inotify < 0)
            return false;
        m_thread = std::thread([this] { Run(); });
        return true;
    }

private:
    void Run()
    {
        pollfd fds[3] = {{m_stop[0], POLLIN, 0},
                         {m_monitor ? udev_monitor_get_fd(m_monitor) : -1, POLLIN, 0},
                         {m_inotify, POLLIN, 0}};
        for (;;) {
            if (poll(fds, 3, -1) < 0)
                continue;
            if (fds[0].revents != 0)
                return;
            bool arrived = false;
            if (fds[1].revents & POLLIN) {
                if (udev_device* dev = udev_monitor_receive_device(m_monitor)) {
                    const char* action = udev_device_get_action(dev);
                    arrived = action != nullptr && std::string(action) == "add";
                    udev_device_unref(dev);
                }
            }
            if (fds[2].revents & POLLIN) {
                alignas(inotify_event) char buffer[4096];
                while (read(m_inotify, buffer, sizeof buffer) > 0)
                    arrived = true;
            }
            if (arrived)
                m_arrived();
        }
    }

    std::function<void()> m_arrived;
    int m_stop[2] = {-1, -1};
    int m_inotify = -1;
    udev* m_udev = nullptr;
    udev_monitor* m_monitor = nullptr;
    std::thread m_thread;
};

} // namespace

std::unique_ptr<DeviceWatch> WatchMachineDevices(std::function<void()> arrived)
{
    auto watch = std::make_unique<LinuxDeviceWatch>(std::move(arrived));
    if (!watch->Start())
        return nullptr;
    return watch;
}

} // namespace pelvar
