#include "sim/PtyBoard.h"
#include "platform/HexBytes.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <system_error>

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include "platform/posix/PortNames.h"

namespace pelvar {

namespace {

using Clock = std::chrono::steady_clock;

void CloseFd(int* fd)
{
    if (*fd >= 0)
        ::close(*fd);
    *fd = -1;
}

// mkdir -p, each new level private to this user.
int MakeDirectories(const std::string& path)
{
    for (std::size_t pos = 1; pos <= path.size(); ++pos) {
        if (pos != path.size() && path[pos] != '/')
            continue;
        const std::string part = path.substr(0, pos);
        if (::mkdir(part.c_str(), 0700) != 0 && errno != EEXIST)
            return errno;
    }
    return 0;
}

// A link left behind by a board that is gone points at nothing.
bool IsStaleLink(const std::string& path)
{
    struct stat lst {};
    struct stat st {};
    if (::lstat(path.c_str(), &lst) != 0 || !S_ISLNK(lst.st_mode))
        return false;
    return ::stat(path.c_str(), &st) != 0;
}

std::string ReadLink(const std::string& path)
{
    char buf[4096];
    const ssize_t n = ::readlink(path.c_str(), buf, sizeof buf - 1);
    if (n < 0)
        return {};
    return std::string(buf, static_cast<std::size_t>(n));
}

} // namespace

std::string FormatTraceEvent(const BoardTraceEvent& event)
{
    char head[32];
    std::snprintf(head, sizeof head, "%7u ms  ", event.ms);
    std::string line = head;
    switch (event.kind) {
    case BoardTraceKind::Received:
        line += "<- " + HexBytes(event.bytes) + "  " + CommandName(event.cmd);
        if (!event.checksumOk)
            line += " (bad checksum, ignored)";
        break;
    case BoardTraceKind::Sent: line += "-> " + HexBytes(event.bytes) + "  " + CommandName(event.cmd); break;
    case BoardTraceKind::HungUp: line += "hung up"; break;
    }
    return line;
}

PtyBoard::PtyBoard(const PtyBoardOptions& options) : m_options(options), m_board(options.board), m_origin(Clock::now())
{}

PtyBoard::~PtyBoard() { Stop(); }

int PtyBoard::Fail(int err, const std::string& what)
{
    m_error = what + ": " + std::strerror(err);
    RemoveLink();
    CloseFds();
    return -err;
}

int PtyBoard::Open()
{
    if (m_master >= 0)
        return 0;
    m_error.clear();
    m_hungUp = false;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_board = SimBoard(m_options.board);
    }
    m_origin = Clock::now();
    if (::pipe2(m_stopPipe, O_CLOEXEC | O_NONBLOCK) != 0)
        return Fail(errno, "pipe");
    const int rc = OpenPty();
    if (rc != 0)
        return rc;
    return CreateLink();
}

int PtyBoard::OpenPty()
{
    m_master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (m_master < 0)
        return Fail(errno, "posix_openpt");
    if (::grantpt(m_master) != 0 || ::unlockpt(m_master) != 0)
        return Fail(errno, "grantpt/unlockpt");
    char name[256];
    if (::ptsname_r(m_master, name, sizeof name) != 0)
        return Fail(errno, "ptsname");
    m_slavePath = name;
    m_slave = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (m_slave < 0)
        return Fail(errno, "open " + m_slavePath);
    struct termios tio {};
    if (::tcgetattr(m_slave, &tio) != 0)
        return Fail(errno, "tcgetattr " + m_slavePath);
    ::cfmakeraw(&tio);
    ::cfsetispeed(&tio, B115200);
    ::cfsetospeed(&tio, B115200);
    if (::tcsetattr(m_slave, TCSANOW, &tio) != 0)
        return Fail(errno, "tcsetattr " + m_slavePath);
    const int flags = ::fcntl(m_master, F_GETFL);
    if (flags < 0 || ::fcntl(m_master, F_SETFL, flags | O_NONBLOCK) != 0)
        return Fail(errno, "fcntl");
    return 0;
}

int PtyBoard::CreateLink()
{
    std::string dir = m_options.portsDir;
    if (dir.empty())
        dir = CurrentPortDirectory().path;
    if (dir.empty())
        return Fail(ENOENT, "no port directory (set PELVAR_PORTS_DIR or XDG_RUNTIME_DIR)");
    const int err = MakeDirectories(dir);
    if (err != 0)
        return Fail(err, "mkdir " + dir);
    if (!IsPrivateDirectory(dir))
        return Fail(EPERM, "port directory " + dir + " is not private to this user");
    const std::string link = dir + "/" + PortName();
    if (IsStaleLink(link))
        ::unlink(link.c_str());
    if (::symlink(m_slavePath.c_str(), link.c_str()) != 0)
        return Fail(errno, "link " + link);
    m_linkPath = link;
    return 0;
}

// Only our own link goes: another board may have taken the name since.
void PtyBoard::RemoveLink()
{
    if (m_linkPath.empty())
        return;
    if (ReadLink(m_linkPath) == m_slavePath)
        ::unlink(m_linkPath.c_str());
    m_linkPath.clear();
}

