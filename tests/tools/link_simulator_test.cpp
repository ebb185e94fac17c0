// The port worker against the device simulator over a pseudo-terminal.
#include "tools/cli/device_session.h"
#include "tools/simulator/pty_server.h"

#include <gtest/gtest.h>

using namespace std::chrono_literals;

namespace {

class LinkSimulatorTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        TDeviceConfig config;
        config.hardwareCode = 7;
        config.softwareVersion = 412;
        config.chunkSize = 64;
        config.serialNumber = 0xA1B2C3D4E5ULL;
        config.password = PasswordOfDigits("4321");
        config.keyCode = {0x01, 0xA2, 0xFF};
        config.keyAfterPolls = 2;
        Bytes block0(150);
        for (std::size_t i = 0; i < block0.size(); ++i)
            block0[i] = static_cast<std::uint8_t>(i);
        config.blocks = {block0, Bytes(128, 0xEE)};
        device = std::make_unique<TSimulatedDevice>(config);
        server = std::make_unique<TPtyServer>(*device);
        std::string error;
        ASSERT_TRUE(server->Start(&error)) << error;
        TPortOptions options;
        options.timeouts.readTotal = 400ms; // keeps dropped answers quick
        session = std::make_unique<TDeviceSession>(server->PortPath(), CreateSerialPort(), options);
    }

    void TearDown() override
    {
        session.reset();
        server.reset();
    }

    // Reads a whole block as the read workflow does: until a short chunk.
    Bytes readBlock(int block, int *requests = nullptr)
    {
        Bytes image;
        for (int n = 1;; ++n) {
            Bytes chunk;
            EXPECT_EQ(session->Port().Request(opReadBlock, block, static_cast<std::int32_t>(image.size()), chunk), rsOk);
            image.insert(image.end(), chunk.begin(), chunk.end());
            if (chunk.size() < 64) {
                if (requests)
                    *requests = n;
                return image;
            }
        }
    }

    std::unique_ptr<TSimulatedDevice> device;
    std::unique_ptr<TPtyServer> server;
    std::unique_ptr<TDeviceSession> session;
};

} // namespace

TEST_F(LinkSimulatorTest, IdentifiesTheDevice)
{
    const auto ident = session->NextIdent(5s);
    ASSERT_TRUE(ident);
    EXPECT_TRUE(ident->connected);
    EXPECT_EQ(ident->hardwareCode, 7);
    EXPECT_EQ(ident->softwareVersion, 412);
    EXPECT_EQ(ident->chunkSize, 64);
    EXPECT_EQ(ident->serialNumber, 0xA1B2C3D4E5ULL);
}

TEST_F(LinkSimulatorTest, ReadsABlockInChunksEndingOnAShortOne)
{
    int requests = 0;
    EXPECT_EQ(readBlock(0, &requests), device->Block(0));
    EXPECT_EQ(requests, 3); // 64 + 64 + 22
    // A block of exactly two chunks costs one more request that brings nothing.
    EXPECT_EQ(readBlock(1, &requests), device->Block(1));
    EXPECT_EQ(requests, 3);
}

TEST_F(LinkSimulatorTest, WritesABlockInChunks)
{
    Bytes image(100);
    for (std::size_t i = 0; i < image.size(); ++i)
        image[i] = static_cast<std::uint8_t>(255 - i);
    for (std::size_t offset = 0; offset < image.size(); offset += 64) {
        Bytes chunk = CopyBytes(image, offset, 64);
        ASSERT_EQ(session->Port().Request(opWriteBlock, 1, static_cast<std::int32_t>(offset), chunk), rsOk);
    }
    EXPECT_EQ(device->Block(1), image);
}

TEST_F(LinkSimulatorTest, PasswordRightAndWrong)
{
    Bytes right = PasswordOfDigits("4321");
    ASSERT_EQ(session->Port().Request(opPassword, 0, 0, right), rsOk);
    EXPECT_EQ(right, Bytes{0});
    Bytes wrong = PasswordOfDigits("1111");
    ASSERT_EQ(session->Port().Request(opPassword, 0, 0, wrong), rsOk);
    EXPECT_EQ(wrong, Bytes{1});
}

TEST_F(LinkSimulatorTest, KeyReadingCommands)
{
    Bytes none;
    ASSERT_EQ(session->Port().Request(opKeyReadStart, 0, 0, none), rsOk);
    Bytes key;
    ASSERT_EQ(session->Port().Request(opKeyReadPoll, 0, 0, key), rsOk);
    EXPECT_TRUE(key.empty());
    ASSERT_EQ(session->Port().Request(opKeyReadPoll, 0, 0, key), rsOk);
    EXPECT_EQ(key, (Bytes{0x01, 0xA2, 0xFF}));
    ASSERT_EQ(session->Port().Request(opKeyReadStop, 0, 0, none), rsOk);
    EXPECT_EQ(device->CommandCount(cmdKeyReadStop), 1);
}

TEST_F(LinkSimulatorTest, FaultyAnswersAreBadAndTheNextOneIsFine)
{
    std::atomic<TFault> next{TFault::None};
    server->SetFaultScript([&](const TExchangeInfo &info) {
        return info.command == cmdReadBlock ? next.exchange(TFault::None) : TFault::None;
    });
    const TFault faults[] = {TFault::Drop, TFault::Corrupt, TFault::Truncate};
    for (const TFault fault : faults) {
        next = fault;
        Bytes chunk;
        EXPECT_EQ(session->Port().Request(opReadBlock, 0, 0, chunk), rsBadAnswer) << int(fault);
        EXPECT_EQ(session->Port().Request(opReadBlock, 0, 0, chunk), rsOk) << int(fault);
        EXPECT_EQ(chunk, CopyBytes(device->Block(0), 0, 64));
    }
    EXPECT_EQ(server->FaultsInjected(), 3);
    server->SetFaultScript(nullptr);
}

TEST_F(LinkSimulatorTest, UnpluggedPortIsAnIoErrorAndTheDeviceIsFoundAgain)
{
    const std::string link = ::testing::TempDir() + "/configurator-sim-port";
    ASSERT_TRUE(server->SetLink(link));
    session->Port().SetPortName(link);
    ASSERT_TRUE(session->NextIdent(5s).value_or(TDeviceIdent{}).connected);
    server->Unplug();
    auto ident = session->NextIdent(5s);
    ASSERT_TRUE(ident);
    EXPECT_FALSE(ident->connected);
    EXPECT_NE(ident->errorCode, 0u);
    ASSERT_TRUE(server->Plug());
    for (int i = 0; i < 5 && !(ident = session->NextIdent(5s)).value_or(TDeviceIdent{}).connected; ++i) {
    }
    EXPECT_TRUE(ident && ident->connected);
}
