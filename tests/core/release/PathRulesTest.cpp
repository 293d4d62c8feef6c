#include "core/release/PathRules.h"

#include <gtest/gtest.h>

#include <string>

namespace
{

using Pd::Install::IsReservedName;
using Pd::Install::RelativeEntryPath;
using Pd::Install::Utf16FromUtf8;

TEST(ReservedNames, DeviceNamesBeforeTheFirstDotInAnyCase)
{
    for (const wchar_t* name :
         {L"CON", L"con", L"Prn.txt", L"aux.tar.gz", L"NUL", L"conin$", L"CONOUT$.x", L"COM0", L"com9",
          L"LPT1", L"lpt\u00B9", L"COM\u00B2", L"LPT\u00B3.log", L"con .txt"})
        EXPECT_TRUE(IsReservedName(name)) << name;
}

TEST(ReservedNames, TrailingDotOrBlankIsReserved)
{
    EXPECT_TRUE(IsReservedName(L"name."));
    EXPECT_TRUE(IsReservedName(L"name "));
    EXPECT_TRUE(IsReservedName(L"aux "));
}

TEST(ReservedNames, SimilarButUsableNamesAreNot)
{
    for (const wchar_t* name : {L"", L".", L"..", L"COM10", L"console", L"LPT", L"COMA", L"CON1", L"xcon",
                                L"COM\u2074", L".con", L"a.b"})
        EXPECT_FALSE(IsReservedName(name)) << name;
}

TEST(Utf8Conversion, ValidSequencesOfEveryLength)
{
    EXPECT_EQ(Utf16FromUtf8("a\xC3\xA9\xE2\x82\xAC"), L"a\u00E9\u20AC");
    std::wstring pair = Utf16FromUtf8("\xF0\x9F\x98\x80"); // U+1F600
    ASSERT_EQ(pair.size(), 2u);
    EXPECT_EQ(static_cast<unsigned>(pair[0]), 0xD83Du);
    EXPECT_EQ(static_cast<unsigned>(pair[1]), 0xDE00u);
}

TEST(Utf8Conversion, InvalidBytesBecomeReplacementCharactersAndNeverSeparators)
{
    // An overlong slash, a lone continuation byte, a truncated sequence, an encoded surrogate and
    // a code point beyond U+10FFFF.
    EXPECT_EQ(Utf16FromUtf8("\xC0\xAF"), L"\uFFFD\uFFFD");
    EXPECT_EQ(Utf16FromUtf8("a\x80"
                            "b"),
              L"a\uFFFDb");
    EXPECT_EQ(Utf16FromUtf8("\xE2\x82"), L"\uFFFD\uFFFD");
    EXPECT_EQ(Utf16FromUtf8("\xED\xA0\x80"), L"\uFFFD\uFFFD\uFFFD");
    EXPECT_EQ(Utf16FromUtf8("\xF4\x90\x80\x80"), L"\uFFFD\uFFFD\uFFFD\uFFFD");
    auto path = RelativeEntryPath("..\xC0\xAF"
                                  "etc");
    ASSERT_TRUE(path);
    EXPECT_EQ(*path, L"..\uFFFD\uFFFDetc");
}

TEST(RelativeEntryPaths, SeparatorsAreUnifiedAndEmptyPartsDropped)
{
    EXPECT_EQ(RelativeEntryPath("a/b\\c"), L"a\\b\\c");
    EXPECT_EQ(RelativeEntryPath("//./a/./b//"), L"a\\b");
    EXPECT_EQ(RelativeEntryPath("./"), L"");
    EXPECT_EQ(RelativeEntryPath(""), L"");
    EXPECT_EQ(RelativeEntryPath("...x/..y"), L"...x\\..y");
}

} // namespace
