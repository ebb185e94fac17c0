// The shared read and write workflows against the simulator on a pseudo-terminal, the faults
// of a description named as such, and typed values checked and encoded as the description says.
#include "workflow/production.h"
#include "workflow/workflow.h"
#include "model/errors.h"
#include "tests/model/value_cases.h"
#include "tests/tools/device_fixture.h"
#include "tools/cli/device_session.h"

#include <gtest/gtest.h>

using namespace std::chrono_literals;

namespace {

// hw 20..22 and 24 read and write; hw 30..35 hold faults of their own (32 none), for the description failures.
const char *const kCatalogue = R"(<devices>
  <device hw="20" pswd="">
    <block caption="Большой"><item name="big" type="hex_array" size="128"/></block>
    <block caption="Малый"><item name="small" size="3"/></block>
  </device>
  <device hw="21"/>
  <device hw="22"><block><item name="a" size="10" type="hex_array"/></block></device>
  <device hw="24"><block><item name="a" size="64" type="hex_array"/></block>
                  <block><item name="b" size="65" type="hex_array"/></block>
                  <block/></device>
  <device hw="30"><block caption="Б"><item name="p" type="phone" size="7"/><item name="n" size="1"/></block></device>
  <device hw="31"><block caption="Б"><item name="t" type="nosuch" size="1"/><item name="ph" type="phone" size="4"/>
                                     <item name="n" size="1" bits="4"/></block></device>
  <device hw="32"><block caption="Б"><item name="n" size="1" bits="4"/></block></device>
  <device hw="34"><block caption="Б"><item name="y" size="1"/><item name="x" size="1" div="0"/></block></device>
  <device hw="35"><block caption="Б"><item name="s" size="two"/></block></device>
</devices>)";

class WorkflowTest : public ::testing::Test, protected TServedDevice {
protected:
    void SetUp() override
    {
        RegisterConfigModels();
        dir.Write("test.xml", kCatalogue);
    }

    void Start(TDeviceConfig config, std::chrono::milliseconds readTotal = 300ms)
    {
        Serve(std::move(config));
        TPortOptions options;
        options.timeouts.readTotal = readTotal; // a dropped answer costs this much
        options.pollInterval = 1h;
        session = std::make_unique<TDeviceSession>(server->PortPath(), CreateSerialPort(), options);
        link = std::make_unique<TPortLink>(session->Port());
    }

    TConfigModelPtr Read(const std::string &password = "")
    {
        return ReadConfiguration(*link, State(), password, dir.Path(), [this](const TJobProgress &shown) {
            progress.push_back(shown.status);
        });
    }

    std::string ReadError(const std::string &password = "")
    {
        return MessageOf([&] { Read(password); });
    }

    std::string WriteError(IConfigModel *model, TDeviceState state)
    {
        return MessageOf([&] { WriteConfiguration(*link, model, state, "", nullptr); });
    }

    static TDeviceConfig Device(std::uint16_t hw, std::vector<Bytes> blocks)
    {
        return {.hardwareCode = hw, .softwareVersion = 1, .blocks = std::move(blocks)};
    }

    // A settings file of a catalogue device holding these value elements.
    TConfigModelPtr Model(std::uint16_t hw, const std::string &values)
    {
        dir.Write("settings.cfg", "<config hw=\"" + std::to_string(hw) + "\" sw=\"1\">" + values + "</config>");
        return LoadSettingsFile(dir.File("settings.cfg"), dir.Path());
    }

    TTempDir dir;
    std::unique_ptr<TDeviceSession> session;
    std::unique_ptr<TPortLink> link;
    std::vector<std::string> progress;
};

