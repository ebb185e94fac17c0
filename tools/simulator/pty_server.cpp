#include "tools/simulator/pty_server.h"

#include "link/port.h"

#include <cerrno>
#include <cstring>
#include <filesystem>

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

namespace {

using namespace std::chrono_literals;

// A partial request that sits this long without its remaining bytes is noise.
constexpr auto kStaleInput = 500ms;
constexpr std::size_t kMaxFrame = TRawPacket::kMaxPayload + 1 + TRawPacket::kOverhead;

std::string systemError(const char *what)
{
    return std::string(what) + ": " + std::strerror(errno);
}

bool setRaw(int fd)
{
    termios tio{};
    if (::tcgetattr(fd, &tio) != 0)
        return false;
    ::cfmakeraw(&tio);
    return ::tcsetattr(fd, TCSANOW, &tio) == 0;
}

bool every(int n, int period)
{
    return period > 0 && n % period == 0;
}

} // namespace

TPtyServer::TPtyServer(TSimulatedDevice &device, TFaultPlan plan) : m_device(device), m_plan(plan)
{
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC | O_NONBLOCK) == 0) {
        m_wakeRead = fds[0];
        m_wakeWrite = fds[1];
    }
}

TPtyServer::~TPtyServer()
{
    Stop();
    if (m_wakeRead >= 0)
        ::close(m_wakeRead);
    if (m_wakeWrite >= 0)
        ::close(m_wakeWrite);
}

bool TPtyServer::Start(std::string *error)
{
    if (m_thread.joinable())
        return true;
    if (!OpenPty(error))
        return false;
    m_stop = false;
    m_thread = std::thread([this] { Run(); });
    return true;
}

void TPtyServer::Stop()
{
    if (m_thread.joinable()) {
        m_stop = true;
        const char byte = 1;
        [[maybe_unused]] auto n = ::write(m_wakeWrite, &byte, 1);
        m_thread.join();
        char drain[16];
        while (::read(m_wakeRead, drain, sizeof drain) > 0) {
        }
    }
    ClosePty();
    std::lock_guard lock(m_mutex);
    if (!m_linkPath.empty()) {
        std::error_code ignored;
        std::filesystem::remove(m_linkPath, ignored);
        m_linkPath.clear();
    }
}

void TPtyServer::Unplug()
{
    std::string link;
    {
        std::lock_guard lock(m_mutex);
        link = m_linkPath;
        m_linkPath.clear(); // keep the link through the stop
    }
    Stop();
    std::lock_guard lock(m_mutex);
    m_linkPath = link;
}

bool TPtyServer::Plug(std::string *error)
{
    if (!Start(error))
        return false;
    std::string link;
    {
        std::lock_guard lock(m_mutex);
        link = m_linkPath;
    }
    return link.empty() || SetLink(link, error);
}

std::string TPtyServer::PortPath() const
{
    std::lock_guard lock(m_mutex);
    return m_slavePath;
}

bool TPtyServer::SetLink(const std::string &path, std::string *error)
{
    std::lock_guard lock(m_mutex);
    std::error_code ec;
    std::filesystem::remove(path, ec);
    std::filesystem::create_symlink(m_slavePath, path, ec);
    if (ec) {
        if (error)
            *error = "cannot link " + path + ": " + ec.message();
        return false;
    }
    m_linkPath = path;
    return true;
}

void TPtyServer::SetFaultScript(std::function<TFault(const TExchangeInfo &)> script)
{
    std::lock_guard lock(m_mutex);
    m_script = std::move(script);
}

void TPtyServer::SetPlan(const TFaultPlan &plan)
{
    std::lock_guard lock(m_mutex);
    m_plan = plan;
}

bool TPtyServer::OpenPty(std::string *error)
{
    const int master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master < 0 || ::grantpt(master) != 0 || ::unlockpt(master) != 0) {
        if (error)
            *error = systemError("cannot open a pseudo-terminal");
        if (master >= 0)
            ::close(master);
        return false;
    }
    char name[128];
    if (::ptsname_r(master, name, sizeof name) != 0) {
        if (error)
            *error = systemError("ptsname");
        ::close(master);
        return false;
    }
    const int slave = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (slave < 0 || !setRaw(slave)) {
        if (error)
            *error = systemError("cannot set up the pseudo-terminal");
        if (slave >= 0)
            ::close(slave);
        ::close(master);
        return false;
    }
    std::lock_guard lock(m_mutex);
    m_master = master;
    m_slave = slave;
    m_slavePath = name;
    return true;
}

void TPtyServer::ClosePty()
{
    if (m_master >= 0) {
        ::close(m_master);
        m_master = -1;
    }
    if (m_slave >= 0) {
        ::close(m_slave);
        m_slave = -1;
    }
}

