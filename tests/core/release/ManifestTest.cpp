#include "core/release/Manifest.h"

#include <gtest/gtest.h>

#include <string>

namespace
{

using Pd::Core::ComponentKind;
using Pd::Core::ParseManifest;

constexpr wchar_t Address[] = L"https://releases.example/tovik/1.0/manifest.json?channel=beta";
const std::string Digest(64, 'a');

std::string Component(const std::string& members)
{
    return "{\"id\": \"system\", \"kind\": \"disk\", \"target\": \"system.vhdx\", \"url\": \"system.zst\", "
           "\"packedSha256\": \"" +
           Digest + "\", \"packedSize\": 10" + (members.empty() ? "" : ", " + members) + "}";
}

std::string Document(const std::string& components, const std::string& extra = "")
{
    return "{\"format\": 1, \"version\": \"1.0\", \"components\": [" + components + "]" + extra + "}";
}

std::wstring Invalid(const std::wstring& detail)
{
    return L"The release manifest is not valid: " + detail;
}

std::wstring ErrorOf(const std::string& document)
{
    auto parsed = ParseManifest(document, Address);
    EXPECT_FALSE(parsed.has_value()) << document;
    return parsed ? std::wstring() : parsed.error();
}

TEST(ParseManifest, ReadsEveryMemberWithItsDefaults)
{
    std::string upper(64, 'B');
    auto parsed = ParseManifest(
        "\xEF\xBB\xBF" +
            Document(Component("\"sha256\": \"" + upper + "\", \"size\": 99, \"optional\": true") + "," +
                         "{\"id\": \"tools\", \"kind\": \"archive\", \"target\": \".\", \"url\": "
                         "\"https://cdn.example/t.zst\", \"packedSha256\": \"" +
                         upper + "\", \"packedSize\": 5, \"version\": \"2.0\", \"size\": -1}",
                     ", \"android\": \"15\", \"minWindowsBuild\": 26100, \"unknown\": [1]"),
        Address);
    ASSERT_TRUE(parsed) << parsed.error();
    EXPECT_EQ(parsed->url, Address);
    EXPECT_EQ(parsed->name, L"Peldra");
    EXPECT_EQ(parsed->android, L"15");
    EXPECT_EQ(parsed->variant, L"");
    EXPECT_EQ(parsed->minWindowsBuild, 26100u);
    ASSERT_EQ(parsed->components.size(), 2u);
    const auto& disk = parsed->components[0];
    EXPECT_EQ(disk.kind, ComponentKind::Disk);
    EXPECT_EQ(disk.url, L"https://releases.example/tovik/1.0/system.zst");
    EXPECT_EQ(disk.packedSize, 10u);
    EXPECT_EQ(disk.sha256, std::wstring(64, L'b'));
    EXPECT_EQ(disk.size, 99u);
    EXPECT_EQ(disk.version, L"1.0");
    EXPECT_TRUE(disk.optional);
    const auto& tools = parsed->components[1];
    EXPECT_EQ(tools.kind, ComponentKind::Archive);
    EXPECT_EQ(tools.target, L".");
    EXPECT_EQ(tools.url, L"https://cdn.example/t.zst");
    EXPECT_EQ(tools.packedSha256, std::wstring(64, L'b'));
    EXPECT_EQ(tools.size, 0u);
    EXPECT_EQ(tools.version, L"2.0");
    EXPECT_FALSE(parsed->app);
    EXPECT_EQ(parsed->FindComponent(L"tools"), &parsed->components[1]);
    EXPECT_EQ(parsed->FindComponent(L"Tools"), nullptr);
}

TEST(ParseManifest, FormatMustBeExactlyTheNumberOne)
{
    for (const char* format : {"2", "1.0", "\"1\"", "-1"})
        EXPECT_EQ(ErrorOf("{\"format\": " + std::string(format) + ", \"version\": \"1\", \"components\": [" +
                          Component("") + "]}"),
                  L"The release needs a newer Peldra.")
            << format;
    EXPECT_EQ(ErrorOf("{\"version\": \"1\", \"components\": [" + Component("") + "]}"),
              L"The release needs a newer Peldra.");
}

TEST(ParseManifest, DocumentErrorsNameWhatIsWrong)
{
    EXPECT_EQ(ErrorOf("[1]"), Invalid(L"object expected"));
    EXPECT_EQ(ErrorOf("{\"format\": 1,"), Invalid(L"JSON: member name expected (line 1, column 14)"));
    EXPECT_EQ(ErrorOf("{\"format\": 1, \"components\": [" + Component("") + "]}"),
              Invalid(L"\"version\" (text) is missing"));
    EXPECT_EQ(ErrorOf(Document("")), Invalid(L"no components"));
    EXPECT_EQ(ErrorOf("{\"format\": 1, \"version\": \"1\"}"), Invalid(L"no components"));
}

TEST(ParseManifest, ComponentMembersAreCheckedInOrder)
{
    EXPECT_EQ(ErrorOf(Document("{\"kind\": 1}")), Invalid(L"\"id\" (text) is missing"));
    EXPECT_EQ(ErrorOf(Document("{\"id\": \"a\", \"kind\": \"disk\", \"target\": \"a\", \"url\": \"u\"}")),
              Invalid(L"\"packedSha256\" (text) is missing"));
    EXPECT_EQ(ErrorOf(Document(Component("").replace(Component("").find("\"packedSize\": 10"), 16,
                                                     "\"packedSize\": 1.5"))),
              Invalid(L"\"packedSize\" (number) is missing"));
    EXPECT_EQ(ErrorOf(Document(Component("\"kind\": \"Archive\""))),
              Invalid(L"unknown kind \"Archive\" of \"system\""));
    EXPECT_EQ(ErrorOf(Document(Component("\"packedSha256\": \"abc\""))),
              Invalid(L"bad packedSha256 of \"system\""));
    EXPECT_EQ(ErrorOf(Document(Component("\"sha256\": \"xyz\""))), Invalid(L"bad sha256 of \"system\""));
    EXPECT_TRUE(ParseManifest(Document(Component("\"sha256\": \"\"")), Address));
}

TEST(ParseManifest, UnsafeTargetsAreRefusedAndTheDotOnlyForArchives)
{
    for (const char* target : {"../x", "a/../b", "a//b", "a/", "C:x", "/abs", "\\\\abs", "dir/con.txt",
                               "name.", "a*b", "a\\u0000b"})
        EXPECT_TRUE(ErrorOf(Document(Component("\"target\": \"" + std::string(target) + "\"")))
                        .starts_with(Invalid(L"unsafe target \"")))
            << target;
    EXPECT_EQ(ErrorOf(Document(Component("\"target\": \".\""))), Invalid(L"unsafe target \".\""));
    EXPECT_TRUE(ParseManifest(Document(Component("\"target\": \"a\\\\b/c.img\"")), Address));
}

TEST(ParseManifest, ComponentIdsMustBeSafeFileNamesThatDifferInMoreThanCase)
{
    for (const char* id : {"", ".", "..", "a/b", "a\\\\b", "con", "LPT1", "x.", "x ", "a:b", "a?b",
                           "a\\u0000b", "a\\tb", "release", "Host"})
        EXPECT_TRUE(ErrorOf(Document(Component("\"id\": \"" + std::string(id) + "\"")))
                        .starts_with(Invalid(L"unsafe id \"")))
            << id;
    EXPECT_EQ(ErrorOf(Document(Component("") + "," + Component(""))),
              Invalid(L"component \"system\" listed twice"));
    EXPECT_EQ(ErrorOf(Document(Component("") + "," + Component("\"id\": \"System\""))),
              Invalid(L"component \"System\" listed twice"));
    EXPECT_TRUE(ParseManifest(Document(Component("\"id\": \"tovik-1.0_x64\"")), Address));
}

TEST(ParseManifest, AppRecordIsKeptOnlyWhenComplete)
{
    std::string app = "\"version\": \"0.2.0\", \"url\": \"/app/Peldra.msi\", \"sha256\": \"" +
                      std::string(64, 'C') + "\", \"minimum\": \"0.1.0\"";
    auto complete = ParseManifest(Document(Component(""), ", \"app\": {" + app + ", \"size\": 7}"), Address);
    ASSERT_TRUE(complete && complete->app);
    EXPECT_EQ(complete->app->url, L"https://releases.example/app/Peldra.msi");
    EXPECT_EQ(complete->app->sha256, std::wstring(64, L'c'));
    EXPECT_EQ(complete->app->size, 7u);
    EXPECT_EQ(complete->app->minimum, L"0.1.0");
    auto withoutSize = ParseManifest(Document(Component(""), ", \"app\": {" + app + "}"), Address);
    ASSERT_TRUE(withoutSize);
    EXPECT_FALSE(withoutSize->app);
    auto notAnObject = ParseManifest(Document(Component(""), ", \"app\": [1]"), Address);
    ASSERT_TRUE(notAnObject);
    EXPECT_FALSE(notAnObject->app);
}

TEST(ParseManifest, MinimumWindowsBuildOutside32BitsIsOneNoWindowsHas)
{
    auto huge = ParseManifest(Document(Component(""), ", \"minWindowsBuild\": 4294967296"), Address);
    ASSERT_TRUE(huge);
    EXPECT_EQ(huge->minWindowsBuild, 4294967295u);
    auto negative = ParseManifest(Document(Component(""), ", \"minWindowsBuild\": -5"), Address);
    ASSERT_TRUE(negative);
    EXPECT_EQ(negative->minWindowsBuild, 0u);
}

TEST(ResolveUrl, RelativeAddressesResolveAgainstTheManifestFolderWithoutItsQuery)
{
    using Pd::Core::ResolveUrl;
    EXPECT_EQ(ResolveUrl(Address, L"manifest.cat"), L"https://releases.example/tovik/1.0/manifest.cat");
    EXPECT_EQ(ResolveUrl(Address, L"/root.zst"), L"https://releases.example/root.zst");
    EXPECT_EQ(ResolveUrl(Address, L"http://127.0.0.1:8080/x"), L"http://127.0.0.1:8080/x");
    EXPECT_EQ(ResolveUrl(L"https://h.example/a#frag/ment", L"b"), L"https://h.example/b");
}

} // namespace
