#include "bt/hci/CommandTable.h"

#include <gtest/gtest.h>

#include <set>

namespace
{

using namespace Pd::Bt::Hci;

TEST(CommandTable, EveryRowHasItsOwnOpcodeAndBitmapBit)
{
    std::set<int> opcodes;
    std::set<int> bits;
    for (const CommandRow& row : CommandTable())
    {
        EXPECT_LT(row.octet, 64) << row.name;
        EXPECT_LT(row.bit, 8) << row.name;
        EXPECT_TRUE(opcodes.insert(row.opcode).second) << row.name;
        EXPECT_TRUE(bits.insert(row.octet * 8 + row.bit).second) << row.name;
    }
}

TEST(CommandName, NamesTableRowsVendorCommandsAndUnknownOnes)
{
    EXPECT_EQ(CommandName(0x0C03), "RESET");
    EXPECT_EQ(CommandName(0x209D), "LE_FRAME_SPACE_UPDATE");
    EXPECT_EQ(CommandName(0xFC00), "VENDOR_SPECIFIC");
    EXPECT_EQ(CommandName(0x0000), "?");
    EXPECT_EQ(CommandName(0x1002), "?") << "Read Local Supported Commands has no row";
}

} // namespace