void TPtyServer::Run()
{
    Bytes input;
    auto lastByte = std::chrono::steady_clock::now();
    while (!m_stop) {
        pollfd fds[2] = {{m_master, POLLIN, 0}, {m_wakeRead, POLLIN, 0}};
        const int ready = ::poll(fds, 2, 100);
        if (m_stop)
            break;
        if (ready < 0 && errno != EINTR)
            break;
        if (ready > 0 && (fds[0].revents & POLLIN)) {
            std::uint8_t chunk[1024];
            const ssize_t n = ::read(m_master, chunk, sizeof chunk);
            if (n > 0) {
                input.insert(input.end(), chunk, chunk + n);
                lastByte = std::chrono::steady_clock::now();
                HandleInput(input);
            }
        }
        if (!input.empty() && std::chrono::steady_clock::now() - lastByte > kStaleInput)
            input.clear();
    }
}

void TPtyServer::HandleInput(Bytes &input)
{
    for (;;) {
        std::size_t skip = 0;
        while (skip < input.size() && input[skip] != TRawPacket::kStartByte)
            ++skip;
        input.erase(input.begin(), input.begin() + static_cast<std::ptrdiff_t>(skip));
        if (input.size() < 3)
            return;
        const std::size_t length = (input[1] | (std::size_t(input[2]) << 8)) + TRawPacket::kOverhead;
        if (length > kMaxFrame || length < TRawPacket::kMinFrameLength) {
            input.erase(input.begin());
            continue;
        }
        if (input.size() < length)
            return;
        const Bytes request(input.begin(), input.begin() + static_cast<std::ptrdiff_t>(length));
        input.erase(input.begin(), input.begin() + static_cast<std::ptrdiff_t>(length));
        Serve(request);
    }
}

void TPtyServer::Serve(const Bytes &request)
{
    Bytes answer = m_device.Answer(request);
    if (answer.empty())
        return; // not a valid frame: a device ignores noise
    const TExchangeInfo info{++m_exchanges, request[3]};
    TFaultPlan plan;
    {
        std::lock_guard lock(m_mutex);
        plan = m_plan;
    }
    const TFault fault = FaultFor(info);
    if (fault != TFault::None)
        ++m_faults;
    // The request took its time on the wire before the device saw it.
    if (plan.baud > 0 && !Pause(std::chrono::microseconds(request.size() * 10'000'000LL / plan.baud)))
        return;
    switch (fault) {
    case TFault::Drop:
        return;
    case TFault::Corrupt:
        answer[static_cast<std::size_t>(info.number) % answer.size()] ^= 0x10;
        break;
    case TFault::Truncate:
        answer.pop_back();
        break;
    case TFault::Trailing:
        answer.push_back(0x00);
        break;
    case TFault::Late:
        if (!Pause(plan.lateBy))
            return;
        break;
    case TFault::None:
        break;
    }
    SendPaced(answer);
}

TFault TPtyServer::FaultFor(const TExchangeInfo &info)
{
    std::lock_guard lock(m_mutex);
    if (m_script)
        return m_script(info);
    const TFaultPlan &plan = m_plan;
    if (plan.spareIdentify && info.command == cmdIdentify)
        return TFault::None;
    const int n = info.number;
    if (plan.silentAfter > 0 && n > plan.silentAfter)
        return TFault::Drop;
    if (every(n, plan.dropEvery))
        return TFault::Drop;
    if (every(n, plan.corruptEvery))
        return TFault::Corrupt;
    if (every(n, plan.truncateEvery))
        return TFault::Truncate;
    if (every(n, plan.trailingEvery))
        return TFault::Trailing;
    if (every(n, plan.lateEvery))
        return TFault::Late;
    return TFault::None;
}

void TPtyServer::SendPaced(const Bytes &answer)
{
    int baud = 0;
    {
        std::lock_guard lock(m_mutex);
        baud = m_plan.baud;
    }
    if (baud <= 0) {
        [[maybe_unused]] auto n = ::write(m_master, answer.data(), answer.size());
        return;
    }
    // Bytes leave as they fall due on the clock, so timer slack never adds up.
    using Clock = std::chrono::steady_clock;
    const auto start = Clock::now();
    const std::chrono::nanoseconds byteTime(10'000'000'000LL / baud);
    std::size_t sent = 0;
    while (sent < answer.size() && !m_stop) {
        const auto due = std::min<std::size_t>(answer.size(), static_cast<std::size_t>((Clock::now() - start) / byteTime) + 1);
        if (due > sent) {
            const ssize_t n = ::write(m_master, answer.data() + sent, due - sent);
            if (n <= 0)
                return;
            sent += static_cast<std::size_t>(n);
        }
        if (sent < answer.size())
            std::this_thread::sleep_until(start + byteTime * static_cast<long>(sent + 1));
    }
    std::this_thread::sleep_until(start + byteTime * static_cast<long>(answer.size()));
}

bool TPtyServer::Pause(std::chrono::microseconds duration)
{
    if (duration.count() <= 0)
        return !m_stop;
    pollfd fd{m_wakeRead, POLLIN, 0};
    const auto deadline = std::chrono::steady_clock::now() + duration;
    while (!m_stop) {
        const auto left = std::chrono::duration_cast<std::chrono::microseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0)
            return true;
        if (left < 2ms) {
            std::this_thread::sleep_for(left);
            return !m_stop;
        }
        ::poll(&fd, 1, static_cast<int>(left.count() / 1000));
    }
    return false;
}
