#include "bt/hci/CommandTable.h"

#include <gtest/gtest.h>

#include <map>
#include <set>

namespace
{

using namespace Pd::Bt::Hci;

TEST(CommandTable, Holds332RowsInStrictlyAscendingOrder)
{
    auto table = CommandTable();
    ASSERT_EQ(table.size(), 332u);
    for (std::size_t i = 1; i < table.size(); ++i)
        EXPECT_LT(table[i - 1].opcode, table[i].opcode) << table[i].name;
}

TEST(CommandTable, NoTwoRowsShareABitmapBit)
{
    std::set<int> bits;
    for (const CommandRow& row : CommandTable())
    {
        EXPECT_LT(row.octet, 64);
        EXPECT_LT(row.bit, 8);
        EXPECT_TRUE(bits.insert(row.octet * 8 + row.bit).second) << row.name;
    }
}

TEST(CommandTable, RowCountsPerOgfMatchTheCommandGroups)
{
    std::map<int, int> perOgf;
    for (const CommandRow& row : CommandTable())
        ++perOgf[row.opcode >> 10];
    EXPECT_EQ(perOgf, (std::map<int, int>{{1, 46}, {2, 12}, {3, 94}, {4, 11}, {5, 9}, {6, 5}, {8, 155}}));
}

TEST(CommandName, NamesTableRowsVendorCommandsAndUnknownOnes)
{
    EXPECT_EQ(CommandName(0x0C03), "RESET");
    EXPECT_EQ(CommandName(0x209D), "LE_FRAME_SPACE_UPDATE");
    EXPECT_EQ(CommandName(0x0404), "EXIT_PERIODIC_INQUIRY_MODE");
    EXPECT_EQ(CommandName(0xFC01), "VENDOR_SPECIFIC");
    EXPECT_EQ(CommandName(0xFC00), "VENDOR_SPECIFIC");
    EXPECT_EQ(CommandName(0x0000), "?");
    EXPECT_EQ(CommandName(0x1002), "?") << "Read Local Supported Commands has no row";
}

} // namespace
