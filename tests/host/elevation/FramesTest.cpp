#include "host/elevation/Frames.h"

#include <gtest/gtest.h>

#include <tuple>

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

} // namespace
