// configurator-cli as a program: the file commands and check-catalogue on the
// sample catalogue, the device commands against the simulated sample device.
#include "tests/tools/device_fixture.h"
#include "tests/tools/process.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <thread>

#include <csignal>

using namespace std::chrono_literals;

namespace {

const std::string kCatalogue = CATALOGUE_DIR;
const std::string kSample = kCatalogue + "/samples/transmitter-binary.cfg";
const std::string kXmlSample = kCatalogue + "/samples/transmitter-xml.cfg";

TRunResult cli(std::vector<std::string> args)
{
    args.insert(args.begin(), CLI_EXE);
    return RunProgram(args);
}

std::vector<std::filesystem::path> filesIn(const std::filesystem::path &dir)
{
    std::vector<std::filesystem::path> files;
    std::error_code ec;
    for (std::filesystem::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec))
        files.push_back(it->path());
    return files;
}

} // namespace

// ------------------------------------------------------------ file commands

TEST(CliFiles, EncodedImagesDecodeToTheSameSettingsAndTree)
{
    TTempDir dir;
    ASSERT_EQ(cli({"encode", "--catalogue", kCatalogue, kSample, dir.File("images")}).exitCode, 0);
    std::vector<std::string> decode = {"decode", "--catalogue", kCatalogue, "--hw", "5", "--sw", "300", "-o",
                                       dir.File("back.cfg")};
    for (int block = 0; block < 5; ++block)
        decode.push_back(dir.File("images/block" + std::to_string(block) + ".bin"));
    const TRunResult decoded = cli(decode);
    ASSERT_EQ(decoded.exitCode, 0) << decoded.output;
    EXPECT_TRUE(dir.Read("back.cfg") == ReadFile(kSample)); // byte for byte
    const TRunResult original = cli({"show", "--catalogue", kCatalogue, kSample});
    ASSERT_EQ(original.exitCode, 0) << original.output;
    EXPECT_EQ(cli({"show", "--catalogue", kCatalogue, dir.File("back.cfg")}).output, original.output);
    // show prints the tree as the grid shows it.
    for (const char *line : {"HW: 5\n", "SW: 300\n", "Описание: transmitter-binary.xml\n", "\nОбщие параметры\n",
                             "  Номер объекта = 1234\n", "  Режим работы = Охрана\n", "  IP-адрес сервера = 192.168.001.020\n",
                             "    Зона №4 [отключено]\n", "      Код ключа = 01A2FF001234\n"})
        EXPECT_NE(original.output.find(line), std::string::npos) << line;
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
    // decode checks the image sizes.
    std::vector<std::string> decode = {"decode", "--catalogue", kCatalogue, "--hw", "5", "--sw", "300", "-o",
                                       dir.File("out.cfg")};
    for (int block = 0; block < 5; ++block)
        decode.push_back(dir.Write("b" + std::to_string(block), std::string(block == 0 ? 31 : 1, '\0')));
    const TRunResult result = cli(decode);
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_EQ(result.output, "error: 31 bytes read, 32 expected\n");
    EXPECT_FALSE(std::filesystem::exists(dir.Path() / "out.cfg"));
}

TEST(CliFiles, EncodeWarnsOfValuesWrittenOtherwiseAndRefusesThemUnderStrict)
{
    TTempDir dir;
    std::string text = ReadFile(kSample);
    text.replace(text.find("192.168.001.020"), 15, "192.168.001.300");
    dir.Write("altered.cfg", text);
    const std::string warning =
        "Предупреждение: Каналы связи / IP-адрес сервера: часть адреса «300» должна быть числом от 0 до 255.\n";
    const TRunResult warned = cli({"encode", "--catalogue", kCatalogue, dir.File("altered.cfg"), dir.File("loose")});
    EXPECT_EQ(warned.exitCode, 0) << warned.output;
    EXPECT_EQ(warned.output, warning);
    EXPECT_EQ(filesIn(dir.Path() / "loose").size(), 5u);
    const TRunResult strict =
        cli({"encode", "--strict", "--catalogue", kCatalogue, dir.File("altered.cfg"), dir.File("strict")});
    EXPECT_EQ(strict.exitCode, 1);
    EXPECT_EQ(strict.output,
              warning + "Ничего не записано: есть значения, которые будут записаны иначе (--strict).\n");
    EXPECT_FALSE(std::filesystem::exists(dir.Path() / "strict"));
}

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

// ---------------------------------------------------------- device commands

