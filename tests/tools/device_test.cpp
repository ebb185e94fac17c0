#include "link/port.h"
#include "tools/simulator/device.h"

#include <gtest/gtest.h>

namespace {

Bytes request(std::uint8_t command, const Bytes &payload)
{
    TRawPacket packet;
    packet.Build(command, payload);
    return packet.Data();
}

Bytes payloadOf(const Bytes &answer)
{
    TRawPacket packet;
    packet.Assign(answer);
    EXPECT_TRUE(packet.IsValid());
    std::uint8_t command = 0;
    Bytes payload;
    packet.Decode(command, payload);
    return payload;
}

} // namespace

TEST(TSimulatedDevice, IdentifiesItself)
{
    TSimulatedDevice device({.hardwareCode = 0x0105, .softwareVersion = 0x0203, .chunkSize = 64,
                             .serialNumber = 0x1122334455667788ULL});
    EXPECT_EQ(HexDump(payloadOf(device.Answer(request(cmdIdentify, {})))),
              "03 02 05 01 40 00 88 77 66 55 44 33 22 11");
}

TEST(TSimulatedDevice, ReadsInChunksWithTheEcho)
{
    TDeviceConfig config;
    config.chunkSize = 4;
    config.blocks = {{1, 2, 3, 4, 5, 6}};
    TSimulatedDevice device(config);
    EXPECT_EQ(payloadOf(device.Answer(request(cmdReadBlock, {0, 0, 0}))), (Bytes{0, 0, 0, 1, 2, 3, 4}));
    EXPECT_EQ(payloadOf(device.Answer(request(cmdReadBlock, {0, 4, 0}))), (Bytes{0, 4, 0, 5, 6}));
    EXPECT_EQ(payloadOf(device.Answer(request(cmdReadBlock, {0, 8, 0}))), (Bytes{0, 8, 0}));
    EXPECT_EQ(payloadOf(device.Answer(request(cmdReadBlock, {7, 0, 0}))), (Bytes{7, 0, 0}));
}

TEST(TSimulatedDevice, WriteAtOffsetZeroStartsANewImage)
{
    TDeviceConfig config;
    config.blocks = {{9, 9, 9, 9, 9, 9}};
    TSimulatedDevice device(config);
    device.Answer(request(cmdWriteBlock, {0, 0, 0, 1, 2}));
    device.Answer(request(cmdWriteBlock, {0, 2, 0, 3}));
    EXPECT_EQ(device.Block(0), (Bytes{1, 2, 3}));
    device.Answer(request(cmdWriteBlock, {2, 0, 0, 7}));
    EXPECT_EQ(device.Blocks().size(), 3u);
    EXPECT_EQ(device.Block(2), Bytes{7});
}

TEST(TSimulatedDevice, PasswordAndKeyReading)
{
    TDeviceConfig config;
    config.password = PasswordOfDigits("123456");
    config.keyCode = {0x01, 0xA2, 0xFF};
    config.keyAfterPolls = 2;
    TSimulatedDevice device(config);
    EXPECT_EQ(payloadOf(device.Answer(request(cmdPassword, {0x12, 0x34, 0x56}))), Bytes{0});
    EXPECT_EQ(payloadOf(device.Answer(request(cmdPassword, {0x12, 0x34, 0x57}))), Bytes{1});

    EXPECT_EQ(payloadOf(device.Answer(request(cmdKeyReadPoll, {}))), Bytes{}); // not reading keys
    device.Answer(request(cmdKeyReadStart, {}));
    EXPECT_EQ(payloadOf(device.Answer(request(cmdKeyReadPoll, {}))), Bytes{});
    EXPECT_EQ(payloadOf(device.Answer(request(cmdKeyReadPoll, {}))), (Bytes{0x01, 0xA2, 0xFF}));
    device.Answer(request(cmdKeyReadStop, {}));
    EXPECT_EQ(payloadOf(device.Answer(request(cmdKeyReadPoll, {}))), Bytes{});
    EXPECT_EQ(device.CommandCount(cmdKeyReadPoll), 4);
}

TEST(TSimulatedDevice, IgnoresInvalidFrames)
{
    TSimulatedDevice device;
    Bytes frame = request(cmdIdentify, {});
    frame.back() ^= 1;
    EXPECT_TRUE(device.Answer(frame).empty());
    EXPECT_EQ(device.CommandCount(cmdIdentify), 0);
}

TEST(PasswordOfDigits, PacksDigitPairs)
{
    EXPECT_EQ(PasswordOfDigits(""), (Bytes{0, 0, 0}));
    EXPECT_EQ(PasswordOfDigits("1"), (Bytes{0x10, 0, 0}));
    EXPECT_EQ(PasswordOfDigits("12345"), (Bytes{0x12, 0x34, 0x50}));
    EXPECT_EQ(PasswordOfDigits("123456"), (Bytes{0x12, 0x34, 0x56}));
    EXPECT_THROW(PasswordOfDigits("12a"), std::invalid_argument);
}
