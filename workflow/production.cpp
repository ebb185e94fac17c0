#include "workflow/production.h"

#include "model/catalogue_check.h"
#include "model/errors.h"
#include "model/tools.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <fstream>
#include <set>

namespace {

constexpr const char *kBackupStamp = "%Y%m%d-%H%M%S";
constexpr const char *kLogTime = "%Y-%m-%d %H:%M:%S";
constexpr char kLogSeparator = ';';
constexpr const char *kMsgVerifyFailed = "Проверка записи: блок %d отличается со смещения %d.";
constexpr const char *kMsgNoParameter = "Параметр \"%s\" не найден.";

std::string localTime(std::chrono::system_clock::time_point time, const char *format)
{
    const std::time_t seconds = std::chrono::system_clock::to_time_t(time);
    const std::tm local = *std::localtime(&seconds);
    char text[64];
    return std::string(text, std::strftime(text, sizeof text, format, &local));
}

std::string utf8(const std::filesystem::path &path)
{
    const std::u8string text = path.u8string();
    return std::string(text.begin(), text.end());
}

// A field quoted when it holds the separator or a quote; line breaks would split the record.
std::string csvField(std::string text)
{
    for (char &c : text)
        if (c == '\r' || c == '\n')
            c = ' ';
    if (text.find(kLogSeparator) == std::string::npos && text.find('"') == std::string::npos)
        return text;
    std::string quoted = "\"";
    for (const char c : text)
        quoted += c == '"' ? std::string("\"\"") : std::string(1, c);
    return quoted + "\"";
}

void appendToFile(const std::filesystem::path &file, const std::string &text)
{
    std::ofstream out(file, std::ios::binary | std::ios::app);
    if (out)
        out << text << std::flush;
    if (!out)
        throw EConfigError(Format("Не удалось записать журнал %s: %s", utf8(file).c_str(), SystemErrorText(errno).c_str()));
}

std::vector<xml::Node> childElements(xml::Node parent, std::string_view name = {})
{
    std::vector<xml::Node> elements;
    for (xml::Node child = parent ? parent.FirstChild() : xml::Node(); child; child = child.NextSibling())
        if (child.IsElement() && (name.empty() || child.Name() == name))
            elements.push_back(child);
    return elements;
}

xml::Node namedChild(xml::Node parent, std::string_view kind, const std::string &name)
{
    for (xml::Node child : childElements(parent, kind))
        if (GetAttribute(child, "name") == name)
            return child;
    return xml::Node();
}

// One step of a parameter name: "item", "item[3]", "item[1,2]".
struct TStep {
    std::string name;
    std::vector<int> indices;
};

std::optional<int> parseIndex(const std::string &text)
{
    if (text.empty() || text.size() > 10)
        return std::nullopt;
    std::size_t i = text[0] == '-' ? 1 : 0;
    if (i == text.size())
        return std::nullopt;
    for (std::size_t k = i; k < text.size(); ++k)
        if (text[k] < '0' || text[k] > '9')
            return std::nullopt;
    return std::stoi(text);
}

std::optional<std::vector<TStep>> parseName(const std::string &name)
{
    std::vector<TStep> steps;
    std::size_t start = 0;
    while (true) {
        const std::size_t end = std::min(name.find('.', start), name.size());
        const std::string part = name.substr(start, end - start);
        TStep step;
        const std::size_t open = part.find('[');
        step.name = part.substr(0, open);
        if (step.name.empty())
            return std::nullopt;
        if (open != std::string::npos) {
            if (part.back() != ']')
                return std::nullopt;
            const std::string list = part.substr(open + 1, part.size() - open - 2);
            std::size_t from = 0;
            while (true) {
                const std::size_t comma = std::min(list.find(',', from), list.size());
                const auto index = parseIndex(list.substr(from, comma - from));
                if (!index)
                    return std::nullopt;
                step.indices.push_back(*index);
                if (comma == list.size())
                    break;
                from = comma + 1;
            }
        }
        steps.push_back(step);
        if (end == name.size())
            return steps;
        start = end + 1;
    }
}

bool isActive(xml::Node item)
{
    try {
        return GetIntAttribute(item, "active", 1) == 1;
    } catch (const EError &) {
        return false;
    }
}

// The value element a binary parameter name leads to.
xml::Node binaryValue(xml::Node device, xml::Node config, const std::vector<TStep> &steps)
{
    std::vector<xml::Node> items;
    for (xml::Node block : childElements(device, "block"))
        for (xml::Node item : childElements(block, "item"))
            items.push_back(item);
    xml::Node parent = config;
    for (std::size_t s = 0; s < steps.size(); ++s) {
        const TStep &step = steps[s];
        xml::Node item;
        for (xml::Node candidate : items)
            if (GetAttribute(candidate, "name") == step.name && isActive(candidate)) {
                item = candidate;
                break;
            }
        const xml::Node element = item && parent ? parent.ChildElement(step.name) : xml::Node();
        if (!element)
            return xml::Node();
        // The index attributes a value carries: the array's first, then the mask's.
        std::vector<std::string> keys;
        for (const char *kind : {"array", "mask"})
            if (const auto name = item.Attribute(kind))
                keys.push_back(*name);
        if (keys.size() != step.indices.size())
            return xml::Node();
        xml::Node value;
        for (xml::Node candidate : childElements(element, "value")) {
            bool matches = true;
            for (std::size_t k = 0; k < keys.size() && matches; ++k)
                matches = candidate.Attribute(keys[k]) == std::to_string(step.indices[k]);
            if (matches) {
                value = candidate;
                break;
            }
        }
        const xml::Node structNode = namedChild(device, "struct", ItemType(item));
        const bool last = s + 1 == steps.size();
        if (!value || last == static_cast<bool>(structNode))
            return xml::Node();
        if (last)
            return value;
        items = childElements(structNode, "item");
        parent = value;
    }
    return xml::Node();
}

// The element an XML parameter name leads to.
xml::Node xmlValue(xml::Node device, xml::Node config, const std::vector<TStep> &steps)
{
    if (steps.empty() || !steps[0].indices.empty() || steps.size() > 2)
        return xml::Node();
    xml::Node parameter;
    for (xml::Node block : childElements(device, "block"))
        if (!parameter)
            parameter = namedChild(block, "item", steps[0].name);
    const std::vector<xml::Node> templates = childElements(parameter);
    const xml::Node container = parameter && config ? config.ChildElement(steps[0].name) : xml::Node();
    if (!container)
        return xml::Node();
    if (steps.size() == 1)
        return templates.empty() ? container : xml::Node();
    const TStep &field = steps[1];
    if (templates.empty() || field.indices.size() != 1 || !namedChild(templates.front(), "item", field.name))
        return xml::Node();
    const std::vector<xml::Node> elements = childElements(container);
    const int k = field.indices[0];
    if (k < 1 || k > static_cast<int>(elements.size()))
        return xml::Node();
    return elements[static_cast<std::size_t>(k - 1)].ChildElement(field.name);
}

// One device from its report to its outcome.
TDeviceOutcome serve(IDeviceSession &session, IConfigModel &templateModel, const TProductionOptions &options,
                     const TDeviceReport &report, const TProductionEvents &events)
{
    const TProgress &progress = events.progress;
    TDeviceOutcome outcome;
    outcome.serialNumber = report.serialNumber;
    outcome.hardwareCode = report.state.hardwareCode;
    outcome.softwareVersion = report.state.softwareVersion;
    try {
        if (!templateModel.IsCompatible(report.state.hardwareCode, report.state.softwareVersion))
            throw EConfigError(kMsgIncompatible);
        const TConfigModelPtr model = CopyConfiguration(templateModel, options.catalogueDir);
        for (const TOverride &override : options.overrides)
            ApplyOverride(*model, override);
        IDeviceLink &link = session.Link();
        link.Pin(report.identity);
        if (options.backupDir)
            outcome.backup = BackupConfiguration(link, report.state, report.serialNumber, options.passwordField,
                                                 options.catalogueDir, *options.backupDir, progress);
        WriteConfiguration(link, model.get(), report.state, options.passwordField, progress);
        VerifyConfiguration(link, *model, report.state, options.passwordField, options.catalogueDir, progress);
        outcome.success = true;
        outcome.message = kMsgWrittenAndVerified;
        if (events.written)
            events.written(*model, report);
    } catch (const std::exception &e) {
        outcome.message = e.what();
    }
    outcome.time = std::chrono::system_clock::now();
    return outcome;
}

} // namespace

