// The Magisk lookup and download against the loopback server, which stands in for both the
// release API and the release downloads.
#include "release/download/Magisk.h"

#include "core/Strings.h"
#include "tests/core/ScratchFolder.h"
#include "tests/release/Helpers.h"
#include "tests/release/LoopbackServer.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

namespace
{

namespace Magisk = Pd::Core::Magisk;
using Magisk::Detail::ParseLatest;
using PdTest::Sha256Of;

const std::string Apk =
    std::string("PK\x03\x04 not really an APK, but bytes to fetch ") + std::string(5000, 'm');
const Magisk::Detail::Endpoints Hosts{L"https://api.test", L"https://dl.test", L"owner"};
const std::string Url = "https://dl.test/owner/Magisk/releases/download/v27.0/Magisk-v27.0.apk";
const std::string Digest = "sha256:" + std::string(64, 'a');

// An API answer with the given assets (JSON objects, comma-separated).
std::string Answer(std::string_view assets)
{
    return R"({"tag_name": "v27.0", "assets": [)" + std::string(assets) + "]}";
}

std::string Asset(std::string_view name, std::string_view url = Url, std::string_view digest = Digest,
                  std::string_view size = "5000")
{
    return "{\"name\": \"" + std::string(name) + "\", \"browser_download_url\": \"" + std::string(url) +
           "\", \"size\": " + std::string(size) + ", \"digest\": \"" + std::string(digest) + "\"}";
}

TEST(MagiskLookup, FirstNonDebugMagiskApkIsChosen)
{
    const std::string debugUrl = "https://dl.test/owner/Magisk/releases/download/v27.0/app-debug.apk";
    auto release =
        ParseLatest("\xEF\xBB\xBF" +
                        Answer(Asset("app-release.apk") + "," + Asset("Magisk-v27.0-debug.apk", debugUrl) +
                               "," + Asset("Magisk-v27.0.apk", Url, "sha256:" + std::string(64, 'B'), "123") +
                               "," + Asset("Magisk-v27.1.apk")),
                    Hosts);
    ASSERT_TRUE(release) << release.error();
    EXPECT_EQ(release->tag, L"v27.0");
    EXPECT_EQ(release->url, Pd::Core::FromUtf8(Url));
    EXPECT_EQ(release->size, 123u);
    EXPECT_EQ(release->sha256, std::wstring(64, L'b')); // upper-case digits are stored lower-cased
}

TEST(MagiskLookup, AnAssetWithoutTheProjectsOwnAddressASizeOrASha256DigestIsNoRelease)
{
    const std::wstring none = L"No Magisk release found on GitHub (v27.0).";
    const std::pair<std::string, std::wstring> cases[] = {
        {Answer(Asset("magisk-v27.0.apk")), none}, // outside the "Magisk-v" prefix
        {Answer(Asset("Magisk-v27.0.apk", Url, "SHA256:" + std::string(64, 'a'))), none},
        {Answer(Asset("Magisk-v27.0.apk", Url, "")), none},
        {Answer(Asset("Magisk-v27.0.apk", Url, "sha256:" + std::string(63, 'a'))), none},
        {Answer(Asset("Magisk-v27.0.apk", Url, "sha256:" + std::string(63, 'a') + "g")), none},
        {Answer(Asset("Magisk-v27.0.apk", Url, "sha1:" + std::string(40, 'a'))), none},
        {Answer(Asset("Magisk-v27.0.apk", "https://other.test/owner/Magisk/releases/download/v27.0/M.apk")),
         none},
        {Answer(Asset("Magisk-v27.0.apk", "https://dl.test/someone/Magisk/releases/download/v27.0/M.apk")),
         none},
        {Answer(Asset("Magisk-v27.0.apk", "https://dl.test/owner/Magisk/archive/M.apk")), none},
        {Answer(Asset("Magisk-v27.0.apk", "http://dl.test/owner/Magisk/releases/download/v27.0/M.apk")),
         none},
        {Answer(Asset("Magisk-v27.0.apk", Url, Digest, "0")), none},
        {Answer(Asset("Magisk-v27.0.apk", Url, Digest, "\"5000\"")), none},
        {"[1, 2]", L"No Magisk release found on GitHub (JSON)."},
        {"<html>", L"No Magisk release found on GitHub (JSON)."},
        {"{\"assets\": []}", L"No Magisk release found on GitHub (?)."},
    };
    for (const auto& [answer, error] : cases)
        EXPECT_EQ(PdTest::ErrorOf(ParseLatest(answer, Hosts)), error) << answer;
}

class MagiskDownload : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(PdTest::LoopbackServer::Get().Running()) << "PD_RELEASE_SERVER is not set";
        served_.Put(ApkPath, Apk);
        served_.Put(L"repos/owner/Magisk/releases/latest",
                    Answer(Asset("Magisk-v27.0.apk", Pd::Core::ToUtf8(base_ + L"/" + ApkPath),
                                 "sha256:" + Pd::Core::ToUtf8(Sha256Of(Apk)), std::to_string(Apk.size()))));
    }

    Pd::Result<> Fetch(const Magisk::Release& release)
    {
        return Magisk::Detail::DownloadInto(folder_.Path().wstring(), release, {}, {}, {});
    }

    std::optional<Magisk::Stored> Verified() const
    {
        return Magisk::Detail::VerifiedIn(folder_.Path().wstring());
    }

    static constexpr const wchar_t* ApkPath = L"owner/Magisk/releases/download/v27.0/Magisk-v27.0.apk";
    PdTest::ServedFolder served_;
    std::wstring base_ = served_.Url(L"").substr(0, served_.Url(L"").size() - 1); // without the last "/"
    Magisk::Detail::Endpoints hosts_{base_, base_, L"owner"};
    PdTest::ScratchFolder folder_;
};

