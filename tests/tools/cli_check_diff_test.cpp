// configurator-cli check-catalogue, identify's description line and diff, as programs.
#include "app/workflow.h"
#include "tests/model/catalogue_fixture.h"
#include "tests/tools/process.h"
#include "tools/simulator/pty_server.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>

namespace {

const std::string kCatalogue = CATALOGUE_DIR;
const std::string kBinarySample = kCatalogue + "/samples/transmitter-binary.cfg";
const std::string kXmlSample = kCatalogue + "/samples/transmitter-xml.cfg";

std::string readFile(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

TRunResult cli(std::vector<std::string> args)
{
    args.insert(args.begin(), CLI_EXE);
    return RunProgram(args);
}

class CliDeviceCommandTest : public ::testing::Test {
protected:
    void Start(std::uint16_t hw, std::uint16_t sw, std::vector<Bytes> blocks = {})
    {
        TDeviceConfig config;
        config.hardwareCode = hw;
        config.softwareVersion = sw;
        config.password = PasswordOfDigits("2468");
        config.blocks = std::move(blocks);
        device = std::make_unique<TSimulatedDevice>(config);
        server = std::make_unique<TPtyServer>(*device);
        ASSERT_TRUE(server->Start());
    }

    // The binary sample with object number 77 instead of 1234.
    std::string Changed()
    {
        std::string text = readFile(kBinarySample);
        text.replace(text.find("<value>1234</value>"), std::string("<value>1234</value>").size(), "<value>77</value>");
        return dir.Write("changed.cfg", text);
    }

    TTempDir dir;
    std::unique_ptr<TSimulatedDevice> device;
    std::unique_ptr<TPtyServer> server;
};

} // namespace

TEST(CliCheckCatalogue, TheSampleCatalogueIsClean)
{
    const TRunResult named = cli({"check-catalogue", kCatalogue});
    EXPECT_EQ(named.exitCode, 0);
    EXPECT_EQ(named.output, "Ошибок в описаниях не найдено.\n");
    // Without a folder the catalogue the program would use is checked.
    const TRunResult fallback = cli({"check-catalogue", "--catalogue", kCatalogue});
    EXPECT_EQ(fallback.exitCode, 0);
    EXPECT_EQ(fallback.output, named.output);
}

TEST(CliCheckCatalogue, EveryFaultIsALineAndTheExitCodeIsOne)
{
    TTempDir dir;
    dir.Write("mine.xml", R"(<devices>
      <device hw="5" sw_low="350"><block><item name="p" type="phone" size="6"/></block></device>
    </devices>)");
    std::filesystem::copy_file(kCatalogue + "/transmitter-binary.xml", dir.Path() / "transmitter-binary.xml");
    const TRunResult result = cli({"check-catalogue", dir.Path().string()});
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_EQ(result.output, "mine.xml: устройство hw=5 sw=350..—: параметр \"p\": поле телефона должно занимать 8 "
                             "байт, а не 6\n"
                             "transmitter-binary.xml: устройство hw=5 sw=300..399: версии 350..399 уже описаны в "
                             "mine.xml (устройство hw=5 sw=350..—): выбирается то описание\n");
    EXPECT_EQ(cli({"check-catalogue", "a", "b"}).exitCode, 2);
}

TEST_F(CliDeviceCommandTest, IdentifyNamesTheDescriptionTheCatalogueGives)
{
    Start(5, 300);
    EXPECT_EQ(cli({"identify", "--catalogue", kCatalogue, "--port", server->PortPath()}).output,
              "SN: 12345678\nSW: 300\nHW: 5\nChunk: 64\n"
              "Описание: transmitter-binary.xml (hw=5 sw_low=300 sw_high=399 format=—)\n");
    device->SetIdentity(7, 150);
    EXPECT_EQ(cli({"identify", "--catalogue", kCatalogue, "--port", server->PortPath()}).output,
              "SN: 12345678\nSW: 150\nHW: 7\nChunk: 64\n"
              "Описание: transmitter-xml.xml (hw=7 sw_low=100 sw_high=— format=xml)\n");
    device->SetIdentity(5, 400);
    const TRunResult none = cli({"identify", "--catalogue", kCatalogue, "--port", server->PortPath()});
    EXPECT_EQ(none.exitCode, 0);
    EXPECT_EQ(none.output, "SN: 12345678\nSW: 400\nHW: 5\nChunk: 64\nНе найдено описание устройства.\n");
}

TEST_F(CliDeviceCommandTest, DiffOfSettingsFiles)
{
    const TRunResult same = cli({"diff", "--catalogue", kCatalogue, kBinarySample, kBinarySample});
    EXPECT_EQ(same.exitCode, 0);
    EXPECT_EQ(same.output, "Настройки совпадают.\n");

    const std::string changed = Changed();
    const TRunResult differs = cli({"diff", "--catalogue", kCatalogue, kBinarySample, changed});
    EXPECT_EQ(differs.exitCode, 1);
    EXPECT_EQ(differs.output, "Общие параметры / Номер объекта: 1234 → 77\n");

    const TRunResult refused = cli({"diff", "--catalogue", kCatalogue, kBinarySample, kXmlSample});
    EXPECT_EQ(refused.exitCode, 2);
    EXPECT_EQ(refused.output, "Версия устройства не совпадает с версией настроек.\n");
    EXPECT_EQ(cli({"diff", "--catalogue", kCatalogue, kBinarySample}).exitCode, 2);
}

TEST_F(CliDeviceCommandTest, DiffReadsADeviceGivenAsAPort)
{
    RegisterConfigModels();
    Start(5, 300, EncodeBlocks(*LoadSettingsFile(kBinarySample, kCatalogue)));
    const std::string changed = Changed();
    const TRunResult deviceFirst =
        cli({"diff", "--catalogue", kCatalogue, "--password", "2468", "--port", server->PortPath(), changed});
    EXPECT_EQ(deviceFirst.exitCode, 1) << deviceFirst.output;
    EXPECT_EQ(deviceFirst.output, "Общие параметры / Номер объекта: 1234 → 77\n");
    const TRunResult fileFirst =
        cli({"diff", "--catalogue", kCatalogue, changed, "--password=2468", "--port=" + server->PortPath()});
    EXPECT_EQ(fileFirst.output, "Общие параметры / Номер объекта: 77 → 1234\n");
    const TRunResult same =
        cli({"diff", "--catalogue", kCatalogue, "--password", "2468", "--port", server->PortPath(), kBinarySample});
    EXPECT_EQ(same.exitCode, 0);
    EXPECT_EQ(same.output, "Настройки совпадают.\n");
    const TRunResult wrong =
        cli({"diff", "--catalogue", kCatalogue, "--password", "1111", "--port", server->PortPath(), kBinarySample});
    EXPECT_EQ(wrong.exitCode, 2);
    EXPECT_EQ(wrong.output, "Введен не верный пароль\n");
}
