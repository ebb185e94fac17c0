// The simulator and the command-line tool as programs.
#include "tests/model/catalogue_fixture.h"
#include "tests/tools/process.h"

#include <gtest/gtest.h>

#include <csignal>
#include <fstream>

using namespace std::chrono_literals;

TEST(Programs, CliIdentifiesTheSimulatedDevice)
{
    TChildProcess simulator({SIMULATOR_EXE, "--hw", "5", "--sw", "300", "--serial", "12AB", "--chunk", "32"});
    const std::string port = simulator.ReadLine(5s);
    ASSERT_FALSE(port.empty());
    const TRunResult result = RunProgram({CLI_EXE, "identify", "--port", port});
    EXPECT_EQ(result.exitCode, 0) << result.output;
    EXPECT_EQ(result.output, "SN: 000012AB\nSW: 300\nHW: 5\nChunk: 32\n"
                             "Описание: transmitter-binary.xml (hw=5 sw_low=300 sw_high=399 format=—)\n");
}

TEST(Programs, CliReportsAMissingPortWithTheSystemText)
{
    const TRunResult result = RunProgram({CLI_EXE, "identify", "--port", "COM16"});
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_EQ(result.output, "Нет связи с устройством\nНет такого файла или устройства\n");
}

TEST(Programs, CliRejectsBadUsage)
{
    EXPECT_EQ(RunProgram({CLI_EXE, "identify"}).exitCode, 2);
    EXPECT_EQ(RunProgram({CLI_EXE, "frobnicate"}).exitCode, 2);
    const TRunResult help = RunProgram({CLI_EXE, "--help"});
    EXPECT_EQ(help.exitCode, 0);
    EXPECT_NE(help.output.find("identify --port P"), std::string::npos);
}

TEST(Programs, SimulatorSavesItsMemoryOnExit)
{
    const auto dir = std::filesystem::path(::testing::TempDir()) / "configurator-sim-save";
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir);
    std::ofstream(dir / "in.bin", std::ios::binary) << "ABCDEF";
    TChildProcess simulator({SIMULATOR_EXE, "--block", (dir / "in.bin").string(), "--block-size", "3", "--save",
                             dir.string()});
    ASSERT_FALSE(simulator.ReadLine(5s).empty());
    simulator.Signal(SIGTERM);
    EXPECT_EQ(simulator.Wait(5s), 0);
    EXPECT_EQ(ReadFile(dir / "block0.bin"), "ABCDEF");
    EXPECT_EQ(ReadFile(dir / "block1.bin"), std::string(3, '\0'));
}

TEST(Programs, SimulatorRejectsBadOptions)
{
    EXPECT_EQ(RunProgram({SIMULATOR_EXE, "--chunk", "249"}).exitCode, 2);
    EXPECT_EQ(RunProgram({SIMULATOR_EXE, "--bogus"}).exitCode, 2);
    EXPECT_EQ(RunProgram({SIMULATOR_EXE, "--help"}).exitCode, 0);
}
