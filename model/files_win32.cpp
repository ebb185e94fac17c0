#include "link/serial.h"
#include "model/files.h"
#include "model/model.h"

#include <windows.h>

#include <algorithm>
#include <utility>
#include <vector>

namespace {

// Names tried before giving up on creating a temporary file; each is new with near certainty.
constexpr int kCreateAttempts = 16;
constexpr DWORD kChunk = 64 * 1024;
// The attributes of an old file its replacement takes over (read-only ones are never replaced).
constexpr DWORD kKeptAttributes =
    FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;

// A handle closed when it goes out of scope.
class THandle {
public:
    explicit THandle(HANDLE handle = INVALID_HANDLE_VALUE) : m_handle(handle) {}
    THandle(THandle &&other) noexcept : m_handle(std::exchange(other.m_handle, INVALID_HANDLE_VALUE)) {}
    THandle &operator=(THandle &&other) noexcept
    {
        std::swap(m_handle, other.m_handle);
        return *this;
    }
    ~THandle()
    {
        if (m_handle != INVALID_HANDLE_VALUE)
            ::CloseHandle(m_handle);
    }

    explicit operator bool() const { return m_handle != INVALID_HANDLE_VALUE; }
    HANDLE Get() const { return m_handle; }
    bool Close() { return ::CloseHandle(std::exchange(m_handle, INVALID_HANDLE_VALUE)) != 0; }

private:
    HANDLE m_handle;
};

std::string lastError()
{
    return SystemErrorText(::GetLastError());
}

// Removes the temporary files that killed saves of the same target left
// behind. A save in progress holds its file open without sharing, so it cannot be deleted.
void removeStaleTemporaries(const std::filesystem::path &folder, const files::TName &prefix)
{
    WIN32_FIND_DATAW found;
    const HANDLE search = ::FindFirstFileW((folder / (prefix + L"*")).c_str(), &found);
    if (search == INVALID_HANDLE_VALUE)
        return;
    do {
        const DWORD notPlain = FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT;
        const bool plainFile = (found.dwFileAttributes & notPlain) == 0;
        if (plainFile && files::IsTemporaryName(found.cFileName, prefix))
            ::DeleteFileW((folder / found.cFileName).c_str());
    } while (::FindNextFileW(search, &found));
    ::FindClose(search);
}

// A new temporary file, created exclusively (an existing name, a link too, is never opened) and not shared.
THandle createTemporary(const std::filesystem::path &folder, const files::TName &prefix, DWORD attributes,
                        std::filesystem::path &created, std::string &reason)
{
    for (int attempt = 0; attempt < kCreateAttempts; ++attempt) {
        created = folder / (prefix + files::RandomSuffix());
        THandle file(::CreateFileW(created.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, attributes, nullptr));
        if (file)
            return file;
        const DWORD error = ::GetLastError();
        if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS) {
            reason = SystemErrorText(error);
            return THandle();
        }
    }
    reason = SystemErrorText(ERROR_FILE_EXISTS);
    return THandle();
}

bool writeAll(HANDLE file, const std::string &bytes)
{
    std::size_t done = 0;
    while (done < bytes.size()) {
        const DWORD piece = static_cast<DWORD>(std::min<std::size_t>(bytes.size() - done, 1u << 30));
        DWORD written = 0;
        if (!::WriteFile(file, bytes.data() + done, piece, &written, nullptr) || written == 0)
            return false;
        done += written;
    }
    return true;
}

} // namespace

std::optional<std::string> ReadRegularFile(const std::filesystem::path &path, std::uintmax_t maxBytes,
                                           std::string &reason)
{
    THandle file(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                               nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) {
        const DWORD error = ::GetLastError();
        // A folder cannot be opened as a file at all.
        const DWORD attributes = ::GetFileAttributesW(path.c_str());
        if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY))
            reason = files::kNotRegularReason;
        else
            reason = "не удалось открыть файл: " + SystemErrorText(error);
        return std::nullopt;
    }
    BY_HANDLE_FILE_INFORMATION information;
    // Names such as CON or COM1 open devices.
    if (::GetFileType(file.Get()) != FILE_TYPE_DISK || !::GetFileInformationByHandle(file.Get(), &information)
        || (information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
        reason = files::kNotRegularReason;
        return std::nullopt;
    }
    const std::uintmax_t size = (std::uintmax_t(information.nFileSizeHigh) << 32) | information.nFileSizeLow;
    if (size > maxBytes) {
        reason = files::TooLargeReason(maxBytes);
        return std::nullopt;
    }
    std::string bytes;
    bytes.reserve(static_cast<std::size_t>(size));
    std::vector<char> chunk(kChunk);
    for (;;) {
        DWORD got = 0;
        if (!::ReadFile(file.Get(), chunk.data(), kChunk, &got, nullptr)) {
            reason = "не удалось прочитать файл: " + lastError();
            return std::nullopt;
        }
        if (got == 0)
            return bytes;
        // The file grew while it was read.
        if (bytes.size() + got > maxBytes) {
            reason = files::TooLargeReason(maxBytes);
            return std::nullopt;
        }
        bytes.append(chunk.data(), got);
    }
}

void WriteFileAtomically(const std::filesystem::path &path, const std::string &bytes)
{
    const auto fail = [&](const std::string &reason) { files::RaiseSaveError(path, reason); };
    std::error_code linkError;
    const std::filesystem::path target = files::SaveTarget(path, linkError);
    if (linkError)
        fail(linkError.message());
    const std::filesystem::path folder = target.has_parent_path() ? target.parent_path() : ".";

    const DWORD old = ::GetFileAttributesW(target.c_str());
    const bool replacing = old != INVALID_FILE_ATTRIBUTES;
    if (!replacing && ::GetLastError() != ERROR_FILE_NOT_FOUND && ::GetLastError() != ERROR_PATH_NOT_FOUND)
        fail(lastError());
    if (replacing && (old & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE)))
        fail(files::kNotRegularReason);
    if (replacing && (old & FILE_ATTRIBUTE_READONLY))
        fail(files::kReadOnlyReason);

    const files::TName prefix = files::TemporaryPrefix(target.filename().native());
    removeStaleTemporaries(folder, prefix);
    const DWORD kept = replacing ? (old & kKeptAttributes) : 0;
    std::filesystem::path tempPath;
    std::string reason;
    THandle temp = createTemporary(folder, prefix, kept != 0 ? kept : FILE_ATTRIBUTE_NORMAL, tempPath, reason);
    if (!temp)
        fail(reason);
    const auto failAndRemove = [&](const std::string &why) {
        temp = THandle();
        ::DeleteFileW(tempPath.c_str());
        fail(why);
    };

    if (!writeAll(temp.Get(), bytes) || !::FlushFileBuffers(temp.Get()))
        failAndRemove(lastError());
    if (!temp.Close())
        failAndRemove(lastError());
    // ReplaceFileW keeps the old file's attributes, owner and permissions; a new file is just moved in.
    const bool replaced = replacing
                              ? ::ReplaceFileW(target.c_str(), tempPath.c_str(), nullptr,
                                               REPLACEFILE_IGNORE_MERGE_ERRORS, nullptr, nullptr) != 0
                              : ::MoveFileExW(tempPath.c_str(), target.c_str(),
                                              MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
    if (!replaced)
        failAndRemove(lastError());
}