// Watches the requests of a job: after each one performed, afterRequest runs with its kind (it may
// cancel the job or swap the device); it does not pause, so that long jobs stay quick.
struct TWatchedLink : IDeviceLink {
    explicit TWatchedLink(IDeviceLink &link) : inner(link) {}
    std::uint8_t Request(std::uint8_t kind, std::int32_t block, std::int32_t offset, Bytes &data) override
    {
        const std::uint8_t result = inner.Request(kind, block, offset, data);
        if (afterRequest)
            afterRequest(kind);
        return result;
    }
    void Pause(std::chrono::milliseconds) override {}
    bool CancelRequested() const override { return cancelled; }
    void Pin(const TDeviceIdentity &identity) override { inner.Pin(identity); }
    void ConfirmDevice() override { inner.ConfirmDevice(); }

    IDeviceLink &inner;
    std::function<void(std::uint8_t kind)> afterRequest;
    bool cancelled = false;
};

} // namespace

TEST(NoDeviceText, SaysWhyNoDeviceAnswers)
{
    TDeviceIdentity identity;
    EXPECT_EQ(NoDeviceText(identity), kMsgNoLinkWrite);
    identity.errorCode = 1;
    EXPECT_EQ(NoDeviceText(identity), std::string(kMsgNoLinkWrite) + ": " + SystemErrorText(1));
    identity.portBusy = true;
    EXPECT_EQ(NoDeviceText(identity), kMsgPortBusy);
}

TEST(PasswordBytes, DigitPairsWithALoneLastDigitInTheHighHalf)
{
    const struct {
        const char *field;
        const char *expected; // the bytes, or what is raised
    } cases[] = {
        {"", "00 00 00"},
        {"1", "10 00 00"},
        {"12", "12 00 00"},
        {"123", "12 30 00"},
        {"1234567", "12 34 56"},
        {"9A", "9A 00 00"},
        {"1x", "EConvertError: '$1x' is not a valid integer value"},
        {"1234x", "EConvertError: '$x0' is not a valid integer value"},
    };
    for (const auto &c : cases) {
        std::string bytes;
        const std::string failure = FailureOf([&] { bytes = HexDump(PasswordBytes(c.field)); });
        EXPECT_EQ(failure == "no error" ? bytes : failure, c.expected) << c.field;
    }
}

TEST_F(WorkflowTest, ReadsEveryBlockInChunksWithThePasswordInFiveAttemptsOrSaysWhyNot)
{
    Bytes big(128);
    for (std::size_t i = 0; i < big.size(); ++i)
        big[i] = static_cast<std::uint8_t>(i);
    TDeviceConfig config = Device(20, {big, {1, 2, 0}});
    config.password = PasswordOfDigits("4321");
    Start(config);
    const TConfigModelPtr model = Read("4321");
    EXPECT_EQ(device->CommandCount(cmdPassword), 1);
    // 2 x 64 bytes end with a request that brings nothing; the 3-byte block takes one.
    EXPECT_EQ(device->CommandCount(cmdReadBlock), 4);
    EXPECT_EQ(progress, (std::vector<std::string>{"0/2 #1", "0/2 #1", "0/2 #1", "1/2 #1"}));
    EXPECT_EQ(model->EncodeBlock(model->GetBlock(0), xml::Node()), big);
    EXPECT_EQ(model->ValueDocument().AsNode().SelectSingle("/config/small/value").Text(), "513");

    device->ResetCounts();
    EXPECT_EQ(ReadError("1111"), "Введен не верный пароль");
    EXPECT_EQ(device->CommandCount(cmdReadBlock), 0);
    device->SetBlocks({Bytes(128), Bytes(4)});
    EXPECT_EQ(ReadError("4321"), "error: 4 bytes read, 3 expected");
    device->SetIdentity(99, 1);
    EXPECT_EQ(ReadError(), "Не найдено описание устройства.");
    EXPECT_EQ(MessageOf([&] { ReadConfiguration(*link, TDeviceState{}, "", dir.Path(), nullptr); }),
              "Устройство не подключено");
    TDeviceState zeroChunk{true, 0, 20, 1};
    EXPECT_THROW(ReadConfiguration(*link, zeroChunk, "", dir.Path(), nullptr), EConfigError);

    // A chunk is read in five attempts, or the link is lost.
    progress.clear();
    Start(Device(22, {Bytes(10, 7)}));
    std::atomic<int> reads{0};
    server->SetFaultScript([&](const TExchangeInfo &info) {
        return info.command == cmdReadBlock && ++reads <= 4 ? TFault::Corrupt : TFault::None;
    });
    Read();
    EXPECT_EQ(progress, (std::vector<std::string>{"0/1 #1", "0/1 #2", "0/1 #3", "0/1 #4", "0/1 #5"}));
    EXPECT_EQ(device->CommandCount(cmdPassword), 0); // the description asks for none
    progress.clear();
    server->SetFaultScript([](const TExchangeInfo &) { return TFault::Drop; });
    EXPECT_EQ(ReadError(), "Нет связи с устройством.");
    EXPECT_EQ(progress.size(), 5u);
    // Without blocks nothing is requested.
    Start(Device(21, {}));
    EXPECT_EQ(Read()->GetBlockCount(), 0);
    EXPECT_EQ(device->CommandCount(cmdReadBlock), 0);
}

