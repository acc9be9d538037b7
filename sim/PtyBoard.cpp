#include "sim/PtyBoard.h"
#include "platform/HexBytes.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <system_error>

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include "platform/posix/PortNames.h"
#include "platform/posix/UucpLock.h"

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

std::string ReadLink(const std::string& path)
{
    char buf[4096];
    const ssize_t n = ::readlink(path.c_str(), buf, sizeof buf - 1);
    if (n < 0)
        return {};
    return std::string(buf, static_cast<std::size_t>(n));
}

// Beside each board's link COMn lies ".COMn.owner", locked (flock) for as
// long as the board lives and holding its pid and pseudo-terminal. The lock
// dies with the process however it ends, so it tells a live board from a
// killed one; the pid and the terminal say who holds the name, and which
// link the dead board left.
std::string OwnerPath(const std::string& dir, int port) { return dir + "/.COM" + std::to_string(port) + ".owner"; }

struct OwnerRecord {
    pid_t pid = 0;
    std::string pty;
};

OwnerRecord ReadOwner(int fd)
{
    char buf[512];
    const ssize_t n = ::pread(fd, buf, sizeof buf - 1, 0);
    OwnerRecord record;
    if (n <= 0)
        return record;
    buf[n] = '\0';
    char* end = nullptr;
    const long pid = std::strtol(buf, &end, 10);
    if (end == buf || *end != ' ')
        return record;
    record.pid = static_cast<pid_t>(pid);
    std::string pty = end + 1;
    if (!pty.empty() && pty.back() == '\n')
        pty.pop_back();
    record.pty = pty;
    return record;
}

// Opens and locks the owner file of a name. Its fd (>= 0) when the name is
// ours now; -EEXIST when a live board holds it (*holder: its pid), another
// negative errno when the file cannot be made. A file unlinked by its last
// owner between our open and our lock is not the name's: try again.
int LockOwner(const std::string& path, OwnerRecord* holder, OwnerRecord* previous)
{
    for (int attempt = 0; attempt < 16; ++attempt) {
        const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
        if (fd < 0)
            return -errno;
        if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
            const int err = errno;
            *holder = ReadOwner(fd);
            ::close(fd);
            return err == EWOULDBLOCK ? -EEXIST : -err;
        }
        struct stat held {};
        struct stat named {};
        if (::fstat(fd, &held) == 0 && ::lstat(path.c_str(), &named) == 0 && held.st_dev == named.st_dev
            && held.st_ino == named.st_ino) {
            *previous = ReadOwner(fd);
            return fd;
        }
        ::close(fd);
    }
    return -EAGAIN;
}

// Whether the entry at `link` may be replaced: nothing there, a link to
// nothing, or the very link a board now gone made.
bool Replaceable(const std::string& link, const OwnerRecord& previous)
{
    struct stat lst {};
    if (::lstat(link.c_str(), &lst) != 0)
        return true;
    if (!S_ISLNK(lst.st_mode))
        return false;
    struct stat st {};
    if (::stat(link.c_str(), &st) != 0)
        return true;
    return !previous.pty.empty() && ReadLink(link) == previous.pty;
}

// A pseudo-terminal just made for us cannot be any live board's: a link
// under another name that reaches it was left by a board that is gone, and
// would make a second name for this one. Taking that name's owner lock
// first keeps a board that is replacing the link right now out of the way.
void RemoveOtherNamesOf(const std::string& dir, const std::string& ownName, const std::string& pty)
{
    DIR* d = ::opendir(dir.c_str());
    if (!d)
        return;
    std::vector<std::string> names;
    while (const dirent* e = ::readdir(d)) {
        const std::string name = e->d_name;
        if (name.rfind("COM", 0) == 0 && name != ownName)
            names.push_back(name);
    }
    ::closedir(d);
    for (const std::string& name : names) {
        const std::string link = dir + "/" + name;
        if (ReadLink(link) != pty)
            continue;
        const int owner = ::open((dir + "/." + name + ".owner").c_str(), O_RDWR | O_CLOEXEC | O_NOFOLLOW);
        if (owner >= 0 && ::flock(owner, LOCK_EX | LOCK_NB) != 0) {
            ::close(owner);
            continue;
        }
        if (ReadLink(link) == pty)
            ::unlink(link.c_str());
        if (owner >= 0)
            ::close(owner);
    }
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
    if (const std::string refusal = PortDirectoryRefusal(dir); !refusal.empty()) {
        m_error = "port directory " + dir + " is not private to this user: " + refusal;
        CloseFds();
        return -EPERM;
    }
    const std::string link = dir + "/" + PortName();
    const std::string owner = OwnerPath(dir, m_options.port);
    OwnerRecord holder;
    OwnerRecord previous;
    const int fd = LockOwner(owner, &holder, &previous);
    if (fd == -EEXIST) {
        const std::string who =
            holder.pid > 0 ? "the simulated board of " + DescribeProcess(holder.pid) : "another simulated board";
        m_error = PortName() + " is held by " + who + " (link " + link + ")";
        CloseFds();
        return -EEXIST;
    }
    if (fd < 0)
        return Fail(-fd, "lock " + owner);
    m_ownerFd = fd;
    m_ownerPath = owner;
    if (!Replaceable(link, previous)) {
        const std::string target = ReadLink(link);
        m_error = PortName() + " is taken: " + link + (target.empty() ? "" : " names " + target)
                  + ", not made by a simulated board";
        ReleaseOwner();
        CloseFds();
        return -EEXIST;
    }
    const std::string record = std::to_string(::getpid()) + " " + m_slavePath + "\n";
    if (::ftruncate(fd, 0) != 0 || ::pwrite(fd, record.data(), record.size(), 0) != static_cast<ssize_t>(record.size()))
        return Fail(errno, "write " + owner);
    // Made aside and renamed over the old entry: the name never points at
    // nothing, and a stale link is replaced in the same step.
    const std::string fresh = dir + "/.COM" + std::to_string(m_options.port) + ".new";
    ::unlink(fresh.c_str());
    if (::symlink(m_slavePath.c_str(), fresh.c_str()) != 0)
        return Fail(errno, "link " + fresh);
    if (::rename(fresh.c_str(), link.c_str()) != 0) {
        const int err = errno;
        ::unlink(fresh.c_str());
        return Fail(err, "link " + link);
    }
    m_linkPath = link;
    RemoveOtherNamesOf(dir, PortName(), m_slavePath);
    return 0;
}

// Only our own link goes: another board may have taken the name since.
void PtyBoard::RemoveLink()
{
    if (!m_linkPath.empty() && ReadLink(m_linkPath) == m_slavePath)
        ::unlink(m_linkPath.c_str());
    m_linkPath.clear();
    ReleaseOwner();
}

// The owner file goes while still locked, so no board ever locks a file
// that no longer names the port.
void PtyBoard::ReleaseOwner()
{
    if (m_ownerFd < 0)
        return;
    ::unlink(m_ownerPath.c_str());
    CloseFd(&m_ownerFd);
    m_ownerPath.clear();
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
