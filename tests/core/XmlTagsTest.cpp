#include "core/XmlTags.h"

#include <gtest/gtest.h>

#include <string>

namespace
{

using Pd::Core::StartTags;
using Pd::Core::TagAttribute;

TEST(XmlTags, FindsStartTagsOfExactlyTheNamedElement)
{
    const std::wstring document = LR"(<Package><Identity Name="a"/><IdentityX Name="b"/>
<PackageDependency Name="VCLibs" MinVersion="14.0"></PackageDependency><Identity
  Name="c">)";
    const auto tags = StartTags(document, L"Identity");
    ASSERT_EQ(tags.size(), 2u);
    EXPECT_EQ(tags[0], LR"(<Identity Name="a"/>)");
    EXPECT_EQ(tags[1], L"<Identity\n  Name=\"c\">");
    EXPECT_EQ(StartTags(document, L"PackageDependency").size(), 1u);
    EXPECT_TRUE(StartTags(L"<Identity Name=\"x\"", L"Identity").empty()) << "a tag without its end";
}

TEST(XmlTags, ReadsAttributesInAnyOrderAndOnlyWhole)
{
    const std::wstring tag =
        LR"(<PackageDependency Publisher="CN=Name=x" MinVersion = '1.2' Name="VCLibs"/>)";
    const std::pair<const wchar_t*, std::optional<std::wstring_view>> cases[] = {
        {L"Name", L"VCLibs"}, // not the "Name=" inside another value
        {L"MinVersion", L"1.2"},
        {L"Publisher", L"CN=Name=x"},
        {L"Version", std::nullopt},
    };
    for (const auto& [name, value] : cases)
        EXPECT_EQ(TagAttribute(tag, name), value) << name;
    EXPECT_EQ(TagAttribute(LR"(<Identity Name="a)", L"Name"), std::nullopt);
    EXPECT_EQ(TagAttribute(LR"(<Identity Version="1" Name>)", L"Name"), std::nullopt);
}

TEST(XmlTags, MebibyteInputsAreScannedInOnePass)
{
    constexpr std::size_t Mebibyte = 1 << 20;
    const std::wstring longName(Mebibyte, L'n');
    const std::wstring dependency = L"<PackageDependency Name=\"" + longName + L"\" MinVersion=\"1.0\"/>";
    const auto tags = StartTags(dependency, L"PackageDependency");
    ASSERT_EQ(tags.size(), 1u);
    EXPECT_EQ(TagAttribute(tags[0], L"Name").value_or(L"").size(), Mebibyte);

    std::wstring opens;
    while (opens.size() < Mebibyte)
        opens += L"<PackageDependency";
    EXPECT_TRUE(StartTags(opens + L"<" + longName, L"PackageDependency").empty());
    EXPECT_TRUE(StartTags(std::wstring(Mebibyte, L'<'), L"Identity").empty());
    EXPECT_EQ(TagAttribute(L"<Identity" + std::wstring(Mebibyte, L' ') + L"Name='x'>", L"Name"), L"x");
}

} // namespace
