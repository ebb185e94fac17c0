// Parameters set per run, backups, verified writes and the production line,
// against scripted sessions and the simulated sample devices.
#include "app/compare.h"
#include "app/production.h"
#include "model/errors.h"
#include "tests/model/catalogue_fixture.h"
#include "tools/cli/production_session.h"
#include "tools/simulator/pty_server.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <deque>
#include <fstream>

using namespace std::chrono_literals;

namespace {

const std::filesystem::path kCatalogue = std::filesystem::path(CATALOGUE_DIR);
const char *const kPassword = "2468";

std::string sample(const char *name)
{
    return (kCatalogue / "samples" / name).string();
}

TConfigModelPtr loadSample(const char *name)
{
    RegisterConfigModels();
    return LoadSettingsFile(sample(name), kCatalogue);
}

std::string textAt(IConfigModel &model, const std::string &xpath)
{
    const xml::Node node = model.ValueDocument().AsNode().SelectSingle(xpath);
    return node ? node.Text() : "<none>";
}

std::string overrideError(IConfigModel &model, const std::string &assignment)
{
    try {
        ApplyOverride(model, ParseOverride(assignment));
    } catch (const EError &e) {
        return e.what();
    }
    return "no error";
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

std::string readFile(const std::filesystem::path &path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

} // namespace

// ------------------------------------------------------------------ overrides

TEST(ParseOverride, SplitsAtTheFirstEqualsSign)
{
    const TOverride o = ParseOverride("name[2]=a=b");
    EXPECT_EQ(o.name, "name[2]");
    EXPECT_EQ(o.value, "a=b");
    EXPECT_EQ(ParseOverride("empty=").value, "");
    for (const char *bad : {"novalue", "=5"}) {
        try {
            ParseOverride(bad);
            ADD_FAILURE() << bad;
        } catch (const EConfigError &e) {
            EXPECT_EQ(e.what(), Format("Параметр задаётся как ИМЯ=ЗНАЧЕНИЕ: \"%s\".", bad));
        }
    }
}

TEST(ApplyOverride, BinaryItemsByNameIndexAndStructField)
{
    const TConfigModelPtr model = loadSample("transmitter-binary.cfg");
    for (const char *assignment : {"object_number=77", "zone_type[3]=2", "zone_parts[2,5]=0", "led_mode[4]=2",
                                   "channel[2].frequency=777", "channel[1].slot[2]=9", "object_name=Цех"})
        ApplyOverride(*model, ParseOverride(assignment));
    EXPECT_EQ(textAt(*model, "/config/object_number/value"), "77");
    EXPECT_EQ(textAt(*model, "/config/zone_type/value[@zones='3']"), "2");
    EXPECT_EQ(textAt(*model, "/config/zone_parts/value[@parts='2' and @zones='5']"), "0");
    EXPECT_EQ(textAt(*model, "/config/led_mode/value[@leds='4']"), "2");
    EXPECT_EQ(textAt(*model, "/config/channel/value[@channels='2']/frequency/value"), "777");
    EXPECT_EQ(textAt(*model, "/config/channel/value[@channels='1']/slot/value[@slots='2']"), "9");
    EXPECT_EQ(textAt(*model, "/config/object_name/value"), "Цех");
    // Nothing else changed.
    const TConfigModelPtr original = loadSample("transmitter-binary.cfg");
    EXPECT_EQ(CompareConfigurations(*original, *model).size(), 7u);
}

TEST(ApplyOverride, XmlParametersAndArrayFieldsCountingFromOne)
{
    const TConfigModelPtr model = loadSample("transmitter-xml.cfg");
    ApplyOverride(*model, ParseOverride("Period=600"));
    ApplyOverride(*model, ParseOverride("Phones.Number[2]=+7111"));
    ApplyOverride(*model, ParseOverride("Channels.Level[1]=0"));
    EXPECT_EQ(textAt(*model, "/config/Period"), "600");
    EXPECT_EQ(textAt(*model, "/config/Phones/phone[2]/Number"), "+7111");
    EXPECT_EQ(textAt(*model, "/config/Phones/phone[1]/Number"), "+74951234567");
    EXPECT_EQ(textAt(*model, "/config/Channels/channel[1]/Level"), "0");
}

TEST(ApplyOverride, WhatNamesNoParameterIsRefused)
{
    const TConfigModelPtr binary = loadSample("transmitter-binary.cfg");
    for (const char *name : {"nosuch", "zone_type", "zone_type[9]", "zone_type[1,1]", "zone_parts[1]", "channel[1]",
                             "object_number[1]", "object_number.x", "channel[1].nosuch", "reserved", "zone_type[x]",
                             "zone_type[1", ".object_number"})
        EXPECT_EQ(overrideError(*binary, std::string(name) + "=1"), Format("Параметр \"%s\" не найден.", name));
    const TConfigModelPtr xmlModel = loadSample("transmitter-xml.cfg");
    for (const char *name : {"Phones", "Phones.Number", "Phones.Number[3]", "Phones.Number[0]", "Number[1]",
                             "Period[1]", "Phones.Nosuch[1]", "Phones.Number[1].x"})
        EXPECT_EQ(overrideError(*xmlModel, std::string(name) + "=1"), Format("Параметр \"%s\" не найден.", name));
}

// -------------------------------------------------------------- block images

TEST(FirstDifference, BlockAndOffsetFromZero)
{
    const std::vector<Bytes> images = {{1, 2, 3}, {4, 5}};
    EXPECT_FALSE(FirstDifference(images, images));
    const struct {
        std::vector<Bytes> actual;
        int block;
        int offset;
    } cases[] = {{{{1, 2, 3}, {4, 6}}, 1, 1},
                 {{{9, 2, 3}, {4, 6}}, 0, 0},
                 {{{1, 2}, {4, 5}}, 0, 2},
                 {{{1, 2, 3, 4}, {4, 5}}, 0, 3},
                 {{{1, 2, 3}}, 1, 0},
                 {{{1, 2, 3}, {4, 5}, {}}, 2, 0}};
    for (const auto &c : cases) {
        const auto difference = FirstDifference(images, c.actual);
        ASSERT_TRUE(difference);
        EXPECT_EQ(difference->block, c.block);
        EXPECT_EQ(difference->offset, c.offset);
    }
    // An empty extra block is still a block the other side lacks.
    EXPECT_TRUE(FirstDifference({{}}, {}));
}

// ------------------------------------------------------------------------ log

TEST(ProductionLog, OneCsvLineAfterTheHeader)
{
    std::tm local{};
    local.tm_year = 2024 - 1900;
    local.tm_mon = 4;
    local.tm_mday = 17;
    local.tm_hour = 14;
    local.tm_min = 3;
    local.tm_sec = 9;
    local.tm_isdst = -1;
    TDeviceOutcome outcome;
    outcome.time = std::chrono::system_clock::from_time_t(std::mktime(&local));
    outcome.serialNumber = 0xABCD;
    outcome.hardwareCode = 5;
    outcome.softwareVersion = 300;
    outcome.success = true;
    outcome.message = kMsgWrittenAndVerified;
    EXPECT_EQ(ProductionLogLine(outcome), "2024-05-17 14:03:09;0000ABCD;5;300;успех;Настройки записаны и проверены");
    outcome.success = false;
    outcome.message = "Строка 1: \"x\"; y\r\nz";
    EXPECT_EQ(ProductionLogLine(outcome), "2024-05-17 14:03:09;0000ABCD;5;300;ошибка;\"Строка 1: \"\"x\"\"; y  z\"");

    TTempDir dir;
    const auto file = dir.Path() / "log.csv";
    AppendProductionLog(file, outcome);
    AppendProductionLog(file, outcome);
    const std::string line = ProductionLogLine(outcome) + "\n";
    EXPECT_EQ(readFile(file), std::string(kProductionLogHeader) + "\n" + line + line);
}

// --------------------------------------------------- the line, scripted

namespace {

// Reports as scripted; the link answers nothing. Stops the line when the script ends.
class TScriptedSession : public IDeviceSession, public IDeviceLink {
public:
    TScriptedSession(std::deque<std::optional<TDeviceReport>> reports, std::atomic<bool> &stop)
        : m_reports(std::move(reports)), m_stop(stop)
    {
    }

    std::optional<TDeviceReport> NextReport(std::chrono::milliseconds) override
    {
        if (m_reports.empty()) {
            m_stop = true;
            return std::nullopt;
        }
        auto report = m_reports.front();
        m_reports.pop_front();
        return report;
    }
    IDeviceLink &Link() override { return *this; }
    std::uint8_t Request(std::uint8_t, std::int32_t, std::int32_t, Bytes &) override
    {
        ++requests;
        return rsIoError;
    }
    void Pause(std::chrono::milliseconds) override {}

    int requests = 0;

private:
    std::deque<std::optional<TDeviceReport>> m_reports;
    std::atomic<bool> &m_stop;
};

std::optional<TDeviceReport> present(std::uint64_t serial, std::uint16_t hw = 6)
{
    return TDeviceReport{{true, 64, hw, 300}, serial};
}

std::optional<TDeviceReport> absent()
{
    return TDeviceReport{};
}

} // namespace

TEST(RunProduction, EachSerialNumberIsServedOnceAndOnlyWhenNew)
{
    const TConfigModelPtr model = loadSample("transmitter-binary.cfg");
    std::atomic<bool> stop{false};
    // hw 6 does not fit the template, so no device is ever written to.
    TScriptedSession session({std::nullopt, present(0xA), present(0xA), absent(), present(0xA), present(0xB),
                              present(0xA), present(0xB)},
                             stop);
    std::vector<std::string> events;
    TProductionEvents handlers;
    handlers.waiting = [&] { events.push_back("ожидание"); };
    handlers.started = [&](const TDeviceReport &r) { events.push_back("начато " + SerialText(r.serialNumber)); };
    handlers.notice = [&](const std::string &text) { events.push_back(text); };
    handlers.finished = [&](const TDeviceOutcome &o) {
        events.push_back(SerialText(o.serialNumber) + " " + (o.success ? "успех " : "ошибка ") + o.message);
    };
    TProductionOptions options;
    options.catalogueDir = kCatalogue;
    EXPECT_EQ(RunProduction(session, *model, options, stop, handlers), 2);
    const std::string refused = " ошибка Версия устройства не совпадает с версией настроек.";
    EXPECT_EQ(events, (std::vector<std::string>{"ожидание", "начато 0000000A", "0000000A" + refused, "ожидание",
                                                "Устройство 0000000A уже обработано в этом сеансе.",
                                                "начато 0000000B", "0000000B" + refused, "ожидание",
                                                "Устройство 0000000A уже обработано в этом сеансе.",
                                                "Устройство 0000000B уже обработано в этом сеансе."}));
    EXPECT_EQ(session.requests, 0);
}

TEST(RunProduction, StopsAfterTheCurrentDeviceOrTheMaximum)
{
    const TConfigModelPtr model = loadSample("transmitter-binary.cfg");
    std::atomic<bool> stop{false};
    TScriptedSession session({present(1), present(2), present(3)}, stop);
    TProductionEvents handlers;
    handlers.finished = [&](const TDeviceOutcome &) { stop = true; };
    TProductionOptions options;
    options.catalogueDir = kCatalogue;
    EXPECT_EQ(RunProduction(session, *model, options, stop, handlers), 1);

    std::atomic<bool> never{false};
    TScriptedSession more({present(1), present(2), present(3)}, never);
    options.maxDevices = 2;
    EXPECT_EQ(RunProduction(more, *model, options, never, {}), 2);
    EXPECT_FALSE(never);
}

// --------------------------------------------------- against the simulator

namespace {

class ProductionDeviceTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        templateModel = loadSample("transmitter-binary.cfg");
        images = EncodeBlocks(*templateModel);
        // The devices start with another configuration, so a backup shows what was there.
        const TConfigModelPtr old = loadSample("transmitter-binary.cfg");
        ApplyOverride(*old, ParseOverride("object_number=4321"));
        oldImages = EncodeBlocks(*old);
    }

    void Start(std::vector<Bytes> blocks, std::uint16_t hw = 5, std::uint16_t sw = 300)
    {
        TDeviceConfig config;
        config.hardwareCode = hw;
        config.softwareVersion = sw;
        config.serialNumber = 0x1001;
        config.password = PasswordOfDigits(kPassword);
        config.blocks = std::move(blocks);
        device = std::make_unique<TSimulatedDevice>(config);
        server = std::make_unique<TPtyServer>(*device);
        ASSERT_TRUE(server->Start());
        TPortOptions options;
        options.timeouts.readTotal = 300ms;
        options.pollInterval = 50ms;
        session = std::make_unique<TPortSession>(server->PortPath(), CreateSerialPort(), options);
    }

    TDeviceState State() const
    {
        const TDeviceConfig config = device->Config();
        return {true, config.chunkSize, config.hardwareCode, config.softwareVersion};
    }

    std::string VerifyError(IConfigModel &model)
    {
        try {
            VerifyConfiguration(session->Link(), model, State(), kPassword, kCatalogue, nullptr);
        } catch (const EError &e) {
            return e.what();
        }
        return "no error";
    }

    TTempDir dir;
    TConfigModelPtr templateModel;
    std::vector<Bytes> images;
    std::vector<Bytes> oldImages;
    std::unique_ptr<TSimulatedDevice> device;
    std::unique_ptr<TPtyServer> server;
    std::unique_ptr<TPortSession> session;
};

} // namespace

