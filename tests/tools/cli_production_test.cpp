// configurator-cli write --verify / --backup and deploy, as programs against the simulator.
#include "app/production.h"
#include "tests/model/catalogue_fixture.h"
#include "tests/tools/process.h"
#include "tools/simulator/pty_server.h"

#include <gtest/gtest.h>

#include <csignal>
#include <fstream>
#include <iterator>

using namespace std::chrono_literals;

namespace {

const std::string kCatalogue = CATALOGUE_DIR;
const std::string kSample = kCatalogue + "/samples/transmitter-binary.cfg";

std::string readFile(const std::filesystem::path &path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// '#' in the pattern stands for one decimal digit; everything else for itself.
bool matchesPattern(const std::string &text, const std::string &pattern)
{
    if (text.size() != pattern.size())
        return false;
    for (std::size_t i = 0; i < text.size(); ++i)
        if (pattern[i] == '#' ? text[i] < '0' || text[i] > '9' : text[i] != pattern[i])
            return false;
    return true;
}

// The lines of a log after its header, each without its time stamp; "?" for a line without one.
std::vector<std::string> logRecords(const std::string &log)
{
    std::vector<std::string> records;
    std::size_t start = log.find('\n');
    while (start != std::string::npos && start + 1 < log.size()) {
        const std::size_t end = log.find('\n', start + 1);
        const std::string line = log.substr(start + 1, end == std::string::npos ? std::string::npos : end - start - 1);
        const std::size_t stamp = std::string("####-##-## ##:##:##;").size();
        records.push_back(line.size() >= stamp && matchesPattern(line.substr(0, stamp), "####-##-## ##:##:##;")
                              ? line.substr(stamp)
                              : "?" + line);
        start = end;
    }
    return records;
}

std::vector<std::filesystem::path> filesIn(const std::filesystem::path &dir)
{
    std::vector<std::filesystem::path> files;
    std::error_code ec;
    for (std::filesystem::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec))
        files.push_back(it->path());
    return files;
}

class CliProductionTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        RegisterConfigModels();
        images = EncodeBlocks(*LoadSettingsFile(kSample, kCatalogue));
        const TConfigModelPtr old = LoadSettingsFile(kSample, kCatalogue);
        old->ValueDocument().AsNode().SelectSingle("/config/object_number/value").SetText("4321");
        oldImages = EncodeBlocks(*old);
        TDeviceConfig config;
        config.blocks = oldImages;
        config.password = PasswordOfDigits("2468");
        device = std::make_unique<TSimulatedDevice>(config);
        server = std::make_unique<TPtyServer>(*device);
        ASSERT_TRUE(server->Start());
    }

    std::vector<std::string> Command(const std::string &command, const std::vector<std::string> &args) const
    {
        std::vector<std::string> argv = {CLI_EXE,       command,   "--catalogue", kCatalogue, "--port",
                                         server->PortPath(), "--password", "2468"};
        argv.insert(argv.end(), args.begin(), args.end());
        return argv;
    }

    TRunResult Cli(const std::string &command, const std::vector<std::string> &args) const
    {
        return RunProgram(Command(command, args));
    }

    TTempDir dir;
    std::vector<Bytes> images;
    std::vector<Bytes> oldImages;
    std::unique_ptr<TSimulatedDevice> device;
    std::unique_ptr<TPtyServer> server;
};

} // namespace

TEST_F(CliProductionTest, AVerifiedWriteSaysSo)
{
    const TRunResult result = Cli("write", {"--verify", kSample});
    EXPECT_EQ(result.exitCode, 0) << result.output;
    EXPECT_EQ(result.output, "Настройки записаны и проверены\n");
    EXPECT_EQ(device->Blocks(), images);
}

TEST_F(CliProductionTest, AVerifiedWriteTheDeviceCorruptsFails)
{
    // The device keeps a wrong high byte of the server port (block 1, byte 5) after every write.
    const auto wrong = static_cast<std::uint8_t>(images[1][5] ^ 0xFF);
    server->SetFaultScript([this, wrong](const TExchangeInfo &info) {
        if (info.command == cmdWriteBlock) {
            std::vector<Bytes> blocks = device->Blocks();
            if (blocks.size() > 1 && blocks[1].size() > 5) {
                blocks[1][5] = wrong;
                device->SetBlocks(blocks);
            }
        }
        return TFault::None;
    });
    const TRunResult result = Cli("write", {"--verify", kSample});
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_EQ(result.output, "Проверка записи: блок 1 отличается со смещения 5.\n");
    // Without --verify the same write passes unnoticed.
    EXPECT_EQ(Cli("write", {kSample}).output, "Настройки записаны\n");
}

TEST_F(CliProductionTest, ABackupIsSavedBeforeTheWrite)
{
    const auto backups = dir.Path() / "backups";
    const TRunResult result = Cli("write", {"--backup", backups.string(), kSample});
    EXPECT_EQ(result.exitCode, 0) << result.output;
    const std::vector<std::filesystem::path> files = filesIn(backups);
    ASSERT_EQ(files.size(), 1u);
    EXPECT_TRUE(matchesPattern(files[0].filename().string(), "12345678-########-######.cfg")) << files[0];
    EXPECT_EQ(result.output, "Копия настроек: " + files[0].string() + "\nНастройки записаны\n");
    EXPECT_EQ(EncodeBlocks(*LoadSettingsFile(files[0].string(), kCatalogue)), oldImages);
    EXPECT_EQ(device->Blocks(), images);
}

