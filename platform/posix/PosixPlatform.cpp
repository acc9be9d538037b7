#include "platform/posix/PosixPlatform.h"

#include "platform/PortRef.h"

#include <cerrno>
#include <ctime>
#include <fcntl.h>
#include <linux/serial.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <termios.h>
#include <unistd.h>

#include "platform/ReadDeadline.h"
#include "platform/net/NetworkPlatform.h"
#include "platform/posix/PortNames.h"
#include "platform/posix/UucpLock.h"

namespace pelvar {

namespace {

using Nanos = long long;

Nanos MonotonicNow()
{
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<Nanos>(ts.tv_sec) * 1000000000LL + ts.tv_nsec;
}

timespec ToTimespec(Nanos ns)
{
    timespec ts{};
    ts.tv_sec = static_cast<time_t>(ns / 1000000000LL);
    ts.tv_nsec = static_cast<long>(ns % 1000000000LL);
    return ts;
}

Nanos Millis(std::uint64_t ms) { return static_cast<Nanos>(ms) * 1000000LL; }

// Quirk: Unix98 pseudo-terminal slaves (majors 136..143) have no modem-control
// lines; their TIOCMBIS/TIOCMBIC answer ENOTTY or EINVAL.
bool IsPtySlave(dev_t rdev)
{
    unsigned int m = major(rdev);
    return m >= 136 && m <= 143;
}

speed_t StandardSpeed(std::int32_t baud)
{
    switch (baud) {
    case 50: return B50;
    case 75: return B75;
    case 110: return B110;
    case 134: return B134;
    case 150: return B150;
    case 200: return B200;
    case 300: return B300;
    case 600: return B600;
    case 1200: return B1200;
    case 1800: return B1800;
    case 2400: return B2400;
    case 4800: return B4800;
    case 9600: return B9600;
    case 19200: return B19200;
    case 38400: return B38400;
    case 57600: return B57600;
    case 115200: return B115200;
    case 230400: return B230400;
    case 460800: return B460800;
    case 500000: return B500000;
    case 576000: return B576000;
    case 921600: return B921600;
    case 1000000: return B1000000;
    case 1152000: return B1152000;
    case 1500000: return B1500000;
    case 2000000: return B2000000;
    case 2500000: return B2500000;
    case 3000000: return B3000000;
    case 3500000: return B3500000;
    case 4000000: return B4000000;
    default: return B0;
    }
}

tcflag_t CharacterSize(std::int32_t bits)
{
    switch (bits) {
    case 5: return CS5;
    case 6: return CS6;
    case 7: return CS7;
    default: return CS8;
    }
}

} // namespace

tcflag_t CharacterFormatFlags(const LineSettings& s)
{
    tcflag_t flags = CharacterSize(s.byteSize);
    if (s.parity != 0)
        flags |= PARENB | (s.parity == 1 ? PARODD : 0);
    if (s.stopBits == 2)
        flags |= CSTOPB;
    return flags;
}

IPlatform& DefaultPlatform()
{
    // Network ports beside the local ones, on the same clock.
    static PosixPlatform platform;
    static NetworkPlatform withNetwork(platform);
    return withNetwork;
}

std::unique_ptr<IPlatform> NewPlatform() { return WithNetworkPorts(std::make_unique<PosixPlatform>()); }

PosixPlatform::~PosixPlatform()
{
    while (!m_devices.empty())
        ClosePort(m_devices.begin()->first);
}

bool PosixPlatform::Fail(int err)
{
    m_lastError = err;
    return false;
}

PosixPlatform::Device* PosixPlatform::Find(PortHandle h)
{
    auto it = m_devices.find(h);
    if (it == m_devices.end()) {
        m_lastError = EBADF;
        return nullptr;
    }
    return &it->second;
}

PortHandle PosixPlatform::OpenPort(int port)
{
    std::string path = ResolvePortPath(port);
    if (path.empty()) {
        Fail(ENOENT);
        return kNoHandle;
    }
    return OpenPath(path);
}

PortHandle PosixPlatform::OpenRef(const PortRef& ref)
{
    switch (ref.kind) {
    case PortRef::Kind::Number: return OpenPort(ref.number);
    case PortRef::Kind::Device: return OpenPath(ref.name);
    default: break;
    }
    // Network ports are the network platform's.
    Fail(ENOENT);
    return kNoHandle;
}

PortHandle PosixPlatform::OpenPath(const std::string& path)
{
    // Look before opening: a FIFO or a regular file behind a port name is
    // never opened (opening a FIFO alone could block its writer).
    struct stat before {};
    if (stat(path.c_str(), &before) != 0) {
        Fail(errno);
        return kNoHandle;
    }
    if (!S_ISCHR(before.st_mode)) {
        Fail(ENOTTY);
        return kNoHandle;
    }
    // Other programs' ports are left alone: the system console, and any
    // device whose lock file names another live process.
    const std::string device = CanonicalDevicePath(path);
    if (IsActiveConsole(device)) {
        Fail(EBUSY);
        return kNoHandle;
    }
    PortLockResult lock = AcquirePortLock(m_lockDir, device);
    if (lock.error != 0) {
        Fail(lock.error);
        return kNoHandle;
    }
    PortHandle h = OpenChecked(path, before);
    if (h == kNoHandle) {
        ReleasePortLock(lock.lockPath);
        return kNoHandle;
    }
    m_devices[h].lockPath = lock.lockPath;
    m_devices[h].path = path;
    return h;
}

PortHandle PosixPlatform::OpenChecked(const std::string& path, const struct stat& before)
{
    int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        Fail(errno);
        return kNoHandle;
    }
    struct stat after {};
    if (fstat(fd, &after) != 0 || after.st_rdev != before.st_rdev || !isatty(fd)) {
        close(fd);
        Fail(ENOTTY);
        return kNoHandle;
    }
    // Exclusive use: flock for programs that cooperate, TIOCEXCL for the rest.
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        int err = errno == EWOULDBLOCK ? EBUSY : errno;
        close(fd);
        Fail(err);
        return kNoHandle;
    }
    ioctl(fd, TIOCEXCL);
    Device dev;
    SaveTermios2(fd, &dev.saved);
    dev.isPty = IsPtySlave(after.st_rdev);
    m_devices[fd] = dev;
    return fd;
}

