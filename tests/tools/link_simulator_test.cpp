// The port worker against the device simulator over a pseudo-terminal.
#include "tests/tools/device_fixture.h"
#include "tools/cli/device_session.h"
#include "workflow/workflow.h"

#include <gtest/gtest.h>

using namespace std::chrono_literals;

namespace {

class LinkSimulatorTest : public ::testing::Test, protected TServedDevice {
protected:
    void SetUp() override
    {
        Bytes block0(150);
        for (std::size_t i = 0; i < block0.size(); ++i)
            block0[i] = static_cast<std::uint8_t>(i);
        Serve({.hardwareCode = 7, .softwareVersion = 412, .chunkSize = 64, .serialNumber = 0xA1B2C3D4E5ULL,
               .blocks = {block0, Bytes(128, 0xEE)}});
        TPortOptions options;
        options.timeouts.readTotal = 400ms; // keeps dropped answers quick
        session = std::make_unique<TDeviceSession>(server->PortPath(), CreateSerialPort(), options);
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

    std::unique_ptr<TDeviceSession> session;
};

} // namespace

TEST_F(LinkSimulatorTest, IdentifiesTheDevice)
{
    const auto ident = session->NextIdent(5s);
    ASSERT_TRUE(ident);
    EXPECT_TRUE(ident->present);
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
    ASSERT_TRUE(session->NextIdent(5s).value_or(TDeviceIdentity{}).present);
    server->Unplug();
    auto ident = session->NextIdent(5s);
    ASSERT_TRUE(ident);
    EXPECT_FALSE(ident->present);
    EXPECT_NE(ident->errorCode, 0u);
    ASSERT_TRUE(server->Plug());
    for (int i = 0; i < 5 && !(ident = session->NextIdent(5s)).value_or(TDeviceIdentity{}).present; ++i) {
    }
    EXPECT_TRUE(ident && ident->present);
}

TEST_F(LinkSimulatorTest, ASecondProgramOnThePortIsRefusedAndNeverTalksToTheDevice)
{
    TPortOptions quiet;
    quiet.pollInterval = std::chrono::hours(1);
    session = std::make_unique<TDeviceSession>(server->PortPath(), CreateSerialPort(), quiet);
    ASSERT_TRUE(session->Identify().present);
    device->ResetCounts();
    TDeviceSession second(server->PortPath(), CreateSerialPort(), quiet);
    for (int i = 0; i < 3; ++i) {
        const TDeviceIdentity refused = second.Identify();
        EXPECT_FALSE(refused.present);
        EXPECT_TRUE(refused.portBusy);
        EXPECT_EQ(NoDeviceText(refused), kMsgPortBusy);
    }
    EXPECT_EQ(device->CommandCount(cmdIdentify), 0);
    // The first program goes on as before.
    EXPECT_TRUE(session->Identify().present);
}
