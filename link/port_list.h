#pragma once

#include <string>
#include <vector>

// A serial port present on this machine.
struct TPortEntry {
    std::string name;        // what the port is opened by: /dev/ttyUSB0, COM3
    std::string description; // what it is: the adapter's name, or its driver's
};

// The serial ports present now, adapters first, each once. Each platform
// implements it in its own file.
std::vector<TPortEntry> ListSerialPorts();