bool PosixPlatform::ApplyLineSettings(PortHandle h, const LineSettings& s)
{
    Device* dev = Find(h);
    if (!dev)
        return false;
    int fd = static_cast<int>(h);
    // termios has no 9-bit characters and no 1.5 stop bits.
    if (s.byteSize < 5 || s.byteSize > 8 || s.stopBits == 1 || s.stopBits < 0 || s.stopBits > 2 || s.parity < 0
        || s.parity > 2 || s.baud < 1)
        return Fail(EINVAL);

    termios t{};
    if (tcgetattr(fd, &t) != 0)
        return Fail(errno);
    cfmakeraw(&t);
    t.c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF | IXANY | INPCK);
    t.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | PARODD | CSTOPB | CRTSCTS | HUPCL);
    t.c_cflag |= CLOCAL | CREAD | CharacterFormatFlags(s);
    t.c_cc[VMIN] = 0;
    t.c_cc[VTIME] = 0;
    speed_t speed = StandardSpeed(s.baud);
    if (speed != B0)
        cfsetspeed(&t, speed);
    if (tcsetattr(fd, TCSANOW, &t) != 0)
        return Fail(errno);
    if (speed == B0 && !SetCustomBaud(fd, static_cast<std::uint32_t>(s.baud)))
        return Fail(errno);
    // tcsetattr succeeds if any one change took; check the ones that matter.
    termios check{};
    if (tcgetattr(fd, &check) != 0)
        return Fail(errno);
    if ((check.c_cflag & CSIZE) != CharacterSize(s.byteSize) || (check.c_cflag & CRTSCTS) != 0)
        return Fail(EINVAL);
    // DTR and RTS asserted from the open on.
    if (s.listenOnly)
        return true;
    if (!SetModemLine(*dev, fd, TIOCM_DTR, true) || !SetModemLine(*dev, fd, TIOCM_RTS, true))
        return false;
    return true;
}