TEST_F(ProductionDeviceTest, AVerifiedWriteOfAnXmlDeviceComparesTheBlockTexts)
{
    const TConfigModelPtr xmlTemplate = loadSample("transmitter-xml.cfg");
    const std::vector<Bytes> texts = EncodeBlocks(*xmlTemplate);
    // Another version of the same description: the block texts name the written one.
    Start({Bytes(), Bytes()}, 7, 150);
    WriteConfiguration(session->Link(), xmlTemplate.get(), State(), kPassword, nullptr);
    EXPECT_EQ(device->Blocks(), texts);
    EXPECT_EQ(VerifyError(*xmlTemplate), "no error");

    const std::string text = ToString(texts[0]);
    const std::size_t digits = text.find(">1234<") + 1;
    server->SetFaultScript([this, text, digits](const TExchangeInfo &info) {
        if (info.command == cmdWriteBlock) {
            std::vector<Bytes> blocks = device->Blocks();
            if (!blocks.empty() && ToString(blocks[0]) == text) {
                blocks[0][digits] = '9';
                device->SetBlocks(blocks);
            }
        }
        return TFault::None;
    });
    WriteConfiguration(session->Link(), xmlTemplate.get(), State(), kPassword, nullptr);
    EXPECT_EQ(VerifyError(*xmlTemplate), Format("Проверка записи: блок 0 отличается со смещения %d.", int(digits)));
}

