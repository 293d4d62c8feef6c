// The release manifest: parsing with every rule it enforces, and loading it with its catalog from
// the loopback server. Under Wine the product's catalog check can never succeed (its member lookup
// is a stub), so there a catalog is kept but never makes the manifest signed; signed manifests are
// shown on a simulated PC that trusts the test publisher.
#include "release/manifest/Manifest.h"
#include "core/Strings.h"
#include "release/download/ManifestLoader.h"

#include "tests/release/Helpers.h"
#include "tests/release/LoopbackServer.h"
#include "tests/support/HangLimit.h"
#include "tests/support/SigningFixtures.h"
#include "tests/support/SimScenario.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>

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

std::wstring ParseError(const std::string& document)
{
    return PdTest::ErrorOf(ParseManifest(document, Address));
}

TEST(ParseManifest, ReadsEveryMemberWithItsDefaults)
{
    std::string upper(64, 'B');
    auto parsed = ParseManifest(
        "\xEF\xBB\xBF" +
            Document(Component("\"sha256\": \"" + upper + "\", \"size\": 99, \"optional\": true") + "," +
                         "{\"id\": \"tools\", \"kind\": \"archive\", \"target\": \".\", \"url\": "
                         "\"https://cdn.example/t.zst\", \"packedSha256\": \"" +
                         upper + "\", \"packedSize\": 5, \"version\": \"2.0\", \"size\": null}",
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

TEST(ParseManifest, TheFirstRuleBrokenIsTheError)
{
    const std::string component = Component("");
    auto withFormat = [&](const std::string& format) {
        return "{" + format + R"("version": "1", "components": [)" + component + "]}";
    };
    std::string fractionalSize = component;
    fractionalSize.replace(component.find(R"("packedSize": 10)"), 16, R"("packedSize": 1.5)");
    const std::wstring newer = L"The release needs a newer Peldra.";
    const std::pair<std::string, std::wstring> cases[] = {
        {withFormat(R"("format": 2, )"), newer},
        {withFormat(R"("format": 1.0, )"), newer},
        {withFormat(R"("format": "1", )"), newer},
        {withFormat(""), std::wstring(Address) + L" is not a release manifest (it has no \"format\")."},
        {"{}", std::wstring(Address) + L" is not a release manifest (it has no \"format\")."},
        {"[1]", std::wstring(Address) + L" is not a release manifest (a JSON object is expected)."},
        {R"({"format": 1,)", Invalid(L"JSON: member name expected (line 1, column 14)")},
        {R"({"format": 1, "components": [)" + component + "]}", Invalid(L"\"version\" (text) is missing")},
        {Document(""), Invalid(L"no components")},
        {R"({"format": 1, "version": "1"})", Invalid(L"no components")},
        {Document(R"({"kind": 1})"), Invalid(L"\"id\" (text) is missing")},
        {Document(R"({"id": "a", "kind": "disk", "target": "a", "url": "u"})"),
         Invalid(L"\"packedSha256\" (text) is missing")},
        {Document(fractionalSize), Invalid(L"\"packedSize\" 1.5 of \"system\" is not a byte count (a whole "
                                           L"number from 0 to 18446744073709551615)")},
        {Document(Component(R"("kind": "Archive")")), Invalid(L"unknown kind \"Archive\" of \"system\"")},
        {Document(Component(R"("packedSha256": "abc")")), Invalid(L"bad packedSha256 of \"system\"")},
        {Document(Component(R"("sha256": "xyz")")), Invalid(L"bad sha256 of \"system\"")},
    };
    for (const auto& [document, error] : cases)
        EXPECT_EQ(ParseError(document), error) << document;
    EXPECT_TRUE(ParseManifest(Document(Component(R"("sha256": "")")), Address));
}

TEST(ParseManifest, TargetsAndIdsMustBeSafeNamesAndIdsDifferInMoreThanCase)
{
    for (const char* target : {"../x", "a/../b", "a//b", "a/", "C:x", "/abs", "\\\\abs", "dir/con.txt",
                               "name.", "a*b", "a\\u0000b", "."}) // the dot only for archives
        EXPECT_TRUE(ParseError(Document(Component(R"("target": ")" + std::string(target) + "\"")))
                        .starts_with(Invalid(L"unsafe target \"")))
            << target;
    EXPECT_TRUE(ParseManifest(Document(Component(R"("target": "a\\b/c.img")")), Address));
    for (const char* id : {"", ".", "..", "a/b", "a\\\\b", "con", "LPT1", "x.", "x ", "a:b", "a?b",
                           "a\\u0000b", "a\\tb", "release", "Host"})
        EXPECT_TRUE(ParseError(Document(Component(R"("id": ")" + std::string(id) + "\"")))
                        .starts_with(Invalid(L"unsafe id \"")))
            << id;
    EXPECT_EQ(ParseError(Document(Component("") + "," + Component(R"("id": "System")"))),
              Invalid(L"component \"System\" listed twice"));
    EXPECT_TRUE(ParseManifest(Document(Component(R"("id": "tovik-1.0_x64")")), Address));
}

TEST(ParseManifest, AppRecordIsKeptOnlyWhenComplete)
{
    std::string app = R"("version": "0.2.0", "url": "/app/Peldra.msi", "sha256": ")" + std::string(64, 'C') +
                      R"(", "minimum": "0.1.0")";
    auto complete =
        ParseManifest(Document(Component(""), R"(, "app": {)" + app + R"(, "size": 7})"), Address);
    ASSERT_TRUE(complete && complete->app);
    EXPECT_EQ(complete->app->url, L"https://releases.example/app/Peldra.msi");
    EXPECT_EQ(complete->app->sha256, std::wstring(64, L'c'));
    EXPECT_EQ(complete->app->size, 7u);
    EXPECT_EQ(complete->app->minimum, L"0.1.0");
    for (const std::string& incomplete : {R"(, "app": {)" + app + "}", std::string(R"(, "app": [1])")})
        EXPECT_FALSE(ParseManifest(Document(Component(""), incomplete), Address).value().app) << incomplete;
}