bool PosixPlatform::SetModemLine(Device& dev, int fd, int line, bool raised)
{
    if (ioctl(fd, raised ? TIOCMBIS : TIOCMBIC, &line) == 0)
        return true;
    if (dev.isPty && (errno == ENOTTY || errno == EINVAL))
        return true;
    return Fail(errno);
}

bool PosixPlatform::SetTimeouts(PortHandle h, const Timeouts& t)
{
    Device* dev = Find(h);
    if (!dev)
        return false;
    dev->timeouts = t;
    return true;
}

bool PosixPlatform::Read(PortHandle h, std::uint8_t* buf, std::uint32_t len, std::uint32_t* got)
{
    Device* dev = Find(h);
    if (!dev)
        return false;
    int fd = static_cast<int>(h);
    ReadDeadline deadline(dev->timeouts, len, TickCount());
    std::uint32_t n = 0;

    while (n < len) {
        // Once the time is up, what has already come is still taken.
        const std::uint32_t left = deadline.Remaining(TickCount());
        pollfd pfd{fd, POLLIN, 0};
        const timespec wait = ToTimespec(Millis(left));
        int r = ppoll(&pfd, 1, left == ReadDeadline::kNoLimit ? nullptr : &wait, nullptr);
        if (r < 0 && errno == EINTR)
            continue;
        if (r < 0)
            return Fail(errno);
        if (r == 0 && left == 0)
            break;
        if (r == 0)
            continue;
        int err = EIO;
        if (pfd.revents & POLLIN) {
            ssize_t k = read(fd, buf + n, len - n);
            if (k > 0) {
                n += static_cast<std::uint32_t>(k);
                deadline.Arrived(TickCount());
                continue;
            }
            if (k < 0 && (errno == EAGAIN || errno == EINTR))
                continue;
            if (k < 0)
                err = errno;
        }
        // Hang-up, device gone (EIO) or end of file: the bytes already read
        // are delivered; the next call reports the failure.
        if (n > 0)
            break;
        return Fail(err);
    }
    *got = n;
    return true;
}

bool PosixPlatform::Write(PortHandle h, const std::uint8_t* buf, std::uint32_t len)
{
    Device* dev = Find(h);
    if (!dev)
        return false;
    int fd = static_cast<int>(h);
    const Timeouts& to = dev->timeouts;
    const Nanos deadline =
        MonotonicNow() + Millis(static_cast<std::uint64_t>(to.writeMultiplier) * len + to.writeConstant);
    std::uint32_t done = 0;
    while (done < len) {
        ssize_t k = write(fd, buf + done, len - done);
        if (k > 0) {
            done += static_cast<std::uint32_t>(k);
            continue;
        }
        if (k < 0 && errno == EINTR)
            continue;
        if (k < 0 && errno != EAGAIN)
            return Fail(errno);
        Nanos now = MonotonicNow();
        if (now >= deadline)
            return Fail(ETIMEDOUT);
        pollfd pfd{fd, POLLOUT, 0};
        timespec wait = ToTimespec(deadline - now);
        int r = ppoll(&pfd, 1, &wait, nullptr);
        if (r < 0 && errno != EINTR)
            return Fail(errno);
        if (r > 0 && (pfd.revents & (POLLHUP | POLLERR | POLLNVAL)))
            return Fail(EIO);
    }
    return true;
}

bool PosixPlatform::SetRts(PortHandle h, bool raised)
{
    Device* dev = Find(h);
    if (!dev)
        return false;
    return SetModemLine(*dev, static_cast<int>(h), TIOCM_RTS, raised);
}

bool PosixPlatform::DrainOutput(PortHandle h)
{
    if (!Find(h))
        return false;
    while (tcdrain(static_cast<int>(h)) != 0) {
        if (errno != EINTR)
            return Fail(errno);
    }
    return true;
}

bool PosixPlatform::PurgeInput(PortHandle h)
{
    if (!Find(h))
        return false;
    if (tcflush(static_cast<int>(h), TCIFLUSH) != 0)
        return Fail(errno);
    return true;
}

