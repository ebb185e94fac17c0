// Serial port on Windows: CreateFileA on \\.\NAME with communication time-outs.
// Each wait is cut into short slices so that interrupt() is noticed quickly.
#include "link/serial.h"

#include <algorithm>
#include <atomic>

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

namespace {

constexpr DWORD kSliceMs = 100;

class TWin32SerialPort final : public ISerialPort {
public:
    ~TWin32SerialPort() override { close(); }

    bool open(const std::string &deviceName) override
    {
        close();
        if (m_interrupted)
            return fail(ERROR_OPERATION_ABORTED);
        const auto speed = baudRate();
        if (speed && !IsLineSpeed(*speed))
            return fail(ERROR_INVALID_PARAMETER);
        HANDLE handle = ::CreateFileA(deviceName.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                      FILE_ATTRIBUTE_NORMAL, nullptr);
        if (handle == INVALID_HANDLE_VALUE)
            return fail(::GetLastError());
        // Only a communication device is a port: a file of that name is never written to.
        if (::GetFileType(handle) != FILE_TYPE_CHAR) {
            ::CloseHandle(handle);
            return fail(ERROR_BAD_DEVICE);
        }
        if (speed) {
            // Only the speed changes; the rest of the line stays as the system has it.
            DCB dcb{};
            dcb.DCBlength = sizeof dcb;
            bool applied = ::GetCommState(handle, &dcb) != FALSE;
            if (applied) {
                dcb.BaudRate = static_cast<DWORD>(*speed);
                applied = ::SetCommState(handle, &dcb) != FALSE;
            }
            if (!applied) {
                const DWORD error = ::GetLastError();
                ::CloseHandle(handle);
                return fail(error);
            }
        }
        m_handle = handle;
        // Bytes left over from an earlier exchange belong to no request.
        ::PurgeComm(m_handle, PURGE_RXCLEAR);
        return true;
    }

    void close() override
    {
        if (m_handle != INVALID_HANDLE_VALUE) {
            ::CloseHandle(m_handle);
            m_handle = INVALID_HANDLE_VALUE;
        }
    }

    bool write(const Bytes &frame, std::chrono::milliseconds timeout) override
    {
        COMMTIMEOUTS timeouts{};
        timeouts.WriteTotalTimeoutConstant = static_cast<DWORD>(timeout.count());
        if (!::SetCommTimeouts(m_handle, &timeouts))
            return fail(::GetLastError());
        DWORD written = 0;
        // A write cut short by the time-out still succeeds; the answer decides.
        if (!::WriteFile(m_handle, frame.data(), static_cast<DWORD>(frame.size()), &written, nullptr))
            return fail(::GetLastError());
        return true;
    }

    bool readSome(Bytes &buffer, std::size_t maxCount, std::chrono::milliseconds timeout) override
    {
        auto remaining = static_cast<DWORD>(std::max<long long>(0, timeout.count()));
        do {
            if (m_interrupted)
                return fail(ERROR_OPERATION_ABORTED);
            const DWORD slice = std::min(remaining, kSliceMs);
            // Return as soon as any byte is there, or after the slice.
            COMMTIMEOUTS timeouts{};
            timeouts.ReadIntervalTimeout = MAXDWORD;
            timeouts.ReadTotalTimeoutMultiplier = MAXDWORD;
            timeouts.ReadTotalTimeoutConstant = std::max<DWORD>(slice, 1);
            if (!::SetCommTimeouts(m_handle, &timeouts))
                return fail(::GetLastError());
            std::uint8_t chunk[512];
            DWORD read = 0;
            if (!::ReadFile(m_handle, chunk, static_cast<DWORD>(std::min(maxCount, sizeof chunk)), &read, nullptr))
                return fail(::GetLastError());
            if (read > 0) {
                buffer.insert(buffer.end(), chunk, chunk + read);
                return true;
            }
            remaining -= slice;
        } while (remaining > 0);
        return true;
    }

    void discardInput() override { ::PurgeComm(m_handle, PURGE_RXCLEAR); }

    std::uint32_t lastError() const override { return m_lastError; }

    void interrupt() override { m_interrupted = true; }

private:
    bool fail(DWORD error)
    {
        m_lastError = error;
        return false;
    }

    HANDLE m_handle = INVALID_HANDLE_VALUE;
    std::atomic<bool> m_interrupted{false};
    std::uint32_t m_lastError = 0;
};

} // namespace

std::unique_ptr<ISerialPort> CreateSerialPort()
{
    return std::make_unique<TWin32SerialPort>();
}

std::string DeviceName(const std::string &portName)
{
    if (portName.empty() || portName.front() == '\\')
        return portName;
    return "\\\\.\\" + portName;
}

bool IsPortBusyError(std::uint32_t code)
{
    // Opened without sharing, a port in use is refused with "access denied".
    return code == ERROR_ACCESS_DENIED || code == ERROR_SHARING_VIOLATION;
}

std::string SystemErrorText(std::uint32_t code)
{
    wchar_t *message = nullptr;
    const DWORD length = ::FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM
                                              | FORMAT_MESSAGE_IGNORE_INSERTS,
                                          nullptr, code, 0, reinterpret_cast<wchar_t *>(&message), 0, nullptr);
    std::string text;
    if (length > 0 && message) {
        const int size = ::WideCharToMultiByte(CP_UTF8, 0, message, static_cast<int>(length), nullptr, 0, nullptr, nullptr);
        text.resize(static_cast<std::size_t>(size));
        ::WideCharToMultiByte(CP_UTF8, 0, message, static_cast<int>(length), text.data(), size, nullptr, nullptr);
        while (!text.empty() && (text.back() == '\n' || text.back() == '\r'))
            text.pop_back();
    }
    if (message)
        ::LocalFree(message);
    return text;
}
