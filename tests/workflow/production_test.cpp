// Parameters set per run, backups, verified writes and the production line,
// against scripted sessions and the simulated sample devices.
#include "workflow/compare.h"
#include "workflow/production.h"
#include "model/errors.h"
#include "tests/tools/device_fixture.h"
#include "tools/cli/production_session.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <deque>

using namespace std::chrono_literals;

namespace {

std::string textAt(IConfigModel &model, const std::string &xpath)
{
    const xml::Node node = model.ValueDocument().AsNode().SelectSingle(xpath);
    return node ? node.Text() : "<none>";
}

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
    std::deque<std::optional<TDeviceReport>> m_reports;
    std::atomic<bool> &m_stop;
};

std::optional<TDeviceReport> present(std::uint64_t serial, std::uint16_t hw = 6)
{
    return TDeviceReport{{true, 64, hw, 300}, serial};
}

} // namespace

TEST(ApplyOverride, SplitsAtTheFirstEqualsSignSetsTheNamedValueOnlyAndRefusesWhatNamesNoParameter)
{
    const TOverride o = ParseOverride("name[2]=a=b");
    EXPECT_EQ(o.name + " " + o.value, "name[2] a=b");
    EXPECT_EQ(ParseOverride("empty=").value, "");
    for (const char *bad : {"novalue", "=5"})
        EXPECT_EQ(FailureOf([&] { ParseOverride(bad); }),
                  Format("EConfigError: Параметр задаётся как ИМЯ=ЗНАЧЕНИЕ: \"%s\".", bad));

    const TConfigModelPtr binary = LoadSample("transmitter-binary.cfg");
    const TConfigModelPtr xmlModel = LoadSample("transmitter-xml.cfg");
    const struct {
        IConfigModel &model;
        const char *assignment, *xpath, *text;
    } cases[] = {
        // Binary items by name, array index, both indices, mask index, struct field.
        {*binary, "object_number=77", "/config/object_number/value", "77"},
        {*binary, "zone_type[3]=2", "/config/zone_type/value[@zones='3']", "2"},
        {*binary, "zone_parts[2,5]=0", "/config/zone_parts/value[@parts='2' and @zones='5']", "0"},
        {*binary, "led_mode[4]=2", "/config/led_mode/value[@leds='4']", "2"},
        {*binary, "channel[2].frequency=777", "/config/channel/value[@channels='2']/frequency/value", "777"},
        {*binary, "channel[1].slot[2]=9", "/config/channel/value[@channels='1']/slot/value[@slots='2']", "9"},
        {*binary, "object_name=Цех", "/config/object_name/value", "Цех"},
        // XML parameters, and array fields counting from one.
        {*xmlModel, "Period=600", "/config/Period", "600"},
        {*xmlModel, "Phones.Number[2]=+7111", "/config/Phones/phone[2]/Number", "+7111"},
        {*xmlModel, "Channels.Level[1]=0", "/config/Channels/channel[1]/Level", "0"},
    };
    for (const auto &c : cases)
        ApplyOverride(c.model, ParseOverride(c.assignment));
    for (const auto &c : cases)
        EXPECT_EQ(textAt(c.model, c.xpath), c.text) << c.assignment;
    // Nothing else changed.
    EXPECT_EQ(CompareConfigurations(*LoadSample("transmitter-binary.cfg"), *binary).size(), 7u);
    EXPECT_EQ(textAt(*xmlModel, "/config/Phones/phone[1]/Number"), "+74951234567");

    const std::pair<IConfigModel *, std::vector<std::string>> refused[] = {
        {binary.get(), {"nosuch", "zone_type", "zone_type[9]", "zone_type[1,1]", "zone_parts[1]", "channel[1]",
                        "object_number[1]", "object_number.x", "channel[1].nosuch", "reserved", "zone_type[x]",
                        "zone_type[1", ".object_number"}},
        {xmlModel.get(), {"Phones", "Phones.Number", "Phones.Number[3]", "Phones.Number[0]", "Number[1]", "Period[1]",
                          "Phones.Nosuch[1]", "Phones.Number[1].x"}},
    };
    for (const auto &[model, names] : refused)
        for (const std::string &name : names)
            EXPECT_EQ(MessageOf([&] { ApplyOverride(*model, ParseOverride(name + "=1")); }),
                      "Параметр \"" + name + "\" не найден.");
}

