// configurator-cli: the configurator's jobs from a terminal or a script.
#include "workflow/workflow.h"
#include "link/trace.h"
#include "tools/cli/commands.h"
#include "tools/cli/stop_signals.h"

#include <iostream>

namespace {

const char kHelp[] = R"(Usage: configurator-cli COMMAND [OPTIONS]

Commands:
  identify --port P
      show the device connected to port P: serial number, software version,
      hardware code and chunk size, and the description the catalogue picks
      for it (file, hw, sw_low, sw_high, format; "—" for absent attributes)
  read --port P [--password DIGITS] -o FILE.cfg
      read the configuration of the device on port P into a settings file
  write --port P [--password DIGITS] [--backup DIR] [--verify] [--strict] FILE.cfg
      write a settings file into the device on port P; --backup first saves
      the device's configuration as DIR/<serial>-<YYYYMMDD-HHMMSS>.cfg,
      --verify reads the device back and compares every block. Ctrl+C ends
      a read or write at the next request (exit code 130; a write stopped
      after its first block says the device must be written again); a
      second Ctrl+C ends the program at once. Values that the device would
      keep otherwise (outside min/max, too long, cut or rounded) are printed
      as warnings first; --strict refuses to write them (exit code 1)
  show FILE.cfg
      print a settings file as the parameter grid shows it
  decode --hw H --sw S -o FILE.cfg IMAGE...
      turn the block images of a device (one file per block, in block order)
      into the settings file a read of that device gives
  encode [--strict] FILE.cfg DIR
      write the block images of a settings file into DIR (block0.bin, ...;
      block0.xml, ... for XML devices); warnings and --strict as for write
  check-catalogue [DIR]
      check every device description in DIR (by default the catalogue
      folder); one line per fault, exit code 1 when there is any
  diff A B
      compare two configurations of one device; each side is a settings file
      or --port P (the device, read as "read" does). Prints each differing
      parameter as "block / caption / caption: A value → B value" ("—" where
      a side lacks it); exit code 0 when equal, 1 when different, 2 on trouble
  deploy --port P [--set NAME=VALUE]... [--log FILE.csv] [--backup DIR]
         [--password DIGITS] [--max-devices N] [--allow-altered] TEMPLATE.cfg
      the production line: waits for devices on port P and serves every new
      serial number once: checks that the template fits it, backs it up (with
      --backup), writes the template with the --set values, reads it back to
      verify, appends a line to the log (CSV: время;серийный номер;код
      устройства;версия;результат;сообщение) and rings the bell. Ctrl+C ends
      it after the current device. A template whose values (with the --set
      ones) the devices would keep otherwise is refused before the first
      device unless --allow-altered is given.
  history list [SERIAL]
      the configuration history: every device with its last recording, or
      the versions of one device (revision, time, action, firmware version,
      operator, station), newest first
  history show SERIAL [REVISION]
      print a version of a device (by default its newest) as "show" prints a
      settings file
  history diff SERIAL REVISION1 REVISION2
      compare two versions of a device as "diff" compares settings files;
      exit code 0 when equal, 1 when different, 2 on trouble
  history export SERIAL REVISION -o FILE.cfg
      write a version of a device as a settings file
  history sync --remote URL
      fetch the shared history, put this computer's new recordings after it
      and push them

Options:
  --catalogue DIR     where the device descriptions (*.xml) are; by default
                      the folder of this program
  --trace             write the link's exchanges to standard error
  --help              show this text
  --version           show the version
  --set NAME=VALUE    (deploy) set a parameter of the template; may repeat.
                      VALUE is the text a settings file stores (bool: 1 or 0,
                      an enum: the choice's value). Binary devices: NAME is
                      an item name; item[i] for an item with an array or a
                      mask, i counted as the settings file stores it (from the
                      array's start); item[i,j] with both (array index, mask
                      index); item[i].field for the items of a struct.
                      XML devices: item for a simple parameter, item.field[k]
                      for the field of the k-th element (from 1) of an array
                      parameter.
  --max-devices N     (deploy) end after N devices; an aid for tests
  --history DIR       (history) the history's folder for this run; by default
                      ~/.local/share/configurator/history ($XDG_DATA_HOME
                      respected; %APPDATA%\configurator\history on Windows)
  --remote URL        (history) the shared history: a bare git repository
                      named by a path or a file:// or ssh:// URL (https://
                      for servers that ask no password); list, show, diff
                      and export fetch from it first
  --branch NAME       (history) the shared history's branch; main by default
  --no-history        (read, write, deploy) record nothing in the history

A port name is a device path (/dev/ttyUSB0) or a name under /dev (ttyUSB0);
on Windows a COM port name (COM3).
)";

} // namespace

const TArgs::Options &CliOptions()
{
    static const TArgs::Options options{
        {"port", "catalogue", "hw", "sw", "output", "password", "backup", "set", "log", "max-devices",
         "history", "remote", "branch"},
        {"trace", "help", "verify", "no-history", "strict", "allow-altered"}};
    return options;
}

namespace {

int run(int argc, char **argv)
{
    const std::string command = argc > 1 ? argv[1] : "--help";
    if (command == "--help" || command == "help" || command == "-h") {
        std::cout << kHelp;
        return 0;
    }
    if (command == "--version") {
        std::cout << "configurator-cli " CONFIGURATOR_VERSION "\n";
        return 0;
    }
    const TArgs args(argc, argv, 2, CliOptions());
    if (args.Has("help")) {
        std::cout << kHelp;
        return 0;
    }
    if (args.Has("trace"))
        SetTraceSink([](const std::string &line) { std::cerr << line << "\n"; });
    RegisterConfigModels();
    if (command == "identify")
        return CmdIdentify(args);
    if (command == "read")
        return CmdRead(args);
    if (command == "write")
        return CmdWrite(args);
    if (command == "show")
        return CmdShow(args);
    if (command == "decode")
        return CmdDecode(args);
    if (command == "encode")
        return CmdEncode(args);
    if (command == "check-catalogue")
        return CmdCheckCatalogue(args);
    if (command == "diff")
        return CmdDiff(args, std::vector<std::string>(argv + 2, argv + argc));
    if (command == "deploy")
        return CmdDeploy(args);
    if (command == "history")
        return CmdHistory(args);
    throw std::invalid_argument("unknown command " + command);
}

} // namespace

int main(int argc, char **argv)
{
    try {
        return run(argc, argv);
    } catch (const std::invalid_argument &e) {
        std::cerr << "configurator-cli: " << e.what() << "\nTry configurator-cli --help.\n";
        return 2;
    } catch (const std::exception &e) {
        std::cerr << e.what() << "\n";
        // A job ended by Ctrl+C says so in its exit code too.
        return g_stopRequested ? kExitInterrupted : 1;
    }
}
