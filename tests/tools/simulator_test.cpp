// The port worker talking to the device simulator over a pseudo-terminal, and
// the simulator as a program.
#include "tests/tools/device_fixture.h"
#include "tests/tools/process.h"
#include "tools/cli/device_session.h"

#include <gtest/gtest.h>

#include <csignal>

using namespace std::chrono_literals;

namespace {

class LinkSimulatorTest : public ::testing::Test, protected TServedDevice {
protected:
    void SetUp() override { Serve({.serialNumber = 0xA1B2C3D4E5ULL}); }
};

} // namespace

TEST_F(LinkSimulatorTest, TheDeviceIsIdentifiedLostWhenUnpluggedAndFoundAgain)
{
    const std::string link = ::testing::TempDir() + "/configurator-sim-port";
    ASSERT_TRUE(server->SetLink(link));
    TDeviceSession session(link);
    auto ident = session.NextIdent(5s);
    ASSERT_TRUE(ident && ident->present);
    EXPECT_EQ(ident->serialNumber, 0xA1B2C3D4E5ULL);
    server->Unplug();
    ident = session.NextIdent(5s);
    ASSERT_TRUE(ident);
    EXPECT_FALSE(ident->present);
    EXPECT_NE(ident->errorCode, 0u);
    ASSERT_TRUE(server->Plug());
    for (int i = 0; i < 5 && !(ident = session.NextIdent(5s)).value_or(TDeviceIdentity{}).present; ++i) {
    }
    EXPECT_TRUE(ident && ident->present);
}

TEST_F(LinkSimulatorTest, ASecondProgramOnThePortIsRefusedAndNeverTalksToTheDevice)
{
    TPortOptions quiet;
    quiet.pollInterval = std::chrono::hours(1);
    TDeviceSession first(server->PortPath(), CreateSerialPort(), quiet);
    ASSERT_TRUE(first.Identify().present);
    device->ResetCounts();
    TDeviceSession second(server->PortPath(), CreateSerialPort(), quiet);
    const TDeviceIdentity refused = second.Identify();
    EXPECT_FALSE(refused.present);
    EXPECT_TRUE(refused.portBusy);
    EXPECT_EQ(device->CommandCount(cmdIdentify), 0);
    // The first program goes on as before.
    EXPECT_TRUE(first.Identify().present);
}

TEST(SimulatorProgram, ServesItsOptionsAndSavesItsMemoryOnExit)
{
    TTempDir dir;
    const std::string image = dir.Write("in.bin", "ABCDEF");
    TChildProcess simulator({SIMULATOR_EXE, "--hw", "5", "--sw", "300", "--serial", "12AB", "--chunk", "32", "--block",
                             image, "--block-size", "3", "--save", dir.Path().string()});
    const std::string port = simulator.ReadLine(5s);
    ASSERT_FALSE(port.empty());
    // Without --catalogue the command-line tool uses the descriptions beside it.
    const TRunResult result = RunProgram({CLI_EXE, "identify", "--port", port});
    EXPECT_EQ(result.exitCode, 0) << result.output;
    EXPECT_EQ(result.output, "SN: 000012AB\nSW: 300\nHW: 5\nChunk: 32\n"
                             "Описание: transmitter-binary.xml (hw=5 sw_low=300 sw_high=399 format=—)\n");
    simulator.Signal(SIGTERM);
    EXPECT_EQ(simulator.Wait(5s), 0);
    EXPECT_EQ(dir.Read("block0.bin"), "ABCDEF");
    EXPECT_EQ(dir.Read("block1.bin"), std::string(3, '\0'));
}