TEST(FirstDifference, BlockAndOffsetFromZero)
{
    const std::vector<Bytes> images = {{1, 2, 3}, {4, 5}};
    EXPECT_FALSE(FirstDifference(images, images));
    const struct {
        std::vector<Bytes> expected, actual;
        int block, offset;
    } cases[] = {{images, {{1, 2, 3}, {4, 6}}, 1, 1},
                 {images, {{9, 2, 3}, {4, 6}}, 0, 0},
                 {images, {{1, 2}, {4, 5}}, 0, 2},
                 {images, {{1, 2, 3, 4}, {4, 5}}, 0, 3},
                 {images, {{1, 2, 3}}, 1, 0},
                 {images, {{1, 2, 3}, {4, 5}, {}}, 2, 0},
                 {{{}}, {}, 0, 0}}; // an empty extra block is still a block the other side lacks
    for (const auto &c : cases) {
        const auto difference = FirstDifference(c.expected, c.actual);
        ASSERT_TRUE(difference);
        EXPECT_EQ(std::make_pair(difference->block, difference->offset), std::make_pair(c.block, c.offset));
    }
}

TEST(ProductionLog, OneCsvLineQuotedWhereItHoldsTheSeparatorOrAQuote)
{
    std::tm local{.tm_sec = 9, .tm_min = 3, .tm_hour = 14, .tm_mday = 17, .tm_mon = 4, .tm_year = 2024 - 1900};
    local.tm_isdst = -1;
    TDeviceOutcome outcome;
    outcome.time = std::chrono::system_clock::from_time_t(std::mktime(&local));
    outcome.serialNumber = 0xABCD;
    outcome.hardwareCode = 5;
    outcome.softwareVersion = 300;
    outcome.message = "Строка 1: \"x\"; y\r\nz";
    EXPECT_EQ(ProductionLogLine(outcome), "2024-05-17 14:03:09;0000ABCD;5;300;ошибка;\"Строка 1: \"\"x\"\"; y  z\"");
}

TEST(RunProduction, EachNewSerialNumberIsServedOnceUpToTheMaximum)
{
    const TConfigModelPtr model = LoadSample("transmitter-binary.cfg");
    std::atomic<bool> stop{false};
    // hw 6 does not fit the template; 0xC does, but fails on its parameter before a request goes out.
    TScriptedSession session({std::nullopt, present(0xA), present(0xA), TDeviceReport{}, present(0xA), present(0xB),
                              present(0xA), present(0xB), present(0xC, 5), present(0xD, 5)},
                             stop);
    std::vector<std::string> events;
    TProductionEvents handlers;
    handlers.waiting = [&] { events.push_back("ожидание"); };
    handlers.started = [&](const TDeviceReport &r) { events.push_back("начато " + SerialText(r.serialNumber)); };
    handlers.notice = [&](const std::string &text) { events.push_back(text); };
    handlers.finished = [&](const TDeviceOutcome &o) {
        events.push_back(SerialText(o.serialNumber) + (o.success ? " успех " : " ошибка ") + o.message);
    };
    TProductionOptions options;
    options.catalogueDir = kSampleCatalogue;
    options.overrides = {ParseOverride("zone_type[9]=1")};
    options.maxDevices = 3;
    EXPECT_EQ(RunProduction(session, *model, options, stop, handlers), 3);
    const std::string refused = " ошибка Версия устройства не совпадает с версией настроек.";
    EXPECT_EQ(events, (std::vector<std::string>{
                          "ожидание", "начато 0000000A", "0000000A" + refused, "ожидание",
                          "Устройство 0000000A уже обработано в этом сеансе.", "начато 0000000B", "0000000B" + refused,
                          "ожидание", "Устройство 0000000A уже обработано в этом сеансе.",
                          "Устройство 0000000B уже обработано в этом сеансе.", "начато 0000000C",
                          "0000000C ошибка Параметр \"zone_type[9]\" не найден."}));
    EXPECT_EQ(session.requests, 0);
    EXPECT_FALSE(stop); // the maximum ended the run, not the script
    // Without a maximum the line runs until it is stopped.
    options.maxDevices = 0;
    TScriptedSession once({present(0xA)}, stop);
    EXPECT_EQ(RunProduction(once, *model, options, stop, {}), 1);
}

namespace {

// The devices start with another configuration, so a backup shows what was there.
class ProductionDeviceTest : public ::testing::Test, protected TServedDevice {
protected:
    void Start(std::vector<Bytes> blocks, std::uint16_t hw = 5, std::uint16_t sw = 300)
    {
        Serve({.hardwareCode = hw, .softwareVersion = sw, .serialNumber = 0x1001,
               .password = PasswordOfDigits(kSamplePassword), .blocks = std::move(blocks)});
        TPortOptions options;
        options.timeouts.readTotal = 300ms;
        options.pollInterval = 50ms;
        session = std::make_unique<TPortSession>(server->PortPath(), CreateSerialPort(), options);
    }

