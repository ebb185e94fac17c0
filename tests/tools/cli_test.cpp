// configurator-cli as a program: the file commands and check-catalogue on the
// sample catalogue, the device commands against the simulated sample device.
#include "tests/tools/device_fixture.h"
#include "tests/tools/process.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <thread>

using namespace std::chrono_literals;

namespace {

const std::string kCatalogue = CATALOGUE_DIR;
const std::string kSample = kCatalogue + "/samples/transmitter-binary.cfg";
const std::string kAlteredIp = "Предупреждение: Каналы связи / IP-адрес сервера: часть адреса «300» должна быть числом "
                               "от 0 до 255.\nНичего не записано: есть значения, которые будут записаны иначе ";

// The program running this command with the sample catalogue.
std::vector<std::string> Argv(const std::string &command, const std::vector<std::string> &args)
{
    std::vector<std::string> argv = {CLI_EXE, command, "--catalogue", kCatalogue};
    argv.insert(argv.end(), args.begin(), args.end());
    return argv;
}

TRunResult Cli(const std::string &command, const std::vector<std::string> &args)
{
    return RunProgram(Argv(command, args));
}

// The sample device holding another configuration than the sample's.
class CliTest : public ::testing::Test, protected TServedDevice {
protected:
    void SetUp() override
    {
        Serve({.password = PasswordOfDigits(kSamplePassword), .blocks = oldImages});
        // The programs record into a history of this test's own.
        ::setenv("XDG_DATA_HOME", (dir.Path() / "data").c_str(), 1);
    }

    // The served device's port and a password before these arguments.
    std::vector<std::string> Port(std::vector<std::string> args, const std::string &password = kSamplePassword) const
    {
        args.insert(args.begin(), {"--port", server->PortPath(), "--password", password});
        return args;
    }

    TTempDir dir;
    const std::string out = dir.File("out"); // what no failing command may leave behind
    // A backup's name as the output gives it, from its first '/'.
    const std::string backup = dir.File("backups") + "/12345678-########-######.cfg";
    std::vector<Bytes> oldImages = SampleImages("transmitter-binary.cfg", {"object_number=4321"});
};

} // namespace

TEST_F(CliTest, EncodedImagesDecodeToTheSameSettingsFileAndShowAsTheGrid)
{
    ASSERT_EQ(Cli("encode", {kSample, dir.File("images")}).exitCode, 0);
    const std::string block = dir.File("images/block");
    Cli("decode", {"--hw", "5", "--sw", "300", "-o", dir.File("back.cfg"), block + "0.bin", block + "1.bin",
                   block + "2.bin", block + "3.bin", block + "4.bin"});
    EXPECT_TRUE(dir.Read("back.cfg") == ReadFile(kSample)); // byte for byte
    const std::string shown = Cli("show", {dir.File("back.cfg")}).output;
    EXPECT_EQ(shown.rfind("HW: 5\nSW: 300\nОписание: transmitter-binary.xml\n\nОбщие параметры\n", 0), 0u);
    for (const char *line : {"  Номер объекта = 1234\n", "    Зона №4 [отключено]\n"})
        EXPECT_NE(shown.find(line), std::string::npos) << line;
}