// Numbers the release depends on are refused by name and value, never read as missing or capped;
// a sum too large names its largest count, not the one added last.
TEST(ParseManifest, SizesAndBuildsOutsideTheirRangeAreRefusedNamingFieldAndValue)
{
    const std::wstring notBytes = L" is not a byte count (a whole number from 0 to 18446744073709551615)";
    const std::wstring notBuild = L" is not a Windows build number (a whole number from 0 to 4294967295)";
    const std::wstring addsUp = L" makes the release's sizes add up to more than 18446744073709551615 bytes";
    const std::string most = "18446744073709551615";
    const std::pair<std::string, std::wstring> cases[] = {
        {Document(Component(R"("packedSize": -1)")), L"\"packedSize\" -1 of \"system\"" + notBytes},
        {Document(Component(R"("packedSize": "10")")), L"\"packedSize\" \"10\" of \"system\"" + notBytes},
        {Document(Component(R"("size": 18446744073709551616)")),
         L"\"size\" 18446744073709551616 of \"system\"" + notBytes},
        {Document(Component(R"("size": 1e3)")), L"\"size\" 1e3 of \"system\"" + notBytes},
        {Document(Component(R"("size": [1])")), L"\"size\" [...] of \"system\"" + notBytes},
        {Document(Component(R"("packedSize": )" + most + R"(, "size": 1)")),
         L"\"packedSize\" " + Pd::Core::FromUtf8(most) + L" of \"system\"" + addsUp},
        {Document(Component(R"("packedSize": 5, "size": 18446744073709551610)") + "," +
                  Component(R"("id": "b", "target": "b")")),
         L"\"size\" 18446744073709551610 of \"system\"" + addsUp},
        {Document(Component(R"("packedSize": 18446744073709551610)") + "," +
                  Component(R"("id": "b", "target": "b", "packedSize": 1, "size": 10)")),
         L"\"packedSize\" 18446744073709551610 of \"system\"" + addsUp},
        {Document(Component(""), R"(, "minWindowsBuild": 4294967296)"),
         L"\"minWindowsBuild\" 4294967296" + notBuild},
        {Document(Component(""), R"(, "minWindowsBuild": -5)"), L"\"minWindowsBuild\" -5" + notBuild},
        {Document(Component(""), R"(, "minWindowsBuild": "26100")"),
         L"\"minWindowsBuild\" \"26100\"" + notBuild},
        {Document(Component(R"("id": "a\ud800")")), L"JSON: lone surrogate in a string (line 1, column 244)"},
        {Document(Component("\"version\": \"\xC0\xAF\"")), L"JSON: invalid UTF-8 (byte 241)"}, // overlong "/"
    };
    for (const auto& [document, error] : cases)
        EXPECT_EQ(ParseError(document), Invalid(error)) << document;
    auto largest = ParseManifest(Document(Component(R"("packedSize": 1, "size": 18446744073709551614)"),
                                          R"(, "minWindowsBuild": 4294967295)"),
                                 Address);
    ASSERT_TRUE(largest) << largest.error();
    EXPECT_EQ(largest->minWindowsBuild, 4294967295u);
    EXPECT_EQ(largest->components.at(0).size, 18446744073709551614u);
}

