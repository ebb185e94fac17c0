#include "model/catalogue_check.h"

#include "model/errors.h"
#include "model/model.h"
#include "model/tools.h"

#include <algorithm>
#include <climits>
#include <functional>
#include <map>
#include <optional>
#include <set>

namespace {

constexpr const char *kAbsent = "—";
constexpr int kPhoneFieldBytes = 8;
constexpr int kNarrowIntegerBytes = 4; // wider integer fields only hold bit-packed elements
constexpr int kWindowBits = 32;        // a wide field's element is taken out of 4 bytes
constexpr int kMaxBits = 64;
constexpr long long kBitsPerByte = 8;
constexpr int kMaxNesting = 32; // the models' bound on structs inside structs

// Description numbers of an item, read as integers wherever they are used.
const char *const kItemNumbers[] = {"size", "bits", "mul", "div", "add", "sub", "active", "min", "max"};

template <typename Words>
bool isOneOf(const std::string &word, const Words &words)
{
    return std::any_of(std::begin(words), std::end(words), [&](const char *w) { return word == w; });
}

// A width or count that its own check accepts; 0 for the others, reported there.
long long withinBound(std::optional<int> number)
{
    return number && *number >= 0 && *number <= kMaxBlockBytes ? *number : 0;
}


bool notInteger(xml::Node node, const char *name)
{
    return node.HasAttribute(name) && !IntAttribute(node, name);
}

std::string notIntegerText(xml::Node node, const char *name)
{
    return Format("атрибут \"%s\" не целое число: \"%s\"", name, node.Attribute(name).value_or("").c_str());
}

// hw, sw_low or sw_high that the catalogue scan cannot read: it abandons the rest of the file there.
bool malformedIdentity(xml::Node device)
{
    return !IntAttribute(device, "hw") || notInteger(device, "sw_low") || notInteger(device, "sw_high");
}

// The catalogue scan stumbles over these; a model already made from the element does not.
void checkIdentity(xml::Node device, const std::function<void(const std::string &)> &fault)
{
    if (!device.HasAttribute("hw"))
        fault("нет атрибута \"hw\"");
    for (const char *name : {"hw", "sw_low", "sw_high"})
        if (notInteger(device, name))
            fault(notIntegerText(device, name));
    const auto low = IntAttribute(device, "sw_low");
    const auto high = IntAttribute(device, "sw_high");
    if (low && high && *low > *high)
        fault("sw_low больше sw_high: описание не подходит ни к одной версии");
}

// One device element's content: items, arrays, structs.
class TDeviceCheck {
public:
    TDeviceCheck(xml::Node device, TStorageFormat format, std::vector<TFinding> &findings)
        : m_device(device), m_format(format), m_label(DeviceLabel(device)), m_findings(findings)
    {
        // The models take the first element of a name.
        for (xml::Node child : ChildElements(device)) {
            const auto name = child.Attribute("name");
            if (!name)
                continue;
            const std::string kind = child.Name();
            if (kind == "array")
                m_arrays.emplace(*name, child);
            else if (kind == "struct" && !IsBuiltInType(*name))
                m_structs.emplace(*name, child);
            else if (kind == "enum")
                m_enums.emplace(*name, child);
        }
    }

    void Run()
    {
        if (m_format == TStorageFormat::Xml)
            CheckXml();
        else
            CheckBinary();
    }

    void Add(const std::string &item, const std::string &text, bool fails = true)
    {
        m_findings.push_back({"", m_label, item, text, fails});
    }

private:
    // Reports the faults of one item or array, under its label.
    class TFault {
    public:
        TFault(TDeviceCheck *check, std::string item, std::string label)
            : m_check(check), m_item(std::move(item)), m_label(std::move(label))
        {
        }
        // A fault that makes an operation fail.
        void operator()(const std::string &text) const { m_check->Add(m_item, m_label + ": " + text, true); }
        // A fault that only makes the program misbehave.
        void Note(const std::string &text) const { m_check->Add(m_item, m_label + ": " + text, false); }

    private:
        TDeviceCheck *m_check;
        std::string m_item;
        std::string m_label;
    };

    TFault FaultOf(const std::string &item, const std::string &label) { return TFault(this, item, label); }

