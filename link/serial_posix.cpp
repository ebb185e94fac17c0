// Serial port on POSIX systems: termios in raw mode, poll() for the time-outs,
// and a pipe that interrupt() makes readable so a blocked wait returns at once.
#include "link/serial.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <type_traits>

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

namespace {

// The termios constant of a line speed; B0 for a speed not offered.
speed_t speedConstant(int baudRate)
{
    switch (baudRate) {
    case 9600: return B9600;
    case 19200: return B19200;
    case 38400: return B38400;
    case 57600: return B57600;
    case 115200: return B115200;
    default: return B0;
    }
}

class TPosixSerialPort final : public ISerialPort {
public:
    TPosixSerialPort()
    {
        int fds[2];
        if (::pipe2(fds, O_CLOEXEC | O_NONBLOCK) == 0) {
            m_wakeRead = fds[0];
            m_wakeWrite = fds[1];
        }
    }

    ~TPosixSerialPort() override
    {
        close();
        if (m_wakeRead >= 0)
            ::close(m_wakeRead);
        if (m_wakeWrite >= 0)
            ::close(m_wakeWrite);
    }

    bool open(const std::string &deviceName) override
    {
        close();
        if (m_interrupted)
            return fail(ECANCELED);
        const auto speed = baudRate();
        if (speed && speedConstant(*speed) == B0)
            return fail(EINVAL);
        const int fd = ::open(deviceName.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0)
            return fail(errno);
        // Only a terminal device is a port: a file of that name is never written to.
        struct stat status {};
        if (::fstat(fd, &status) != 0 || !S_ISCHR(status.st_mode) || !::isatty(fd)) {
            ::close(fd);
            return fail(ENOTTY);
        }
        // No sharing: a second user of the port is refused as busy. The lock
        // and the terminal's exclusive mode last until close().
        if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
            const int error = (errno == EWOULDBLOCK) ? EBUSY : errno;
            ::close(fd);
            return fail(error);
        }
        ::ioctl(fd, TIOCEXCL);
        termios tio{};
        if (::tcgetattr(fd, &tio) == 0) {
            // Raw bytes, 8 data bits; without a chosen speed it stays as the system has it.
            ::cfmakeraw(&tio);
            tio.c_cflag |= CLOCAL | CREAD;
            tio.c_cc[VMIN] = 0;
            tio.c_cc[VTIME] = 0;
            if (speed) {
                ::cfsetispeed(&tio, speedConstant(*speed));
                ::cfsetospeed(&tio, speedConstant(*speed));
            }
            if (::tcsetattr(fd, TCSANOW, &tio) != 0) {
                const int error = errno;
                ::close(fd);
                return fail(error);
            }
            // Bytes left over from an earlier exchange belong to no request.
            ::tcflush(fd, TCIFLUSH);
        }
        m_fd = fd;
        return true;
    }

    void close() override
    {
        if (m_fd >= 0) {
            // The terminal outlives this descriptor when another end keeps it open.
            ::ioctl(m_fd, TIOCNXCL);
            ::close(m_fd);
            m_fd = -1;
        }
    }

    bool write(const Bytes &frame, std::chrono::milliseconds timeout) override
    {
        using Clock = std::chrono::steady_clock;
        const auto deadline = Clock::now() + timeout;
        std::size_t written = 0;
        while (written < frame.size()) {
            const ssize_t n = ::write(m_fd, frame.data() + written, frame.size() - written);
            if (n > 0) {
                written += static_cast<std::size_t>(n);
                continue;
            }
            if (n < 0 && errno != EAGAIN && errno != EINTR)
                return fail(errno);
            const auto remaining = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
            if (remaining.count() <= 0)
                return true;
            short events = 0;
            if (!waitFor(POLLOUT, remaining, events))
                return false;
        }
        return true;
    }

