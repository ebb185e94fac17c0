// The shared read and write workflows against the simulator on a pseudo-terminal.
#include "workflow/workflow.h"
#include "model/errors.h"
#include "tests/tools/device_fixture.h"
#include "tools/cli/device_session.h"

#include <gtest/gtest.h>

using namespace std::chrono_literals;

namespace {

const char *const kCatalogue = R"(<devices>
  <device hw="20" pswd="">
    <block caption="Большой"><item name="big" type="hex_array" size="128"/></block>
    <block caption="Малый"><item name="small" size="3"/></block>
  </device>
  <device hw="21"/>
  <device hw="22"><block><item name="a" size="10" type="hex_array"/></block></device>
  <device hw="23">
    <block><item name="first" size="1"/></block>
    <block><item name="last" size="1" bits="4"/></block>
  </device>
  <device hw="24"><block><item name="a" size="64" type="hex_array"/></block>
                  <block><item name="b" size="65" type="hex_array"/></block>
                  <block/></device>
</devices>)";

class WorkflowTest : public ::testing::Test, protected TServedDevice {
protected:
    void SetUp() override
    {
        RegisterConfigModels();
        dir.Write("test.xml", kCatalogue);
    }

    void Start(TDeviceConfig config, TPortOptions options = FastOptions())
    {
        Serve(std::move(config));
        session = std::make_unique<TDeviceSession>(server->PortPath(), CreateSerialPort(), options);
        link = std::make_unique<TPortLink>(session->Port());
    }

    static TPortOptions FastOptions()
    {
        TPortOptions options;
        options.timeouts.readTotal = 300ms; // a dropped answer costs this much
        options.pollInterval = 1h;
        return options;
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

    TTempDir dir;
    std::unique_ptr<TDeviceSession> session;
    std::unique_ptr<TPortLink> link;
    std::vector<std::string> progress;
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
        const char *bytes;
    } cases[] = {{"", "00 00 00"},          {"1", "10 00 00"},        {"12", "12 00 00"},
                 {"123", "12 30 00"},       {"1234", "12 34 00"},     {"12345", "12 34 50"},
                 {"123456", "12 34 56"},    {"1234567", "12 34 56"}, {"9A", "9A 00 00"}};
    for (const auto &c : cases)
        EXPECT_EQ(HexDump(PasswordBytes(c.field)), c.bytes) << c.field;
    const struct {
        const char *field;
        const char *message;
    } bad[] = {{"1x", "'$1x' is not a valid integer value"}, {"12345z", "'$5z' is not a valid integer value"}, {"1234x", "'$x0' is not a valid integer value"}};
    for (const auto &c : bad)
        EXPECT_EQ(FailureOf([&] { PasswordBytes(c.field); }), std::string("EConvertError: ") + c.message);
}

TEST_F(WorkflowTest, ReadsEveryBlockInChunksWithThePasswordOrSaysWhyNot)
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
    EXPECT_EQ(ReadError("12x"), "'$x0' is not a valid integer value");
    device->SetBlocks({Bytes(128), Bytes(4)});
    EXPECT_EQ(ReadError("4321"), "error: 4 bytes read, 3 expected");
    device->SetIdentity(99, 1);
    EXPECT_EQ(ReadError(), "Не найдено описание устройства.");
    EXPECT_EQ(MessageOf([&] { ReadConfiguration(*link, TDeviceState{}, "", dir.Path(), nullptr); }),
              "Устройство не подключено");
    TDeviceState zeroChunk{true, 0, 20, 1};
    EXPECT_THROW(ReadConfiguration(*link, zeroChunk, "", dir.Path(), nullptr), EConfigError);
}

TEST_F(WorkflowTest, ReadSendsNoPasswordWithoutThePasswordAttributeAndNoRequestWithoutBlocks)
{
    Start(Device(22, {Bytes(10, 7)}));
    Read();
    EXPECT_EQ(device->CommandCount(cmdPassword), 0);
    EXPECT_EQ(device->CommandCount(cmdReadBlock), 1);
    Start(Device(21, {}));
    EXPECT_EQ(Read()->GetBlockCount(), 0);
    EXPECT_EQ(device->CommandCount(cmdReadBlock), 0);
}

TEST_F(WorkflowTest, AChunkIsReadInFiveAttemptsOrTheLinkIsLost)
{
    Start(Device(22, {Bytes(10, 7)}));
    std::atomic<int> reads{0};
    server->SetFaultScript([&](const TExchangeInfo &info) {
        return info.command == cmdReadBlock && ++reads <= 4 ? TFault::Corrupt : TFault::None;
    });
    Read();
    EXPECT_EQ(progress, (std::vector<std::string>{"0/1 #1", "0/1 #2", "0/1 #3", "0/1 #4", "0/1 #5"}));
    progress.clear();
    server->SetFaultScript([](const TExchangeInfo &) { return TFault::Drop; });
    EXPECT_EQ(ReadError(), "Нет связи с устройством.");
    EXPECT_EQ(progress.size(), 5u);
}

