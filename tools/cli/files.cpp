// Settings files and block images: show, decode, encode.
#include "workflow/workflow.h"
#include "model/errors.h"
#include "model/model.h"
#include "model/tools.h"
#include "tools/cli/commands.h"

#include <fstream>
#include <iostream>
#include <iterator>

namespace {

Bytes readImage(const std::string &path)
{
    std::ifstream in(PathFromUtf8(path), std::ios::binary);
    if (!in)
        throw std::runtime_error("Не удалось прочитать файл " + path);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::string imageName(IConfigModel &model, int block)
{
    // XML devices exchange texts, binary ones byte images.
    const bool xml = GetAttribute(model.DeviceElement(), "format") == "xml";
    return "block" + std::to_string(block) + (xml ? ".xml" : ".bin");
}

} // namespace

std::filesystem::path CatalogueDir(const TArgs &args)
{
    if (const auto dir = args.Value("catalogue"))
        return PathFromUtf8(*dir);
    return ExecutableDir();
}

int CmdShow(const TArgs &args)
{
    if (args.Positional().size() != 1)
        throw std::invalid_argument("show needs one settings file");
    const TConfigModelPtr model = LoadSettingsFile(args.Positional()[0], CatalogueDir(args));
    TTreeGrid grid;
    ExplainDescriptionFailure(*model, [&] { model->FillTree(grid); });
    std::cout << "HW: " << model->GetHardwareCode() << "\n"
              << "SW: " << model->GetSoftwareVersion() << "\n"
              << "Описание: " << model->DescriptionFile().filename().string() << "\n\n"
              << TreeText(grid);
    return 0;
}

int CmdDecode(const TArgs &args)
{
    const auto hw = args.Value("hw");
    const auto sw = args.Value("sw");
    const auto output = args.Value("output");
    if (!hw || !sw || !output || args.Positional().empty())
        throw std::invalid_argument("decode needs --hw, --sw, -o FILE.cfg and the block images");
    const auto hardwareCode = static_cast<std::uint16_t>(ParseInteger(*hw, 0, 65535, "--hw"));
    const auto softwareVersion = static_cast<std::uint16_t>(ParseInteger(*sw, 0, 65535, "--sw"));
    const TConfigModelPtr model = CreateConfigModel(CatalogueDir(args), hardwareCode, softwareVersion);
    if (!model)
        throw EConfigError("Не найдено описание устройства.");
    std::vector<Bytes> images;
    for (const auto &path : args.Positional())
        images.push_back(readImage(path));
    DecodeBlocks(*model, images);
    model->SaveToFile(*output);
    return 0;
}

void WarnAlteredValues(IConfigModel &model, bool refuse, const char *option)
{
    const std::vector<TValueProblem> problems = ValueProblems(model);
    for (const TValueProblem &problem : problems)
        std::cerr << "Предупреждение: " << problem.Text() << "\n";
    if (refuse && !problems.empty())
        throw EConfigError(Format("Ничего не записано: есть значения, которые будут записаны иначе (%s).", option));
}

int CmdEncode(const TArgs &args)
{
    if (args.Positional().size() != 2)
        throw std::invalid_argument("encode needs a settings file and an output folder");
    const TConfigModelPtr model = LoadSettingsFile(args.Positional()[0], CatalogueDir(args));
    WarnAlteredValues(*model, args.Has("strict"), "--strict");
    const std::vector<Bytes> images = EncodeBlocks(*model);
    const auto dir = PathFromUtf8(args.Positional()[1]);
    std::filesystem::create_directories(dir);
    for (std::size_t block = 0; block < images.size(); ++block)
        WriteFileAtomically(dir / imageName(*model, static_cast<int>(block)), ToString(images[block]));
    return 0;
}
