// configurator-cli: the configurator's jobs from a terminal or a script.
#include "app/workflow.h"
#include "link/trace.h"
#include "tools/cli/commands.h"

#include <iostream>

namespace {

const char kHelp[] = R"(Usage: configurator-cli COMMAND [OPTIONS]

Commands:
  identify --port P
      show the device connected to port P: serial number, software version,
      hardware code and chunk size
  read --port P [--password DIGITS] -o FILE.cfg
      read the configuration of the device on port P into a settings file
  write --port P [--password DIGITS] FILE.cfg
      write a settings file into the device on port P
  show FILE.cfg
      print a settings file as the parameter grid shows it
  decode --hw H --sw S -o FILE.cfg IMAGE...
      turn the block images of a device (one file per block, in block order)
      into the settings file a read of that device gives
  encode FILE.cfg DIR
      write the block images of a settings file into DIR (block0.bin, ...;
      block0.xml, ... for XML devices)

Options:
  --catalogue DIR     where the device descriptions (*.xml) are; by default
                      the folder of this program
  --trace             write the link's exchanges to standard error
  --help              show this text

A port name is a device path (/dev/ttyUSB0) or a name under /dev (ttyUSB0);
on Windows a COM port name (COM3).
)";

int run(int argc, char **argv)
{
    const std::string command = argc > 1 ? argv[1] : "--help";
    if (command == "--help" || command == "help" || command == "-h") {
        std::cout << kHelp;
        return 0;
    }
    const TArgs args(argc, argv, 2, {{"port", "catalogue", "hw", "sw", "output", "password"}, {"trace", "help"}});
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
        return 1;
    }
}