bool PosixPlatform::ClosePort(PortHandle h)
{
    auto it = m_devices.find(h);
    if (it == m_devices.end())
        return Fail(EBADF);
    int fd = static_cast<int>(h);
    RestoreLatency(it->second, fd);
    // The next program finds the driver as it was before us.
    if (it->second.rs485Set)
        ioctl(fd, TIOCSRS485, &it->second.savedRs485);
    RestoreTermios2(fd, it->second.saved);
    ioctl(fd, TIOCNXCL);
    const std::string lockPath = it->second.lockPath;
    m_devices.erase(it);
    // Linux releases the descriptor even when close() reports EINTR or EIO.
    const bool closed = close(fd) == 0 || errno != EBADF;
    ReleasePortLock(lockPath);
    if (!closed)
        return Fail(EBADF);
    return true;
}

bool PosixPlatform::SetLowLatency(PortHandle h, bool on)
{
    Device* dev = Find(h);
    if (!dev)
        return false;
    const int fd = static_cast<int>(h);
    if (!on) {
        RestoreLatency(*dev, fd);
        return true;
    }
    serial_struct ss{};
    if (ioctl(fd, TIOCGSERIAL, &ss) != 0) {
        dev->lowLatencyError = errno;
        return Fail(errno);
    }
    const int before = ss.flags;
    ss.flags |= ASYNC_LOW_LATENCY;
    if (ioctl(fd, TIOCSSERIAL, &ss) != 0) {
        dev->lowLatencyError = errno;
        return Fail(errno);
    }
    if (!dev->lowLatencySet)
        dev->savedSerialFlags = before;
    dev->lowLatencySet = true;
    dev->lowLatencyError = 0;
    return true;
}

void PosixPlatform::RestoreLatency(Device& dev, int fd)
{
    if (!dev.lowLatencySet)
        return;
    serial_struct ss{};
    if (ioctl(fd, TIOCGSERIAL, &ss) == 0) {
        ss.flags = dev.savedSerialFlags;
        ioctl(fd, TIOCSSERIAL, &ss);
    }
    dev.lowLatencySet = false;
}

bool PosixPlatform::SetRs485(PortHandle h, const Rs485Settings& s)
{
    Device* dev = Find(h);
    if (!dev)
        return false;
    serial_rs485 before{};
    if (ioctl(static_cast<int>(h), TIOCGRS485, &before) != 0)
        return Fail(errno);
    serial_rs485 rs{};
    // RTS high while sending, low after: the board's line is free once the
    // last bit and the hold have passed.
    rs.flags = SER_RS485_ENABLED | SER_RS485_RTS_ON_SEND;
    rs.delay_rts_before_send = s.delayBeforeSendMs;
    rs.delay_rts_after_send = s.delayAfterSendMs;
    if (ioctl(static_cast<int>(h), TIOCSRS485, &rs) != 0)
        return Fail(errno);
    // A driver may take the call and drop the mode (no RS-485 in the UART).
    serial_rs485 check{};
    if (ioctl(static_cast<int>(h), TIOCGRS485, &check) != 0)
        return Fail(errno);
    if ((check.flags & SER_RS485_ENABLED) == 0)
        return Fail(EINVAL);
    if (!dev->rs485Set)
        dev->savedRs485 = before;
    dev->rs485Set = true;
    return true;
}

AdapterFacts PosixPlatform::Adapter(PortHandle h)
{
    Device* dev = Find(h);
    if (!dev)
        return {};
    AdapterFacts facts = ReadAdapterFacts(dev->path, m_sysfsRoot);
    facts.lowLatencyError = dev->lowLatencyError;
    return facts;
}

// A hang-up shows on the open descriptor at once: a USB adapter pulled out,
// or the far end of a pseudo-terminal closed.
bool PosixPlatform::PortGone(PortHandle h)
{
    if (m_devices.find(h) == m_devices.end())
        return true;
    pollfd p{static_cast<int>(h), POLLIN, 0};
    if (poll(&p, 1, 0) < 0)
        return false;
    return (p.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0;
}

std::uint32_t PosixPlatform::TickCount() { return static_cast<std::uint32_t>(MonotonicNow() / 1000000LL); }

void PosixPlatform::Sleep(std::uint32_t ms)
{
    timespec until = ToTimespec(MonotonicNow() + Millis(ms));
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &until, nullptr) == EINTR) {}
}

std::string PosixPlatform::PortPath(int port) const { return ResolvePortPath(port); }

} // namespace pelvar
