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

// Section values of the given lengths, each filled with its own index so that a test sees which
// sections were kept and in what order.
Bytes Encode(const std::vector<std::size_t>& lengths)
{
    Bytes data;
    for (std::size_t i = 0; i < lengths.size(); ++i)
        Pd::Bt::AppendAdStructure(data, static_cast<std::uint8_t>(0xA0 + i),
                                  Bytes(lengths[i], static_cast<std::uint8_t>(i)));
    return data;
}

// The AD structure that Encode makes of section i.
Bytes Structure(std::size_t i, std::size_t length)
{
    Bytes structure{static_cast<std::uint8_t>(length + 1), static_cast<std::uint8_t>(0xA0 + i)};
    structure.resize(length + 2, static_cast<std::uint8_t>(i));
    return structure;
}

Bytes Concat(std::initializer_list<Bytes> parts)
{
    Bytes all;
    for (const Bytes& part : parts)
        all.insert(all.end(), part.begin(), part.end());
    return all;
}

TEST(AppendAdStructure, KeepsSectionsInOrderWhileTheyFitIn31BytesAndSkipsTheRest)
{
    const std::pair<std::vector<std::size_t>, Bytes> cases[] = {
        {{29}, Structure(0, 29)},                                                 // exactly 31 bytes
        {{30, 1}, Structure(1, 1)},                                               // 30 bytes never fit
        {{1, 29}, Structure(0, 1)},                                               // 3 + 31 would pass 31
        {{1, 29, 26}, Concat({Structure(0, 1), Structure(2, 26)})},               // a later one still fits
        {{1, 26, 0}, Concat({Structure(0, 1), Structure(1, 26)})},                // full: not even 2 more
        {{0, 1, 2}, Concat({Structure(0, 0), Structure(1, 1), Structure(2, 2)})}, // empty values
        {{}, {}},
    };
    for (const auto& [lengths, expected] : cases)
    {
        Bytes data = Encode(lengths);
        EXPECT_EQ(data, expected) << ::testing::PrintToString(lengths);
        EXPECT_LE(data.size(), Pd::Bt::MaxAdvertisingData);
    }
}

} // namespace
