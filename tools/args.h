#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

// Command-line options of the form --name VALUE, --name=VALUE and --flag,
// with positional arguments in between; "-o" stands for "--output". Unknown
// options are an error.
class TArgs {
public:
    struct Options {
        std::set<std::string> valued;   // take a value; may repeat
        std::set<std::string> flags;    // take none
    };

    TArgs(int argc, char **argv, int first, const Options &options);

    bool Has(const std::string &name) const { return m_values.count(name) > 0; }
    std::optional<std::string> Value(const std::string &name) const;
    std::string Value(const std::string &name, const std::string &fallback) const;
    std::vector<std::string> Values(const std::string &name) const;
    const std::vector<std::string> &Positional() const { return m_positional; }
    // Options in the order given, for options whose order matters.
    const std::vector<std::pair<std::string, std::string>> &Ordered() const { return m_ordered; }

private:
    std::multimap<std::string, std::string> m_values;
    std::vector<std::pair<std::string, std::string>> m_ordered;
    std::vector<std::string> m_positional;
};

// Integer options: decimal, or hexadecimal after "0x"; out of range is an error.
std::int64_t ParseInteger(const std::string &text, std::int64_t min, std::int64_t max, const std::string &what);
std::uint64_t ParseHex(const std::string &text, const std::string &what);