TEST_F(WorkflowTest, WriteRefusalsSendNothingChunksHoldAtMostTheChunkSizeAndFiftyAttemptsEndIt)
{
    Start(Device(24, {Bytes(64), Bytes(65), Bytes()}));
    TConfigModelPtr model = Read();
    device->ResetCounts();
    EXPECT_EQ(WriteError(nullptr, State()), "Настройки не загружены.");
    EXPECT_EQ(WriteError(model.get(), {true, 64, 22, 1}), "Версия устройства не совпадает с версией настроек.");
    // A bad value in the last block stops the write before the first block goes.
    const xml::Node last = model->ValueDocument().AsNode().SelectSingle("/config/b/value");
    last.SetText("ZZ");
    EXPECT_EQ(WriteError(model.get(), State()), "'$ZZ' is not a valid integer value");
    EXPECT_EQ(device->CommandCount(cmdWriteBlock) + device->CommandCount(cmdPassword), 0);

    model->ValueDocument().AsNode().SelectSingle("/config/a/value").SetText(std::string(128, 'A'));
    last.SetText(std::string(130, 'B'));
    std::vector<std::string> shown;
    WriteConfiguration(*link, model.get(), State(), "", [&](const TJobProgress &p) { shown.push_back(p.status); });
    // 64 bytes: one request; 65 bytes: two; an empty block: one request without data.
    EXPECT_EQ(device->CommandCount(cmdWriteBlock), 4);
    EXPECT_EQ(shown, (std::vector<std::string>{"0/64 #1", "1/65 #1", "1/65 #1", "2/0 #1"}));
    EXPECT_EQ(device->Blocks(), (std::vector<Bytes>{Bytes(64, 0xAA), Bytes(65, 0xBB), Bytes()}));

    Start(Device(24, {Bytes(64), Bytes(65), Bytes()}), 20ms);
    server->SetFaultScript([](const TExchangeInfo &) { return TFault::Drop; });
    // The first chunk may have reached the device: the technician is told to write again.
    EXPECT_EQ(WriteError(model.get(), State()), std::string("Нет связи с устройством\n") + kMsgWriteInterrupted);
}

