#include "model/files.h"

#include "model/errors.h"

#include <algorithm>
#include <random>
#include <string>
#include <type_traits>

namespace files {

namespace {

// As many links as the system itself follows before giving up.
constexpr int kMaxLinkHops = 40;
// The longest file name the file systems we run on allow (NAME_MAX; 255 UTF-16 units on NTFS).
constexpr std::size_t kMaxNameLength = 255;

constexpr char kAlphabet[] = "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";
constexpr std::size_t kAlphabetSize = sizeof kAlphabet - 1;

TName widen(const char *text)
{
    return TName(text, text + std::char_traits<char>::length(text));
}

// The second and later unit of a character: a UTF-8 continuation byte or a low surrogate.
template <typename TUnit>
bool continuesCharacter(TUnit unit)
{
    if constexpr (sizeof(TUnit) == 1)
        return (static_cast<unsigned char>(unit) & 0xC0) == 0x80;
    else
        return unit >= 0xDC00 && unit <= 0xDFFF;
}

bool inAlphabet(std::filesystem::path::value_type unit)
{
    const auto code = static_cast<std::make_unsigned_t<std::filesystem::path::value_type>>(unit);
    return code != 0 && code < 128
           && std::char_traits<char>::find(kAlphabet, kAlphabetSize, static_cast<char>(code)) != nullptr;
}

} // namespace

const char *const kNotRegularReason = "это не обычный файл";
const char *const kReadOnlyReason = "файл доступен только для чтения";

std::filesystem::path SaveTarget(const std::filesystem::path &path, std::error_code &error)
{
    std::filesystem::path target = path;
    for (int hop = 0; hop < kMaxLinkHops; ++hop) {
        const auto status = std::filesystem::symlink_status(target, error);
        if (status.type() == std::filesystem::file_type::not_found) {
            error.clear();
            return target;
        }
        if (error)
            return {};
        if (status.type() != std::filesystem::file_type::symlink)
            return target;
        const std::filesystem::path link = std::filesystem::read_symlink(target, error);
        if (error)
            return {};
        target = link.is_absolute() ? link : target.parent_path() / link;
    }
    error = std::make_error_code(std::errc::too_many_symbolic_link_levels);
    return {};
}

TName TemporaryPrefix(const TName &targetName)
{
    const TName dot = widen(".");
    const TName marker = widen(".cfgtmp-");
    const std::size_t room = kMaxNameLength - kRandomLength - dot.size() - marker.size();
    std::size_t length = std::min(targetName.size(), room);
    while (length > 0 && length < targetName.size() && continuesCharacter(targetName[length]))
        --length;
    return dot + targetName.substr(0, length) + marker;
}

TName RandomSuffix()
{
    std::random_device random;
    std::uniform_int_distribution<std::size_t> pick(0, kAlphabetSize - 1);
    TName suffix;
    for (std::size_t i = 0; i < kRandomLength; ++i)
        suffix += static_cast<std::filesystem::path::value_type>(kAlphabet[pick(random)]);
    return suffix;
}

bool IsTemporaryName(const TName &entry, const TName &prefix)
{
    if (entry.size() != prefix.size() + kRandomLength || entry.compare(0, prefix.size(), prefix) != 0)
        return false;
    for (std::size_t i = prefix.size(); i < entry.size(); ++i)
        if (!inAlphabet(entry[i]))
            return false;
    return true;
}

std::string TooLargeReason(std::uintmax_t maxBytes)
{
    return Format("файл больше %llu МиБ", static_cast<unsigned long long>(maxBytes / (1024 * 1024)));
}

void RaiseSaveError(const std::filesystem::path &path, const std::string &reason)
{
    const std::u8string shown = path.u8string();
    throw EConfigError("Не удалось записать файл " + std::string(shown.begin(), shown.end()) + ": " + reason);
}

} // namespace files