std::filesystem::path BackupConfiguration(IDeviceLink &link, const TDeviceState &device, std::uint64_t serialNumber,
                                          const std::string &passwordField, const std::filesystem::path &catalogueDir,
                                          const std::filesystem::path &backupDir, const TProgress &progress)
{
    const TConfigModelPtr model = ReadConfiguration(link, device, passwordField, catalogueDir, progress);
    std::error_code ec;
    std::filesystem::create_directories(backupDir, ec);
    if (ec)
        throw EConfigError(Format("Не удалось создать папку %s: %s", utf8(backupDir).c_str(),
                                  SystemErrorText(static_cast<std::uint32_t>(ec.value())).c_str()));
    const std::string stem =
        SerialText(serialNumber) + "-" + localTime(std::chrono::system_clock::now(), kBackupStamp);
    std::filesystem::path file = backupDir / (stem + ".cfg");
    for (int copy = 2; std::filesystem::exists(file); ++copy)
        file = backupDir / (stem + "-" + std::to_string(copy) + ".cfg");
    model->SaveToFile(utf8(file));
    return file;
}

std::optional<TImageDifference> FirstDifference(const std::vector<Bytes> &expected, const std::vector<Bytes> &actual)
{
    const std::size_t common = std::min(expected.size(), actual.size());
    for (std::size_t block = 0; block < common; ++block) {
        const Bytes &a = expected[block];
        const Bytes &b = actual[block];
        const auto mismatch = std::mismatch(a.begin(), a.end(), b.begin(), b.end());
        if (mismatch.first != a.end() || mismatch.second != b.end())
            return TImageDifference{static_cast<int>(block), static_cast<int>(mismatch.first - a.begin())};
    }
    // A block one side lacks differs from its first byte, empty or not.
    if (expected.size() != actual.size())
        return TImageDifference{static_cast<int>(common), 0};
    return std::nullopt;
}

