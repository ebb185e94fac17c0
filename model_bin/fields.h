#pragma once

// Conversion of binary block fields between their bytes and the value texts
// shown in the grid, and the phone number codec.

#include "link/bytes.h"
#include "model/param_info.h"

#include <cstdint>
#include <string>
#include <vector>


// The value text of the field whose first byte is block[position - 1]
// (positions count from 1), after the character filter. maskIndex selects a
// mask element (0 otherwise).
std::string ReadField(const Bytes &block, int position, const TFieldParams &field, int maskIndex);

// The field's bytes for a value text: field.size of them ("phone": 8).
Bytes WriteField(const std::string &text, const TFieldParams &field);

// One field holding the mask elements of one array index, in mask order.
Bytes PackMaskElements(const TFieldParams &field, const std::vector<std::string> &texts);

// Phone fields: one place per nibble, 0-9 digits, A "+", D unused.
std::string PhoneBytesToText(const Bytes &bytes);
Bytes PhoneTextToBytes(const std::string &text);
void SetNibble(std::uint8_t &byte, std::uint8_t value, bool high);