TEST_F(WorkflowTest, CancelEndsEachJobAtTheNextRequestAndAKeyWaitEndsAtTheTenthTick)
{
    const struct {
        const char *job;
        std::uint8_t cancelAfter;
        int count;
        const char *message; // "" for a key wait, cancelled without a word
        int blockWrites;     // requests that reached the device
        bool deviceChanged;
    } cases[] = {
        {"read", opPassword, 1, kMsgReadCancelled, 0, false},
        {"read", opReadBlock, 1, kMsgReadCancelled, 0, false},
        {"write", opPassword, 1, kMsgWriteCancelled, 0, false},
        {"write", opWriteBlock, 1, kMsgWriteInterrupted, 1, true},
        {"write", opWriteBlock, 2, kMsgWriteInterrupted, 2, true},
        {"key", opKeyReadStart, 1, "", 0, false},
        {"key", opKeyReadPoll, 2, "", 0, false},
    };
    for (const auto &c : cases) {
        const std::string job = c.job;
        SCOPED_TRACE(job + " after " + std::to_string(c.count) + " of " + std::to_string(c.cancelAfter));
        Start({.hardwareCode = 20, .softwareVersion = 1, .blocks = {Bytes(128, 0x11), {1, 2, 3}}, .keyCode = {1},
               .keyAfterPolls = 100});
        const TConfigModelPtr model = Read();
        const std::string before = HexDump(device->Block(0));
        model->ValueDocument().AsNode().SelectSingle("/config/big/value").SetText(std::string(256, '2'));
        device->ResetCounts();
        int seen = 0;
        TWatchedLink cancelling(*link);
        cancelling.afterRequest = [&](std::uint8_t kind) {
            if (kind == c.cancelAfter && ++seen == c.count)
                cancelling.cancelled = true;
        };
        EXPECT_EQ(MessageOf([&] {
                      if (job == "read")
                          ReadConfiguration(cancelling, State(), "", dir.Path(), nullptr);
                      else if (job == "write")
                          WriteConfiguration(cancelling, model.get(), State(), "", nullptr);
                      else
                          WaitForKey(cancelling, nullptr, 1ms);
                  }),
                  c.message);
        EXPECT_EQ(device->CommandCount(cmdWriteBlock), c.blockWrites);
        EXPECT_EQ(HexDump(device->Block(0)) != before, c.deviceChanged);
        // Nothing more goes out after the cancel, but the key mode is always switched off.
        EXPECT_EQ(device->CommandCount(cmdKeyReadStop), job == "key" ? 1 : 0);
        EXPECT_EQ(device->CommandCount(cmdReadBlock), c.cancelAfter == opReadBlock ? 1 : 0);
    }
    // Left alone, a wait for a key that never comes ends at the tenth tick and leaves the key mode on.
    device->ResetCounts();
    std::vector<int> ticks;
    EXPECT_FALSE(WaitForKey(*link, [&](const TJobProgress &p) { ticks.push_back(p.done); }, 1ms).key);
    EXPECT_EQ(ticks, (std::vector<int>{0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10}));
    EXPECT_EQ(device->CommandCount(cmdKeyReadPoll), 9);
    EXPECT_EQ(device->CommandCount(cmdKeyReadStop), 0);
}

TEST_F(WorkflowTest, AWriteEndsWhenAnotherDeviceAnswersInsteadOfItsOwn)
{
    // Reads take the same path through the link's check of the pinned device.
    const std::string port = (dir.Path() / "port").string();
    const TDeviceConfig first{.hardwareCode = 20, .softwareVersion = 1, .serialNumber = 0xAAAA0001,
                              .blocks = {Bytes(128, 0x11), {1, 2, 3}}};
    Start(first);
    ASSERT_TRUE(server->SetLink(port));
    session->Port().SetPortName(port);
    const TConfigModelPtr model = Read();
    TDeviceConfig second = first;
    second.serialNumber = 0xBBBB0002;
    TWatchedLink watched(*link);
    watched.afterRequest = [&](std::uint8_t kind) {
        // The first device is unplugged and the second comes up under the same name.
        if (kind == opWriteBlock && device->Config().serialNumber != 0xBBBB0002) {
            Serve(second);
            ASSERT_TRUE(server->SetLink(port));
        }
    };
    watched.Pin(session->Identify());
    EXPECT_EQ(MessageOf([&] { WriteConfiguration(watched, model.get(), State(), "", nullptr); }),
              "Подключено другое устройство (SN BBBB0002). Операция прервана.\n" + std::string(kMsgWriteInterrupted));
    // Nothing of the job reached the second device.
    const int sent = device->CommandCount(cmdWriteBlock) + device->CommandCount(cmdReadBlock);
    EXPECT_EQ(sent + device->CommandCount(cmdPassword), 0);
}