TEST_F(ProductionDeviceTest, ABackupHoldsWhatTheDeviceHeld)
{
    Start(oldImages);
    const auto backupDir = dir.Path() / "backups";
    const std::filesystem::path file =
        BackupConfiguration(session->Link(), State(), 0x1001, kPassword, kCatalogue, backupDir, nullptr);
    EXPECT_EQ(file.parent_path(), backupDir);
    EXPECT_TRUE(matchesPattern(file.filename().string(), "00001001-########-######.cfg")) << file.filename();
    const TConfigModelPtr saved = LoadSettingsFile(file.string(), kCatalogue);
    EXPECT_EQ(EncodeBlocks(*saved), oldImages);
    // A second backup never replaces the first.
    const std::filesystem::path second =
        BackupConfiguration(session->Link(), State(), 0x1001, kPassword, kCatalogue, backupDir, nullptr);
    EXPECT_NE(second, file);
    EXPECT_TRUE(std::filesystem::exists(file));
    EXPECT_EQ(device->CommandCount(cmdWriteBlock), 0);
}

TEST_F(ProductionDeviceTest, ThreeDevicesOneAfterAnother)
{
    Start(oldImages);
    std::atomic<bool> stop{false};
    TProductionOptions options;
    options.catalogueDir = kCatalogue;
    options.passwordField = kPassword;
    options.overrides = {ParseOverride("object_number=77")};
    options.backupDir = dir.Path() / "backups";
    options.logFile = dir.Path() / "log.csv";
    options.maxDevices = 3;
    options.reportWait = 100ms;

    std::vector<TDeviceOutcome> outcomes;
    std::vector<std::vector<Bytes>> memories;
    std::vector<int> writes;
    TProductionEvents events;
    events.started = [&](const TDeviceReport &) { device->ResetCounts(); };
    events.finished = [&](const TDeviceOutcome &outcome) {
        outcomes.push_back(outcome);
        memories.push_back(device->Blocks());
        writes.push_back(device->CommandCount(cmdWriteBlock));
        // The technician plugs in the next device: one that does not fit, then one that does.
        if (outcomes.size() == 1) {
            device->SetIdentity(6, 300);
            device->SetSerialNumber(0x1002);
        } else if (outcomes.size() == 2) {
            device->SetIdentity(5, 300);
            device->SetSerialNumber(0x1003);
            device->SetBlocks(oldImages);
        }
    };
    EXPECT_EQ(RunProduction(*session, *templateModel, options, stop, events), 3);

    const TConfigModelPtr expected = loadSample("transmitter-binary.cfg");
    ApplyOverride(*expected, ParseOverride("object_number=77"));
    const std::vector<Bytes> written = EncodeBlocks(*expected);
    ASSERT_EQ(outcomes.size(), 3u);
    EXPECT_TRUE(outcomes[0].success) << outcomes[0].message;
    EXPECT_EQ(memories[0], written);
    EXPECT_FALSE(outcomes[1].success);
    EXPECT_EQ(outcomes[1].message, "Версия устройства не совпадает с версией настроек.");
    EXPECT_EQ(writes[1], 0);
    EXPECT_TRUE(outcomes[2].success) << outcomes[2].message;
    EXPECT_EQ(memories[2], written);

    // The backups hold the old configuration: they were made before the writes.
    for (const std::size_t i : {0u, 2u}) {
        ASSERT_FALSE(outcomes[i].backup.empty());
        EXPECT_EQ(outcomes[i].backup.filename().string().substr(0, 9), SerialText(outcomes[i].serialNumber) + "-");
        EXPECT_EQ(EncodeBlocks(*LoadSettingsFile(outcomes[i].backup.string(), kCatalogue)), oldImages);
    }
    EXPECT_TRUE(outcomes[1].backup.empty());
    std::size_t backups = 0;
    for ([[maybe_unused]] const auto &entry : std::filesystem::directory_iterator(*options.backupDir))
        ++backups;
    EXPECT_EQ(backups, 2u);

    const std::string log = readFile(*options.logFile);
    EXPECT_EQ(log.substr(0, log.find('\n')), kProductionLogHeader);
    EXPECT_EQ(logRecords(log), (std::vector<std::string>{
                                   "00001001;5;300;успех;Настройки записаны и проверены",
                                   "00001002;6;300;ошибка;Версия устройства не совпадает с версией настроек.",
                                   "00001003;5;300;успех;Настройки записаны и проверены"}));
    EXPECT_EQ(std::count(log.begin(), log.end(), '\n'), 4);
}

TEST_F(ProductionDeviceTest, AnUnknownParameterFailsTheDeviceBeforeItIsTouched)
{
    Start(oldImages);
    std::atomic<bool> stop{false};
    TProductionOptions options;
    options.catalogueDir = kCatalogue;
    options.passwordField = kPassword;
    options.overrides = {ParseOverride("zone_type[9]=1")};
    options.maxDevices = 1;
    std::vector<TDeviceOutcome> outcomes;
    TProductionEvents events;
    events.started = [&](const TDeviceReport &) { device->ResetCounts(); };
    events.finished = [&](const TDeviceOutcome &outcome) { outcomes.push_back(outcome); };
    EXPECT_EQ(RunProduction(*session, *templateModel, options, stop, events), 1);
    ASSERT_EQ(outcomes.size(), 1u);
    EXPECT_EQ(outcomes[0].message, "Параметр \"zone_type[9]\" не найден.");
    EXPECT_EQ(device->CommandCount(cmdReadBlock) + device->CommandCount(cmdWriteBlock), 0);
    EXPECT_EQ(device->Blocks(), oldImages);
}
