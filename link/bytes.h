#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// A byte string: any byte value, length-counted.
using Bytes = std::vector<std::uint8_t>;

// Two bytes of a 16-bit value, low byte first.
Bytes WordToBytes(std::uint16_t value);

// Count bytes of data from index on; the copy is cut short at the end of data.
Bytes CopyBytes(const Bytes &data, std::size_t index, std::size_t count);

// Each byte as two uppercase hexadecimal digits, separator between bytes.
std::string HexDump(const std::uint8_t *data, std::size_t count, std::string_view separator = " ");
std::string HexDump(const Bytes &data, std::string_view separator = " ");

inline Bytes ToBytes(std::string_view text) { return Bytes(text.begin(), text.end()); }
inline std::string ToString(const Bytes &data) { return std::string(data.begin(), data.end()); }
