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

} // namespace
