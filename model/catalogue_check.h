#pragma once

// Faults of device descriptions found before they bite: everything that would
// make a read, a write, the grid or the catalogue scan fail or misbehave later.
// Used by configurator-cli check-catalogue and by the workflows, which name
// the fault instead of a bare conversion error.

#include "model/xml.h"

#include <filesystem>
#include <string>
#include <vector>

// How a device element keeps its configuration: exactly "xml" selects the XML
// model, any other text (or none) the binary one.
enum class TStorageFormat { Binary, Xml };
TStorageFormat StorageFormatOf(xml::Node device);

// One fault of a description.
struct TFinding {
    std::string file;   // catalogue file name; empty when not known
    std::string device; // "hw=5 sw=300..399"; empty for a fault of the file itself
    std::string item;   // name of the item or array the fault is about; empty when none
    std::string text;   // what is wrong, in the user's words
    bool fails = true;  // makes a read, a write or the tree fail; false: the program only misbehaves

    // "<file>: устройство hw=<hw> sw=<low>..<high>: <text>", parts that are empty left out.
    std::string Line() const;
};

// "hw=5 sw=300..399" from the element's attributes as written, "—" for absent ones.
std::string DeviceLabel(xml::Node device);

// The faults of one device element, in description order; file left empty.
std::vector<TFinding> CheckDevice(xml::Node device, TStorageFormat format);

// Every catalogue file of a folder in the order of the first-match rule (files
// by name, device elements in document order): files that do not parse,
// malformed device attributes, version ranges that overlap (naming the element
// that wins) and the faults of each device element.
std::vector<TFinding> CheckCatalogue(const std::filesystem::path &dir);

// What check-catalogue prints for a clean catalogue.
inline constexpr const char *kMsgCatalogueClean = "Ошибок в описаниях не найдено.";