    // Item names become element names of the value document.
    static void CheckName(xml::Node item, const TFault &fault, std::set<std::string> &names)
    {
        const std::string name = GetAttribute(item, "name");
        if (name.empty())
            fault("нет имени");
        else if (!xml::IsValidName(name))
            fault("имя не годится для элемента XML");
        else if (!names.insert(name).second)
            fault.Note("имя уже занято другим параметром");
    }

    static void CheckNumbers(xml::Node item, const TFault &fault, bool all)
    {
        for (const char *name : kItemNumbers)
            if ((all || std::string_view(name) == "min" || std::string_view(name) == "max") && notInteger(item, name))
                fault(notIntegerText(item, name));
    }

    bool KnownType(const std::string &type) const
    {
        return IsBuiltInType(type) || m_enums.count(type) ||
               (m_format == TStorageFormat::Binary && m_structs.count(type));
    }

    void CheckType(xml::Node item, const TFault &fault) const
    {
        const std::string type = ItemType(item);
        if (KnownType(type))
            return;
        fault.Note(m_format == TStorageFormat::Binary
                       ? Format("тип \"%s\" не встроенный и не описан ни как enum, ни как struct", type.c_str())
                       : Format("тип \"%s\" не встроенный и не описан как enum", type.c_str()));
    }

    static std::string ItemLabel(xml::Node item, int number, const std::string &owner, const std::string &named)
    {
        const std::string name = GetAttribute(item, "name");
        if (name.empty())
            return Format("параметр №%d %s", number, owner.c_str());
        return Format("параметр \"%s\"", name.c_str()) + (named.empty() ? std::string() : " " + named);
    }

    // ------------------------------------------------------------- binary

    void CheckBinary()
    {
        std::set<std::string> names; // every block's items share the root config
        int blockNumber = 0;
        for (xml::Node block : ChildElements(m_device, "block")) {
            ++blockNumber;
            int number = 0;
            long long total = 0;
            for (xml::Node item : ChildElements(block, "item")) {
                const std::string label = ItemLabel(item, ++number, Format("блока №%d", blockNumber), "");
                CheckBinaryItem(item, label, names);
                // One report per block, at the item that crosses the bound.
                if (total <= kMaxBlockBytes && (total += ItemBytes(item, 0)) > kMaxBlockBytes)
                    FaultOf(GetAttribute(item, "name"), label)(
                        Format("блок длиннее %d байт, которые может передать связь", kMaxBlockBytes));
            }
        }
        for (xml::Node structNode : ChildElements(m_device, "struct")) {
            const std::string name = GetAttribute(structNode, "name");
            if (IsBuiltInType(name)) {
                Add(name, Format("структура \"%s\" названа как встроенный тип: параметры типа \"%s\" остаются "
                                 "встроенного типа, структура не используется",
                                 name.c_str(), name.c_str()),
                    false);
                continue;
            }
            const auto it = m_structs.find(name);
            if (it == m_structs.end() || it->second != structNode)
                continue;
            std::set<std::string> seen;
            if (Reaches(name, name, seen))
                Add(name, Format("структура \"%s\" содержит саму себя", name.c_str()));
            std::set<std::string> structNames;
            const std::string owner = Format("структуры \"%s\"", name.c_str());
            int number = 0;
            for (xml::Node item : ChildElements(structNode, "item"))
                CheckBinaryItem(item, ItemLabel(item, ++number, owner, owner), structNames);
        }
    }

    // The bytes an item takes, each element at least one, clamped above the link's bound; widths and
    // counts the item's own checks refuse count as nothing here.
    long long ItemBytes(xml::Node item, int depth) const
    {
        long long width = 0;
        const auto structNode = m_structs.find(ItemType(item));
        if (structNode != m_structs.end()) {
            // Deeper is a struct containing itself, reported with the struct.
            if (depth > kMaxNesting)
                return 0;
            for (xml::Node field : ChildElements(structNode->second, "item"))
                width = std::min<long long>(width + ItemBytes(field, depth + 1), kMaxBlockBytes + 1LL);
        } else {
            width = withinBound(IntAttribute(item, "size"));
        }
        long long count = 1;
        if (const auto array = m_arrays.find(GetAttribute(item, "array")); item.HasAttribute("array") && array != m_arrays.end())
            count = withinBound(IntAttribute(array->second, "count"));
        return std::min<long long>(std::max(width, 1LL) * count, kMaxBlockBytes + 1LL);
    }