void PtyBoard::CloseFds()
{
    CloseFd(&m_master);
    CloseFd(&m_slave);
    CloseFd(&m_stopPipe[0]);
    CloseFd(&m_stopPipe[1]);
}

int PtyBoard::Start()
{
    if (Running())
        return 0;
    if (m_master < 0) {
        const int rc = Open();
        if (rc != 0)
            return rc;
    }
    try {
        m_thread = std::thread(&PtyBoard::Serve, this);
    } catch (const std::system_error& e) {
        return Fail(e.code().value(), "thread");
    }
    return 0;
}

void PtyBoard::Stop()
{
    if (m_thread.joinable()) {
        const char byte = 1;
        [[maybe_unused]] const ssize_t n = ::write(m_stopPipe[1], &byte, 1);
        m_thread.join();
    }
    RemoveLink();
    CloseFds();
}

SimBoardOptions PtyBoard::BoardOptions() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_board.Options();
}

void PtyBoard::SetBoardOptions(const SimBoardOptions& options)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_board.SetOptions(options);
}

SimBoard PtyBoard::Snapshot() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_board;
}

std::string PtyBoard::StateText() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return BoardStateText(m_board);
}

std::uint32_t PtyBoard::NowMs() const
{
    const auto elapsed = Clock::now() - m_origin;
    return static_cast<std::uint32_t>(std::chrono::duration_cast<std::chrono::milliseconds>(elapsed).count());
}

void PtyBoard::Trace(BoardTraceKind kind, const std::vector<std::uint8_t>& bytes, std::uint8_t cmd, bool checksumOk)
{
    if (!m_trace)
        return;
    BoardTraceEvent event;
    event.ms = NowMs();
    event.kind = kind;
    event.bytes = bytes;
    event.cmd = cmd;
    event.checksumOk = checksumOk;
    m_trace(event);
}

void PtyBoard::Serve()
{
    for (;;) {
        pollfd fds[2] = {{m_stopPipe[0], POLLIN, 0}, {m_master, POLLIN, 0}};
        const int n = ::poll(fds, 2, -1);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 || (fds[0].revents & POLLIN))
            return;
        if ((fds[1].revents & (POLLIN | POLLHUP | POLLERR)) && !HandleInput())
            return;
    }
}

// False when the thread is to end.
bool PtyBoard::HandleInput()
{
    std::uint8_t buf[512];
    const ssize_t n = ::read(m_master, buf, sizeof buf);
    if (n < 0 && (errno == EAGAIN || errno == EINTR))
        return true;
    if (n <= 0) {
        HangUp(); // the pseudo-terminal is gone under us
        return true;
    }
    const auto receivedAt = Clock::now();
    std::vector<SimBoardExchange> exchanges;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        exchanges = m_board.Feed(buf, static_cast<std::size_t>(n), NowMs());
    }
    for (const SimBoardExchange& ex : exchanges) {
        Trace(BoardTraceKind::Received, ex.received, ex.received[2], ex.checksumOk);
        if (!Answer(ex, receivedAt))
            return false;
        if (ex.hangUp) {
            HangUp();
            return true;
        }
    }
    return true;
}

bool PtyBoard::Answer(const SimBoardExchange& ex, Clock::time_point receivedAt)
{
    if (ex.reply.empty())
        return true;
    if (ex.delayMs != 0 && !WaitUntil(receivedAt + std::chrono::milliseconds(ex.delayMs)))
        return false;
    if (!WriteAll(ex.reply))
        return false;
    Trace(BoardTraceKind::Sent, ex.reply, ex.received[2], true);
    return true;
}

// False when Stop() came first.
bool PtyBoard::WaitUntil(Clock::time_point deadline)
{
    for (;;) {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0)
            return true;
        pollfd stop = {m_stopPipe[0], POLLIN, 0};
        const int n = ::poll(&stop, 1, static_cast<int>(left.count()));
        if (n > 0)
            return false;
    }
}

// One write when the line takes it, so a reply reaches the host in one piece.
bool PtyBoard::WriteAll(const std::vector<std::uint8_t>& bytes)
{
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(m_master, bytes.data() + done, bytes.size() - done);
        if (n > 0) {
            done += static_cast<std::size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && errno != EAGAIN)
            return true; // the reply is lost, as on a broken line; keep serving
        // The host is not reading: wait for room, or for Stop().
        pollfd fds[2] = {{m_stopPipe[0], POLLIN, 0}, {m_master, POLLOUT, 0}};
        if (::poll(fds, 2, -1) < 0 && errno != EINTR)
            return false;
        if (fds[0].revents & POLLIN)
            return false;
    }
    return true;
}

void PtyBoard::HangUp()
{
    m_hungUp = true; // first, so whoever sees the line end also sees the flag
    CloseFd(&m_master);
    CloseFd(&m_slave);
    Trace(BoardTraceKind::HungUp, {}, 0, true);
}

} // namespace pelvar