namespace {

// The sample device holding another configuration than the sample's.
class CliDeviceTest : public ::testing::Test, protected TServedDevice {
protected:
    void SetUp() override
    {
        ServeSample(oldImages);
        // The programs record into a history of this test's own.
        ::setenv("XDG_DATA_HOME", (dir.Path() / "data").c_str(), 1);
    }

    // A device command on the served port, with the catalogue and a password.
    std::vector<std::string> Command(const std::string &command, const std::vector<std::string> &args,
                                     const std::string &password = kSamplePassword) const
    {
        std::vector<std::string> argv = {CLI_EXE,            command,      "--catalogue", kCatalogue,
                                         "--port", server->PortPath(), "--password", password};
        argv.insert(argv.end(), args.begin(), args.end());
        return argv;
    }

    TRunResult Cli(const std::string &command, const std::vector<std::string> &args,
                   const std::string &password = kSamplePassword) const
    {
        return RunProgram(Command(command, args, password));
    }

    TTempDir dir;
    std::vector<Bytes> images = SampleImages("transmitter-binary.cfg");
    std::vector<Bytes> oldImages = SampleImages("transmitter-binary.cfg", {"object_number=4321"});
};

} // namespace

TEST_F(CliDeviceTest, IdentifyNamesTheDescriptionTheCatalogueGives)
{
    const struct {
        std::uint16_t hw, sw;
        const char *output;
    } cases[] = {
        {5, 300, "SN: 12345678\nSW: 300\nHW: 5\nChunk: 64\n"
                 "Описание: transmitter-binary.xml (hw=5 sw_low=300 sw_high=399 format=—)\n"},
        {7, 150, "SN: 12345678\nSW: 150\nHW: 7\nChunk: 64\n"
                 "Описание: transmitter-xml.xml (hw=7 sw_low=100 sw_high=— format=xml)\n"},
        {5, 400, "SN: 12345678\nSW: 400\nHW: 5\nChunk: 64\nНе найдено описание устройства.\n"},
    };
    for (const auto &c : cases) {
        device->SetIdentity(c.hw, c.sw);
        const TRunResult result = Cli("identify", {});
        EXPECT_EQ(result.exitCode, 0);
        EXPECT_EQ(result.output, c.output);
    }
}

TEST_F(CliDeviceTest, ReadGivesTheSettingsFileOfTheDevice)
{
    device->SetBlocks(images);
    const TRunResult result = Cli("read", {"-o", dir.File("device.cfg")});
    ASSERT_EQ(result.exitCode, 0) << result.output;
    EXPECT_EQ(result.output, "");
    LoadSample("transmitter-binary.cfg")->SaveToFile(dir.File("sample.cfg"));
    EXPECT_TRUE(dir.Read("device.cfg") == dir.Read("sample.cfg"));
    // Failures print the window's messages and leave no file.
    EXPECT_EQ(Cli("read", {"-o", dir.File("x.cfg")}, "1111").output, "Введен не верный пароль\n");
    EXPECT_FALSE(std::filesystem::exists(dir.Path() / "x.cfg"));
    const TRunResult absent =
        cli({"read", "--catalogue", kCatalogue, "--port", dir.File("no-port"), "-o", dir.File("x.cfg")});
    EXPECT_EQ(absent.exitCode, 1);
    EXPECT_EQ(absent.output, "Нет связи с устройством: " + SystemErrorText(ENOENT) + "\n");
}

TEST_F(CliDeviceTest, WriteSaysWhatItDidAndVerifiesOnRequest)
{
    const TRunResult verified = Cli("write", {"--verify", kSample});
    EXPECT_EQ(verified.exitCode, 0) << verified.output;
    EXPECT_EQ(verified.output, "Настройки записаны и проверены\n");
    EXPECT_EQ(device->Blocks(), images);

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
    const TRunResult corrupted = Cli("write", {"--verify", kSample});
    EXPECT_EQ(corrupted.exitCode, 1);
    EXPECT_EQ(corrupted.output, "Проверка записи: блок 1 отличается со смещения 5.\n");
    // Without --verify the same write passes unnoticed.
    const TRunResult unverified = Cli("write", {kSample});
    EXPECT_EQ(unverified.exitCode, 0);
    EXPECT_EQ(unverified.output, "Настройки записаны\n");
}

