#include "host/elevation/Frames.h"

#include <gtest/gtest.h>

#include <vector>

namespace
{

using namespace Pd::Bio::Elevation;

std::string Bytes(std::initializer_list<int> values)
{
    std::string bytes;
    for (int value : values)
        bytes += static_cast<char>(value);
    return bytes;
}

// id 0x04030201, uid 10123, app "ab", command "id".
const std::string Record = Bytes({1, 2, 3, 4, 0x8B, 0x27, 0, 0, 2, 0, 'a', 'b', 2, 0, 'i', 'd'});

TEST(ElevationFrames, WritesTheFramesAndroidReads)
{
    const std::vector<std::uint8_t> answer = {0x54, 0x4B, 0x45, 0x56, 2, 4, 4, 0, 0x78, 0x56, 0x34, 0x12};
    const auto built = AnswerFrame(Answer::Busy, 0x12345678);
    EXPECT_EQ(std::vector<std::uint8_t>(built.begin(), built.end()), answer);
    const auto state = StateFrame(0x82);
    EXPECT_EQ(std::vector<std::uint8_t>(state.begin(), state.end()),
              (std::vector<std::uint8_t>{0x54, 0x4B, 0x45, 0x56, 4, 0x82, 0, 0}));
    const auto apk = ApkFrameStart(0x4000000);
    EXPECT_EQ(std::vector<std::uint8_t>(apk.begin(), apk.end()),
              (std::vector<std::uint8_t>{0x54, 0x4B, 0x45, 0x56, 5, 0, 0, 0, 0, 0, 0, 4}));
}

TEST(ElevationFrames, ReadsAndChecksHeaders)
{
    const FrameHeader header = ReadFrameHeader({0x54, 0x4B, 0x45, 0x56, 1, 9, 0x00, 0x08});
    EXPECT_EQ((std::tuple{header.magic, header.kind, header.value, header.length}),
              (std::tuple{Magic, std::uint8_t{1}, std::uint8_t{9}, std::uint16_t{2048}}));
    EXPECT_TRUE(Acceptable(header));
    EXPECT_FALSE(Acceptable({Magic, 1, 0, 2049}));
    EXPECT_FALSE(Acceptable({0x50464B54, 1, 0, 0})); // the Windows Hello bridge's magic
}

TEST(ElevationFrames, StateByteFollowsTheMode)
{
    struct Case
    {
        Mode mode;
        bool offPending;
        std::uint8_t state;
    };
    const Case cases[] = {
        {{true, true, false}, false, 0x82},   {{true, false, false}, false, 0x01},
        {{false, false, true}, true, 0x80},   {{true, false, false}, true, 0x81},
        {{false, false, false}, false, 0x00},
    };
    for (const Case& c : cases)
        EXPECT_EQ(StateByte(c.mode, c.offPending), c.state);
}

TEST(ElevationFrames, ParsesARequestRecord)
{
    Request request = ParseRequest(Record + "ignored");
    EXPECT_TRUE(request.valid);
    EXPECT_EQ((std::tuple{request.id, request.uid, request.app, request.command}),
              (std::tuple{0x04030201u, 10123u, std::string("ab"), std::string("id")}));
    EXPECT_TRUE(ParseRequest(Bytes({5, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0})).valid); // empty name and command
}

TEST(ElevationFrames, RefusesEveryTruncatedRecord)
{
    for (std::size_t size = 0; size < Record.size(); ++size)
        EXPECT_FALSE(ParseRequest(std::string_view(Record).substr(0, size)).valid) << size;
    // A length that runs past the payload.
    EXPECT_FALSE(ParseRequest(Bytes({1, 0, 0, 0, 0, 0, 0, 0, 0xFF, 0xFF, 'a'})).valid);
}

TEST(ElevationFrames, CancelNeedsFourBytes)
{
    EXPECT_EQ(ParseCancel(Bytes({7, 0, 0, 0, 9})), 7u);
    EXPECT_EQ(ParseCancel(Bytes({7, 0, 0})), std::nullopt);
}

} // namespace