TEST(IsFetchableAddress, HttpsWithAHostOrHttpToThisComputer)
{
    const std::pair<const wchar_t*, bool> cases[] = {
        {L"https://cdn.example/a.zst", true},
        {L"HTTPS://user@cdn.example:8443/a.zst?x#y", true},
        {L"http://localhost:8080/a", true},
        {L"http://127.0.0.1/a", true},
        {L"http://[::1]:9000/a", true},
        {L"http://example.com/a", false},
        {L"http://127.0.0.1.example.com/a", false},
        {L"http://localhost@example.com/a", false},
        {L"ftp://cdn.example/a", false},
        {L"file:///C:/a.zst", false},
        {L"https:///a.zst", false},
        {L"https://:443/a", false},
        {L"https://[/a", false},
        {L"C:\\releases\\a.zst", false},
    };
    for (const auto& [url, fetchable] : cases)
        EXPECT_EQ(Pd::Core::IsFetchableAddress(url), fetchable) << Pd::Core::ToUtf8(url);
    EXPECT_FALSE(Pd::Core::IsFetchableAddress(L"https://" + std::wstring(256, L'h') + L"/a"));
}

TEST(ResolveUrl, RelativeAddressesResolveAgainstTheManifestFolderWithoutItsQuery)
{
    using Pd::Core::ResolveUrl;
    EXPECT_EQ(ResolveUrl(Address, L"manifest.cat"), L"https://releases.example/tovik/1.0/manifest.cat");
    EXPECT_EQ(ResolveUrl(Address, L"/root.zst"), L"https://releases.example/root.zst");
    EXPECT_EQ(ResolveUrl(Address, L"http://127.0.0.1:8080/x"), L"http://127.0.0.1:8080/x");
    EXPECT_EQ(ResolveUrl(L"https://h.example/a#frag/ment", L"b"), L"https://h.example/b");
}

const std::string ManifestText = R"({"format": 1, "version": "1.0.0", "components": [
  {"id": "system", "kind": "disk", "target": "system.vhdx", "url": "system.zst",
   "packedSha256": "0000000000000000000000000000000000000000000000000000000000000000", "packedSize": 1}]}
)";

class ManifestLoading : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(PdTest::LoopbackServer::Get().Running()) << "PD_RELEASE_SERVER is not set";
        served_.Put(L"manifest.json", ManifestText);
    }

    Pd::Result<Pd::Core::Manifest> Load(const std::wstring& file, std::stop_token stop = {})
    {
        return Pd::Core::LoadManifest(served_.Url(file), stop, 10'000, 20'000);
    }

    PdTest::ServedFolder served_;
};

TEST_F(ManifestLoading, CatalogFromTheManifestsFolderIsKeptAsFetchedAndAMissingOneLeavesItUnsigned)
{
    auto manifest = Load(L"manifest.json");
    ASSERT_TRUE(manifest) << manifest.error();
    EXPECT_EQ(manifest->version, L"1.0.0");
    EXPECT_EQ(manifest->manifestBytes, ManifestText);
    EXPECT_EQ(manifest->catalogBytes, "");
    EXPECT_FALSE(manifest->isSigned);
    EXPECT_EQ(manifest->components.at(0).url, served_.Url(L"system.zst"));

    // Asked for without the manifest address's query; not the publisher's, so not signed.
    const std::string catalog("\x30\x03\x02\x01\x00 catalog bytes", 20);
    served_.Put(L"manifest.cat", catalog);
    auto withCatalog = Load(L"manifest.json?channel=beta#top");
    ASSERT_TRUE(withCatalog) << withCatalog.error();
    EXPECT_EQ(withCatalog->catalogBytes, catalog);
    EXPECT_FALSE(withCatalog->isSigned);
    EXPECT_EQ(served_.Requests(L"manifest.cat").size(), 2u);
}