TEST_F(CliTest, EveryCommandAnswersWithItsMessageAndExitCode)
{
    const auto edited = [&](const char *name, const std::string &from, const std::string &to) {
        std::string text = ReadFile(kSample);
        return dir.Write(name, text.replace(text.find(from), from.size(), to));
    };
    const std::string altered = edited("altered.cfg", "192.168.001.020", "192.168.001.300");
    const std::string changed = edited("changed.cfg", "<value>1234</value>", "<value>77</value>");
    dir.Write("mine.xml", R"(<devices><device hw="5" sw_low="350"><block>
      <item name="p" type="phone" size="6"/></block></device></devices>)");
    const std::string port = server->PortPath();
    const struct {
        const char *name, *command;
        std::vector<std::string> args;
        int exitCode;
        std::string output;
        bool prefix = false;     // the output only begins so
        std::uint16_t sw = 300; // of the device
    } rows[] = {
        {"usage", "--help", {}, 0, "Usage: configurator-cli COMMAND [OPTIONS]\n", true},
        {"an unknown command", "frobnicate", {}, 2, "configurator-cli: unknown command frobnicate\n", true},
        {"altered values", "encode", {altered, dir.File("loose")}, 0, kAlteredIp.substr(0, kAlteredIp.find('\n') + 1)},
        {"altered values under --strict", "encode", {"--strict", altered, out}, 1, kAlteredIp + "(--strict).\n"},
        {"the catalogue in use", "check-catalogue", {}, 0, "Ошибок в описаниях не найдено.\n"},
        {"a faulty catalogue", "check-catalogue", {dir.Path().string()}, 1,
         "mine.xml: устройство hw=5 sw=350..—: параметр \"p\": поле телефона должно занимать 8 байт, а не 6\n"},
        {"two catalogues", "check-catalogue", {"a", "b"}, 2, "configurator-cli: check-catalogue takes at most", true},
        {"identify without a port", "identify", {}, 2, "configurator-cli: identify needs --port\n", true},
        {"identify without a device", "identify", {"--port", dir.File("no-port")}, 1,
         "Нет связи с устройством\n" + SystemErrorText(ENOENT) + "\n"},
        {"a device of no description", "identify", {"--port", port}, 0,
         "SN: 12345678\nSW: 400\nHW: 5\nChunk: 64\nНе найдено описание устройства.\n", false, 400},
        {"read without a device", "read", {"--port", dir.File("no-port"), "-o", out}, 1,
         "Нет связи с устройством: " + SystemErrorText(ENOENT) + "\n"},
        {"a wrong password", "write", Port({"--backup", out, kSample}, "1111"), 1, "Введен не верный пароль\n"},
        // Nothing is read for a backup of a device the settings do not fit.
        {"another device", "write", Port({"--backup", out, kSample}), 1, std::string(kMsgIncompatible) + "\n", false,
         400},
        {"the same files", "diff", {kSample, kSample}, 0, "Настройки совпадают.\n"},
        // A device given as a port is read as "read" does, in the order given.
        {"the device first", "diff", {"--password", "2468", "--port", port, changed}, 1,
         "Общие параметры / Номер объекта: 4321 → 77\n"},
        {"the device second", "diff", {changed, "--password=2468", "--port=" + port}, 1,
         "Общие параметры / Номер объекта: 77 → 4321\n"},
        {"a device refusing", "diff", {"--password", "1111", "--port", port, kSample}, 2, "Введен не верный пароль\n"},
        {"one side", "diff", {kSample}, 2, "configurator-cli: diff needs two sides", true},
        {"deploy without a port", "deploy", {kSample}, 2, "configurator-cli: deploy needs --port\n", true},
        {"deploy of a bare name", "deploy", Port({"--set", "object_number", kSample}), 2,
         "configurator-cli: Параметр задаётся как ИМЯ=ЗНАЧЕНИЕ: \"object_number\".\n", true},
        // Nobody watches a production line value by value: values the devices would keep otherwise stop it.
        {"deploy of altered values", "deploy", Port({"--set", "server_ip=10.0.0.300", "--max-devices", "1", kSample}),
         1, kAlteredIp + "(--allow-altered разрешает запись).\n"},
        {"deploy of an unknown parameter", "deploy", Port({"--set", "nosuch=1", "--max-devices", "1", kSample}), 0,
         "Ожидание устройства...\n12345678: код устройства 5, версия 300\n"
         "12345678: ошибка: Параметр \"nosuch\" не найден.\n\aОбработано устройств: 1\n"},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.name);
        device->SetIdentity(5, row.sw);
        const TRunResult result = Cli(row.command, row.args);
        EXPECT_EQ(result.exitCode, row.exitCode) << result.output;
        EXPECT_EQ(row.prefix ? result.output.substr(0, row.output.size()) : result.output, row.output);
        EXPECT_FALSE(std::filesystem::exists(out));
    }
    EXPECT_EQ(device->CommandCount(cmdWriteBlock), 0);
}