void VerifyConfiguration(IDeviceLink &link, IConfigModel &written, const TDeviceState &device,
                         const std::string &passwordField, const std::filesystem::path &catalogueDir,
                         const TProgress &progress)
{
    std::vector<Bytes> received;
    const TConfigModelPtr readBack =
        ReadConfiguration(link, device, passwordField, catalogueDir, progress, &received);
    std::vector<Bytes> expected;
    ExplainDescriptionFailure(written, [&] { expected = EncodeBlocks(written); });
    // The bytes the device gives back are the bytes that were written: that settles it, even for
    // values that reading shows otherwise (characters the reading filter turns into spaces).
    auto difference = FirstDifference(expected, received);
    if (difference && StorageFormatOf(written.DeviceElement()) == TStorageFormat::Xml) {
        // A device may lay its XML texts out its own way: then the values are compared, re-encoded
        // with the written model's hw and sw, which the block texts carry.
        const xml::Node writtenRoot = written.ValueDocument().DocumentElement();
        const xml::Node readRoot = readBack->ValueDocument().DocumentElement();
        for (const char *name : {"hw", "sw"})
            if (const auto text = writtenRoot ? writtenRoot.Attribute(name) : std::nullopt; text && readRoot)
                readRoot.SetAttribute(name, *text);
        std::vector<Bytes> actual;
        ExplainDescriptionFailure(*readBack, [&] { actual = EncodeBlocks(*readBack); });
        difference = FirstDifference(expected, actual);
    }
    if (difference)
        throw EConfigError(Format(kMsgVerifyFailed, difference->block, difference->offset));
}