TEST_F(MagiskDownload, LatestReleaseIsFetchedRecordedAndFetchedAgainOnlyWhenItNoLongerMatches)
{
    auto release = Magisk::Detail::FindLatestAt(hosts_, {});
    ASSERT_TRUE(release) << release.error();
    ASSERT_TRUE(Fetch(*release));
    EXPECT_EQ(PdTest::ReadBytes(folder_.Path() / L"Magisk.apk"), Apk);
    EXPECT_EQ(PdTest::ReadBytes(folder_.Path() / L"Magisk.txt"), "v27.0 " + Pd::Core::ToUtf8(Sha256Of(Apk)));
    EXPECT_FALSE(std::filesystem::exists(folder_.Path() / L"Magisk.apk.part"));
    auto stored = Verified();
    ASSERT_TRUE(stored);
    EXPECT_EQ(stored->path, (folder_.Path() / L"Magisk.apk").wstring());
    EXPECT_EQ(stored->tag, L"v27.0");
    EXPECT_EQ(stored->sha256, Sha256Of(Apk));

    ASSERT_TRUE(Fetch(*release));
    EXPECT_EQ(served_.Requests(ApkPath).size(), 1u) << "the matching APK is not fetched again";
    folder_.Write(L"Magisk.apk", Apk + "x");
    EXPECT_FALSE(Verified());
    ASSERT_TRUE(Fetch(*release));
    EXPECT_EQ(served_.Requests(ApkPath).size(), 2u);
    EXPECT_TRUE(Verified());

    // The server's own errors pass through.
    served_.Rule(L"repos/owner/Magisk/releases/latest", R"({"status": 403})");
    EXPECT_TRUE(PdTest::ErrorOf(Magisk::Detail::FindLatestAt(hosts_, {}))
                    .starts_with(L"The server answered HTTP 403 for "));
}

TEST_F(MagiskDownload, RecordWithAShortDigestVerifiesNothing)
{
    folder_.Write(L"Magisk.apk", Apk);
    folder_.Write(L"Magisk.txt", "v27.0 " + Pd::Core::ToUtf8(Sha256Of(Apk)).substr(1));
    EXPECT_FALSE(Verified());
    folder_.Write(L"Magisk.txt", "v27.0");
    EXPECT_FALSE(Verified());
    folder_.Write(L"Magisk.txt", "  v27.0\n" + Pd::Core::ToUtf8(Sha256Of(Apk)) + "\n");
    EXPECT_TRUE(Verified());
}

TEST_F(MagiskDownload, RecordThatCannotBeWrittenFailsTheDownload)
{
    auto release = Magisk::Detail::FindLatestAt(hosts_, {});
    ASSERT_TRUE(release);
    // A folder where the record's temporary file must go.
    std::filesystem::create_directories(folder_.Path() / L"Magisk.txt.new");
    EXPECT_TRUE(PdTest::ErrorOf(Fetch(*release)).starts_with(L"Creating "));
    EXPECT_FALSE(Verified());
}

} // namespace
