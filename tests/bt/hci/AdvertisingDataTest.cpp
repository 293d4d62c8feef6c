#include "bt/hci/AdvertisingData.h"

#include <gtest/gtest.h>

#include <algorithm>

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

// Section i has the type 0xA0 + i and a value of its length filled with i. Appends every
// section, or only the AD structures of the kept ones.
Bytes Sections(const std::vector<std::size_t>& lengths, bool appendAll,
               const std::vector<std::size_t>& kept = {})
{
    Bytes data;
    for (std::size_t i = 0; i < lengths.size(); ++i)
    {
        auto type = static_cast<std::uint8_t>(0xA0 + i);
        Bytes value(lengths[i], static_cast<std::uint8_t>(i));
        if (appendAll)
            Pd::Bt::AppendAdStructure(data, type, value);
        else if (std::ranges::find(kept, i) != kept.end())
        {
            data.insert(data.end(), {static_cast<std::uint8_t>(value.size() + 1), type});
            data.insert(data.end(), value.begin(), value.end());
        }
    }
    return data;
}

TEST(AppendAdStructure, KeepsSectionsInOrderWhileTheyFitIn31BytesAndSkipsTheRest)
{
    using List = std::vector<std::size_t>;
    const std::pair<List, List> cases[] = {
        // section lengths, indices of the kept ones
        {{29}, {0}},           // exactly 31 bytes
        {{30, 1}, {1}},        // 30 bytes never fit
        {{1, 29, 26}, {0, 2}}, // a later, shorter one still fits
        {{1, 26, 0}, {0, 1}},  // full: not even an empty one more
        {{0, 1, 2}, {0, 1, 2}},
    };
    for (const auto& [lengths, kept] : cases)
        EXPECT_EQ(Sections(lengths, true), Sections(lengths, false, kept))
            << ::testing::PrintToString(lengths);
}

} // namespace
