// check-catalogue: the faults of the device descriptions, before a device meets them.
#include "model/catalogue_check.h"
#include "model/model.h"
#include "tools/cli/commands.h"

#include <iostream>

int CmdCheckCatalogue(const TArgs &args)
{
    if (args.Positional().size() > 1)
        throw std::invalid_argument("check-catalogue takes at most one folder");
    const std::filesystem::path dir =
        args.Positional().empty() ? CatalogueDir(args) : PathFromUtf8(args.Positional()[0]);
    const std::vector<TFinding> findings = CheckCatalogue(dir);
    for (const TFinding &finding : findings)
        std::cout << finding.Line() << "\n";
    if (findings.empty())
        std::cout << kMsgCatalogueClean << "\n";
    return findings.empty() ? 0 : 1;
}
