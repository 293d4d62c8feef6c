#include "core/TextFields.h"

#include <gtest/gtest.h>

namespace
{

using Pd::Core::BreaksFieldRule;
using Pd::Core::ParseTextFields;

TEST(TextFields, CountsAutomaticNumberedFieldsAndSpecs)
{
    auto fields = ParseTextFields(L"{} of {:08X} and {{literal}} {:.1f}");
    EXPECT_TRUE(fields.valid);
    EXPECT_EQ(fields.automatic, 3u);
    EXPECT_TRUE(fields.numbered.empty());
    EXPECT_EQ(fields.specs, (std::vector<std::wstring>{L":08X", L":.1f"}));

    fields = ParseTextFields(L"{1} {0} {1:>4}");
    EXPECT_TRUE(fields.valid);
    EXPECT_EQ(fields.automatic, 0u);
    EXPECT_EQ(fields.numbered, (std::vector<std::uint32_t>{1, 0, 1}));
    EXPECT_EQ(fields.specs, (std::vector<std::wstring>{L":>4"}));
}

TEST(TextFields, FindsBrokenTexts)
{
    EXPECT_FALSE(ParseTextFields(L"a } b").valid);
    EXPECT_FALSE(ParseTextFields(L"a { b").valid);
    EXPECT_FALSE(ParseTextFields(L"{name}").valid);
    EXPECT_FALSE(ParseTextFields(L"{} {0}").valid);
    EXPECT_TRUE(ParseTextFields(L"}} {{").valid);
    EXPECT_TRUE(ParseTextFields(L"").valid);
}

TEST(TextFields, HugeFieldNumbersDoNotWrapAround)
{
    auto fields = ParseTextFields(L"{4294967296}");
    ASSERT_EQ(fields.numbered.size(), 1u);
    EXPECT_EQ(fields.numbered[0], 4294967295u);
    EXPECT_TRUE(BreaksFieldRule(L"{0}", L"{4294967296}"));
}

TEST(FieldRule, AgainstTwoAutomaticFields)
{
    const wchar_t* english = L"Attempt {} of {} failed.";
    EXPECT_FALSE(BreaksFieldRule(english, L"{1} von {0}"));
    EXPECT_FALSE(BreaksFieldRule(english, L"kein Feld"));
    EXPECT_FALSE(BreaksFieldRule(english, L"{} {}"));
    EXPECT_TRUE(BreaksFieldRule(english, L"{2}"));
    EXPECT_TRUE(BreaksFieldRule(english, L"{} {} {}"));
    EXPECT_TRUE(BreaksFieldRule(english, L"{:x}"));
    EXPECT_TRUE(BreaksFieldRule(english, L"{"));
}

TEST(FieldRule, NumberedPatternsAlwaysAllowTheCapitalisedVariant)
{
    EXPECT_FALSE(BreaksFieldRule(L"{0} is installed.", L"{1} ist installiert."));
    EXPECT_TRUE(BreaksFieldRule(L"{0} is installed.", L"{2} ist installiert."));
    EXPECT_FALSE(BreaksFieldRule(L"Release {0}: {1} to download, {2} on disk.", L"{2}, {2}, {0}"));
    EXPECT_TRUE(BreaksFieldRule(L"Release {0}: {1} to download, {2} on disk.", L"{3}"));
}

TEST(FieldRule, SpecificationsMustMatchTheEnglishOnesExactly)
{
    EXPECT_FALSE(BreaksFieldRule(L"code 0x{:08X}", L"Code 0x{:08X}"));
    EXPECT_TRUE(BreaksFieldRule(L"code 0x{:08X}", L"Code 0x{:08x}"));
    EXPECT_TRUE(BreaksFieldRule(L"no fields", L"{}"));
}

} // namespace
