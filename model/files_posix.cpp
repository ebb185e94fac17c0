#include "link/serial.h"
#include "model/files.h"
#include "model/model.h"

#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
#include <memory>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>
#include <vector>

namespace {

// Names tried before giving up on creating a temporary file; each is new with near certainty.
constexpr int kCreateAttempts = 16;
constexpr std::size_t kReadChunk = 64 * 1024;

// A descriptor closed when it goes out of scope.
class TFd {
public:
    explicit TFd(int fd = -1) : m_fd(fd) {}
    TFd(TFd &&other) noexcept : m_fd(std::exchange(other.m_fd, -1)) {}
    TFd &operator=(TFd &&other) noexcept
    {
        std::swap(m_fd, other.m_fd);
        return *this;
    }
    ~TFd()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }

    explicit operator bool() const { return m_fd >= 0; }
    int Get() const { return m_fd; }
    // Closes now and tells whether the system reported an error (a late write failure shows here).
    bool Close() { return ::close(std::exchange(m_fd, -1)) == 0; }

private:
    int m_fd;
};

struct TDirCloser {
    void operator()(DIR *dir) const { ::closedir(dir); }
};

std::string lastError()
{
    return SystemErrorText(static_cast<std::uint32_t>(errno));
}

bool sameFile(const struct stat &a, const struct stat &b)
{
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

bool stillNamed(int dir, const std::string &name, const struct stat &opened)
{
    struct stat named;
    return ::fstatat(dir, name.c_str(), &named, AT_SYMLINK_NOFOLLOW) == 0 && sameFile(opened, named);
}

// Removes the temporary files that killed saves of the same target left
// behind. A save in progress holds a lock on its own, so it is left alone.
void removeStaleTemporaries(int dir, const files::TName &prefix)
{
    const int listed = ::dup(dir); // closedir closes it
    if (listed < 0)
        return;
    DIR *listing = ::fdopendir(listed);
    if (!listing) {
        ::close(listed);
        return;
    }
    const std::unique_ptr<DIR, TDirCloser> owner(listing);
    ::rewinddir(listing);
    std::vector<std::string> names;
    while (const dirent *entry = ::readdir(listing))
        if (files::IsTemporaryName(entry->d_name, prefix))
            names.emplace_back(entry->d_name);
    for (const std::string &name : names) {
        TFd stale(::openat(dir, name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
        struct stat opened;
        if (!stale || ::fstat(stale.Get(), &opened) != 0 || !S_ISREG(opened.st_mode))
            continue;
        if (::flock(stale.Get(), LOCK_EX | LOCK_NB) == 0 && stillNamed(dir, name, opened))
            ::unlinkat(dir, name.c_str(), 0);
    }
}

// A new temporary file in dir, created exclusively (never an existing file,
// never through a link) and locked; none, with the reason, when that fails.
TFd createTemporary(int dir, const files::TName &prefix, mode_t mode, std::string &name, std::string &reason)
{
    for (int attempt = 0; attempt < kCreateAttempts; ++attempt) {
        name = prefix + files::RandomSuffix();
        TFd file(::openat(dir, name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode));
        if (!file) {
            if (errno == EEXIST)
                continue;
            reason = lastError();
            return TFd();
        }
        // Where the file system has no locks, only a concurrent save of the same file is at risk.
        [[maybe_unused]] const bool locked = ::flock(file.Get(), LOCK_EX) == 0;
        struct stat opened;
        // Another save's clean-up may have taken the file between its creation and the lock.
        if (::fstat(file.Get(), &opened) == 0 && stillNamed(dir, name, opened))
            return file;
    }
    reason = SystemErrorText(EEXIST);
    return TFd();
}

bool writeAll(int fd, const std::string &bytes)
{
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t written = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            return false;
        done += static_cast<std::size_t>(written);
    }
    return true;
}

} // namespace

std::optional<std::string> ReadRegularFile(const std::filesystem::path &path, std::uintmax_t maxBytes,
                                           std::string &reason)
{
    // Anything but a regular file is refused before it is opened: opening a device can do things of its own.
    struct stat named;
    if (::stat(path.c_str(), &named) == 0 && !S_ISREG(named.st_mode)) {
        reason = files::kNotRegularReason;
        return std::nullopt;
    }
    // Non-blocking, so that a FIFO put in the file's place after the check is refused, not waited on.
    TFd file(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    if (!file) {
        reason = "не удалось открыть файл: " + lastError();
        return std::nullopt;
    }
    struct stat opened;
    if (::fstat(file.Get(), &opened) != 0) {
        reason = "не удалось прочитать файл: " + lastError();
        return std::nullopt;
    }
    if (!S_ISREG(opened.st_mode)) {
        reason = files::kNotRegularReason;
        return std::nullopt;
    }
    if (static_cast<std::uintmax_t>(opened.st_size) > maxBytes) {
        reason = files::TooLargeReason(maxBytes);
        return std::nullopt;
    }
    std::string bytes;
    bytes.reserve(static_cast<std::size_t>(opened.st_size));
    std::vector<char> chunk(kReadChunk);
    for (;;) {
        const ssize_t got = ::read(file.Get(), chunk.data(), chunk.size());
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0) {
            reason = "не удалось прочитать файл: " + lastError();
            return std::nullopt;
        }
        if (got == 0)
            return bytes;
        // The file grew while it was read.
        if (bytes.size() + static_cast<std::size_t>(got) > maxBytes) {
            reason = files::TooLargeReason(maxBytes);
            return std::nullopt;
        }
        bytes.append(chunk.data(), static_cast<std::size_t>(got));
    }
}

void WriteFileAtomically(const std::filesystem::path &path, const std::string &bytes)
{
    const auto fail = [&](const std::string &reason) { files::RaiseSaveError(path, reason); };
    std::error_code linkError;
    const std::filesystem::path target = files::SaveTarget(path, linkError);
    if (linkError)
        fail(SystemErrorText(static_cast<std::uint32_t>(linkError.value())));
    const std::filesystem::path folder = target.has_parent_path() ? target.parent_path() : ".";
    const std::string name = target.filename().native();
    const TFd dir(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!dir)
        fail(lastError());

    struct stat old;
    const bool replacing = ::fstatat(dir.Get(), name.c_str(), &old, AT_SYMLINK_NOFOLLOW) == 0;
    if (!replacing && errno != ENOENT)
        fail(lastError());
    if (replacing && !S_ISREG(old.st_mode))
        fail(files::kNotRegularReason);
    // A file without any write permission was marked read-only on purpose: refused even for root, as editors do.
    if (replacing && ((old.st_mode & 0222) == 0
                      || (::faccessat(dir.Get(), name.c_str(), W_OK, AT_EACCESS) != 0 && errno == EACCES)))
        fail(files::kReadOnlyReason);

    const files::TName prefix = files::TemporaryPrefix(name);
    removeStaleTemporaries(dir.Get(), prefix);
    // A new file gets what the umask allows; a replacement stays private until it has the old file's mode.
    std::string tempName;
    std::string reason;
    TFd temp = createTemporary(dir.Get(), prefix, replacing ? 0600 : 0666, tempName, reason);
    if (!temp)
        fail(reason);
    const auto failAndRemove = [&](const std::string &why) {
        ::unlinkat(dir.Get(), tempName.c_str(), 0);
        fail(why);
    };

    if (!writeAll(temp.Get(), bytes))
        failAndRemove(lastError());
    if (replacing) {
        // The owner is kept where the system allows it: all of it for root, the group for a member of it.
        [[maybe_unused]] const bool ownerKept = ::fchown(temp.Get(), old.st_uid, old.st_gid) == 0
                                                || ::fchown(temp.Get(), static_cast<uid_t>(-1), old.st_gid) == 0;
        if (::fchmod(temp.Get(), old.st_mode & 07777) != 0)
            failAndRemove(lastError());
    }
    if (::fsync(temp.Get()) != 0)
        failAndRemove(lastError());
    // Renamed while still open and locked, so no other save's clean-up takes it first.
    if (::renameat(dir.Get(), tempName.c_str(), dir.Get(), name.c_str()) != 0)
        failAndRemove(lastError());
    if (!temp.Close())
        fail(lastError());
    // The rename reaches the disk with its folder; some file systems cannot sync a folder (EINVAL).
    if (::fsync(dir.Get()) != 0 && errno != EINVAL)
        fail(lastError());
}
