#pragma once

#include <cstdint>

// CRC-8/MAXIM (Dallas 1-Wire): polynomial 0x31 reflected, initial value 0,
// no final XOR. Over an intact frame including its checksum byte it yields 0.
std::uint8_t Crc8(const std::uint8_t *data, long count);
