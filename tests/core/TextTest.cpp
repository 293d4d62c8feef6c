#include "core/Text.h"

#include "LanguageReset.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <thread>
#include <vector>

namespace
{

using namespace Pd::Core;
using TextTest = PdTest::EnglishAfterwards;

TEST(BuiltinText, ListsTheIdsOfEveryStringBlockInAscendingOrder)
{
    const auto& ids = BuiltinTextIds();
    ASSERT_FALSE(ids.empty());
    EXPECT_TRUE(std::ranges::adjacent_find(ids, std::greater_equal<>()) == ids.end());
    EXPECT_EQ(ids.front(), 10000u);
    EXPECT_EQ(ids.back(), 19307u);
    for (std::uint32_t id : {10015u, 12008u, 13120u, 18044u})
        EXPECT_TRUE(std::ranges::binary_search(ids, id)) << id;
    EXPECT_FALSE(std::ranges::binary_search(ids, 12009u)) << "a gap in its block";
}

TEST(BuiltinText, ReadsEntriesAcrossTheBlockWithNonAsciiAndBackslashes)
{
    EXPECT_EQ(BuiltinText(10000), L"on"); // first of its block
    EXPECT_EQ(BuiltinText(10009), L"{}: {} (code {})");
    EXPECT_EQ(BuiltinText(10015), L"Language: {}"); // last of its block
    EXPECT_EQ(BuiltinText(12023), L"Release {0}  \u00B7  {1}  \u00B7  {2}");
    EXPECT_EQ(BuiltinText(17034), L"Settings of Peldra removed (HKCU\\{}).");
    EXPECT_NE(BuiltinText(19001).find(L"\n\n{0} (uid {1})"), std::wstring::npos);
}

TEST(BuiltinText, GapsUnknownIdsAndIdsBeyondTheLastBlockHaveNoText)
{
    // Block numbers are 16-bit: from 1,048,560 on they would wrap onto the low ids.
    for (std::uint32_t id :
         {12009u, 19500u, 0u, 0xFFFFFFFFu, 1'048'560u, 1'048'576u + 10008u, 2'097'152u + 10000u})
        EXPECT_EQ(BuiltinText(id), L"") << id;
    EXPECT_EQ(DefaultText(1'048'576 + 10008), L"#1058584");
    EXPECT_EQ(DefaultText(12009), L"#12009");
}

TEST_F(TextTest, TranslationsOverrideAndEmptyOrMissingOnesFallBackToEnglish)
{
    EXPECT_EQ(LanguageState::Instance().Code(), L"en");
    EXPECT_EQ(Text(19500), L"#19500");
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

TEST_F(TextTest, BrokenTranslationsFallBackToEnglishAndABrokenEnglishTextIsReturnedUnformatted)
{
    Translate({{14007, L"Fehler: {2}"},
               {10015, L"Sprache: {:x}"},
               {10013, L"Windows-Sprache {(}"},
               {10009, L"{}: {} (Code {}) {3}"}});
    EXPECT_EQ(FormatText(14007, L"a", L"b"), L"Installation failed: a");
    EXPECT_EQ(FormatText(10015, L"Deutsch"), L"Language: Deutsch");
    EXPECT_EQ(FormatText(10013, L"Deutsch"), L"Windows language (Deutsch)");
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
