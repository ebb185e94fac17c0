#pragma once

#include <chrono>
#include <string>
#include <vector>

// A program run by a test: its standard output is read through a pipe.
class TChildProcess {
public:
    // argv[0] is looked up on PATH; withErrors: standard error joins standard output.
    explicit TChildProcess(const std::vector<std::string> &argv, bool withErrors = false);
    ~TChildProcess();

    // One line of its output (without the newline); empty at the end or time-out.
    std::string ReadLine(std::chrono::milliseconds timeout);
    // Everything it prints until it closes its output or the time-out passes.
    std::string ReadToEnd(std::chrono::milliseconds timeout);
    void Signal(int signal);
    // Exit code, or -1 when it did not end within the time-out (it is killed then).
    int Wait(std::chrono::milliseconds timeout);

private:
    // Appends what the program prints next; false at its end or the deadline.
    bool ReadMore(std::chrono::steady_clock::time_point deadline);

    int m_pid = -1;
    int m_out = -1;
    std::string m_buffer;
};

struct TRunResult {
    int exitCode;
    std::string output; // standard output and standard error
};

// Runs a program to its end and collects what it printed.
TRunResult RunProgram(const std::vector<std::string> &argv, std::chrono::milliseconds timeout = std::chrono::seconds(30));
