#pragma once

#include "history/history.h"
#include "model/model.h"
#include "tools/args.h"

#include <filesystem>
#include <string>
#include <vector>

// One function per command; each returns the program's exit code and raises
// std::invalid_argument for a wrong command line.
int CmdIdentify(const TArgs &args);
int CmdShow(const TArgs &args);
int CmdDecode(const TArgs &args);
int CmdEncode(const TArgs &args);
int CmdRead(const TArgs &args);
int CmdWrite(const TArgs &args);
int CmdCheckCatalogue(const TArgs &args);
// arguments: the command line after the command, whose order tells the sides apart.
int CmdDiff(const TArgs &args, const std::vector<std::string> &arguments);
int CmdDeploy(const TArgs &args);
// history list|show|diff|export|sync; history diff ends as diff does.
int CmdHistory(const TArgs &args);

// --history, --remote, --branch and --no-history: where read, write and deploy
// record the configurations they handle, and with whom the history is shared.
THistoryOptions HistoryOptions(const TArgs &args);

// The options every command accepts.
const TArgs::Options &CliOptions();

// --catalogue, or the folder of the executable.
std::filesystem::path CatalogueDir(const TArgs &args);

// Prints a warning for every value that a write of model would alter, to
// standard error; with refuse, raises EConfigError when there is any, before
// anything is written.
void WarnAlteredValues(IConfigModel &model, bool refuse, const char *option);

// Reads the configuration of the device on a port as "read" does (--password applies).
TConfigModelPtr ReadFromPort(const std::string &port, const TArgs &args);