TEST_F(CliTest, ReadsBackupsAndWritesGoIntoTheHistoryUnlessTold)
{
    EXPECT_EQ(Cli("read", Port({"-o", dir.File("device.cfg")})).output, "");
    EXPECT_EQ(EncodeBlocks(*LoadSettingsFile(dir.File("device.cfg"), kCatalogue)), oldImages);

    const std::string written = Cli("write", Port({"--backup", dir.File("backups"), "--verify", kSample})).output;
    EXPECT_TRUE(MatchesPattern(written, "Копия настроек: " + backup + "\nНастройки записаны и проверены\n")) << written;
    EXPECT_EQ(EncodeBlocks(*LoadSettingsFile(written.substr(written.find('/'), backup.size()), kCatalogue)), oldImages);
    EXPECT_EQ(device->Blocks(), SampleImages("transmitter-binary.cfg"));

    device->ResetCounts();
    EXPECT_EQ(Cli("write", Port({"--no-history", kSample})).output, "Настройки записаны\n");
    EXPECT_EQ(device->CommandCount(cmdReadBlock), 0); // neither a backup nor a verification
    const std::string versions = RunProgram({CLI_EXE, "history", "list", "12345678"}).output;
    EXPECT_EQ(std::count(versions.begin(), versions.end(), '\n'), 3); // the header, the read and the first write
    // What the history keeps is the settings file the device now holds.
    ASSERT_EQ(RunProgram({CLI_EXE, "history", "export", "12345678", "", "-o", dir.File("kept.cfg")}).exitCode, 0);
    EXPECT_TRUE(dir.Read("kept.cfg") == ReadFile(kSample));
}

TEST_F(CliTest, DeployServesTheDeviceItStartedOnAfterAStopSignalAndLogsIt)
{
    TChildProcess deploy(Argv("deploy", Port({"--set", "object_number=77", "--set", "zone_type[3]=2", "--log",
                                              dir.File("log.csv"), "--backup", dir.File("backups"), kSample})),
                         true);
    EXPECT_EQ(deploy.ReadLine(10s), "Ожидание устройства...");
    EXPECT_EQ(deploy.ReadLine(10s), "12345678: код устройства 5, версия 300");
    deploy.Signal(SIGTERM);
    const std::string rest = deploy.ReadToEnd(30s);
    EXPECT_EQ(deploy.Wait(10s), 0);
    const std::string done = "\n12345678: успех: Настройки записаны и проверены\n\aОбработано устройств: 1\n";
    EXPECT_TRUE(MatchesPattern(rest, "12345678: копия настроек: " + backup + done)) << rest;
    EXPECT_EQ(EncodeBlocks(*LoadSettingsFile(rest.substr(rest.find('/'), backup.size()), kCatalogue)), oldImages);
    EXPECT_EQ(device->Blocks(), SampleImages("transmitter-binary.cfg", {"object_number=77", "zone_type[3]=2"}));
    EXPECT_EQ(LogRecords(dir.Read("log.csv")),
              std::vector<std::string>{"12345678;5;300;успех;Настройки записаны и проверены"});
}

TEST_F(CliTest, CtrlCEndsAWriteAtTheNextRequestAndSaysWhatTheDeviceHolds)
{
    // The device stops answering after the first block written.
    std::atomic<int> writes{0};
    server->SetFaultScript([&](const TExchangeInfo &info) {
        return info.command == cmdWriteBlock && ++writes > 1 ? TFault::Drop : TFault::None;
    });
    TChildProcess write(Argv("write", Port({kSample})), true);
    for (int i = 0; i < 1000 && writes <= 1; ++i)
        std::this_thread::sleep_for(10ms);
    ASSERT_GT(writes, 1);
    write.Signal(SIGINT);
    EXPECT_EQ(write.ReadToEnd(10s), std::string(kMsgWriteInterrupted) + "\n");
    EXPECT_EQ(write.Wait(1s), 130);
}
