#include "core/Language.h"
#include "core/Elevation.h"
#include "core/LanguageFile.h"
#include "core/LanguageState.h"
#include "core/Settings.h"
#include "core/Text.h"

#include "LanguageReset.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <filesystem>
#include <fstream>
#include <optional>

namespace
{

using namespace Pd::Core;

LanguageFile File(const wchar_t* code, std::vector<std::wstring> locales = {})
{
    LanguageFile file;
    file.code = code;
    file.name = code;
    file.locales = std::move(locales);
    return file;
}

TEST(AutoLanguage, PrefersLocalesThenFullCodesThenThePartBeforeTheDashThenEnglish)
{
    struct Case
    {
        std::vector<std::wstring> preferred;
        std::vector<LanguageFile> files;
        const wchar_t* chosen;
    };
    const std::vector<LanguageFile> portuguese{File(L"pt", {L"pt"}), File(L"br", {L"pt-br"}), File(L"pt-br")};
    const Case cases[] = {
        {{L"de-AT", L"en-US"}, {File(L"de", {L"de"})}, L"de"},
        {{L"de-AT"}, {File(L"de")}, L"de"},
        {{L"en-GB", L"de-DE"}, {File(L"de", {L"de"})}, L"en"}, // any English variant: the built-in texts
        {{L"pt-BR"}, portuguese, L"br"},                       // a locale list with the full name
        {{L"pt-PT"}, portuguese, L"pt"},                       // then the part before the dash
        {{L"pt-BR"}, {File(L"pt-br"), File(L"pt", {L"pt"})}, L"pt-br"},             // the full code
        {{L"fr-FR"}, {File(L"one", {L"fr-fr"}), File(L"two", {L"fr-fr"})}, L"one"}, // folder order
        {{L"de-DE"}, {File(L"deu")}, L"deu"}, // three-letter language names
        {{L"ja-JP", L"fr-FR"}, {File(L"fr")}, L"fr"},
        {{L"ja-JP"}, {File(L"fr")}, L"en"},
        {{}, {File(L"fr")}, L"en"},
    };
    for (std::size_t i = 0; i < std::size(cases); ++i)
        EXPECT_EQ(AutoLanguageFor(cases[i].preferred, cases[i].files), cases[i].chosen) << "case " << i;
}

// Language files in the folder texts load from (for this test exe, elevated under Wine, the one in
// the default install folder; no other test exe uses it), and the stored value "Language" put
// back as it was.
class LanguageChoice : public PdTest::EnglishAfterwards
{
protected:
    void SetUp() override
    {
        folder_ = LanguageFolder();
        ASSERT_FALSE(std::filesystem::exists(folder_)) << "left over from an earlier run";
        std::filesystem::create_directories(folder_);
        saved_ = ReadStored();
        ::RegDeleteKeyValueW(HKEY_CURRENT_USER, SettingsKey, L"Language");
    }

    void TearDown() override
    {
        std::error_code ignored;
        std::filesystem::remove_all(folder_, ignored);
        if (saved_)
            WriteUserString(L"Language", *saved_);
        else
            ::RegDeleteKeyValueW(HKEY_CURRENT_USER, SettingsKey, L"Language");
        EnglishAfterwards::TearDown();
    }

    void Write(const std::wstring& name, std::string_view bytes)
    {
        std::ofstream out(folder_ / name, std::ios::binary);
        out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    }

    static std::optional<std::wstring> ReadStored()
    {
        std::wstring value = ReadUserString(L"Language", L"\x01missing");
        if (value == L"\x01missing")
            return std::nullopt;
        return value;
    }

    static LanguageState::Choice Current() { return LanguageState::Instance().Current(); }

