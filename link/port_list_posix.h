#pragma once

#include "link/port_list.h"

#include <filesystem>

// The ports of a Linux system whose /dev and /sys are found under root: the tty
// devices with a driver, described by their /dev/serial/by-id link, the USB
// product or the driver's name. Tests pass a fake tree.
std::vector<TPortEntry> ListSerialPortsUnder(const std::filesystem::path &root);
