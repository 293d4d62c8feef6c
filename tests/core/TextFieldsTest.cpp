#include "core/TextFields.h"

#include <gtest/gtest.h>

namespace
{

using Pd::Core::BreaksFieldRule;
using Pd::Core::ParseTextFields;

TEST(TextFields, CountsAutomaticNumberedFieldsAndSpecsAndFindsBrokenTexts)
{
    auto fields = ParseTextFields(L"{} of {:08X} and {{literal}} {:.1f}");
    EXPECT_TRUE(fields.valid);
    EXPECT_EQ(fields.automatic, 3u);
    EXPECT_TRUE(fields.numbered.empty());
    EXPECT_EQ(fields.specs, (std::vector<std::wstring>{L":08X", L":.1f"}));

    fields = ParseTextFields(L"{1} {0} {1:>4} {4294967296}");
    EXPECT_TRUE(fields.valid);
    EXPECT_EQ(fields.automatic, 0u);
    EXPECT_EQ(fields.numbered, (std::vector<std::uint32_t>{1, 0, 1, 4294967295u}))
        << "huge numbers never wrap";
    EXPECT_EQ(fields.specs, (std::vector<std::wstring>{L":>4"}));

    for (const wchar_t* broken : {L"a } b", L"a { b", L"{name}", L"{} {0}"})
        EXPECT_FALSE(ParseTextFields(broken).valid) << broken;
    EXPECT_TRUE(ParseTextFields(L"}} {{").valid);
    EXPECT_TRUE(ParseTextFields(L"").valid);
}

TEST(FieldRule, TranslationsMayUseFewerOrReorderedFieldsWithTheEnglishSpecsOnly)
{
    struct Case
    {
        const wchar_t* english;
        const wchar_t* translation;
        bool breaks;
    };
    const wchar_t* two = L"Attempt {} of {} failed.";
    const wchar_t* three = L"Release {0}: {1} to download, {2} on disk.";
    for (const Case& c : {
             Case{two, L"{1} von {0}", false},
             Case{two, L"kein Feld", false},
             Case{two, L"{} {}", false},
             Case{two, L"{2}", true},
             Case{two, L"{} {} {}", true},
             Case{two, L"{:x}", true},
             Case{two, L"{", true},
             Case{L"{0} is installed.", L"{1} ist installiert.", false}, // the capitalised variant
             Case{L"{0} is installed.", L"{2} ist installiert.", true},
             Case{three, L"{2}, {2}, {0}", false},
             Case{three, L"{3}", true},
             Case{L"code 0x{:08X}", L"Code 0x{:08X}", false},
             Case{L"code 0x{:08X}", L"Code 0x{:08x}", true},
             Case{L"no fields", L"{}", true},
             Case{L"{0}", L"{4294967296}", true},
         })
        EXPECT_EQ(BreaksFieldRule(c.english, c.translation), c.breaks) << c.english << " / " << c.translation;
}

} // namespace
