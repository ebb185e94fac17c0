// The port worker talking to the device simulator over a pseudo-terminal, and
// the simulator as a program.
#include "tests/tools/device_fixture.h"
#include "tests/tools/process.h"
#include "tools/cli/device_session.h"

#include <gtest/gtest.h>

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
    EXPECT_EQ(session.NextIdent(5s).value_or(TDeviceIdentity{}).serialNumber, 0xA1B2C3D4E5ULL);
    server->Unplug();
    EXPECT_NE(session.NextIdent(5s).value_or(TDeviceIdentity{}).errorCode, 0u);
    ASSERT_TRUE(server->Plug());
    bool found = false;
    for (int i = 0; i < 5 && !found; ++i)
        found = session.NextIdent(5s).value_or(TDeviceIdentity{}).present;
    EXPECT_TRUE(found);
}

TEST_F(LinkSimulatorTest, ASecondProgramOnThePortIsRefusedAndNeverTalksToTheDevice)
{
    const TPortOptions quiet{.pollInterval = std::chrono::hours(1)};
    TDeviceSession first(server->PortPath(), CreateSerialPort(), quiet);
    ASSERT_TRUE(first.Identify().present);
    device->ResetCounts();
    TDeviceSession second(server->PortPath(), CreateSerialPort(), quiet);
    EXPECT_TRUE(second.Identify().portBusy);
    EXPECT_EQ(device->CommandCount(cmdIdentify), 0);
    // The first program goes on as before.
    EXPECT_TRUE(first.Identify().present);
}

TEST(SimulatorProgram, ServesTheDeviceItsOptionsDescribe)
{
    TChildProcess simulator({SIMULATOR_EXE, "--hw", "5", "--sw", "300", "--serial", "12AB", "--chunk", "32"});
    // Without --catalogue the command-line tool uses the descriptions beside it.
    EXPECT_EQ(RunProgram({CLI_EXE, "identify", "--port", simulator.ReadLine(5s)}).output,
              "SN: 000012AB\nSW: 300\nHW: 5\nChunk: 32\n"
              "Описание: transmitter-binary.xml (hw=5 sw_low=300 sw_high=399 format=—)\n");
}
