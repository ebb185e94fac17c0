// diff: two configurations of one device, each a settings file or a device on a port.
#include "workflow/compare.h"
#include "model/errors.h"
#include "tools/cli/commands.h"

#include <iostream>

namespace {

// Differences and trouble are told apart as diff(1) does.
constexpr int kExitSame = 0;
constexpr int kExitDifferent = 1;
constexpr int kExitTrouble = 2;

struct TSide {
    bool port = false;
    std::string name; // port name or settings file
};

// The sides in the order given: settings files and --port options, read the way TArgs reads them.
std::vector<TSide> sidesOf(const std::vector<std::string> &arguments)
{
    const TArgs::Options &options = CliOptions();
    std::vector<TSide> sides;
    bool optionsEnded = false;
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        std::string arg = arguments[i];
        if (!optionsEnded && arg == "-o")
            arg = "--output";
        if (optionsEnded || arg.size() < 3 || arg.compare(0, 2, "--") != 0) {
            if (arg == "--")
                optionsEnded = true;
            else
                sides.push_back({false, arg});
            continue;
        }
        const std::size_t eq = arg.find('=');
        const std::string name = arg.substr(2, eq == std::string::npos ? std::string::npos : eq - 2);
        std::string value;
        if (eq != std::string::npos)
            value = arg.substr(eq + 1);
        else if (options.valued.count(name) && i + 1 < arguments.size())
            value = arguments[++i];
        if (name == "port")
            sides.push_back({true, value});
    }
    return sides;
}

TConfigModelPtr load(const TSide &side, const TArgs &args)
{
    return side.port ? ReadFromPort(side.name, args) : LoadSettingsFile(side.name, CatalogueDir(args));
}

} // namespace

int CmdDiff(const TArgs &args, const std::vector<std::string> &arguments)
{
    const std::vector<TSide> sides = sidesOf(arguments);
    if (sides.size() != 2)
        throw std::invalid_argument("diff needs two sides, each a settings file or --port P");
    try {
        const TConfigModelPtr first = load(sides[0], args);
        const TConfigModelPtr second = load(sides[1], args);
        const std::vector<TDifference> differences = CompareConfigurations(*first, *second);
        std::cout << DifferencesText(differences);
        return differences.empty() ? kExitSame : kExitDifferent;
    } catch (const EError &e) {
        std::cerr << e.what() << "\n";
        return kExitTrouble;
    }
}