TEST_F(CliProductionTest, AFailingBackupStopsTheWrite)
{
    const auto backups = dir.Path() / "backups";
    const std::vector<std::string> wrongPassword = {CLI_EXE,  "write", "--catalogue", kCatalogue, "--port",
                                                    server->PortPath(), "--password",  "1111",    "--backup",
                                                    backups.string(),   kSample};
    const TRunResult refused = RunProgram(wrongPassword);
    EXPECT_EQ(refused.exitCode, 1);
    EXPECT_EQ(refused.output, "Введен не верный пароль\n");
    EXPECT_EQ(device->CommandCount(cmdWriteBlock), 0);
    EXPECT_TRUE(filesIn(backups).empty());

    // A device the settings do not fit is not even read.
    device->SetIdentity(6, 300);
    device->ResetCounts();
    const TRunResult incompatible = Cli("write", {"--backup", backups.string(), kSample});
    EXPECT_EQ(incompatible.exitCode, 1);
    EXPECT_EQ(incompatible.output, "Версия устройства не совпадает с версией настроек.\n");
    EXPECT_EQ(device->CommandCount(cmdReadBlock), 0);
    EXPECT_EQ(device->Blocks(), oldImages);
}

TEST_F(CliProductionTest, DeployServesDevicesUpToTheLimit)
{
    const auto log = dir.Path() / "log.csv";
    const auto backups = dir.Path() / "backups";
    const TRunResult result =
        Cli("deploy", {"--set", "object_number=77", "--set", "zone_type[3]=2", "--log", log.string(), "--backup",
                       backups.string(), "--max-devices", "1", kSample});
    EXPECT_EQ(result.exitCode, 0) << result.output;
    const std::vector<std::filesystem::path> files = filesIn(backups);
    ASSERT_EQ(files.size(), 1u);
    EXPECT_EQ(result.output, "Ожидание устройства...\n"
                             "12345678: код устройства 5, версия 300\n"
                             "12345678: копия настроек: " + files[0].string() + "\n"
                             "12345678: успех: Настройки записаны и проверены\n"
                             "\aОбработано устройств: 1\n");
    const TConfigModelPtr expected = LoadSettingsFile(kSample, kCatalogue);
    ApplyOverride(*expected, ParseOverride("object_number=77"));
    ApplyOverride(*expected, ParseOverride("zone_type[3]=2"));
    EXPECT_EQ(device->Blocks(), EncodeBlocks(*expected));
    EXPECT_EQ(EncodeBlocks(*LoadSettingsFile(files[0].string(), kCatalogue)), oldImages);
    const std::string text = readFile(log);
    EXPECT_EQ(text.substr(0, text.find('\n')), "время;серийный номер;код устройства;версия;результат;сообщение");
    EXPECT_EQ(logRecords(text), std::vector<std::string>{"12345678;5;300;успех;Настройки записаны и проверены"});
}

TEST_F(CliProductionTest, DeployFailsADeviceForAnUnknownParameterAndLogsIt)
{
    const auto log = dir.Path() / "log.csv";
    const TRunResult result =
        Cli("deploy", {"--set", "nosuch=1", "--log", log.string(), "--max-devices", "1", kSample});
    EXPECT_EQ(result.exitCode, 0) << result.output;
    EXPECT_NE(result.output.find("12345678: ошибка: Параметр \"nosuch\" не найден.\n"), std::string::npos)
        << result.output;
    EXPECT_NE(readFile(log).find(";12345678;5;300;ошибка;\"Параметр \"\"nosuch\"\" не найден.\"\n"), std::string::npos);
    EXPECT_EQ(device->CommandCount(cmdWriteBlock), 0);
}

TEST_F(CliProductionTest, DeployRejectsABadCommandLine)
{
    EXPECT_EQ(RunProgram({CLI_EXE, "deploy", kSample}).exitCode, 2);
    const TRunResult badSet = Cli("deploy", {"--set", "object_number", kSample});
    EXPECT_EQ(badSet.exitCode, 2);
    EXPECT_NE(badSet.output.find("Параметр задаётся как ИМЯ=ЗНАЧЕНИЕ: \"object_number\"."), std::string::npos);
    EXPECT_EQ(Cli("deploy", {"--max-devices", "0", kSample}).exitCode, 2);
    const TRunResult noTemplate = Cli("deploy", {dir.File("missing.cfg")});
    EXPECT_EQ(noTemplate.exitCode, 1);
}

TEST_F(CliProductionTest, ControlCFinishesTheCurrentDeviceAndEndsCleanly)
{
    TChildProcess deploy(Command("deploy", {kSample}));
    EXPECT_EQ(deploy.ReadLine(10s), "Ожидание устройства...");
    EXPECT_EQ(deploy.ReadLine(10s), "12345678: код устройства 5, версия 300");
    // Interrupted while the device is being written: it is written all the same.
    deploy.Signal(SIGINT);
    EXPECT_EQ(deploy.ReadLine(30s), "12345678: успех: Настройки записаны и проверены");
    EXPECT_EQ(deploy.ReadLine(10s), "Обработано устройств: 1");
    EXPECT_EQ(deploy.Wait(10s), 0);
    EXPECT_EQ(device->Blocks(), images);
}

TEST_F(CliProductionTest, TerminationWhileWaitingEndsCleanly)
{
    TChildProcess deploy(Command("deploy", {kSample}));
    EXPECT_EQ(deploy.ReadLine(10s), "Ожидание устройства...");
    EXPECT_EQ(deploy.ReadLine(10s), "12345678: код устройства 5, версия 300");
    EXPECT_EQ(deploy.ReadLine(30s), "12345678: успех: Настройки записаны и проверены");
    EXPECT_EQ(deploy.ReadLine(10s), "Ожидание устройства...");
    deploy.Signal(SIGTERM);
    EXPECT_EQ(deploy.ReadLine(10s), "Обработано устройств: 1");
    EXPECT_EQ(deploy.Wait(10s), 0);
}
