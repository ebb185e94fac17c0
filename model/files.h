#pragma once

// Reading and replacing the program's own files. Each platform implements
// ReadRegularFile and WriteFileAtomically (declared in model.h) in its own
// file, files_posix.cpp or files_win32.cpp; this header and files.cpp hold
// what the two share.

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <system_error>

// The whole of a regular file of at most maxBytes, checked and read through
// one open handle. None, with the reason in the user's words, for a file that
// cannot be opened or read, that is not a regular file (a folder, a FIFO, a
// device) or that is larger. Never waits on a FIFO or a device.
std::optional<std::string> ReadRegularFile(const std::filesystem::path &path, std::uintmax_t maxBytes,
                                           std::string &reason);

namespace files {

using TName = std::filesystem::path::string_type;

// Random characters after a temporary file's prefix.
inline constexpr std::size_t kRandomLength = 8;

// The file a save replaces: path with its symbolic links followed, so that a
// link stays a link and the file it names gets the new bytes. A path that
// does not exist (a new file, a dangling link's target) is the target itself.
std::filesystem::path SaveTarget(const std::filesystem::path &path, std::error_code &error);

// ".<name>.cfgtmp-": the start of every temporary file of a target, the name
// cut (never inside a character) so the whole stays a valid file name.
TName TemporaryPrefix(const TName &targetName);
// kRandomLength unpredictable letters and digits.
TName RandomSuffix();
// A temporary file of a save of the target whose prefix is given.
bool IsTemporaryName(const TName &entry, const TName &prefix);

// The reasons of refusals, in the user's words.
std::string TooLargeReason(std::uintmax_t maxBytes);
extern const char *const kNotRegularReason;
extern const char *const kReadOnlyReason;

// "Не удалось записать файл <path>: <reason>".
[[noreturn]] void RaiseSaveError(const std::filesystem::path &path, const std::string &reason);

} // namespace files
