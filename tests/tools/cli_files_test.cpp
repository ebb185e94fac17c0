// configurator-cli's file commands against the sample catalogue.
#include "tests/model/catalogue_fixture.h"
#include "tests/tools/process.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>

namespace {

const std::string kCatalogue = CATALOGUE_DIR;
const std::string kSample = kCatalogue + "/samples/transmitter-binary.cfg";

TRunResult cli(std::vector<std::string> args)
{
    args.insert(args.begin(), CLI_EXE);
    return RunProgram(args);
}

} // namespace

TEST(CliFiles, EncodeThenDecodeGivesTheSameSettings)
{
    TTempDir dir;
    ASSERT_EQ(cli({"encode", "--catalogue", kCatalogue, kSample, dir.File("images")}).exitCode, 0);
    std::vector<std::string> decode = {"decode", "--catalogue", kCatalogue, "--hw", "5", "--sw", "300", "-o",
                                       dir.File("back.cfg")};
    for (int block = 0; block < 5; ++block)
        decode.push_back(dir.File("images/block" + std::to_string(block) + ".bin"));
    const TRunResult decoded = cli(decode);
    ASSERT_EQ(decoded.exitCode, 0) << decoded.output;
    std::ifstream sample(kSample, std::ios::binary);
    EXPECT_TRUE(dir.Read("back.cfg") == std::string(std::istreambuf_iterator<char>(sample), {})); // byte for byte
    const TRunResult original = cli({"show", "--catalogue", kCatalogue, kSample});
    const TRunResult back = cli({"show", "--catalogue", kCatalogue, dir.File("back.cfg")});
    EXPECT_EQ(original.exitCode, 0);
    EXPECT_EQ(back.output, original.output);
}

TEST(CliFiles, ShowPrintsTheTreeAsTheGridShowsIt)
{
    const TRunResult shown = cli({"show", "--catalogue", kCatalogue, kSample});
    ASSERT_EQ(shown.exitCode, 0) << shown.output;
    for (const char *line : {"HW: 5\n", "SW: 300\n", "Описание: transmitter-binary.xml\n", "\nОбщие параметры\n",
                             "  Номер объекта = 1234\n", "  Режим работы = Охрана\n", "  IP-адрес сервера = 192.168.001.020\n",
                             "    Зона №4 [отключено]\n", "      Код ключа = 01A2FF001234\n"})
        EXPECT_NE(shown.output.find(line), std::string::npos) << line;
}

TEST(CliFiles, BadFilesGiveTheirMessages)
{
    TTempDir dir;
    const struct {
        const char *what;
        std::string content;
        std::string message;
    } cases[] = {
        {"not settings", "<settings hw=\"5\" sw=\"300\"/>", "Файл не содержит настроек устройства.\n"},
        {"unknown device", "<config hw=\"99\" sw=\"1\"/>", "Не найдено описание устройства. (код устройства 99).\n"},
        {"not xml", "garbage", "Ошибка загрузки файла " + dir.File("bad.cfg") + "\r\nСтрока 1: "},
        {"empty", "", "Ошибка загрузки файла " + dir.File("bad.cfg") + "\r\nСтрока "},
    };
    for (const auto &c : cases) {
        dir.Write("bad.cfg", c.content);
        const TRunResult result = cli({"show", "--catalogue", kCatalogue, dir.File("bad.cfg")});
        EXPECT_EQ(result.exitCode, 1) << c.what;
        EXPECT_EQ(result.output.rfind(c.message, 0), 0u) << c.what << ": " << result.output;
    }
}

TEST(CliFiles, DecodeChecksTheImageSizes)
{
    TTempDir dir;
    std::vector<std::string> decode = {"decode", "--catalogue", kCatalogue, "--hw", "5", "--sw", "300", "-o",
                                       dir.File("out.cfg")};
    for (int block = 0; block < 5; ++block)
        decode.push_back(dir.Write("b" + std::to_string(block), std::string(block == 0 ? 31 : 1, '\0')));
    const TRunResult result = cli(decode);
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_EQ(result.output, "error: 31 bytes read, 32 expected\n");
    EXPECT_FALSE(std::filesystem::exists(dir.Path() / "out.cfg"));
}