TEST_F(CliDeviceTest, ABackupIsSavedBeforeTheWriteAndAFailingOneStopsIt)
{
    const auto backups = dir.Path() / "backups";
    const TRunResult refused = Cli("write", {"--backup", backups.string(), kSample}, "1111");
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

    device->SetIdentity(5, 300);
    const TRunResult result = Cli("write", {"--backup", backups.string(), kSample});
    EXPECT_EQ(result.exitCode, 0) << result.output;
    const std::vector<std::filesystem::path> files = filesIn(backups);
    ASSERT_EQ(files.size(), 1u);
    EXPECT_TRUE(MatchesPattern(files[0].filename().string(), "12345678-########-######.cfg")) << files[0];
    EXPECT_EQ(result.output, "Копия настроек: " + files[0].string() + "\nНастройки записаны\n");
    EXPECT_EQ(EncodeBlocks(*LoadSettingsFile(files[0].string(), kCatalogue)), oldImages);
    EXPECT_EQ(device->Blocks(), images);
}

TEST_F(CliDeviceTest, DiffComparesSettingsFilesAndDevices)
{
    device->SetBlocks(images);
    std::string text = ReadFile(kSample);
    text.replace(text.find("<value>1234</value>"), std::string("<value>1234</value>").size(), "<value>77</value>");
    const std::string changed = dir.Write("changed.cfg", text);
    const std::string port = server->PortPath();
    const struct {
        std::vector<std::string> sides;
        int exitCode;
        const char *output;
    } cases[] = {
        {{kSample, kSample}, 0, "Настройки совпадают.\n"},
        {{kSample, changed}, 1, "Общие параметры / Номер объекта: 1234 → 77\n"},
        {{kSample, kXmlSample}, 2, "Версия устройства не совпадает с версией настроек.\n"},
        // A device given as a port is read as "read" does, in the order given.
        {{"--password", "2468", "--port", port, changed}, 1, "Общие параметры / Номер объекта: 1234 → 77\n"},
        {{changed, "--password=2468", "--port=" + port}, 1, "Общие параметры / Номер объекта: 77 → 1234\n"},
        {{"--password", "2468", "--port", port, kSample}, 0, "Настройки совпадают.\n"},
        {{"--password", "1111", "--port", port, kSample}, 2, "Введен не верный пароль\n"},
    };
    for (const auto &c : cases) {
        std::vector<std::string> args = {"diff", "--catalogue", kCatalogue};
        args.insert(args.end(), c.sides.begin(), c.sides.end());
        const TRunResult result = cli(args);
        EXPECT_EQ(result.exitCode, c.exitCode) << result.output;
        EXPECT_EQ(result.output, c.output);
    }
    EXPECT_EQ(cli({"diff", "--catalogue", kCatalogue, kSample}).exitCode, 2);
}

TEST_F(CliDeviceTest, DeployServesDevicesUpToTheLimitAndLogsThem)
{
    // A parameter the template lacks fails the device, untouched, in the output and the log.
    const TRunResult failed =
        Cli("deploy", {"--set", "nosuch=1", "--log", dir.File("failed.csv"), "--max-devices", "1", kSample});
    EXPECT_EQ(failed.exitCode, 0) << failed.output;
    EXPECT_NE(failed.output.find("12345678: ошибка: Параметр \"nosuch\" не найден.\n"), std::string::npos)
        << failed.output;
    EXPECT_NE(dir.Read("failed.csv").find(";12345678;5;300;ошибка;\"Параметр \"\"nosuch\"\" не найден.\"\n"),
              std::string::npos);
    EXPECT_EQ(device->CommandCount(cmdWriteBlock), 0);

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
    EXPECT_EQ(device->Blocks(), SampleImages("transmitter-binary.cfg", {"object_number=77", "zone_type[3]=2"}));
    EXPECT_EQ(EncodeBlocks(*LoadSettingsFile(files[0].string(), kCatalogue)), oldImages);
    const std::string logText = ReadFile(log);
    EXPECT_EQ(logText.substr(0, logText.find('\n')), "время;серийный номер;код устройства;версия;результат;сообщение");
    EXPECT_EQ(LogRecords(logText), std::vector<std::string>{"12345678;5;300;успех;Настройки записаны и проверены"});
}

