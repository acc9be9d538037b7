#include "tests/e2e/Process.h"

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <filesystem>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace pelvar::e2e {

namespace {

using Clock = std::chrono::steady_clock;

std::vector<char*> Pointers(std::vector<std::string>& strings)
{
    std::vector<char*> p;
    for (std::string& s : strings)
        p.push_back(s.data());
    p.push_back(nullptr);
    return p;
}

std::vector<std::string> Environment(const std::vector<std::string>& extra)
{
    std::vector<std::string> env;
    for (char** e = environ; *e; ++e)
        env.emplace_back(*e);
    env.insert(env.end(), extra.begin(), extra.end());
    return env;
}

pid_t Spawn(std::vector<std::string> argv, const std::vector<std::string>& extraEnv, int in, int out, int err)
{
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (in >= 0)
        posix_spawn_file_actions_adddup2(&actions, in, 0);
    posix_spawn_file_actions_adddup2(&actions, out, 1);
    posix_spawn_file_actions_adddup2(&actions, err, 2);
    std::vector<std::string> env = Environment(extraEnv);
    std::vector<char*> args = Pointers(argv);
    std::vector<char*> envp = Pointers(env);
    pid_t pid = -1;
    if (posix_spawn(&pid, args[0], &actions, nullptr, args.data(), envp.data()) != 0)
        pid = -1;
    posix_spawn_file_actions_destroy(&actions);
    return pid;
}

int DecodeStatus(int raw)
{
    if (WIFEXITED(raw))
        return WEXITSTATUS(raw);
    if (WIFSIGNALED(raw))
        return 128 + WTERMSIG(raw);
    return -1;
}

} // namespace

RunResult RunProgram(const std::vector<std::string>& argv, const std::vector<std::string>& env,
                     const std::string& input, int timeoutMs)
{
    RunResult r;
    int outPipe[2], errPipe[2], inPipe[2];
    if (pipe2(outPipe, O_CLOEXEC) != 0 || pipe2(errPipe, O_CLOEXEC) != 0 || pipe2(inPipe, O_CLOEXEC) != 0)
        return r;
    auto start = Clock::now();
    pid_t pid = Spawn(argv, env, inPipe[0], outPipe[1], errPipe[1]);
    close(outPipe[1]);
    close(errPipe[1]);
    close(inPipe[0]);
    if (!input.empty())
        (void)!write(inPipe[1], input.data(), input.size());
    close(inPipe[1]);
    if (pid < 0)
        return r;

    pollfd fds[2] = {{outPipe[0], POLLIN, 0}, {errPipe[0], POLLIN, 0}};
    std::string* sinks[2] = {&r.out, &r.err};
    int open = 2;
    while (open > 0) {
        auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
        if (elapsed > timeoutMs) {
            kill(pid, SIGKILL);
            r.timedOut = true;
            break;
        }
        if (poll(fds, 2, 50) <= 0)
            continue;
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || !(fds[i].revents & (POLLIN | POLLHUP)))
                continue;
            char buf[4096];
            ssize_t n = read(fds[i].fd, buf, sizeof buf);
            if (n > 0) {
                sinks[i]->append(buf, static_cast<std::size_t>(n));
            } else {
                close(fds[i].fd);
                fds[i].fd = -1;
                --open;
            }
        }
    }
    for (pollfd& f : fds) {
        if (f.fd >= 0)
            close(f.fd);
    }
    int raw = 0;
    waitpid(pid, &raw, 0);
    r.status = DecodeStatus(raw);
    r.wallMs = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
    return r;
}

Background::Background(const std::vector<std::string>& argv, const std::vector<std::string>& env)
{
    int outPipe[2];
    if (pipe2(outPipe, O_CLOEXEC) != 0)
        return;
    int devnull = open("/dev/null", O_WRONLY | O_CLOEXEC);
    m_pid = Spawn(argv, env, -1, outPipe[1], devnull);
    close(outPipe[1]);
    close(devnull);
    m_out = outPipe[0];
}

Background::~Background()
{
    if (m_pid > 0)
        Stop();
    if (m_out >= 0)
        close(m_out);
}

std::string Background::FirstLine()
{
    auto start = Clock::now();
    while (m_buffer.find('\n') == std::string::npos && Clock::now() - start < std::chrono::seconds(5)) {
        pollfd p{m_out, POLLIN, 0};
        if (poll(&p, 1, 50) <= 0)
            continue;
        char buf[512];
        ssize_t n = read(m_out, buf, sizeof buf);
        if (n <= 0)
            break;
        m_buffer.append(buf, static_cast<std::size_t>(n));
    }
    std::size_t nl = m_buffer.find('\n');
    if (nl == std::string::npos)
        return {};
    std::string line = m_buffer.substr(0, nl);
    m_buffer.erase(0, nl + 1);
    return line;
}

std::string Background::Stop(int* status, int signal)
{
    if (m_pid <= 0)
        return {};
    kill(m_pid, signal);
    char buf[4096];
    ssize_t n;
    while ((n = read(m_out, buf, sizeof buf)) > 0)
        m_buffer.append(buf, static_cast<std::size_t>(n));
    int raw = 0;
    waitpid(m_pid, &raw, 0);
    m_pid = -1;
    if (status)
        *status = DecodeStatus(raw);
    std::string rest = m_buffer;
    m_buffer.clear();
    return rest;
}

PortsDir::PortsDir()
{
    std::string pattern = "/tmp/pelvar-e2e-XXXXXX";
    if (mkdtemp(pattern.data()))
        m_path = pattern;
}

PortsDir::~PortsDir()
{
    std::error_code ignored;
    if (!m_path.empty())
        std::filesystem::remove_all(m_path, ignored);
}

int OpenFdCount()
{
    int n = 0;
    DIR* d = opendir("/proc/self/fd");
    if (!d)
        return -1;
    while (struct dirent* e = readdir(d)) {
        if (e->d_name[0] != '.')
            ++n;
    }
    closedir(d);
    return n - 1; // the directory's own descriptor
}

} // namespace pelvar::e2e
