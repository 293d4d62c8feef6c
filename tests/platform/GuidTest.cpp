#include "platform/Guid.h"

#include "platform/HvSocket.h"

#include <gtest/gtest.h>

namespace
{

using Pd::Platform::GuidText;
using Pd::Platform::ParseGuid;

TEST(Guid, ReadsEitherCaseAndWritesCanonicalUpperCase)
{
    auto guid = ParseGuid(L"{6a2b9c1d-3e4f-4a5b-8c7d-9e0f1a2b3c4d}");
    ASSERT_TRUE(guid);
    EXPECT_EQ(guid->Data1, 0x6A2B9C1Du);
    EXPECT_EQ(guid->Data2, 0x3E4F);
    EXPECT_EQ(guid->Data3, 0x4A5B);
    EXPECT_EQ(guid->Data4[0], 0x8C);
    EXPECT_EQ(guid->Data4[7], 0x4D);
    EXPECT_EQ(GuidText(*guid, false), L"6A2B9C1D-3E4F-4A5B-8C7D-9E0F1A2B3C4D");
    EXPECT_EQ(GuidText(*guid, true), L"{6A2B9C1D-3E4F-4A5B-8C7D-9E0F1A2B3C4D}");
}

TEST(Guid, RefusesAnythingButTheExactBracedForm)
{
    for (const wchar_t* text : {
             L"6A2B9C1D-3E4F-4A5B-8C7D-9E0F1A2B3C4D",    // no braces
             L"{6A2B9C1D-3E4F-4A5B-8C7D-9E0F1A2B3C4}",   // a digit short
             L"{6A2B9C1D-3E4F-4A5B-8C7D-9E0F1A2B3C4D0}", // a digit long
             L"{6A2B9C1D3E4F-4A5B-8C7D-9E0F1A2B3C4D-}",  // dash moved
             L"{6A2B9C1G-3E4F-4A5B-8C7D-9E0F1A2B3C4D}",  // not hexadecimal
             L"{ 6A2B9C1D-3E4F-4A5B-8C7D-9E0F1A2B3C4D}", // blank
             L"{+A2B9C1D-3E4F-4A5B-8C7D-9E0F1A2B3C4D}",  // sign
             L"",
         })
        EXPECT_FALSE(ParseGuid(text)) << text;
}

TEST(VsockServiceGuid, IsThePortInTheVsockTemplate)
{
    EXPECT_EQ(GuidText(Pd::Platform::VsockServiceGuid(0x544B4254), true),
              L"{544B4254-FACB-11E6-BD58-64006A7986D3}");
}

} // namespace
