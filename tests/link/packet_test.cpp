#include "link/crc.h"
#include "link/port.h"
#include "link/serial.h"

#include <gtest/gtest.h>

#include <cstring>

TEST(TRawPacket, BuildsTheDocumentedFramesAndDecodesThemBack)
{
    const struct {
        std::uint8_t command;
        Bytes payload;
        const char *head; // the frame's first bytes, the checksum included where it fits
    } cases[] = {
        {0, {}, "CA 01 00 00 89"},
        {1, {0, 0, 0}, "CA 04 00 01 00 00 00 88"},
        {2, Bytes(400, 0xAB), "CA 91 01 02 AB"}, // length 401, low byte first, top bit set
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.head);
        TRawPacket packet;
        EXPECT_EQ(packet.Build(c.command, c.payload), c.payload.size() + 5);
        EXPECT_EQ(HexDump(CopyBytes(packet.Data(), 0, (std::strlen(c.head) + 1) / 3)), c.head);
        ASSERT_TRUE(packet.IsValid());
        std::uint8_t command = 0xFF;
        Bytes payload{1, 2};
        packet.Decode(command, payload);
        EXPECT_EQ(command, c.command);
        EXPECT_EQ(payload, c.payload);
    }
}

TEST(TRawPacket, InvalidFramesAndEverySingleBitFlipAreRejected)
{
    TRawPacket good;
    good.Build(2, {0x01, 0x10, 0x00, 'A', 'B', 'C', 0xFF});
    Bytes trailing = good.Data();
    trailing.push_back(0); // keeps the checksum right: only the length field tells
    Bytes badStart = good.Data();
    badStart[0] = 0xCB;
    badStart.back() = Crc8(badStart.data(), static_cast<long>(badStart.size()) - 1);
    std::vector<std::pair<std::string, Bytes>> cases = {
        {"four bytes", {0xCA, 0x00, 0x00, 0x00}},
        {"trailing byte", trailing},
        {"wrong start byte under a right checksum", badStart},
    };
    for (std::size_t byte = 0; byte < good.Data().size(); ++byte) {
        for (int bit = 0; bit < 8; ++bit) {
            Bytes corrupted = good.Data();
            corrupted[byte] ^= static_cast<std::uint8_t>(1 << bit);
            cases.emplace_back("byte " + std::to_string(byte) + " bit " + std::to_string(bit), corrupted);
        }
    }
    for (auto &[what, frame] : cases) {
        TRawPacket packet;
        packet.Assign(std::move(frame));
        EXPECT_FALSE(packet.IsValid()) << what;
    }
}

TEST(ByteStrings, WordToBytesCopyBytesAndHexDump)
{
    EXPECT_EQ(WordToBytes(0x1234), (Bytes{0x34, 0x12}));
    EXPECT_EQ(CopyBytes(Bytes{1, 2, 3}, 1, 10), (Bytes{2, 3}));
    EXPECT_EQ(CopyBytes(Bytes{1, 2, 3}, 3, 1), Bytes{});
    EXPECT_EQ(HexDump(Bytes{0x0A, 0xFF}, ""), "0AFF");
}

TEST(FrameComplete, StopsReadingOnlyOnAWholeFrame)
{
    // A whole frame and a frame cut short are read from a pseudo-terminal in the serial port's tests.
    EXPECT_FALSE(FrameComplete(Bytes{0xCA, 0x01}));
    EXPECT_FALSE(FrameComplete(Bytes{0x00, 0x01, 0x00, 0x00, 0x01}));
    // More than an answer buffer can hold: left to the gap rule.
    EXPECT_FALSE(FrameComplete(Bytes{0xCA, 0xFD, 0x00}));
    Bytes longest = {0xCA, 0xFC, 0x00};
    longest.resize(256);
    EXPECT_TRUE(FrameComplete(longest));
}