TEST_F(WorkflowTest, WriteSendsChunksOfAtMostTheChunkSize)
{
    Start(Device(24, {Bytes(64), Bytes(65), Bytes()}));
    TConfigModelPtr model = Read();
    xml::Node a = model->ValueDocument().AsNode().SelectSingle("/config/a/value");
    a.SetText(std::string(128, 'A'));
    xml::Node b = model->ValueDocument().AsNode().SelectSingle("/config/b/value");
    b.SetText(std::string(130, 'B'));
    device->ResetCounts();
    std::vector<std::string> shown;
    WriteConfiguration(*link, model.get(), State(), "", [&](const TJobProgress &p) { shown.push_back(p.status); });
    // 64 bytes: one request; 65 bytes: two; an empty block: one request without data.
    EXPECT_EQ(device->CommandCount(cmdWriteBlock), 4);
    EXPECT_EQ(shown, (std::vector<std::string>{"0/64 #1", "1/65 #1", "1/65 #1", "2/0 #1"}));
    EXPECT_EQ(device->Block(0), Bytes(64, 0xAA));
    EXPECT_EQ(device->Block(1), Bytes(65, 0xBB));
    EXPECT_EQ(device->Block(2), Bytes());
}

TEST_F(WorkflowTest, WriteRefusalsSendNothing)
{
    Start(Device(23, {{5}, {6}}));
    TConfigModelPtr model = Read();
    device->ResetCounts();

    EXPECT_EQ(WriteError(nullptr, State()), "Настройки не загружены.");
    EXPECT_EQ(WriteError(model.get(), {true, 64, 22, 1}), "Версия устройства не совпадает с версией настроек.");
    // A bad value in the last block stops the write before the first block goes.
    model->ValueDocument().AsNode().SelectSingle("/config/last/value").SetText("16");
    EXPECT_EQ(WriteError(model.get(), State()), "last: значение 16 не помещается в 4 бит.");
    EXPECT_EQ(device->CommandCount(cmdWriteBlock), 0);
    EXPECT_EQ(device->CommandCount(cmdPassword), 0);
}

TEST_F(WorkflowTest, WriteGivesUpOnAChunkAfterFiftyAttempts)
{
    TPortOptions options = FastOptions();
    options.timeouts.readTotal = 20ms;
    Start(Device(23, {{5}, {6}}), options);
    TConfigModelPtr model = Read();
    server->SetFaultScript([](const TExchangeInfo &) { return TFault::Drop; });
    device->ResetCounts();
    // The first chunk may have reached the device: the technician is told to write again.
    EXPECT_EQ(WriteError(model.get(), State()), std::string("Нет связи с устройством\n") + kMsgWriteInterrupted);
}

TEST(KeyCodeText, ByTheItemsType)
{
    EXPECT_EQ(KeyCodeText("hex_array", {0x01, 0xA2, 0xFF}), "01A2FF");
    EXPECT_EQ(KeyCodeText("dec_array", {1, 2, 3}), "123");
    EXPECT_EQ(KeyCodeText("dec_array", {12, 255}), "12255");
    EXPECT_EQ(KeyCodeText("int", {1, 2}), "");
    EXPECT_EQ(KeyCodeText("", {1}), "");
}

namespace {

// Watches the requests of a job: after each one performed, afterRequest runs
// with its kind (it may cancel the job or swap the device); pauses are cut
// short so that long jobs stay quick.
struct TWatchedLink : IDeviceLink {
    explicit TWatchedLink(IDeviceLink &link, std::chrono::milliseconds longestPause = 50ms)
        : inner(link), longestPause(longestPause)
    {
    }
    std::uint8_t Request(std::uint8_t kind, std::int32_t block, std::int32_t offset, Bytes &data) override
    {
        const std::uint8_t result = inner.Request(kind, block, offset, data);
        if (afterRequest)
            afterRequest(kind);
        return result;
    }
    void Pause(std::chrono::milliseconds duration) override { inner.Pause(std::min(duration, longestPause)); }
    bool CancelRequested() const override { return cancelled; }
    void Pin(const TDeviceIdentity &identity) override { inner.Pin(identity); }
    void ConfirmDevice() override { inner.ConfirmDevice(); }

    IDeviceLink &inner;
    std::chrono::milliseconds longestPause;
    std::function<void(std::uint8_t kind)> afterRequest;
    bool cancelled = false;
};

} // namespace

