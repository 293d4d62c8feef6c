#include "bt/hci/AdvertisingData.h"

#include <gtest/gtest.h>

namespace
{

using Pd::Bt::Bytes;

TEST(NameFromAdvertisingData, TakesTheCompleteNameElseTheLastShortenedOneWithinBounds)
{
    const std::pair<Bytes, std::string> cases[] = {
        {{0x02, 0x01, 0x06, 0x03, 0x08, 'A', 'B', 0x04, 0x09, 'X', 'Y', 'Z', 0x03, 0x08, 'C', 'D'}, "XYZ"},
        {{0x03, 0x08, 'A', 'B', 0x02, 0x01, 0x06, 0x03, 0x08, 'C', 'D'}, "CD"},
        {{0x03, 0x08, 'A', 'B', 0x09, 0x09, 'X', 'Y'}, "AB"}, // a structure running past the end stops
        {{0x00, 0x04, 0x09, 'X', 'Y', 'Z'}, ""},              // so does a zero length
        {{0x01}, ""},
        {{}, ""},
        {{0x01, 0x09}, ""}, // an empty complete name
    };
    for (const auto& [data, name] : cases)
        EXPECT_EQ(Pd::Bt::NameFromAdvertisingData(data), name) << ::testing::PrintToString(data);
}

} // namespace
