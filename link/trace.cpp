#include "link/trace.h"

#include <atomic>
#include <mutex>

namespace {

std::atomic<bool> g_enabled{false};
std::mutex g_mutex;
TTraceSink g_sink;

} // namespace

void SetTraceSink(TTraceSink sink)
{
    std::lock_guard lock(g_mutex);
    g_sink = std::move(sink);
    g_enabled.store(static_cast<bool>(g_sink), std::memory_order_relaxed);
}

bool TraceEnabled()
{
    return g_enabled.load(std::memory_order_relaxed);
}

void TraceWrite(const std::string &line)
{
    std::lock_guard lock(g_mutex);
    if (g_sink)
        g_sink(line);
}