    bool Reaches(const std::string &from, const std::string &target, std::set<std::string> &seen) const
    {
        const auto it = m_structs.find(from);
        if (it == m_structs.end())
            return false;
        for (xml::Node item : ChildElements(it->second, "item")) {
            const std::string type = ItemType(item);
            if (!m_structs.count(type))
                continue;
            if (type == target || (seen.insert(type).second && Reaches(type, target, seen)))
                return true;
        }
        return false;
    }

    void CheckBinaryItem(xml::Node item, const std::string &label, std::set<std::string> &names)
    {
        const std::string name = GetAttribute(item, "name");
        const TFault fault = FaultOf(name, label);
        CheckNumbers(item, fault, true);
        const auto active = IntAttribute(item, "active");
        const bool inactive = active && *active != 1;
        // Reserved space has no element, so its name is never used.
        if (!inactive)
            CheckName(item, fault, names);
        CheckArrayReference(item, "array", fault);
        const std::optional<int> maskCount = CheckArrayReference(item, "mask", fault);
        const auto size = IntAttribute(item, "size");
        if (inactive) {
            if (item.HasAttribute("array"))
                fault("атрибут \"array\" несовместим с условием \"active=0\"");
            if (!item.HasAttribute("size"))
                fault("нет атрибута \"size\"");
            else if (size && (*size < 0 || *size > kMaxBlockBytes))
                fault(Format("недопустимая ширина поля: size=\"%d\"", *size));
            return;
        }
        const std::string type = ItemType(item);
        if (m_structs.count(type))
            return;
        CheckType(item, fault);
        if (!item.HasAttribute("size")) {
            fault("нет атрибута \"size\"");
            return;
        }
        if (!size)
            return;
        if (*size < 1 || *size > kMaxBlockBytes) {
            fault(Format("недопустимая ширина поля: size=\"%d\"", *size));
            return;
        }
        if (type == "phone" && *size != kPhoneFieldBytes)
            fault(Format("поле телефона должно занимать 8 байт, а не %d", *size));
        // A mask whose count cannot be read has been reported with its array.
        if (!IsTextKind(BuiltInKind(type)) && (!item.HasAttribute("mask") || maskCount))
            CheckIntegerField(item, *size, item.HasAttribute("mask"), maskCount.value_or(1), fault);
    }

    void CheckIntegerField(xml::Node item, int size, bool masked, int count, const TFault &fault) const
    {
        const bool hasBits = item.HasAttribute("bits");
        const auto bits = IntAttribute(item, "bits");
        if (hasBits && bits && (*bits < 1 || *bits > kMaxBits)) {
            fault(Format("недопустимое число бит: %d", *bits));
        } else if (size > kNarrowIntegerBytes && !hasBits) {
            fault("для целого поля шире 4 байт нужен атрибут \"bits\"");
        } else if (!hasBits || bits) {
            const long long width = hasBits ? *bits : kBitsPerByte * size;
            const bool wide = size > kNarrowIntegerBytes;
            if (masked && count * width > kBitsPerByte * size) {
                fault(Format("%d элементов маски \"%s\" по %lld бит не помещаются в поле из %d байт", count,
                             GetAttribute(item, "mask").c_str(), width, size));
            } else if (!masked && wide && width > kBitsPerByte * size) {
                fault(Format("%lld бит не помещаются в поле из %d байт", width, size));
            } else if (wide) {
                for (int k = 0; k < (masked ? count : 1); ++k) {
                    if ((k * width) % kBitsPerByte + width > kWindowBits) {
                        fault(masked ? Format("элемент маски %d пересекает границу окна из 4 байт", k)
                                     : Format("%lld бит не помещаются в окно из 4 байт", width));
                        break;
                    }
                }
            }
        }
        if (IntAttribute(item, "mul") == 0)
            fault("mul=\"0\": деление на ноль при чтении");
        if (IntAttribute(item, "div") == 0)
            fault("div=\"0\": деление на ноль при записи");
    }