TEST_F(WorkflowTest, BlocksBeyondSixteenBitOffsetsAreRefusedWholeOnBothSides)
{
    dir.Write("big.xml", R"(<devices><device hw="40"><block caption="Память"><item name="m" type="hex_array"
        size="65783"/></block></device></devices>)");
    Start({.hardwareCode = 40, .softwareVersion = 1, .chunkSize = 248, .blocks = {Bytes(70000, 0x22)}});
    const TConfigModelPtr model = CreateConfigModel(dir.Path(), 40, 1);
    ASSERT_TRUE(model);
    // The largest block a description may have, which a device with long chunks could still take.
    model->DecodeBlock(model->GetBlock(0), xml::Node(), Bytes(65783, 0x33), 1);
    EXPECT_EQ(WriteError(model.get(), State()), "Блок \"Память\" слишком велик для передачи: 65783 байт, не более 65720.");
    EXPECT_EQ(device->CommandCount(cmdWriteBlock), 0);
    // Read: ends at the last offset the wire can name instead of wrapping round for ever.
    TWatchedLink quick(*link);
    EXPECT_EQ(MessageOf([&] { ReadConfiguration(quick, State(), "", dir.Path(), nullptr); }),
              "Блок \"Память\" длиннее, чем может передать связь: более 65535 байт.");
    EXPECT_EQ(device->CommandCount(cmdReadBlock), 65536 / 248 + 1);
}

TEST_F(WorkflowTest, AFailureADescriptionCausesNamesItsFaultAndOthersKeepTheirOwn)
{
    const std::string prefix = "EDescriptionError: test.xml: устройство hw=%d sw=—..—: параметр ";
    const std::string faulty = "<t><value>1</value></t><ph><value>1</value></ph><n><value>1</value></n>";
    const std::string scaled = "<y><value>12a</value></y><x><value>1</value></x>";
    const auto encode = [](IConfigModel &model) { EncodeBlocks(model); };
    const struct {
        std::uint16_t hw;
        std::string values;
        std::function<void(IConfigModel &)> operation;
        std::string expected;
    } cases[] = {
        {31, faulty, encode, Format(prefix.c_str(), 31) + "\"ph\": поле телефона должно занимать 8 байт, а не 4"},
        // One whose owner is an item gets that item's fault; a name in its text alone is not taken apart.
        {31, faulty, [](IConfigModel &) { throw EDescriptionError("Элемент \"t\": что-то не так.", "t"); },
         Format(prefix.c_str(), 31) + "\"t\": тип \"nosuch\" не встроенный и не описан ни как enum, ни как struct"},
        {31, faulty, [](IConfigModel &) { throw EDescriptionError("Элемент \"t\": что-то не так."); },
         "EDescriptionError: Элемент \"t\": что-то не так."},
        {34, "<y><value>1</value></y><x><value>1</value></x>", encode,
         Format(prefix.c_str(), 34) + "\"x\": div=\"0\": деление на ноль при записи"},
        {35, "<s><value>1</value></s>", encode,
         Format(prefix.c_str(), 35) + "\"s\": атрибут \"size\" не целое число: \"two\""},
        // A fault elsewhere in the description does not replace what went wrong.
        {34, scaled, encode, "EConvertError: '12a' is not a valid integer value"},
        {32, "<n><value>1</value></n>", [](IConfigModel &) {}, "no error"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.expected);
        const TConfigModelPtr model = Model(c.hw, c.values);
        EXPECT_EQ(FailureOf([&] { ExplainDescriptionFailure(*model, [&] { c.operation(*model); }); }), c.expected);
    }

    // Read and write name the fault too, before anything is written.
    Start(Device(30, {Bytes(8, 0x11)}));
    const std::string fault = Format(prefix.c_str(), 30) + "\"p\": поле телефона должно занимать 8 байт, а не 7";
    EXPECT_EQ(FailureOf([&] { Read(); }), fault);
    const TConfigModelPtr model = Model(30, "<p><value>1</value></p><n><value>1</value></n>");
    EXPECT_EQ(FailureOf([&] { WriteConfiguration(*link, model.get(), State(), "", nullptr); }), fault);
    EXPECT_EQ(device->CommandCount(cmdWriteBlock), 0);
}