TEST_F(WorkflowTest, CancelEndsEachJobAtTheNextRequestWithItsMessage)
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
        std::string message = MessageOf([&] {
            if (c.job == std::string("read"))
                ReadConfiguration(cancelling, State(), "", dir.Path(), nullptr);
            else if (c.job == std::string("write"))
                WriteConfiguration(cancelling, model.get(), State(), "", nullptr);
            else
                WaitForKey(cancelling, nullptr, 1ms);
        });
        const std::string what = std::string(c.job) + " after " + std::to_string(c.count) + " of " +
                                 std::to_string(c.cancelAfter);
        EXPECT_EQ(message, c.message) << what;
        EXPECT_EQ(device->CommandCount(cmdWriteBlock), c.blockWrites) << what;
        EXPECT_EQ(HexDump(device->Block(0)) != before, c.deviceChanged) << what;
        // Nothing more goes out after the cancel, but the key mode is always switched off.
        EXPECT_EQ(device->CommandCount(cmdKeyReadStop), c.job == std::string("key") ? 1 : 0) << what;
        EXPECT_EQ(device->CommandCount(cmdReadBlock), c.cancelAfter == opReadBlock ? 1 : 0) << what;
    }
}

TEST_F(WorkflowTest, KeyWaitWithoutAKeyEndsAtTheTenthTickAndSaysNothingWasRead)
{
    Start({.hardwareCode = 20, .softwareVersion = 1, .keyCode = {1}, .keyAfterPolls = 100});
    std::vector<int> ticks;
    const TKeyWaitResult result = WaitForKey(*link, [&](const TJobProgress &p) { ticks.push_back(p.done); }, 1ms);
    EXPECT_FALSE(result.key);
    EXPECT_EQ(ticks, (std::vector<int>{0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10}));
    EXPECT_EQ(device->CommandCount(cmdKeyReadPoll), 9);
    EXPECT_EQ(device->CommandCount(cmdKeyReadStop), 0);
}

TEST_F(WorkflowTest, AJobEndsWhenAnotherDeviceAnswersInsteadOfItsOwn)
{
    const std::string port = (dir.Path() / "port").string();
    const struct {
        const char *job;
        std::uint8_t swapAfter;
        std::string message;
    } cases[] = {
        {"read", opReadBlock, "Подключено другое устройство (SN BBBB0002). Операция прервана."},
        {"write", opWriteBlock,
         std::string("Подключено другое устройство (SN BBBB0002). Операция прервана.\n") + kMsgWriteInterrupted},
    };
    for (const auto &c : cases) {
        const TDeviceConfig first{.hardwareCode = 20, .softwareVersion = 1, .serialNumber = 0xAAAA0001,
                                  .blocks = {Bytes(128, 0x11), {1, 2, 3}}};
        Start(first);
        ASSERT_TRUE(server->SetLink(port));
        session->Port().SetPortName(port);
        const TConfigModelPtr model = Read();
        const TDeviceIdentity pinned = session->Identify();
        ASSERT_TRUE(pinned.present);
        TDeviceConfig second = first;
        second.serialNumber = 0xBBBB0002;
        bool swapped = false;
        TWatchedLink watched(*link);
        watched.afterRequest = [&](std::uint8_t kind) {
            // The first device is unplugged and the second comes up under the same name.
            if (kind == c.swapAfter && !swapped) {
                swapped = true;
                Serve(second);
                ASSERT_TRUE(server->SetLink(port));
            }
        };
        watched.Pin(pinned);
        const std::string message = MessageOf([&] {
            if (c.job == std::string("read"))
                ReadConfiguration(watched, State(), "", dir.Path(), nullptr);
            else
                WriteConfiguration(watched, model.get(), State(), "", nullptr);
        });
        EXPECT_EQ(message, c.message) << c.job;
        // Nothing of the job reached the second device.
        EXPECT_EQ(device->CommandCount(cmdWriteBlock), 0) << c.job;
        EXPECT_EQ(device->CommandCount(cmdReadBlock), 0) << c.job;
        EXPECT_EQ(device->CommandCount(cmdPassword), 0) << c.job;
    }
}

TEST_F(WorkflowTest, BlocksBeyondSixteenBitOffsetsAreRefusedWholeOnBothSides)
{
    // Written: refused before anything is sent.
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
    TWatchedLink quick(*link, 0ms);
    EXPECT_EQ(MessageOf([&] { ReadConfiguration(quick, State(), "", dir.Path(), nullptr); }),
              "Блок \"Память\" длиннее, чем может передать связь: более 65535 байт.");
    EXPECT_EQ(device->CommandCount(cmdReadBlock), 65536 / 248 + 1);
}