    // The count of the array an item names, when it can be read.
    std::optional<int> CheckArrayReference(xml::Node item, const char *attribute, const TFault &fault)
    {
        const auto name = item.Attribute(attribute);
        if (!name)
            return std::nullopt;
        const auto it = m_arrays.find(*name);
        if (it == m_arrays.end()) {
            fault(Format("атрибут \"%s\" называет неописанный массив \"%s\"", attribute, name->c_str()));
            return std::nullopt;
        }
        const xml::Node array = it->second;
        if (m_checkedArrays.insert(*name).second) {
            const TFault arrayFault = FaultOf(*name, Format("массив \"%s\"", name->c_str()));
            // Binary values carry the index in an attribute named like the array.
            if (!xml::IsValidName(*name))
                arrayFault("имя не годится для атрибута XML");
            for (const char *number : {"start", "count"}) {
                if (!array.HasAttribute(number))
                    arrayFault(Format("нет атрибута \"%s\"", number));
                else if (notInteger(array, number))
                    arrayFault(notIntegerText(array, number));
            }
            const auto start = IntAttribute(array, "start");
            const auto count = IntAttribute(array, "count");
            if (count && (*count < 0 || *count > kMaxBlockBytes))
                arrayFault(Format("недопустимое число элементов %d", *count));
            else if (start && count && static_cast<long long>(*start) + *count - 1 > INT_MAX)
                arrayFault("последний индекс больше наибольшего целого числа");
        }
        const auto count = IntAttribute(array, "count");
        return count && *count >= 0 && IntAttribute(array, "start") ? count : std::nullopt;
    }

    // ---------------------------------------------------------------- xml

    void CheckXml()
    {
        std::set<std::string> names;
        int blockNumber = 0;
        for (xml::Node block : ChildElements(m_device, "block")) {
            ++blockNumber;
            int number = 0;
            // Every element of a block is a parameter of the tree.
            for (xml::Node parameter : ChildElements(block)) {
                const std::string label = ItemLabel(parameter, ++number, Format("блока №%d", blockNumber), "");
                const TFault fault = FaultOf(GetAttribute(parameter, "name"), label);
                CheckName(parameter, fault, names);
                CheckNumbers(parameter, fault, false);
                const std::vector<xml::Node> children = ChildElements(parameter);
                if (children.empty())
                    CheckType(parameter, fault);
                else
                    CheckTemplate(parameter, children.front(), label, fault);
            }
        }
    }

    void CheckTemplate(xml::Node parameter, xml::Node elementTemplate, const std::string &label, const TFault &fault)
    {
        const std::string arrayName = GetAttribute(elementTemplate, "array");
        const auto it = m_arrays.find(arrayName);
        if (arrayName.empty()) {
            fault("шаблон элементов не называет массив");
        } else if (it == m_arrays.end()) {
            fault(Format("шаблон называет неописанный массив \"%s\"", arrayName.c_str()));
        } else if (m_checkedArrays.insert(arrayName).second) {
            const TFault arrayFault = FaultOf(arrayName, Format("массив \"%s\"", arrayName.c_str()));
            // Each array element is an element named like the array.
            if (!xml::IsValidName(arrayName))
                arrayFault("имя не годится для элемента XML");
            for (const char *number : {"min", "max"})
                if (notInteger(it->second, number))
                    arrayFault(notIntegerText(it->second, number));
        }
        const std::string parameterName = GetAttribute(parameter, "name");
        const std::string owner = parameterName.empty() ? label.substr(std::string("параметр ").size())
                                                        : Format("\"%s\"", parameterName.c_str());
        std::set<std::string> names;
        int number = 0;
        for (xml::Node field : ChildElements(elementTemplate, "item")) {
            ++number;
            const std::string name = GetAttribute(field, "name");
            const std::string shown = name.empty() ? Format("поле №%d", number) : Format("поле \"%s\"", name.c_str());
            const std::string fieldLabel = shown + " параметра " + owner;
            const TFault fieldFault = FaultOf(name, fieldLabel);
            CheckName(field, fieldFault, names);
            CheckNumbers(field, fieldFault, false);
            CheckType(field, fieldFault);
        }
    }

