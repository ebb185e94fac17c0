#include "tests/tools/process.h"

#include <csignal>
#include <utility>
#include <thread>

#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

TChildProcess::TChildProcess(const std::vector<std::string> &argv, bool withErrors)
{
    int fds[2];
    if (::pipe(fds) != 0)
        return;
    m_pid = ::fork();
    if (m_pid == 0) {
        ::dup2(fds[1], STDOUT_FILENO);
        if (withErrors)
            ::dup2(fds[1], STDERR_FILENO);
        ::close(fds[0]);
        ::close(fds[1]);
        std::vector<char *> args;
        for (const auto &a : argv)
            args.push_back(const_cast<char *>(a.c_str()));
        args.push_back(nullptr);
        ::execv(args[0], args.data());
        ::_exit(127);
    }
    ::close(fds[1]);
    m_out = fds[0];
}

TChildProcess::~TChildProcess()
{
    if (m_pid > 0) {
        ::kill(m_pid, SIGKILL);
        ::waitpid(m_pid, nullptr, 0);
    }
    if (m_out >= 0)
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
    if (n <= 0)
        return false;
    m_buffer.append(chunk, static_cast<std::size_t>(n));
    return true;
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

void TChildProcess::Signal(int signal)
{
    if (m_pid > 0)
        ::kill(m_pid, signal);
}

int TChildProcess::Wait(std::chrono::milliseconds timeout)
{
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (m_pid > 0) {
        int status = 0;
        if (::waitpid(m_pid, &status, WNOHANG) == m_pid) {
            m_pid = -1;
            return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        }
        if (std::chrono::steady_clock::now() > deadline)
            return -1;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return -1;
}

std::string TChildProcess::ReadToEnd(std::chrono::milliseconds timeout)
{
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (ReadMore(deadline)) {
    }
    return std::exchange(m_buffer, std::string());
}

TRunResult RunProgram(const std::vector<std::string> &argv, std::chrono::milliseconds timeout)
{
    std::string command = "exec";
    for (const auto &a : argv) {
        std::string quoted = "'";
        for (char c : a)
            quoted += (c == '\'') ? std::string("'\\''") : std::string(1, c);
        command += " " + quoted + "'";
    }
    TChildProcess child({"/bin/sh", "-c", command + " 2>&1"});
    std::string output = child.ReadToEnd(timeout);
    return {child.Wait(timeout), output};
}
