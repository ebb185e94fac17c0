#include "link/port.h"
#include "link/serial.h"

#include <gtest/gtest.h>

namespace {

TRawPacket packetOf(Bytes bytes)
{
    TRawPacket packet;
    packet.Assign(std::move(bytes));
    return packet;
}

} // namespace

TEST(TRawPacket, BuildsTheDocumentedFrames)
{
    const struct {
        std::uint8_t command;
        Bytes payload;
        const char *frame;
    } cases[] = {
        {0, {}, "CA 01 00 00 89"},
        {1, {0, 0, 0}, "CA 04 00 01 00 00 00 88"},
    };
    for (const auto &c : cases) {
        TRawPacket packet;
        EXPECT_EQ(packet.Build(c.command, c.payload), c.payload.size() + 5);
        EXPECT_EQ(HexDump(packet.Data()), c.frame);
        EXPECT_TRUE(packet.IsValid());
    }
}

TEST(TRawPacket, LengthFieldIsLittleEndianAndCountsTheCommandByte)
{
    TRawPacket packet;
    packet.Build(2, Bytes(300, 0xAB));
    ASSERT_EQ(packet.Data().size(), 305u);
    EXPECT_EQ(packet.Data()[1], 0x2D); // 301 = 0x012D
    EXPECT_EQ(packet.Data()[2], 0x01);
    EXPECT_TRUE(packet.IsValid());
}

TEST(TRawPacket, DecodeSplitsCommandAndPayload)
{
    const struct {
        std::uint8_t command;
        Bytes payload;
    } cases[] = {{26, {0x12, 0x34, 0x56}}, {12, {}}};
    for (const auto &c : cases) {
        TRawPacket packet;
        packet.Build(c.command, c.payload);
        ASSERT_TRUE(packet.IsValid()); // a five-byte frame with an empty payload too
        std::uint8_t command = 0;
        Bytes payload{1, 2};
        packet.Decode(command, payload);
        EXPECT_EQ(command, c.command);
        EXPECT_EQ(payload, c.payload);
    }
}

TEST(TRawPacket, InvalidFrames)
{
    TRawPacket good;
    good.Build(1, {0, 0, 0});
    Bytes trailing = good.Data();
    trailing.push_back(0);
    Bytes badStart = good.Data();
    badStart[0] = 0xCB;
    // Right length field and checksum over the wrong start byte.
    TRawPacket wrongStart = packetOf(badStart);
    wrongStart.SetChecksum();

    const struct {
        const char *what;
        Bytes frame;
    } cases[] = {
        {"empty", {}},
        {"four bytes", {0xCA, 0x00, 0x00, 0x00}},
        {"truncated", CopyBytes(good.Data(), 0, good.Data().size() - 1)},
        {"trailing byte", trailing},
        {"wrong start byte", wrongStart.Data()},
    };
    for (const auto &c : cases)
        EXPECT_FALSE(packetOf(c.frame).IsValid()) << c.what;
}

TEST(TRawPacket, EverySingleBitFlipIsDetected)
{
    TRawPacket packet;
    packet.Build(2, {0x01, 0x10, 0x00, 'A', 'B', 'C', 0xFF});
    const Bytes frame = packet.Data();
    for (std::size_t byte = 0; byte < frame.size(); ++byte) {
        for (int bit = 0; bit < 8; ++bit) {
            Bytes corrupted = frame;
            corrupted[byte] ^= static_cast<std::uint8_t>(1 << bit);
            EXPECT_FALSE(packetOf(corrupted).IsValid()) << "byte " << byte << " bit " << bit;
        }
    }
}

TEST(ByteStrings, WordToBytesAndHexDump)
{
    EXPECT_EQ(WordToBytes(0x1234), (Bytes{0x34, 0x12}));
    EXPECT_EQ(HexDump(Bytes{0xCA, 0x01, 0x00}), "CA 01 00");
    EXPECT_EQ(HexDump(Bytes{0x0A, 0xFF}, ""), "0AFF");
    EXPECT_EQ(HexDump(Bytes{}), "");
    EXPECT_EQ(CopyBytes(Bytes{1, 2, 3}, 1, 10), (Bytes{2, 3}));
    EXPECT_EQ(CopyBytes(Bytes{1, 2, 3}, 5, 1), Bytes{});
}

TEST(FrameComplete, StopsReadingOnlyOnAWholeFrame)
{
    TRawPacket packet;
    packet.Build(0, Bytes(14, 7));
    const Bytes frame = packet.Data();
    EXPECT_TRUE(FrameComplete(frame));
    EXPECT_FALSE(FrameComplete(CopyBytes(frame, 0, frame.size() - 1)));
    EXPECT_FALSE(FrameComplete(CopyBytes(frame, 0, 2)));
    EXPECT_FALSE(FrameComplete(Bytes{0x00, 0x01, 0x00, 0x00, 0x01}));
    // More than an answer buffer can hold: left to the gap rule.
    EXPECT_FALSE(FrameComplete(Bytes{0xCA, 0xFD, 0x00}));
    Bytes longest = {0xCA, 0xFC, 0x00};
    longest.resize(256);
    EXPECT_TRUE(FrameComplete(longest));
}
