// configurator-cli read and write against the simulated sample device.
#include "app/workflow.h"
#include "tests/model/catalogue_fixture.h"
#include "tests/tools/process.h"
#include "tools/simulator/pty_server.h"

#include <gtest/gtest.h>

namespace {

const std::string kCatalogue = CATALOGUE_DIR;
const std::string kSample = kCatalogue + "/samples/transmitter-binary.cfg";

class CliDeviceTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        RegisterConfigModels();
        images = EncodeBlocks(*LoadSettingsFile(kSample, kCatalogue));
        TDeviceConfig config;
        config.blocks = images;
        config.password = PasswordOfDigits("2468");
        device = std::make_unique<TSimulatedDevice>(config);
        server = std::make_unique<TPtyServer>(*device);
        ASSERT_TRUE(server->Start());
    }

    TRunResult cli(const std::string &command, const std::vector<std::string> &args)
    {
        std::vector<std::string> argv = {CLI_EXE, command, "--catalogue", kCatalogue, "--port", server->PortPath()};
        argv.insert(argv.end(), args.begin(), args.end());
        return RunProgram(argv);
    }

    TTempDir dir;
    std::vector<Bytes> images;
    std::unique_ptr<TSimulatedDevice> device;
    std::unique_ptr<TPtyServer> server;
};

} // namespace

TEST_F(CliDeviceTest, ReadGivesTheSettingsFileOfTheDevice)
{
    const TRunResult result = cli("read", {"--password", "2468", "-o", dir.File("device.cfg")});
    ASSERT_EQ(result.exitCode, 0) << result.output;
    EXPECT_EQ(result.output, "");
    TTempDir expected;
    LoadSettingsFile(kSample, kCatalogue)->SaveToFile(expected.File("sample.cfg"));
    EXPECT_TRUE(dir.Read("device.cfg") == expected.Read("sample.cfg"));
}

TEST_F(CliDeviceTest, WriteSendsTheSettingsFile)
{
    device->SetBlocks({Bytes(32), Bytes(40), Bytes(27), Bytes(50), Bytes(144)});
    const TRunResult result = cli("write", {"--password", "2468", kSample});
    ASSERT_EQ(result.exitCode, 0) << result.output;
    EXPECT_EQ(result.output, "Настройки записаны\n");
    EXPECT_EQ(device->Blocks(), images);
}

TEST_F(CliDeviceTest, FailuresPrintTheWindowsMessages)
{
    EXPECT_EQ(cli("read", {"--password", "1111", "-o", dir.File("x.cfg")}).output, "Введен не верный пароль\n");
    EXPECT_FALSE(std::filesystem::exists(dir.Path() / "x.cfg"));
    device->SetIdentity(6, 300);
    const TRunResult incompatible = cli("write", {"--password", "2468", kSample});
    EXPECT_EQ(incompatible.exitCode, 1);
    EXPECT_EQ(incompatible.output, "Версия устройства не совпадает с версией настроек.\n");
    const TRunResult absent =
        RunProgram({CLI_EXE, "read", "--catalogue", kCatalogue, "--port", dir.File("no-port"), "-o", dir.File("x.cfg")});
    EXPECT_EQ(absent.exitCode, 1);
    EXPECT_EQ(absent.output, "Устройство не подключено\n");
}
