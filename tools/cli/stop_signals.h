#pragma once

// Ctrl+C and SIGTERM as a flag: the first one sets it, the program ends its
// job at the next safe point; a second one ends the program at once.

#include <atomic>
#include <csignal>

inline std::atomic<bool> g_stopRequested{false};

extern "C" inline void OnStopSignal(int signal)
{
    g_stopRequested = true;
    std::signal(signal, SIG_DFL);
}

// The stop signals handled for the scope's lifetime.
class TStopSignals {
public:
    TStopSignals()
    {
        g_stopRequested = false;
        m_interrupt = std::signal(SIGINT, OnStopSignal);
        m_terminate = std::signal(SIGTERM, OnStopSignal);
    }
    ~TStopSignals()
    {
        std::signal(SIGINT, m_interrupt);
        std::signal(SIGTERM, m_terminate);
    }
    TStopSignals(const TStopSignals &) = delete;
    TStopSignals &operator=(const TStopSignals &) = delete;

    const std::atomic<bool> &Flag() const { return g_stopRequested; }

private:
    void (*m_interrupt)(int) = SIG_DFL;
    void (*m_terminate)(int) = SIG_DFL;
};

// The exit code of a program ended by Ctrl+C.
inline constexpr int kExitInterrupted = 130;
