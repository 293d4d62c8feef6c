#include "core/Strings.h"

#include <gtest/gtest.h>

namespace
{

using namespace Pd::Core;

TEST(FormatBytes, SwitchesUnitsAtTheBinaryBoundaries)
{
    EXPECT_EQ(FormatBytes(0), L"0.0 KB");
    EXPECT_EQ(FormatBytes(512), L"0.5 KB");
    EXPECT_EQ(FormatBytes(1'048'575), L"1024.0 KB");
    EXPECT_EQ(FormatBytes(1'048'576), L"1.0 MB");
    EXPECT_EQ(FormatBytes(1'073'741'823), L"1024.0 MB");
    EXPECT_EQ(FormatBytes(1'073'741'824), L"1.00 GB");
    EXPECT_EQ(FormatBytes(5'905'580'032), L"5.50 GB");
}

TEST(Utf, RoundTripsEveryPlaneAndReplacesInvalidBytes)
{
    std::wstring text = L"a\u00e9\u20ac\U0001F600z";
    std::string utf8 = ToUtf8(text);
    EXPECT_EQ(utf8, "a\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80z");
    EXPECT_EQ(FromUtf8(utf8), text);
    EXPECT_EQ(FromUtf8("a\xFF"
                       "b"),
              (std::wstring{L'a', wchar_t(0xFFFD), L'b'}));
}

TEST(ToLower, LowersOnlyTheLettersAToZ)
{
    EXPECT_EQ(ToLower(L"PT_BR-Mixed09\u00C4\u0130"), L"pt_br-mixed09\u00C4\u0130");
}

} // namespace
