#pragma once

// The history's commit messages: a first line for people, then git trailers
// ("Key: value" lines of the last paragraph) that this program, and
// `git log --format='%(trailers)'`, read back:
//
//   Запись: устройство 00001234 (код 5, версия 300)
//
//   Action: Запись
//   Hardware: 5
//   Serial: 00001234
//   Firmware: 300
//   Description: transmitter-binary.xml
//   Operator: ivanov
//   Station: ws-07
//   Previous-Version: <commit id of the device's previous version>
//
// A commit that a sync adds to make a device's newest version the current
// file again carries Hardware, Serial and Restores-Version (the version whose
// file it restores) and no Action: it is not a version of its own.

#include <cstdint>
#include <optional>
#include <string>

struct TVersionFacts {
    std::string action; // empty: not a version
    std::uint16_t hardwareCode = 0;
    std::string serialNumber;
    std::uint16_t firmwareVersion = 0;
    std::string descriptionFile;
    std::string operatorName;
    std::string station;
    std::string previousVersion; // empty for a device's first version
    std::string restoredVersion; // set only in restore commits

    bool IsVersion() const { return !action.empty(); }
    // "<hardware code>/<serial number>.cfg"
    std::string Path() const;
};

std::string ComposeMessage(const TVersionFacts &facts);
// nullopt for a message without the device's trailers (a commit not made by this program).
std::optional<TVersionFacts> ParseMessage(const char *message);
