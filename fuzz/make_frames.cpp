// Writes the seed frames of fuzz_frame: answers to every command as the
// device sends them, built by TRawPacket::Build, one file each.

#include "link/port.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace {

Bytes identPayload(std::uint16_t sw, std::uint16_t hw, std::uint16_t chunk, std::uint64_t serial)
{
    Bytes payload;
    for (const std::uint16_t word : {sw, hw, chunk}) {
        const Bytes bytes = WordToBytes(word);
        payload.insert(payload.end(), bytes.begin(), bytes.end());
    }
    for (int i = 0; i < 8; ++i)
        payload.push_back(static_cast<std::uint8_t>(serial >> (8 * i)));
    return payload;
}

// Block number and offset as a read or write answer echoes them.
Bytes echo(std::uint8_t block, std::uint16_t offset, const Bytes &data = {})
{
    Bytes payload{block};
    const Bytes word = WordToBytes(offset);
    payload.insert(payload.end(), word.begin(), word.end());
    payload.insert(payload.end(), data.begin(), data.end());
    return payload;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s DIR\n", argv[0]);
        return 2;
    }
    const std::filesystem::path dir = argv[1];
    std::filesystem::create_directories(dir);

    Bytes chunk;
    for (int i = 0; i < 64; ++i)
        chunk.push_back(static_cast<std::uint8_t>(i * 7));
    const struct {
        const char *name;
        std::uint8_t command;
        Bytes payload;
    } frames[] = {
        {"identify-request", cmdIdentify, {}},
        {"identify-answer", cmdIdentify, identPayload(300, 5, 64, 0x0102030405060708ull)},
        {"identify-answer-xml", cmdIdentify, identPayload(120, 7, 200, 0xFEDCBA9876543210ull)},
        {"identify-answer-no-chunk", cmdIdentify, identPayload(300, 5, 0, 1)},
        {"read-request", cmdReadBlock, echo(2, 64)},
        {"read-answer", cmdReadBlock, echo(0, 0, chunk)},
        {"read-answer-last", cmdReadBlock, echo(4, 128, Bytes(16, 0x01))},
        {"read-answer-full", cmdReadBlock, echo(1, 0, Bytes(kAnswerBufferSize - TRawPacket::kMinFrameLength - 3, 0xAB))},
        {"write-answer", cmdWriteBlock, echo(3, 64)},
        {"key-read-start-answer", cmdKeyReadStart, {}},
        {"key-read-stop-answer", cmdKeyReadStop, {}},
        {"key-read-poll-answer", cmdKeyReadPoll, {0x01, 0xA2, 0xFF, 0x00, 0x12, 0x34}},
        {"password-answer", cmdPassword, {0x00}},
        {"password-refused", cmdPassword, {0x01}},
    };
    for (const auto &frame : frames) {
        TRawPacket packet;
        packet.Build(frame.command, frame.payload);
        std::ofstream out(dir / frame.name, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char *>(packet.Data().data()), static_cast<std::streamsize>(packet.Data().size()));
        if (!out) {
            std::fprintf(stderr, "cannot write %s\n", (dir / frame.name).c_str());
            return 1;
        }
    }
    return 0;
}
