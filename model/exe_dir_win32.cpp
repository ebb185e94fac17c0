#include "model/model.h"

#include <windows.h>

std::filesystem::path ExecutableDir()
{
    wchar_t buffer[MAX_PATH * 4];
    const DWORD length = ::GetModuleFileNameW(nullptr, buffer, static_cast<DWORD>(std::size(buffer)));
    if (length == 0 || length >= std::size(buffer))
        return std::filesystem::current_path();
    return std::filesystem::path(std::wstring(buffer, length)).parent_path();
}