TEST_F(ManifestLoading, InvalidManifestOrACatalogThatCannotBeFetchedEndsLoadingWithTheError)
{
    served_.Put(L"bad.json", R"({"format": 2})");
    EXPECT_EQ(PdTest::ErrorOf(Load(L"bad.json")), L"The release needs a newer Peldra.");
    EXPECT_EQ(served_.Requests(L"manifest.cat").size(), 0u) << "an invalid manifest costs one request";

    // An address that can never be fetched is refused here, not after the download's attempts.
    served_.Put(L"ftp.json", R"({"format": 1, "version": "1", "components": [{"id": "system", "kind": "disk",
        "target": "s.vhdx", "url": "ftp://releases.example/s.zst", "packedSha256": ")" +
                                 Digest + R"(", "packedSize": 1}]})");
    EXPECT_EQ(
        PdTest::ErrorOf(Load(L"ftp.json")),
        Invalid(L"address \"ftp://releases.example/s.zst\" of \"system\" can never be fetched: only https:// "
                L"addresses are supported (http:// only for localhost)"));
    served_.Put(L"huge.json", std::string(1048577, ' '));
    EXPECT_EQ(PdTest::ErrorOf(Load(L"huge.json")),
              served_.Url(L"huge.json") + L" is larger than the limit of 1048576 bytes.");

    served_.Rule(L"manifest.cat", R"({"status": 403})");
    EXPECT_EQ(PdTest::ErrorOf(Load(L"manifest.json")),
              L"The server answered HTTP 403 for " + served_.Url(L"manifest.cat") + L".");
    // Redirected to a loopback port where nothing listens.
    served_.Rule(L"manifest.cat", R"({"redirect": "http://127.0.0.1:1/manifest.cat"})");
    EXPECT_TRUE(PdTest::ErrorOf(Load(L"manifest.json"))
                    .starts_with(L"Fetching " + served_.Url(L"manifest.cat") +
                                 L": Sending the request to http://127.0.0.1:1/manifest.cat: "));
}

TEST_F(ManifestLoading, BusyServerIsAskedAgainLikeForAComponentAndTheFailureNamesTheAddress)
{
    std::vector<std::wstring> log;
    auto load = [&](const std::wstring& file) {
        return Pd::Core::LoadManifest(
            served_.Url(file), {}, 10'000, 20'000, [&](const std::wstring& line) { log.push_back(line); },
            [](std::chrono::milliseconds) {});
    };
    served_.Rule(L"manifest.json", R"([{"status": 503}, {"status": 500}, {}])");
    EXPECT_TRUE(load(L"manifest.json"));
    EXPECT_EQ(log.size(), 2u);

    log.clear();
    served_.Rule(L"manifest.json", R"({"status": 503})");
    std::error_code ignored;
    std::filesystem::remove(served_.File(L"manifest.json.log"), ignored);
    EXPECT_EQ(PdTest::ErrorOf(load(L"manifest.json")),
              L"The server answered HTTP 503 for " + served_.Url(L"manifest.json") + L".");
    EXPECT_EQ(served_.Requests(L"manifest.json").size(), 5u);
    EXPECT_EQ(log.size(), 4u);
}

TEST_F(ManifestLoading, StopDuringTheCatalogFetchCancels)
{
    served_.Put(L"manifest.cat", "catalog");
    served_.Rule(L"manifest.cat", R"({"stallAfter": 0, "stallUntilGo": true})");
    std::stop_source stop;
    std::jthread stopper([&] {
        Pd::Test::PollUntil([&] { return !served_.Requests(L"manifest.cat").empty(); });
        stop.request_stop();
        served_.LetGo(L"manifest.cat"); // the stop is there before the catalog's bytes
    });
    EXPECT_EQ(PdTest::ErrorOf(Load(L"manifest.json", stop.get_token())), L"Canceled.");
}

TEST_F(ManifestLoading, PublishersCatalogMakesTheManifestSignedUntilOneByteChanges)
{
    Pd::Test::SimScenario pc(PdTest::TrustingScenario(PdTest::PublisherPinsOf(L"test")));
    const auto& server = PdTest::LoopbackServer::Get();
    auto manifest = Pd::Core::LoadManifest(server.Url(L"signed/complete/manifest.json"), {}, 10'000, 20'000);
    ASSERT_TRUE(manifest) << manifest.error();
    EXPECT_TRUE(manifest->isSigned);
    EXPECT_EQ(manifest->catalogBytes, PdTest::ReadBytes(server.File(L"signed/complete/manifest.cat")));

    std::string changed = PdTest::ReadBytes(server.File(L"signed/complete/manifest.json"));
    changed.insert(changed.find('{') + 1, " ");
    served_.Put(L"manifest.json", changed);
    served_.Put(L"manifest.cat", manifest->catalogBytes);
    auto edited = Load(L"manifest.json");
    ASSERT_TRUE(edited) << edited.error();
    EXPECT_FALSE(edited->isSigned);
    EXPECT_EQ(edited->catalogBytes, manifest->catalogBytes);
}

} // namespace
