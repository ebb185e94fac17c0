#pragma once

#include "tools/args.h"

#include <filesystem>

// One function per command; each returns the program's exit code and raises
// std::invalid_argument for a wrong command line.
int CmdIdentify(const TArgs &args);
int CmdShow(const TArgs &args);
int CmdDecode(const TArgs &args);
int CmdEncode(const TArgs &args);
int CmdRead(const TArgs &args);
int CmdWrite(const TArgs &args);

// --catalogue, or the folder of the executable.
std::filesystem::path CatalogueDir(const TArgs &args);