    TTempDir dir;
    std::vector<Bytes> oldImages = SampleImages("transmitter-binary.cfg", {"object_number=4321"});
    std::unique_ptr<TPortSession> session;
};

} // namespace

TEST_F(ProductionDeviceTest, AVerifiedWriteOfAnXmlDeviceComparesTheBlockTexts)
{
    const TConfigModelPtr xmlTemplate = LoadSample("transmitter-xml.cfg");
    const std::vector<Bytes> texts = EncodeBlocks(*xmlTemplate);
    // Another version of the same description: the block texts name the written one.
    Start({Bytes(), Bytes()}, 7, 150);
    const auto writeAndVerify = [&] {
        WriteConfiguration(session->Link(), xmlTemplate.get(), State(), kSamplePassword, nullptr);
        return MessageOf([&] {
            VerifyConfiguration(session->Link(), *xmlTemplate, State(), kSamplePassword, kSampleCatalogue, nullptr);
        });
    };
    EXPECT_EQ(writeAndVerify(), "no error");
    EXPECT_EQ(device->Blocks(), texts);

    const std::string text = ToString(texts[0]);
    const std::size_t digits = text.find(">1234<") + 1;
    server->SetFaultScript([this, text, digits](const TExchangeInfo &info) {
        std::vector<Bytes> blocks = device->Blocks();
        if (info.command == cmdWriteBlock && !blocks.empty() && ToString(blocks[0]) == text) {
            blocks[0][digits] = '9';
            device->SetBlocks(blocks);
        }
        return TFault::None;
    });
    EXPECT_EQ(writeAndVerify(), Format("Проверка записи: блок 0 отличается со смещения %d.", int(digits)));
}

TEST_F(ProductionDeviceTest, ThreeDevicesOneAfterAnotherEachBackedUpBeforeItIsWritten)
{
    Start(oldImages);
    TProductionOptions options;
    options.overrides = {ParseOverride("object_number=77")};
    options.backupDir = dir.Path() / "backups";
    options.logFile = dir.Path() / "log.csv";
    options.maxDevices = 3;
    options.reportWait = 100ms;
    options.catalogueDir = kSampleCatalogue;
    options.passwordField = kSamplePassword;

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
        device->SetSerialNumber(0x1001 + std::min<std::size_t>(outcomes.size(), 2)); // the last stays
        device->SetIdentity(outcomes.size() == 1 ? 6 : 5, 300);
        device->SetBlocks(oldImages);
    };
    std::atomic<bool> stop{false};
    EXPECT_EQ(RunProduction(*session, *LoadSample("transmitter-binary.cfg"), options, stop, events), 3);

    const std::vector<Bytes> written = SampleImages("transmitter-binary.cfg", {"object_number=77"});
    ASSERT_EQ(outcomes.size(), 3u);
    EXPECT_EQ(memories, (std::vector<std::vector<Bytes>>{written, oldImages, written}));
    EXPECT_EQ(writes[1], 0);
    EXPECT_TRUE(outcomes[1].backup.empty());
    // The backups hold the old configuration: they were made before the writes.
    for (const std::size_t i : {0u, 2u}) {
        EXPECT_TRUE(MatchesPattern(outcomes[i].backup.filename().string(),
                                   SerialText(outcomes[i].serialNumber) + "-########-######.cfg"));
        EXPECT_EQ(EncodeBlocks(*LoadSettingsFile(outcomes[i].backup.string(), kSampleCatalogue)), oldImages);
    }
    // A second backup never replaces the first.
    const std::filesystem::path again = BackupConfiguration(session->Link(), State(), 0x1003, kSamplePassword,
                                                            kSampleCatalogue, *options.backupDir, nullptr);
    EXPECT_NE(again, outcomes[2].backup);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(*options.backupDir), {}), 3);

    const std::string log = ReadFile(*options.logFile);
    EXPECT_EQ(LogRecords(log), (std::vector<std::string>{
                                   "00001001;5;300;успех;Настройки записаны и проверены",
                                   "00001002;6;300;ошибка;Версия устройства не совпадает с версией настроек.",
                                   "00001003;5;300;успех;Настройки записаны и проверены"}));
}
