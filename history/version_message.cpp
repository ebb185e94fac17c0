#include "history/version_message.h"

#include "history/git.h"
#include "model/errors.h"

#include <charconv>
#include <map>

namespace {

constexpr const char *kAction = "Action";
constexpr const char *kHardware = "Hardware";
constexpr const char *kSerial = "Serial";
constexpr const char *kFirmware = "Firmware";
constexpr const char *kDescription = "Description";
constexpr const char *kOperator = "Operator";
constexpr const char *kStation = "Station";
constexpr const char *kPrevious = "Previous-Version";
constexpr const char *kRestores = "Restores-Version";

// A trailer value is one line; names from the system or a device could hold anything.
std::string oneLine(const std::string &text)
{
    std::string line;
    for (const char c : text)
        line += (c == '\n' || c == '\r') ? ' ' : c;
    const auto first = line.find_first_not_of(' ');
    if (first == std::string::npos)
        return "";
    return line.substr(first, line.find_last_not_of(' ') - first + 1);
}

void addTrailer(std::string &message, const char *key, const std::string &value)
{
    const std::string line = oneLine(value);
    if (!line.empty())
        message += std::string(key) + ": " + line + "\n";
}

std::optional<std::uint16_t> number(const std::string &text)
{
    std::uint16_t value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size() || text.empty())
        return std::nullopt;
    return value;
}

} // namespace

std::string TVersionFacts::Path() const
{
    return std::to_string(hardwareCode) + "/" + serialNumber + ".cfg";
}

std::string ComposeMessage(const TVersionFacts &facts)
{
    std::string message =
        facts.IsVersion()
            ? Format("%s: устройство %s (код %u, версия %u)\n\n", oneLine(facts.action).c_str(),
                     facts.serialNumber.c_str(), unsigned(facts.hardwareCode), unsigned(facts.firmwareVersion))
            : Format("Новейшая версия устройства %s (код %u) снова текущая после синхронизации\n\n",
                     facts.serialNumber.c_str(), unsigned(facts.hardwareCode));
    addTrailer(message, kAction, facts.action);
    addTrailer(message, kHardware, std::to_string(facts.hardwareCode));
    addTrailer(message, kSerial, facts.serialNumber);
    if (facts.IsVersion())
        addTrailer(message, kFirmware, std::to_string(facts.firmwareVersion));
    addTrailer(message, kDescription, facts.descriptionFile);
    addTrailer(message, kOperator, facts.operatorName);
    addTrailer(message, kStation, facts.station);
    addTrailer(message, kPrevious, facts.previousVersion);
    addTrailer(message, kRestores, facts.restoredVersion);
    return message;
}

std::optional<TVersionFacts> ParseMessage(const char *message)
{
    TGitTrailers trailers;
    if (!message || git_message_trailers(&trailers.array, message) < 0)
        return std::nullopt;
    std::map<std::string, std::string> values;
    for (std::size_t i = 0; i < trailers.array.count; ++i)
        values.emplace(trailers.array.trailers[i].key, trailers.array.trailers[i].value);
    auto value = [&](const char *key) {
        const auto found = values.find(key);
        return found == values.end() ? std::string() : found->second;
    };
    const std::optional<std::uint16_t> hardware = number(value(kHardware));
    TVersionFacts facts;
    facts.serialNumber = value(kSerial);
    // The serial number becomes a path: only what HistorySerial gives is taken.
    if (!hardware || facts.serialNumber.empty() ||
        facts.serialNumber.find_first_not_of("0123456789ABCDEF") != std::string::npos)
        return std::nullopt;
    facts.hardwareCode = *hardware;
    facts.action = value(kAction);
    facts.firmwareVersion = number(value(kFirmware)).value_or(0);
    facts.descriptionFile = value(kDescription);
    facts.operatorName = value(kOperator);
    facts.station = value(kStation);
    facts.previousVersion = value(kPrevious);
    facts.restoredVersion = value(kRestores);
    return facts;
}