    std::filesystem::path folder_;
    std::optional<std::wstring> saved_;
};

TEST_F(LanguageChoice, ExplicitCodeLoadsItsFileAndAFailureLeavesEnglish)
{
    Write(L"de.lng", "#name=Deutsch\n10008=Abgebrochen.\n");
    EXPECT_TRUE(SetLanguage(L"DE", false));
    EXPECT_EQ(Current().code, L"de");
    EXPECT_FALSE(Current().automatic);
    EXPECT_EQ(Text(10008), L"Abgebrochen.");
    EXPECT_EQ(Text(10000), L"on");
    EXPECT_FALSE(SetLanguage(L"fr", true));
    EXPECT_EQ(Current().code, L"en");
    EXPECT_EQ(Text(10008), L"Canceled.");
    EXPECT_FALSE(ReadStored().has_value()) << "neither stores anything";
}

TEST_F(LanguageChoice, AnElevatedProcessLoadsNoTextFromBesideItself)
{
    ASSERT_TRUE(MayBeElevated()) << "Wine runs every process elevated";
    const std::filesystem::path beside = LanguageFolderBesideProgram();
    ASSERT_NE(beside, folder_);
    std::filesystem::create_directories(beside);
    std::ofstream(beside / L"de.lng", std::ios::binary) << "10008=Planted.\n";
    EXPECT_FALSE(SetLanguage(L"de", false));
    EXPECT_EQ(Text(10008), L"Canceled.");
    std::error_code ignored;
    std::filesystem::remove_all(beside, ignored);
}

TEST_F(LanguageChoice, CodesThatCouldNameOtherFilesAreRefused)
{
    Write(L"de.lng", "10008=Abgebrochen.\n");
    std::filesystem::create_directories(folder_ / L"sub");
    Write(L"sub\\x.lng", "10008=Unterordner\n");
    Write(L"de.x.lng", "10008=Punkt\n");
    for (const wchar_t* code : {L"sub\\x", L"sub/x", L"de.x", L"..\\language\\de", L"abcdefghijklmnopq"})
    {
        EXPECT_FALSE(SetLanguage(code, true)) << code;
        EXPECT_EQ(Text(10008), L"Canceled.") << code;
    }
    EXPECT_FALSE(ReadStored().has_value());
}

TEST_F(LanguageChoice, StoringWritesTheCodeOrAutoAndApplyingReadsItBack)
{
    Write(L"de.lng", "10008=Abgebrochen.\n");
    EXPECT_TRUE(SetLanguage(L"De", true));
    EXPECT_EQ(ReadStored(), L"de");
    // Whatever the automatic choice resolves to, "auto" is what is kept.
    EXPECT_TRUE(SetLanguage(L"AUTO", true));
    EXPECT_EQ(ReadStored(), L"auto");
    EXPECT_TRUE(Current().automatic);
    EXPECT_TRUE(SetLanguage(L"", true));
    EXPECT_EQ(ReadStored(), L"auto");
    EXPECT_TRUE(SetLanguage(L"en", true));
    EXPECT_EQ(ReadStored(), L"en");
    EXPECT_FALSE(Current().automatic);

    WriteUserString(L"Language", L"de");
    ApplyLanguageSetting();
    EXPECT_EQ(Current().code, L"de");
    EXPECT_EQ(ReadStored(), L"de") << "applied without rewriting it";
    WriteUserString(L"Language", L"fr");
    ApplyLanguageSetting();
    EXPECT_TRUE(Current().automatic) << "a stored language whose file is gone falls back to auto";
    EXPECT_EQ(ReadStored(), L"fr");
}

TEST_F(LanguageChoice, MenuListsEnglishFirstThenFilesByName)
{
    std::string full;
    for (std::uint32_t id : BuiltinTextIds())
        full += std::to_string(id) + "=t\n";
    Write(L"zz.lng", "#name=\xC3\x89sperant\n10000=x\n10001=\n19500=beyond\n");
    Write(L"aa.lng", "#name=zulu\n" + full);
    Write(L"mm.lng", "#name=Bravo\n#locale=mm\n");
    auto items = LanguageMenuItems();
    ASSERT_EQ(items.size(), 4u);
    std::uint64_t total = BuiltinTextIds().size();
    EXPECT_EQ(items[0].code, L"en");
    EXPECT_EQ(items[0].name, L"English");
    EXPECT_EQ(items[0].locales, std::vector<std::wstring>{L"en"});
    EXPECT_EQ(items[0].translated, total);
    EXPECT_EQ(items[1].name, L"Bravo");
    EXPECT_EQ(items[1].translated, 0u);
    EXPECT_EQ(items[2].name, L"\u00C9sperant"); // linguistic order: E with accent before z
    EXPECT_EQ(items[2].translated, 1u);
    EXPECT_EQ(items[3].name, L"zulu");
    EXPECT_EQ(items[3].translated, total);
    for (const auto& item : items)
        EXPECT_EQ(item.total, total);
}

} // namespace
