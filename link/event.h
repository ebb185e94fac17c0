#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>

// Manual-reset event: stays signalled until Reset, releases every waiter.
class TEvent {
public:
    void Set()
    {
        {
            std::lock_guard lock(m_mutex);
            m_signalled = true;
        }
        m_cond.notify_all();
    }

    void Reset()
    {
        std::lock_guard lock(m_mutex);
        m_signalled = false;
    }

    void Wait()
    {
        std::unique_lock lock(m_mutex);
        m_cond.wait(lock, [this] { return m_signalled; });
    }

    // True when the event was signalled within the time-out.
    bool Wait(std::chrono::milliseconds timeout)
    {
        std::unique_lock lock(m_mutex);
        return m_cond.wait_for(lock, timeout, [this] { return m_signalled; });
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_cond;
    bool m_signalled = false;
};
