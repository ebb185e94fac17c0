#include "model/param_info.h"

#include "model/cp1251.h"
#include "model/errors.h"
#include "model/tools.h"

#include <algorithm>
#include <limits>

namespace {

constexpr std::int64_t kFullIntegerBits = 32;
constexpr int kMaxBits = 64;
constexpr int kPhonePlaces = 16;
constexpr int kPhoneFieldBytes = 8;
constexpr int kIpComponents = 4; // an XML device's address without a size
constexpr int kIpComponentMax = 255;
constexpr std::int64_t kLowest = std::numeric_limits<std::int32_t>::min();
constexpr std::int64_t kHighest = std::numeric_limits<std::uint32_t>::max();
constexpr std::int64_t kHighestSigned = std::numeric_limits<std::int32_t>::max();

struct TKindWord {
    const char *word;
    TValueKind kind;
};

constexpr TKindWord kKindWords[] = {
    {"int", TValueKind::Integer},      {"bool", TValueKind::Bool},         {"string", TValueKind::String},
    {"pswd_string", TValueKind::Password}, {"ip_string", TValueKind::Ip}, {"phone", TValueKind::Phone},
    {"hex", TValueKind::Hex},          {"hex_array", TValueKind::HexArray}, {"dec_array", TValueKind::DecArray},
};

std::int32_t wrap32(std::int64_t value)
{
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(value));
}

std::uint64_t lowBits(std::int64_t bits)
{
    if (bits <= 0)
        return 0;
    return bits >= kMaxBits ? ~std::uint64_t(0) : (std::uint64_t(1) << bits) - 1;
}


bool isHexDigit(char c)
{
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f');
}

bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

bool allOf(const std::string &text, bool (*accepted)(char))
{
    return std::all_of(text.begin(), text.end(), accepted);
}

// Bytes that the device's reading filter turns into spaces: control characters
// and the part of Windows-1251 between the Latin and the Cyrillic letters (Ё and ё among them).
bool keptByDevice(std::uint8_t byte)
{
    return (byte >= 0x20 && byte <= 0x7E) || byte >= 0xC0;
}

std::vector<std::string> split(const std::string &text, char separator)
{
    std::vector<std::string> parts;
    std::size_t start = 0;
    for (;;) {
        const std::size_t end = text.find(separator, start);
        parts.push_back(text.substr(start, end == std::string::npos ? std::string::npos : end - start));
        if (end == std::string::npos)
            return parts;
        start = end + 1;
    }
}

std::string rangeText(std::optional<std::int64_t> low, std::optional<std::int64_t> high)
{
    if (low && high)
        return Format("%lld\u2026%lld", static_cast<long long>(*low), static_cast<long long>(*high));
    if (low)
        return Format("не меньше %lld", static_cast<long long>(*low));
    return Format("не больше %lld", static_cast<long long>(*high));
}

} // namespace

TValueKind BuiltInKind(const std::string &type)
{
    for (const TKindWord &entry : kKindWords)
        if (type == entry.word)
            return entry.kind;
    return TValueKind::Integer;
}

bool IsBuiltInType(const std::string &type)
{
    return std::any_of(std::begin(kKindWords), std::end(kKindWords),
                       [&](const TKindWord &entry) { return type == entry.word; });
}

bool IsTextKind(TValueKind kind)
{
    return kind != TValueKind::Integer && kind != TValueKind::Bool && kind != TValueKind::Choice;
}

std::int32_t ScaleToStored(const std::string &text, const TFieldParams &field, std::int64_t bits)
{
    // Texts above the largest signed value name bit patterns of a full 32-bit field only; narrower
    // fields would store their wrapped low bits.
    std::int32_t x = bits >= kFullIntegerBits ? wrap32(StrToIntWide(text)) : StrToInt(text);
    if (field.div == 0)
        throw EZeroDivide(Format("%s: деление на ноль.", field.name.c_str()), field.name);
    x = wrap32(std::int64_t(x) * field.mul);
    x = wrap32(std::int64_t(x) / field.div);
    x = wrap32(std::int64_t(x) + field.add);
    x = wrap32(std::int64_t(x) - field.sub);
    if (bits < kFullIntegerBits && x >= 0 && std::uint64_t(x) > lowBits(bits))
        throw ERangeError(Format("%s: значение %d не помещается в %d бит.", field.name.c_str(), x, int(bits)));
    return x;
}

std::int64_t ScaleToShown(std::uint64_t stored, const TFieldParams &field)
{
    if (field.mul == 0)
        throw EZeroDivide(Format("%s: деление на ноль.", field.name.c_str()), field.name);
    // Offsets are applied modulo 2^64 so that extreme description factors cannot overflow.
    const std::int64_t scaled = static_cast<std::int64_t>(stored) * field.div / field.mul;
    return static_cast<std::int64_t>(static_cast<std::uint64_t>(scaled) + std::uint64_t(std::int64_t(field.sub)) -
                                     std::uint64_t(std::int64_t(field.add)));
}

