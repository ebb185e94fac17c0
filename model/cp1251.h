#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// Windows-1251, the code page of devices, settings files and the original
// user interface. Texts inside the program are UTF-8; these convert at the
// byte boundary.

// Unicode code point of a Windows-1251 byte (the one unassigned byte, 0x98,
// maps to U+0098).
char32_t Cp1251ToUnicode(std::uint8_t byte);
// The Windows-1251 byte of a code point, or false when it has none.
bool UnicodeToCp1251(char32_t code, std::uint8_t &byte);

std::string Cp1251ToUtf8(std::string_view bytes);
// Characters that Windows-1251 cannot hold become the replacement byte; so do
// bytes that are not valid UTF-8.
std::string Utf8ToCp1251(std::string_view text, char replacement = '?');

// Decodes one UTF-8 character at text[pos], advancing pos; an invalid
// sequence yields U+FFFD and advances by one byte.
char32_t NextCodePoint(std::string_view text, std::size_t &pos);
void AppendUtf8(std::string &text, char32_t code);
