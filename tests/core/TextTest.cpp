#include "core/Text.h"

#include "LanguageReset.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

namespace
{

using namespace Pd::Core;
using TextTest = PdTest::EnglishAfterwards;

// The ids of the string table, grouped by area.
std::vector<std::uint32_t> ListedIds()
{
    const std::pair<std::uint32_t, std::uint32_t> ranges[] = {
        {10000, 10015}, {11000, 11041}, {12000, 12008}, {12010, 12012}, {12020, 12026},
        {13000, 13031}, {13100, 13102}, {13110, 13117}, {13120, 13120}, {14000, 14017},
        {14020, 14032}, {15000, 15031}, {16000, 16008}, {16010, 16012}, {16020, 16035},
        {17000, 17060}, {18000, 18009}, {18010, 18032}, {18040, 18044}, {19000, 19021}};
    std::vector<std::uint32_t> ids;
    for (auto [first, last] : ranges)
        for (std::uint32_t id = first; id <= last; ++id)
            ids.push_back(id);
    return ids;
}

TEST(BuiltinText, HoldsExactlyTheListedIdsInAscendingOrder)
{
    EXPECT_EQ(BuiltinTextIds(), ListedIds());
    EXPECT_EQ(BuiltinTextIds().size(), 333u);
}

TEST(BuiltinText, ReadsEntriesAcrossTheBlock)
{
    EXPECT_EQ(BuiltinText(10000), L"on"); // first of its block
    EXPECT_EQ(BuiltinText(10008), L"Canceled.");
    EXPECT_EQ(BuiltinText(10015), L"Language: {}"); // last of its block
    EXPECT_EQ(BuiltinText(10009), L"{}: {} (code {})");
}

TEST(BuiltinText, KeepsNonAsciiLineEndsAndBackslashes)
{
    EXPECT_EQ(BuiltinText(12023), L"Release {0}  \u00B7  {1}  \u00B7  {2}");
    EXPECT_EQ(BuiltinText(17034), L"Settings of Peldra removed (HKCU\\{}).");
    EXPECT_NE(BuiltinText(19001).find(L"\n\n{0} (uid {1})"), std::wstring::npos);
    EXPECT_EQ(BuiltinText(15003), L"Enter an https:// address (or http://localhost).");
}

TEST(BuiltinText, GapsAndUnknownIdsHaveNoText)
{
    EXPECT_EQ(BuiltinText(12009), L"");
    EXPECT_EQ(BuiltinText(19500), L"");
    EXPECT_EQ(BuiltinText(0), L"");
    EXPECT_EQ(BuiltinText(0xFFFFFFFFu), L"");
}

TEST(BuiltinText, IdsBeyondTheLastStringBlockNeverBorrowAnotherIdsText)
{
    // Block numbers are 16-bit: from 1,048,560 on they would wrap onto the low ids.
    EXPECT_EQ(BuiltinText(1'048'576 + 10008), L"");
    EXPECT_EQ(BuiltinText(2 * 1'048'576 + 10000), L"");
    EXPECT_EQ(BuiltinText(1'048'560), L"");
    EXPECT_EQ(DefaultText(1'048'576 + 10008), L"#1058584");
}

TEST(DefaultText, IsTheBuiltinTextOrTheIdWithAHash)
{
    EXPECT_EQ(DefaultText(10008), L"Canceled.");
    EXPECT_EQ(DefaultText(19500), L"#19500");
    EXPECT_EQ(DefaultText(12009), L"#12009");
}

TEST_F(TextTest, EnglishBeforeAnyLanguageIsSet)
{
    EXPECT_EQ(LanguageState::Instance().Code(), L"en");
    EXPECT_EQ(Text(10008), L"Canceled.");
    EXPECT_EQ(Text(19500), L"#19500");
}

TEST_F(TextTest, TranslationsOverrideAndEmptyOnesFallBack)
{
    Translate({{10008, L"Abgebrochen."}, {10000, L""}, {19500, L"nur hier"}});
    EXPECT_EQ(Text(10008), L"Abgebrochen.");
    EXPECT_EQ(Text(10000), L"on");
    EXPECT_EQ(Text(10001), L"off");
    EXPECT_EQ(Text(19500), L"nur hier");
    EXPECT_EQ(DefaultText(10008), L"Canceled."); // the English text whatever the language
}

TEST_F(TextTest, FormatsFieldsOfEveryKind)
{
    EXPECT_EQ(FormatText(10009, L"Step", L"message", 5), L"Step: message (code 5)");
    EXPECT_EQ(FormatText(12023, L"2407", std::wstring(L"x"), std::wstring_view(L"y")),
              L"Release 2407  \u00B7  x  \u00B7  y");
    EXPECT_EQ(FormatText(17007, 2u, 5ull, L"timeout"), L"Attempt 2 of 5 failed: timeout - trying again.");
}

TEST_F(TextTest, TranslationWithBrokenFieldsFallsBackToTheEnglishText)
{
    Translate({{14007, L"Fehler: {2}"}, {10015, L"Sprache: {:x}"}, {10013, L"Windows-Sprache {(}"}});
    EXPECT_EQ(FormatText(14007, L"a", L"b"), L"Installation failed: a");
    EXPECT_EQ(FormatText(10015, L"Deutsch"), L"Language: Deutsch");
    EXPECT_EQ(FormatText(10013, L"Deutsch"), L"Windows language (Deutsch)");
}

TEST_F(TextTest, WhenTheEnglishTextFailsTooTheTextIsReturnedUnformatted)
{
    Translate({{10009, L"{}: {} (Code {}) {3}"}});
    EXPECT_EQ(FormatText(10009, L"only one"), L"{}: {} (Code {}) {3}");
    LanguageState::Instance().Replace(L"en", false, {});
    EXPECT_EQ(FormatText(10009, L"only one"), L"{}: {} (code {})");
    EXPECT_EQ(FormatText(19500, 1), L"#19500");
}

TEST_F(TextTest, ReadersSeeCodeAndAutomaticFlagChangeTogether)
{
    std::atomic<bool> stop = false;
    std::atomic<int> mixed = 0;
    std::vector<std::thread> readers;
    for (int i = 0; i < 4; ++i)
        readers.emplace_back([&] {
            while (!stop)
            {
                auto choice = LanguageState::Instance().Current();
                if ((choice.code == L"de") != choice.automatic)
                    ++mixed;
                std::wstring on = Text(10000);
                if (on != L"on" && on != L"an")
                    ++mixed;
            }
        });
    for (int i = 0; i < 2000; ++i)
    {
        LanguageState::Instance().Replace(L"de", true, {{10000, L"an"}});
        LanguageState::Instance().Replace(L"en", false, {});
    }
    stop = true;
    for (auto& reader : readers)
        reader.join();
    EXPECT_EQ(mixed, 0);
}

} // namespace
