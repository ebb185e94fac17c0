#pragma once

// What the history needs from the operating system, one implementation per
// platform (platform_posix.cpp, platform_win32.cpp).

#include <cstdint>
#include <ctime>
#include <filesystem>
#include <string>

// The per-user data folder: $XDG_DATA_HOME or ~/.local/share on Linux,
// %APPDATA% on Windows. Empty when the system names none.
std::filesystem::path PlatformDataFolder();
// The user's home folder (where .ssh lives); empty when unknown.
std::filesystem::path PlatformHomeFolder();
// The logged-in user's name and the computer's name (UTF-8); empty when unknown.
std::string PlatformUserName();
std::string PlatformHostName();
// Broken-down local time.
std::tm PlatformLocalTime(std::time_t time);

// An exclusive lock on a file, released when closed. It excludes other
// processes and other threads of this one alike (each holder opens the file
// itself), and the system drops it when its process dies.
using TLockHandle = std::intptr_t;
inline constexpr TLockHandle kNoLock = -1;
// Opens (creating) and locks the file without waiting: kNoLock when another
// holder has it. Raises EHistoryError when the file cannot be opened.
TLockHandle PlatformTryLockFile(const std::filesystem::path &file);
void PlatformUnlockFile(TLockHandle handle);
