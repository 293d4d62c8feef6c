#include "core/Hex.h"

#include <gtest/gtest.h>

namespace
{

using Pd::Core::HexValue;

TEST(Hex, ValuesOfDigitsInEitherCaseAndNothingElse)
{
    EXPECT_EQ(HexValue('0'), 0);
    EXPECT_EQ(HexValue('9'), 9);
    EXPECT_EQ(HexValue('a'), 10);
    EXPECT_EQ(HexValue(L'F'), 15);
    for (wchar_t c : {L'/', L':', L'@', L'G', L'`', L'g', L'\uFF10', L'\uFF21', wchar_t(0x130)})
        EXPECT_EQ(HexValue(c), -1) << static_cast<int>(c);
    EXPECT_EQ(HexValue('\xE1'), -1) << "a negative char";
}

} // namespace
