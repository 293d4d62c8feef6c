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

TEST(IgnoringCase, ComparesAsWindowsComparesNames)
{
    struct Case
    {
        const wchar_t* a;
        const wchar_t* b;
        bool equal;
    };
    for (const Case& c : {
             Case{L"C:\\Program Files\\\u00C4rger", L"c:\\program files\\\u00E4RGER", true},
             Case{L"\u0394\u0416", L"\u03B4\u0436", true}, // Greek and Cyrillic
             Case{L"\u212A", L"k", false},                 // the Kelvin sign folds to no K
             Case{L"a/b", L"a\\b", false},
             Case{L"ab", L"ab\\", false},
             Case{L"", L"", true},
         })
        EXPECT_EQ(EqualsIgnoringCase(c.a, c.b), c.equal) << c.a << L" ~ " << c.b;

    EXPECT_TRUE(StartsWithIgnoringCase(L"C:\\\u00C4rger\\x.exe", L"c:\\\u00E4RGER\\"));
    EXPECT_FALSE(StartsWithIgnoringCase(L"c:\\a", L"c:\\ab"));
    EXPECT_TRUE(ContainsIgnoringCase(L"C:\\Packages\\Tovik.\u00C9\\x", L"tovik.\u00E9"));
    EXPECT_TRUE(ContainsIgnoringCase(L"x", L""));
    EXPECT_FALSE(ContainsIgnoringCase(L"tovi", L"tovik"));
}

TEST(IgnoringCase, ProtocolTokensFoldOnlyAsciiLetters)
{
    EXPECT_TRUE(EqualsAsciiIgnoringCase(L"HTTPS://", L"https://"));
    EXPECT_FALSE(EqualsAsciiIgnoringCase(L"http\u017F://", L"https://")) << "long s is not s";
    EXPECT_FALSE(EqualsAsciiIgnoringCase(L"\u00C4", L"\u00E4"));
    EXPECT_FALSE(EqualsAsciiIgnoringCase(L"http", L"https"));
}

} // namespace