TEST(ValueRules, SetValuesAreCheckedAndEncodedAsTheDescriptionSays)
{
    RegisterConfigModels();
    TTempDir dir;
    dir.Write("cases.xml", ValueCasesDevice());
    // A model of the cases' device holding what a zeroed device image decodes to.
    const auto fresh = [&] {
        TConfigModelPtr model = CreateConfigModel(dir.Path(), 20, 1);
        DecodeBlocks(*model, {Bytes(static_cast<std::size_t>(model->BlockSize(model->GetBlock(0))), 0)});
        return model;
    };
    const auto &cases = ValueCases();
    for (std::size_t i = 0; i < cases.size(); ++i) {
        const TValueCase &c = cases[i];
        SCOPED_TRACE(std::string(c.type) + " " + c.attributes + " \"" + c.typed + "\"");
        const std::string name = "p" + std::to_string(i);
        const TConfigModelPtr model = fresh();
        ApplyOverride(*model, {name, c.typed});

        // The check names this item only, by its captions, with the case's message.
        std::vector<std::string> named;
        for (const TValueProblem &problem : ValueProblems(*model))
            if (problem.message.rfind(ValueCaseCaption(i) + ":", 0) == 0)
                named.push_back(problem.Text());
        const std::string expected = c.message ? "B / " + ValueCaseCaption(i) + ": " + c.message : "";
        EXPECT_EQ(named, expected.empty() ? std::vector<std::string>{} : std::vector<std::string>{expected});
        if (c.rangeOnly)
            continue;
        // Accepted texts come back from the device as the table says; refused ones would not come back as typed.
        std::string readBack;
        const std::string failure = FailureOf([&] {
            const TConfigModelPtr device = CreateConfigModel(dir.Path(), 20, 1);
            DecodeBlocks(*device, EncodeBlocks(*model));
            readBack = device->ValueDocument().AsNode().SelectSingle("/config/" + name + "/value").Text();
        });
        if (c.readBack)
            EXPECT_EQ(readBack, c.readBack) << failure;
        else
            EXPECT_NE(readBack, c.typed);
    }
}

TEST(ValueRules, XmlDevicesFollowTheRulesOfTheTypesTheyName)
{
    const struct {
        const char *item;
        const char *typed;
        const char *message; // nullptr: accepted
    } cases[] = {
        {R"(type="int" max="9999")", "99999", "X: значение 99999 больше 9999."},
        {R"(type="int")", "99999", nullptr}, // no field width: any integer
        {R"(type="hex")", "ZZZ", "X: допустимы только шестнадцатеричные цифры 0–9 и A–F."},
        {R"(type="hex")", "ABCDEF0123", nullptr},
        {R"(type="hex" size="2")", "ABCDE", "X: больше 4 цифр."},
        {R"(type="string")", "ёлка", "X: символ «ё» устройство не хранит."},
        {R"(type="ip_string")", "192.168.1.256", "X: часть адреса «256» должна быть числом от 0 до 255."},
        {R"(type="mode")", "anything", nullptr}, // an enumeration's values are the device's own
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.item);
        xml::ParseError error;
        const auto document = xml::Document::Parse(std::string("<d><item name=\"x\" caption=\"X\" ") + c.item +
                                                        "/><enum name=\"mode\"><!-- --><c value=\"a\"/></enum></d>",
                                                    error);
        ASSERT_TRUE(document);
        const xml::Node root = document->DocumentElement();
        const TParamInfo info(root.FirstChild(), root.ChildElement("enum"), TStorage::Xml);
        EXPECT_EQ(info.Validate(c.typed).value_or("accepted"), c.message ? c.message : "accepted");
        // The comment in the enumeration is no choice.
        EXPECT_EQ(info.Choices().size(), info.Kind() == TValueKind::Choice ? 1u : 0u);
    }
}