    bool readSome(Bytes &buffer, std::size_t maxCount, std::chrono::milliseconds timeout) override
    {
        short events = 0;
        if (!waitFor(POLLIN, timeout, events))
            return false;
        if (events == 0)
            return true;
        std::uint8_t chunk[512];
        const ssize_t n = ::read(m_fd, chunk, std::min(maxCount, sizeof chunk));
        if (n > 0) {
            buffer.insert(buffer.end(), chunk, chunk + n);
            return true;
        }
        if (n == 0)
            return fail(EIO); // the other end hung up
        if (errno == EAGAIN || errno == EINTR)
            return true;
        return fail(errno);
    }

    void discardInput() override
    {
        if (m_fd >= 0)
            ::tcflush(m_fd, TCIFLUSH);
    }

    std::uint32_t lastError() const override { return m_lastError; }

    void interrupt() override
    {
        m_interrupted = true;
        if (m_wakeWrite >= 0) {
            const char byte = 1;
            [[maybe_unused]] auto n = ::write(m_wakeWrite, &byte, 1);
        }
    }

private:
    bool fail(int error)
    {
        m_lastError = static_cast<std::uint32_t>(error);
        return false;
    }

    // Waits for the port to become ready for `wanted`; events is 0 on time-out.
    bool waitFor(short wanted, std::chrono::milliseconds timeout, short &events)
    {
        pollfd fds[2] = {{m_fd, wanted, 0}, {m_wakeRead, POLLIN, 0}};
        const nfds_t count = m_wakeRead >= 0 ? 2 : 1;
        for (;;) {
            const int ready = ::poll(fds, count, static_cast<int>(timeout.count()));
            if (ready < 0 && errno == EINTR)
                continue;
            if (ready < 0)
                return fail(errno);
            break;
        }
        if (m_interrupted || (count == 2 && fds[1].revents != 0))
            return fail(ECANCELED);
        const short revents = fds[0].revents;
        if (revents & POLLNVAL)
            return fail(EBADF);
        if (revents & wanted) {
            events = revents;
            return true;
        }
        if (revents & (POLLHUP | POLLERR))
            return fail(EIO);
        events = 0;
        return true;
    }

    int m_fd = -1;
    int m_wakeRead = -1;
    int m_wakeWrite = -1;
    std::atomic<bool> m_interrupted{false};
    std::uint32_t m_lastError = 0;
};

} // namespace

std::unique_ptr<ISerialPort> CreateSerialPort()
{
    return std::make_unique<TPosixSerialPort>();
}

std::string DeviceName(const std::string &portName)
{
    if (portName.empty() || portName.front() == '/')
        return portName;
    return "/dev/" + portName;
}

bool IsPortBusyError(std::uint32_t code)
{
    return code == EBUSY;
}

std::string SystemErrorText(std::uint32_t code)
{
    // The errors a port and a file meet, in the program's language; the rest as the system words them.
    switch (code) {
    case ENOENT:
        return "Нет такого файла или устройства";
    case EACCES:
    case EPERM:
        return "Доступ запрещён";
    case EBUSY:
        return "Устройство занято другой программой";
    case EIO:
        return "Ошибка ввода-вывода (устройство отключено?)";
    case ENOTTY:
        return "Это не последовательный порт";
    case ENXIO:
    case ENODEV:
        return "Устройство отсутствует";
    case ECANCELED:
        return "Операция прервана";
    case ENOSPC:
        return "Нет места на диске";
    case EROFS:
        return "Файловая система только для чтения";
    case EISDIR:
        return "Это папка, а не файл";
    case ENOTDIR:
        return "Путь проходит через файл, а не папку";
    case ENAMETOOLONG:
        return "Слишком длинное имя файла";
    case EEXIST:
        return "Файл уже существует";
    case ELOOP:
        return "Слишком много символических ссылок подряд";
    case EFBIG:
        return "Файл слишком велик";
    default:
        break;
    }
    char buffer[256];
    // GNU strerror_r may return a static string instead of filling the buffer.
    const auto result = ::strerror_r(static_cast<int>(code), buffer, sizeof buffer);
    if constexpr (std::is_same_v<std::remove_cv_t<decltype(result)>, char *>)
        return result;
    else
        return result == 0 ? buffer : "Unknown error " + std::to_string(code);
}