TEST_F(CliDeviceTest, DeployRejectsABadCommandLine)
{
    EXPECT_EQ(cli({"deploy", kSample}).exitCode, 2);
    const TRunResult badSet = Cli("deploy", {"--set", "object_number", kSample});
    EXPECT_EQ(badSet.exitCode, 2);
    EXPECT_NE(badSet.output.find("Параметр задаётся как ИМЯ=ЗНАЧЕНИЕ: \"object_number\"."), std::string::npos);
    EXPECT_EQ(Cli("deploy", {"--max-devices", "0", kSample}).exitCode, 2);
    EXPECT_EQ(Cli("deploy", {dir.File("missing.cfg")}).exitCode, 1);
    // Nobody watches a production line value by value: values the devices would keep otherwise stop it.
    const TRunResult altered = Cli("deploy", {"--set", "server_ip=10.0.0.300", "--max-devices", "1", kSample});
    EXPECT_EQ(altered.exitCode, 1);
    EXPECT_EQ(altered.output, "Предупреждение: Каналы связи / IP-адрес сервера: часть адреса «300» должна быть "
                              "числом от 0 до 255.\nНичего не записано: есть значения, которые будут записаны иначе "
                              "(--allow-altered разрешает запись).\n");
    EXPECT_EQ(device->CommandCount(cmdWriteBlock), 0);
}

TEST_F(CliDeviceTest, StopSignalsLetTheCurrentDeviceFinishAndEndCleanly)
{
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
    // Terminated while waiting for the next device.
    TChildProcess deploy(Command("deploy", {kSample}));
    EXPECT_EQ(deploy.ReadLine(10s), "Ожидание устройства...");
    EXPECT_EQ(deploy.ReadLine(10s), "12345678: код устройства 5, версия 300");
    EXPECT_EQ(deploy.ReadLine(30s), "12345678: успех: Настройки записаны и проверены");
    EXPECT_EQ(deploy.ReadLine(10s), "Ожидание устройства...");
    deploy.Signal(SIGTERM);
    EXPECT_EQ(deploy.ReadLine(10s), "Обработано устройств: 1");
    EXPECT_EQ(deploy.Wait(10s), 0);
}

TEST_F(CliDeviceTest, CtrlCEndsAWriteAtTheNextRequestAndSaysWhatTheDeviceHolds)
{
    const struct {
        std::uint8_t stalled; // the device stops answering this command
        int answered;         // after answering it so often
        const char *message;
    } cases[] = {
        {cmdPassword, 0, kMsgWriteCancelled},
        {cmdWriteBlock, 1, kMsgWriteInterrupted},
    };
    for (const auto &c : cases) {
        std::atomic<int> seen{0};
        server->SetFaultScript([&](const TExchangeInfo &info) {
            return info.command == c.stalled && ++seen > c.answered ? TFault::Drop : TFault::None;
        });
        TChildProcess write(Command("write", {kSample}), true);
        for (int i = 0; i < 1000 && seen <= c.answered; ++i)
            std::this_thread::sleep_for(10ms);
        ASSERT_GT(seen, c.answered);
        write.Signal(SIGINT);
        EXPECT_EQ(write.ReadToEnd(10s), std::string(c.message) + "\n");
        EXPECT_EQ(write.Wait(1s), 130);
        server->SetFaultScript(nullptr);
    }
}

TEST_F(CliDeviceTest, ReadsAndWritesAreRecordedInTheHistory)
{
    const auto versions = [&] {
        return RunProgram({CLI_EXE, "history", "list", "12345678"}).output;
    };
    ASSERT_EQ(Cli("read", {"-o", dir.File("device.cfg")}).exitCode, 0);
    ASSERT_EQ(Cli("read", {"-o", dir.File("again.cfg")}).exitCode, 0); // the same configuration: nothing new
    const std::string afterReads = versions();
    EXPECT_EQ(std::count(afterReads.begin(), afterReads.end(), '\n'), 2) << afterReads; // header and one version
    EXPECT_NE(afterReads.find("Чтение"), std::string::npos);
    ASSERT_EQ(Cli("write", {"--verify", kSample}).exitCode, 0);
    ASSERT_EQ(Cli("write", {kSample}).exitCode, 0); // every write is an event of its own
    const std::string afterWrites = versions();
    EXPECT_EQ(std::count(afterWrites.begin(), afterWrites.end(), '\n'), 4) << afterWrites;
    // What the history keeps is the settings file the device now holds.
    ASSERT_EQ(RunProgram({CLI_EXE, "history", "export", "12345678", "", "-o", dir.File("kept.cfg")}).exitCode, 0);
    LoadSample("transmitter-binary.cfg")->SaveToFile(dir.File("sample.cfg"));
    EXPECT_TRUE(dir.Read("kept.cfg") == dir.Read("sample.cfg"));
    // --no-history leaves it alone.
    ASSERT_EQ(Cli("write", {"--no-history", kSample}).exitCode, 0);
    EXPECT_EQ(versions(), afterWrites);
}