TParamInfo::TParamInfo(xml::Node item, xml::Node choices, TStorage storage) : m_storage(storage)
{
    m_field.name = item.Attribute("name").value_or(std::string());
    m_field.type = item.Attribute("type").value_or("int");
    m_caption = item.Attribute("caption").value_or(std::string());
    m_kind = BuiltInKind(m_field.type);
    if (m_kind == TValueKind::Integer && m_field.type != "int" && choices) {
        m_kind = TValueKind::Choice;
        for (xml::Node choice = choices.FirstChild(); choice; choice = choice.NextSibling())
            if (choice.IsElement())
                m_choices.push_back({choice.Attribute("value").value_or(std::string()),
                                     choice.Attribute("caption").value_or(std::string())});
    }
    const auto size = IntAttribute(item, "size");
    m_hasSize = size.has_value();
    m_field.size = m_kind == TValueKind::Phone ? kPhoneFieldBytes : int(size.value_or(1));
    const auto bits = IntAttribute(item, "bits");
    m_field.hasBits = bits.has_value();
    m_field.bits = int(bits.value_or(std::int64_t(8) * m_field.size));
    m_field.mul = std::int32_t(IntAttribute(item, "mul").value_or(1));
    m_field.div = std::int32_t(IntAttribute(item, "div").value_or(1));
    m_field.add = std::int32_t(IntAttribute(item, "add").value_or(0));
    m_field.sub = std::int32_t(IntAttribute(item, "sub").value_or(0));
    m_min = IntAttribute(item, "min");
    m_max = IntAttribute(item, "max");
    // Limits the wrong way round limit nothing.
    if (m_min && m_max && *m_min > *m_max)
        m_min = m_max = std::nullopt;
}

std::string TParamInfo::Shown(const std::string &stored) const
{
    if (m_kind == TValueKind::Bool)
        return stored == "1" ? "Да" : "Нет";
    if (m_kind == TValueKind::Choice) {
        const int index = ChoiceIndex(stored);
        return index < 0 ? std::string() : m_choices[std::size_t(index)].caption;
    }
    return stored;
}

int TParamInfo::ChoiceIndex(const std::string &stored) const
{
    for (std::size_t i = 0; i < m_choices.size(); ++i)
        if (m_choices[i].value == stored)
            return int(i);
    return -1;
}

std::int64_t TParamInfo::Lowest() const
{
    if (m_min)
        return *m_min;
    const std::int64_t bits = m_field.ValueBits();
    const bool plain = m_field.mul == 1 && m_field.div == 1 && m_field.add == 0 && m_field.sub == 0;
    return Binary() && plain && bits > 0 && bits < kFullIntegerBits ? 0 : kLowest;
}

std::int64_t TParamInfo::Highest() const
{
    if (m_max)
        return *m_max;
    const std::int64_t bits = m_field.ValueBits();
    const bool plain = m_field.mul == 1 && m_field.div == 1 && m_field.add == 0 && m_field.sub == 0;
    if (Binary() && plain && bits > 0 && bits < kFullIntegerBits)
        return std::int64_t(lowBits(bits));
    return Binary() && bits >= kFullIntegerBits ? kHighest : kHighestSigned;
}

int TParamInfo::MaxTextLength() const
{
    if (!Binary() && !m_hasSize)
        return m_kind == TValueKind::Phone ? kPhonePlaces : 0;
    switch (m_kind) {
    case TValueKind::String:
    case TValueKind::DecArray:
        return m_field.size;
    case TValueKind::Password:
    case TValueKind::Hex:
    case TValueKind::HexArray:
        return 2 * m_field.size;
    case TValueKind::Phone:
        return kPhonePlaces;
    case TValueKind::Ip:
        return 4 * m_field.size - 1;
    default:
        return 0;
    }
}

std::string TParamInfo::Message(const std::string &reason) const
{
    return m_caption.empty() ? reason : m_caption + ": " + reason;
}

std::optional<std::string> TParamInfo::Validate(const std::string &text) const
{
    if (m_kind == TValueKind::Integer || (Binary() && (m_kind == TValueKind::Bool || m_kind == TValueKind::Choice)))
        return ValidateInteger(text);
    if (IsTextKind(m_kind))
        return ValidateText(text);
    return std::nullopt;
}

