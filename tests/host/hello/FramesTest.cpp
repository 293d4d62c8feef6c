#include "host/hello/Frames.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace
{

using namespace Pd::Bio;
using Bytes = std::vector<std::uint8_t>;

Bytes Frame(std::uint8_t kind, std::uint8_t value, std::uint16_t length, std::uint32_t magic = FrameMagic)
{
    const auto header = EncodeFrameHeader({magic, kind, value, length});
    Bytes bytes(header.begin(), header.end());
    bytes.resize(bytes.size() + length, 0xA5);
    return bytes;
}

// Reads every frame of the stream: "kind/value" for each frame, then how the reading ended.
std::vector<std::string> ReadAll(const Bytes& stream)
{
    std::size_t at = 0;
    const ReadExactly read = [&](std::span<std::uint8_t> buffer) {
        if (buffer.size() > stream.size() - at)
            return false;
        std::memcpy(buffer.data(), stream.data() + at, buffer.size());
        at += buffer.size();
        return true;
    };
    std::vector<std::string> seen;
    for (;;)
    {
        auto frame = ReadFrame(read);
        if (!frame)
        {
            const FrameError& error = frame.error();
            seen.push_back(error.problem == FrameProblem::Closed
                               ? "closed"
                               : "invalid " + std::to_string(error.header.magic) + "/" +
                                     std::to_string(error.header.length));
            return seen;
        }
        seen.push_back(std::to_string(frame->kind) + "/" + std::to_string(frame->value));
    }
}

TEST(HelloFrames, WireBytesAreLittleEndianWithTheAsciiMagic)
{
    const auto bytes = EncodeFrameHeader({FrameMagic, 3, 2, 0x0201});
    EXPECT_EQ(Bytes(bytes.begin(), bytes.end()), (Bytes{'T', 'K', 'F', 'P', 3, 2, 0x01, 0x02}));
    EXPECT_EQ(DecodeFrameHeader(bytes), (FrameHeader{FrameMagic, 3, 2, 0x0201}));
}

TEST(HelloFrames, StreamsReadFrameByFrame)
{
    auto join = [](std::initializer_list<Bytes> parts) {
        Bytes all;
        for (const Bytes& part : parts)
            all.insert(all.end(), part.begin(), part.end());
        return all;
    };
    Bytes truncatedPayload = Frame(3, 0, 10);
    truncatedPayload.resize(12);
    struct Case
    {
        const char* name;
        Bytes stream;
        std::vector<std::string> expected;
    };
    const Case cases[] = {
        {"request then cancel", join({Frame(3, 0, 0), Frame(5, 7, 0)}), {"3/0", "5/7", "closed"}},
        {"payload skipped whole", join({Frame(9, 1, 4), Frame(3, 0, 0)}), {"9/1", "3/0", "closed"}},
        {"largest payload", Frame(3, 0, 512), {"3/0", "closed"}},
        {"payload too long", join({Frame(3, 0, 513), Frame(3, 0, 0)}), {"invalid 1346784084/513"}},
        {"wrong magic", Frame(3, 0, 0, 0x54464B50), {"invalid 1413892944/0"}},
        {"truncated header", Bytes{'T', 'K', 'F', 'P', 3}, {"closed"}},
        {"truncated payload", truncatedPayload, {"closed"}},
        {"empty", Bytes{}, {"closed"}},
    };
    for (const Case& c : cases)
        EXPECT_EQ(ReadAll(c.stream), c.expected) << c.name;
}

} // namespace
