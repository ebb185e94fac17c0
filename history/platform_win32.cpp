#include "history/history.h"
#include "history/platform.h"
#include "model/errors.h"

#include <windows.h>

#include <cstdlib>

namespace {

std::string utf8(const wchar_t *text)
{
    const int size = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
    if (size <= 1)
        return "";
    std::string result(static_cast<std::size_t>(size - 1), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text, -1, result.data(), size, nullptr, nullptr);
    return result;
}

std::filesystem::path environmentFolder(const wchar_t *name)
{
    const wchar_t *value = _wgetenv(name);
    return value ? std::filesystem::path(value) : std::filesystem::path();
}

std::string systemMessage(DWORD code)
{
    wchar_t *text = nullptr;
    FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                   nullptr, code, 0, reinterpret_cast<wchar_t *>(&text), 0, nullptr);
    std::string message = text ? utf8(text) : "ошибка " + std::to_string(code);
    LocalFree(text);
    while (!message.empty() && (message.back() == '\n' || message.back() == '\r' || message.back() == '.'))
        message.pop_back();
    return message;
}

} // namespace

std::filesystem::path PlatformDataFolder()
{
    return environmentFolder(L"APPDATA");
}

std::filesystem::path PlatformHomeFolder()
{
    return environmentFolder(L"USERPROFILE");
}

std::string PlatformUserName()
{
    wchar_t name[256] = {};
    DWORD size = 256;
    return GetUserNameW(name, &size) ? utf8(name) : "";
}

std::string PlatformHostName()
{
    wchar_t name[256] = {};
    DWORD size = 256;
    return GetComputerNameExW(ComputerNameDnsHostname, name, &size) ? utf8(name) : "";
}

std::tm PlatformLocalTime(std::time_t time)
{
    std::tm local{};
    localtime_s(&local, &time);
    return local;
}

TLockHandle PlatformTryLockFile(const std::filesystem::path &file)
{
    const HANDLE handle = CreateFileW(file.c_str(), GENERIC_READ | GENERIC_WRITE,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_ALWAYS,
                                      FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        throw EHistoryError("Не удалось открыть файл " + utf8(file.c_str()) + ": " + systemMessage(GetLastError()));
    OVERLAPPED whole{};
    if (!LockFileEx(handle, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &whole)) {
        CloseHandle(handle);
        return kNoLock;
    }
    return reinterpret_cast<TLockHandle>(handle);
}

void PlatformUnlockFile(TLockHandle handle)
{
    if (handle != kNoLock)
        CloseHandle(reinterpret_cast<HANDLE>(handle));
}