TConfigModelPtr CopyConfiguration(IConfigModel &model, const std::filesystem::path &catalogueDir)
{
    const std::uint16_t hw = model.GetHardwareCode();
    TConfigModelPtr copy = CreateConfigModel(catalogueDir, hw, model.GetSoftwareVersion());
    if (!copy)
        throw EConfigError(Format("Не найдено описание устройства. (код устройства %d).", hw));
    xml::ParseError error;
    auto document = xml::Document::Parse(model.ValueDocument().Save(), error);
    if (!document)
        throw EXmlError(Format("Строка %d: %s\r\n%s", error.line, error.reason.c_str(), error.sourceText.c_str()),
                        error.line, error.reason, error.sourceText);
    copy->ValueDocument() = std::move(*document);
    return copy;
}

TOverride ParseOverride(const std::string &assignment)
{
    const std::size_t eq = assignment.find('=');
    if (eq == std::string::npos || eq == 0)
        throw EConfigError(Format("Параметр задаётся как ИМЯ=ЗНАЧЕНИЕ: \"%s\".", assignment.c_str()));
    return {assignment.substr(0, eq), assignment.substr(eq + 1)};
}

void ApplyOverride(IConfigModel &model, const TOverride &override)
{
    const xml::Node device = model.DeviceElement();
    const xml::Node config = model.ValueDocument().DocumentElement();
    const auto steps = parseName(override.name);
    xml::Node value;
    if (steps && device)
        value = StorageFormatOf(device) == TStorageFormat::Xml ? xmlValue(device, config, *steps)
                                                               : binaryValue(device, config, *steps);
    if (!value)
        throw EConfigError(Format(kMsgNoParameter, override.name.c_str()));
    value.SetText(override.value);
}

std::string ProductionLogLine(const TDeviceOutcome &outcome)
{
    const std::string separator(1, kLogSeparator);
    return localTime(outcome.time, kLogTime) + separator + SerialText(outcome.serialNumber) + separator +
           std::to_string(outcome.hardwareCode) + separator + std::to_string(outcome.softwareVersion) + separator +
           (outcome.success ? kResultSuccess : kResultFailure) + separator + csvField(outcome.message);
}

void StartProductionLog(const std::filesystem::path &file)
{
    std::error_code ec;
    const auto size = std::filesystem::file_size(file, ec);
    if (ec || size == 0)
        appendToFile(file, std::string(kProductionLogHeader) + "\n");
}

void AppendProductionLog(const std::filesystem::path &file, const TDeviceOutcome &outcome)
{
    StartProductionLog(file);
    appendToFile(file, ProductionLogLine(outcome) + "\n");
}

int RunProduction(IDeviceSession &session, IConfigModel &templateModel, const TProductionOptions &options,
                  const std::atomic<bool> &stop, const TProductionEvents &events)
{
    if (options.logFile)
        StartProductionLog(*options.logFile);
    std::set<std::uint64_t> served;
    bool anyPresent = false;          // a device answers on the port, served or not
    std::uint64_t presentSerial = 0;  // and this is its serial number
    int count = 0;
    const auto more = [&] { return !stop && (options.maxDevices <= 0 || count < options.maxDevices); };
    if (more() && events.waiting)
        events.waiting();
    while (more()) {
        const auto report = session.NextReport(options.reportWait);
        if (!report)
            continue;
        if (!report->state.connected) {
            anyPresent = false;
            continue;
        }
        if (anyPresent && presentSerial == report->serialNumber)
            continue;
        anyPresent = true;
        presentSerial = report->serialNumber;
        if (!served.insert(report->serialNumber).second) {
            if (events.notice)
                events.notice(Format("Устройство %s уже обработано в этом сеансе.",
                                     SerialText(report->serialNumber).c_str()));
            continue;
        }
        if (events.started)
            events.started(*report);
        const TDeviceOutcome outcome = serve(session, templateModel, options, *report, events);
        if (options.logFile)
            AppendProductionLog(*options.logFile, outcome);
        ++count;
        if (events.finished)
            events.finished(outcome);
        if (more() && events.waiting)
            events.waiting();
    }
    return count;
}
