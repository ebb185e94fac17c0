#include "history/history.h"
#include "history/platform.h"
#include "model/errors.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <unistd.h>

namespace {

std::string environment(const char *name)
{
    const char *value = std::getenv(name);
    return value ? value : "";
}

const passwd *currentUser()
{
    return ::getpwuid(::geteuid());
}

} // namespace

std::filesystem::path PlatformDataFolder()
{
    // The XDG rule: a relative XDG_DATA_HOME is invalid and ignored.
    const std::filesystem::path xdg = environment("XDG_DATA_HOME");
    if (xdg.is_absolute())
        return xdg;
    const std::filesystem::path home = PlatformHomeFolder();
    return home.empty() ? home : home / ".local" / "share";
}

std::filesystem::path PlatformHomeFolder()
{
    if (const std::string home = environment("HOME"); !home.empty())
        return home;
    const passwd *user = currentUser();
    return user && user->pw_dir ? user->pw_dir : "";
}

std::string PlatformUserName()
{
    if (const passwd *user = currentUser(); user && user->pw_name)
        return user->pw_name;
    return environment("USER");
}

std::string PlatformHostName()
{
    char name[256] = {};
    if (::gethostname(name, sizeof name - 1) != 0)
        return "";
    return name;
}

std::tm PlatformLocalTime(std::time_t time)
{
    std::tm local{};
    ::localtime_r(&time, &local);
    return local;
}

TLockHandle PlatformTryLockFile(const std::filesystem::path &file)
{
    const int fd = ::open(file.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0)
        throw EHistoryError(Format("Не удалось открыть файл %s: %s", file.c_str(), std::strerror(errno)));
    // flock, not fcntl: fcntl locks belong to the process and would not keep two threads apart.
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        ::close(fd);
        return kNoLock;
    }
    return fd;
}

void PlatformUnlockFile(TLockHandle handle)
{
    if (handle != kNoLock)
        ::close(static_cast<int>(handle));
}