    xml::Node m_device;
    TStorageFormat m_format;
    std::string m_label;
    std::vector<TFinding> &m_findings;
    std::map<std::string, xml::Node> m_arrays;
    std::map<std::string, xml::Node> m_structs;
    std::map<std::string, xml::Node> m_enums;
    std::set<std::string> m_checkedArrays;
};

std::string attributeOrAbsent(xml::Node node, const char *name)
{
    return node.Attribute(name).value_or(kAbsent);
}

// Versions a device element covers; none when it covers none or cannot be read.
struct TVersionRange {
    int hw = 0;
    int low = 0;
    int high = INT_MAX; // no sw_high: every version from low upward
};

std::optional<TVersionRange> versionRange(xml::Node device)
{
    if (malformedIdentity(device))
        return std::nullopt;
    TVersionRange range{*IntAttribute(device, "hw"), IntAttribute(device, "sw_low").value_or(0),
                        IntAttribute(device, "sw_high").value_or(INT_MAX)};
    if (range.low > range.high)
        return std::nullopt;
    return range;
}

std::string rangeText(int low, int high)
{
    return high == INT_MAX ? Format("%d и выше", low) : Format("%d..%d", low, high);
}

} // namespace

TStorageFormat StorageFormatOf(xml::Node device)
{
    return GetAttribute(device, "format", "binary") == "xml" ? TStorageFormat::Xml : TStorageFormat::Binary;
}

std::string TFinding::Line() const
{
    std::string line = file;
    const auto part = [&line](const std::string &text) {
        if (!line.empty())
            line += ": ";
        line += text;
    };
    if (!device.empty())
        part("устройство " + device);
    part(text);
    return line;
}

std::string DeviceLabel(xml::Node device)
{
    return "hw=" + attributeOrAbsent(device, "hw") + " sw=" + attributeOrAbsent(device, "sw_low") + ".." +
           attributeOrAbsent(device, "sw_high");
}

std::vector<TFinding> CheckDevice(xml::Node device, TStorageFormat format)
{
    std::vector<TFinding> findings;
    if (!device)
        return findings;
    TDeviceCheck check(device, format, findings);
    checkIdentity(device, [&](const std::string &text) { check.Add("", text, false); });
    check.Run();
    return findings;
}

std::vector<TFinding> CheckCatalogue(const std::filesystem::path &dir)
{
    std::vector<TFinding> findings;
    const std::vector<std::filesystem::path> files = CatalogueFiles(dir);
    if (files.empty()) {
        findings.push_back({dir.string(), "", "", "нет файлов описаний (*.xml)"});
        return findings;
    }
    struct TReachable {
        std::string file;
        std::string label;
        TVersionRange range;
    };
    std::vector<TReachable> earlier; // elements the scan can pick, in scan order
    for (const auto &path : files) {
        const std::string file = path.filename().string();
        xml::ParseError error;
        const auto document = xml::Document::Load(path, error);
        if (!document) {
            findings.push_back(
                {file, "", "", Format("файл не читается: строка %d: %s", error.line, error.reason.c_str())});
            continue;
        }
        const xml::Node root = document->DocumentElement();
        if (!root || root.Name() != "devices") {
            findings.push_back({file, "", "", "корневой элемент не \"devices\": файл ничего не описывает"});
            continue;
        }
        const std::vector<xml::Node> devices = ChildElements(root, "device");
        bool scanned = true; // false after a malformed element: the scan never gets further in this file
        for (std::size_t i = 0; i < devices.size(); ++i) {
            const xml::Node device = devices[i];
            std::vector<TFinding> deviceFindings;
            TDeviceCheck check(device, StorageFormatOf(device), deviceFindings);
            checkIdentity(device, [&](const std::string &text) { check.Add("", text, false); });
            const bool malformed = malformedIdentity(device);
            if (malformed && scanned && i + 1 < devices.size())
                deviceFindings.front().text += "; описания после него в этом файле не просматриваются";
            if (scanned) {
                if (const auto range = versionRange(device)) {
                    for (const TReachable &other : earlier) {
                        if (other.range.hw != range->hw)
                            continue;
                        const int low = std::max(other.range.low, range->low);
                        const int high = std::min(other.range.high, range->high);
                        if (low <= high)
                            check.Add("",
                                      Format("версии %s уже описаны в %s (устройство %s): выбирается то описание",
                                             rangeText(low, high).c_str(), other.file.c_str(), other.label.c_str()),
                                      false);
                    }
                    earlier.push_back({file, DeviceLabel(device), *range});
                }
            }
            scanned = scanned && !malformed;
            check.Run();
            for (TFinding &finding : deviceFindings) {
                finding.file = file;
                findings.push_back(std::move(finding));
            }
        }
    }
    return findings;
}
