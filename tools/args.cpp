#include "tools/args.h"

#include <cerrno>
#include <cstdlib>

TArgs::TArgs(int argc, char **argv, int first, const Options &options)
{
    bool optionsEnded = false;
    for (int i = first; i < argc; ++i) {
        std::string arg = argv[i];
        if (!optionsEnded && arg == "-o")
            arg = "--output";
        if (optionsEnded || arg.size() < 3 || arg.compare(0, 2, "--") != 0) {
            if (arg == "--") {
                optionsEnded = true;
                continue;
            }
            m_positional.push_back(arg);
            continue;
        }
        std::string name = arg.substr(2);
        std::optional<std::string> value;
        if (const auto eq = name.find('='); eq != std::string::npos) {
            value = name.substr(eq + 1);
            name.resize(eq);
        }
        if (options.flags.count(name)) {
            if (value)
                throw std::invalid_argument("--" + name + " takes no value");
            m_values.emplace(name, "");
            m_ordered.emplace_back(name, "");
        } else if (options.valued.count(name)) {
            if (!value) {
                if (i + 1 >= argc)
                    throw std::invalid_argument("--" + name + " needs a value");
                value = argv[++i];
            }
            m_values.emplace(name, *value);
            m_ordered.emplace_back(name, *value);
        } else {
            throw std::invalid_argument("unknown option --" + name);
        }
    }
}

std::optional<std::string> TArgs::Value(const std::string &name) const
{
    const auto range = m_values.equal_range(name);
    if (range.first == range.second)
        return std::nullopt;
    return std::prev(range.second)->second; // the last one given wins
}

std::string TArgs::Value(const std::string &name, const std::string &fallback) const
{
    return Value(name).value_or(fallback);
}

std::vector<std::string> TArgs::Values(const std::string &name) const
{
    std::vector<std::string> values;
    const auto range = m_values.equal_range(name);
    for (auto it = range.first; it != range.second; ++it)
        values.push_back(it->second);
    return values;
}

std::int64_t ParseInteger(const std::string &text, std::int64_t min, std::int64_t max, const std::string &what)
{
    errno = 0;
    char *end = nullptr;
    const bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
    const long long value = std::strtoll(text.c_str(), &end, hex ? 16 : 10);
    if (text.empty() || *end != '\0' || errno != 0 || value < min || value > max)
        throw std::invalid_argument(what + ": " + (text.empty() ? "empty" : text) + " is not a number from "
                                    + std::to_string(min) + " to " + std::to_string(max));
    return value;
}

std::uint64_t ParseHex(const std::string &text, const std::string &what)
{
    errno = 0;
    char *end = nullptr;
    const unsigned long long value = std::strtoull(text.c_str(), &end, 16);
    if (text.empty() || *end != '\0' || errno != 0 || text[0] == '-')
        throw std::invalid_argument(what + ": " + text + " is not a hexadecimal number");
    return value;
}
