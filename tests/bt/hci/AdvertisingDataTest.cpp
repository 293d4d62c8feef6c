#include "bt/hci/AdvertisingData.h"

#include <gtest/gtest.h>

namespace
{

using Pd::Bt::Bytes;
using Pd::Bt::NameFromAdvertisingData;

TEST(NameFromAdvertisingData, CompleteNameWinsOverShortenedOnes)
{
    Bytes data = {0x02, 0x01, 0x06, 0x03, 0x08, 'A', 'B', 0x04, 0x09, 'X', 'Y', 'Z', 0x03, 0x08, 'C', 'D'};
    EXPECT_EQ(NameFromAdvertisingData(data), "XYZ");
}

TEST(NameFromAdvertisingData, LastShortenedNameIsTakenWithoutCompleteOne)
{
    Bytes data = {0x03, 0x08, 'A', 'B', 0x02, 0x01, 0x06, 0x03, 0x08, 'C', 'D'};
    EXPECT_EQ(NameFromAdvertisingData(data), "CD");
}

TEST(NameFromAdvertisingData, StructureRunningPastTheEndStopsTheSearch)
{
    Bytes data = {0x03, 0x08, 'A', 'B', 0x09, 0x09, 'X', 'Y'};
    EXPECT_EQ(NameFromAdvertisingData(data), "AB");
}

TEST(NameFromAdvertisingData, ZeroLengthStopsAndTinyInputsGiveNothing)
{
    EXPECT_EQ(NameFromAdvertisingData(Bytes{0x00, 0x04, 0x09, 'X', 'Y', 'Z'}), "");
    EXPECT_EQ(NameFromAdvertisingData(Bytes{0x01}), "");
    EXPECT_EQ(NameFromAdvertisingData(Bytes{}), "");
    EXPECT_EQ(NameFromAdvertisingData(Bytes{0x01, 0x09}), "") << "a complete name may be empty";
}

} // namespace