std::optional<std::string> TParamInfo::ValidateInteger(const std::string &text) const
{
    const std::int64_t bits = Binary() ? m_field.ValueBits() : kFullIntegerBits - 1;
    std::int64_t value = 0;
    try {
        value = bits >= kFullIntegerBits ? StrToIntWide(text) : StrToInt(text);
    } catch (const EConvertError &e) {
        return Message(e.what());
    }
    const auto shownValue = static_cast<long long>(value);
    if (m_min && m_max && (value < *m_min || value > *m_max))
        return Message(Format("значение %lld вне диапазона %s.", shownValue, rangeText(m_min, m_max).c_str()));
    if (m_min && value < *m_min)
        return Message(Format("значение %lld меньше %lld.", shownValue, static_cast<long long>(*m_min)));
    if (m_max && value > *m_max)
        return Message(Format("значение %lld больше %lld.", shownValue, static_cast<long long>(*m_max)));
    // The description's own faults (a zero factor, a width the codec refuses) are the codec's to name.
    if (!Binary() || m_field.mul == 0 || m_field.div == 0 || bits < 1 || bits > kMaxBits)
        return std::nullopt;
    // A scaled value names what the device would hold.
    auto tooWide = [&](std::int64_t stored) {
        if (stored == value)
            return Message(Format("значение %s не помещается в %d бит.", text.c_str(), int(bits)));
        return Message(Format("значение %s (в устройстве %lld) не помещается в %d бит.", text.c_str(),
                              static_cast<long long>(stored), int(bits)));
    };
    std::int32_t stored = 0;
    try {
        stored = ScaleToStored(text, m_field, bits);
    } catch (const ERangeError &) {
        const std::int64_t scaled = value * m_field.mul / m_field.div + m_field.add - m_field.sub;
        return tooWide(scaled);
    }
    if (bits < kFullIntegerBits) {
        if (stored < -(std::int64_t(1) << (bits - 1)))
            return tooWide(stored);
        if (stored < 0)
            return std::nullopt; // a negative value the description allows: the device keeps its low bits
    }
    // Scaling that drops precision writes another value than the one typed.
    const std::uint64_t pattern = static_cast<std::uint64_t>(std::int64_t(stored)) &
                                  lowBits(std::min<std::int64_t>(bits, kFullIntegerBits));
    const std::int64_t readBack = ScaleToShown(pattern, m_field);
    if (readBack != value && !(bits >= kFullIntegerBits && wrap32(readBack) == wrap32(value)))
        return Message(
            Format("значение %s будет записано как %lld.", text.c_str(), static_cast<long long>(readBack)));
    return std::nullopt;
}

std::optional<std::string> TParamInfo::ValidateText(const std::string &text) const
{
    const int longest = MaxTextLength();
    switch (m_kind) {
    case TValueKind::String: {
        std::size_t pos = 0;
        int length = 0;
        while (pos < text.size()) {
            const std::size_t first = pos;
            const char32_t code = NextCodePoint(text, pos);
            std::uint8_t byte = 0;
            if (code == 0xFFFD || !UnicodeToCp1251(code, byte) || !keptByDevice(byte))
                return Message(Format("символ «%s» устройство не хранит.", text.substr(first, pos - first).c_str()));
            ++length;
        }
        if (longest > 0 && length > longest)
            return Message(Format("текст длиннее %d знаков.", longest));
        return std::nullopt;
    }
    case TValueKind::Password:
    case TValueKind::Hex:
    case TValueKind::HexArray:
        if (!allOf(text, isHexDigit))
            return Message("допустимы только шестнадцатеричные цифры 0–9 и A–F.");
        if (longest > 0 && int(text.size()) > longest)
            return Message(Format("больше %d цифр.", longest));
        if (m_kind == TValueKind::HexArray && text.size() % 2 != 0)
            return Message("нужно чётное число цифр: по две на байт.");
        return std::nullopt;
    case TValueKind::DecArray:
        if (!allOf(text, isDigit))
            return Message("допустимы только цифры 0–9.");
        if (longest > 0 && int(text.size()) > longest)
            return Message(Format("больше %d цифр.", longest));
        return std::nullopt;
    case TValueKind::Phone:
        if (!std::all_of(text.begin(), text.end(), [](char c) { return isDigit(c) || c == '+'; }))
            return Message("номер может содержать только цифры и «+».");
        if (int(text.size()) > kPhonePlaces)
            return Message(Format("в номере больше %d знаков.", kPhonePlaces));
        return std::nullopt;
    case TValueKind::Ip: {
        const std::vector<std::string> components = split(text, '.');
        const int most = Binary() || m_hasSize ? m_field.size : kIpComponents;
        if (int(components.size()) > most)
            return Message(Format("в адресе больше %d частей.", most));
        for (const std::string &component : components)
            if (component.empty() || component.size() > 3 || !allOf(component, isDigit) ||
                std::stoi(component) > kIpComponentMax)
                return Message(Format("часть адреса «%s» должна быть числом от 0 до 255.", component.c_str()));
        return std::nullopt;
    }
    default:
        return std::nullopt;
    }
}

std::string TParamInfo::Tooltip() const
{
    std::string text = "Тип: " + m_field.type;
    if (m_min || m_max)
        text += "\nДиапазон: " + rangeText(m_min, m_max);
    const std::size_t comma = m_caption.rfind(", ");
    if (comma != std::string::npos && comma + 2 < m_caption.size())
        text += "\nЕдиницы: " + m_caption.substr(comma + 2);
    if (Binary())
        text += Format("\nРазмер: %d байт", m_field.size);
    else if (m_hasSize)
        text += Format("\nДлина: %d", m_field.size);
    text += "\nИмя: " + m_field.name;
    return text;
}
