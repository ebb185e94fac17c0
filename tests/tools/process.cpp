#include "tests/tools/process.h"

#include <csignal>
#include <thread>
#include <utility>

#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

TChildProcess::TChildProcess(const std::vector<std::string> &argv, bool withErrors)
{
    int fds[2];
    // Close-on-exec keeps both ends out of the program and of other children.
    if (::pipe2(fds, O_CLOEXEC) != 0)
        return;
    std::vector<char *> args;
    for (const auto &a : argv)
        args.push_back(const_cast<char *>(a.c_str()));
    args.push_back(nullptr);
    m_pid = ::fork();
    if (m_pid == 0) {
        ::dup2(fds[1], STDOUT_FILENO);
        if (withErrors)
            ::dup2(fds[1], STDERR_FILENO);
        ::execvp(args[0], args.data());
        ::_exit(127);
    }
    ::close(fds[1]);
    m_out = fds[0];
}

TChildProcess::~TChildProcess()
{
    Signal(SIGKILL);
    Wait(std::chrono::seconds(5));
    ::close(m_out);
}

bool TChildProcess::ReadMore(std::chrono::steady_clock::time_point deadline)
{
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    pollfd fd{m_out, POLLIN, 0};
    if (left.count() <= 0 || ::poll(&fd, 1, static_cast<int>(left.count())) <= 0)
        return false;
    char chunk[512];
    const ssize_t n = ::read(m_out, chunk, sizeof chunk);
    if (n > 0)
        m_buffer.append(chunk, static_cast<std::size_t>(n));
    return n > 0;
}

std::string TChildProcess::ReadLine(std::chrono::milliseconds timeout)
{
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    std::size_t eol;
    while ((eol = m_buffer.find('\n')) == std::string::npos)
        if (!ReadMore(deadline))
            return {};
    std::string line = m_buffer.substr(0, eol);
    m_buffer.erase(0, eol + 1);
    return line;
}

std::string TChildProcess::ReadToEnd(std::chrono::milliseconds timeout)
{
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (ReadMore(deadline)) {
    }
    return std::exchange(m_buffer, std::string());
}

void TChildProcess::Signal(int signal)
{
    if (m_pid > 0)
        ::kill(m_pid, signal);
}

int TChildProcess::Wait(std::chrono::milliseconds timeout)
{
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    int status = 0;
    while (m_pid > 0 && ::waitpid(m_pid, &status, WNOHANG) != m_pid) {
        if (std::chrono::steady_clock::now() > deadline)
            return -1;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    if (std::exchange(m_pid, -1) <= 0)
        return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

TRunResult RunProgram(const std::vector<std::string> &argv, std::chrono::milliseconds timeout)
{
    TChildProcess child(argv, true);
    std::string output = child.ReadToEnd(timeout);
    return {child.Wait(timeout), output};
}
