// The Magisk lookup and download against the loopback server, which stands in for both the
// release API and the release downloads.
#include "core/release/Magisk.h"

#include "core/Sha256.h"
#include "core/Strings.h"
#include "tests/core/release/LoopbackServer.h"
#include "tests/core/ScratchFolder.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

namespace
{

namespace Magisk = Pd::Core::Magisk;
using Magisk::Detail::ParseLatest;

const std::string Apk =
    std::string("PK\x03\x04 not really an APK, but bytes to fetch ") + std::string(5000, 'm');

std::wstring Sha256Of(std::string_view bytes)
{
    Pd::Sha256 hasher;
    hasher.Update(bytes);
    return hasher.Finish();
}

const Magisk::Detail::Endpoints Hosts{L"https://api.test", L"https://dl.test", L"owner"};

// An API answer with the given assets (JSON objects, comma-separated).
std::string Answer(std::string_view assets, std::string_view tag = "v27.0")
{
    return "{\"tag_name\": \"" + std::string(tag) + "\", \"assets\": [" + std::string(assets) + "]}";
}

std::string Asset(std::string_view name, std::string_view url, std::string_view digest,
                  std::string_view size = "5000")
{
    return "{\"name\": \"" + std::string(name) + "\", \"browser_download_url\": \"" + std::string(url) +
           "\", \"size\": " + std::string(size) + ", \"digest\": \"" + std::string(digest) + "\"}";
}

const std::string Url = "https://dl.test/owner/Magisk/releases/download/v27.0/Magisk-v27.0.apk";
const std::string Digest = "sha256:" + std::string(64, 'a');

TEST(MagiskLookup, FirstNonDebugMagiskApkIsChosen)
{
    const std::string debugUrl = "https://dl.test/owner/Magisk/releases/download/v27.0/app-debug.apk";
    auto release =
        ParseLatest(Answer(Asset("app-release.apk", Url, Digest) + "," +
                           Asset("Magisk-v27.0-debug.apk", debugUrl, Digest) + "," +
                           Asset("Magisk-v27.0.apk", Url, "sha256:" + std::string(64, 'B'), "123") + "," +
                           Asset("Magisk-v27.1.apk", Url, Digest)),
                    Hosts);
    ASSERT_TRUE(release) << release.error();
    EXPECT_EQ(release->tag, L"v27.0");
    EXPECT_EQ(release->url, Pd::Core::FromUtf8(Url));
    EXPECT_EQ(release->size, 123u);
    EXPECT_EQ(release->sha256, std::wstring(64, L'b')); // upper-case digits are stored lower-cased
}

TEST(MagiskLookup, AssetOutsideTheMagiskPrefixIsNeverChosen)
{
    auto release = ParseLatest(Answer(Asset("magisk-v27.0.apk", Url, Digest)), Hosts);
    ASSERT_FALSE(release);
    EXPECT_EQ(release.error(), L"No Magisk release found on GitHub (v27.0).");
}

TEST(MagiskLookup, DigestNeedsTheLowerCasePrefixAndSixtyFourDigits)
{
    for (const std::string& digest :
         {"SHA256:" + std::string(64, 'a'), std::string(""), "sha256:" + std::string(63, 'a'),
          "sha256:" + std::string(63, 'a') + "g", "sha1:" + std::string(40, 'a')})
    {
        auto release = ParseLatest(Answer(Asset("Magisk-v27.0.apk", Url, digest)), Hosts);
        ASSERT_FALSE(release) << digest;
        EXPECT_EQ(release.error(), L"No Magisk release found on GitHub (v27.0).");
    }
}

TEST(MagiskLookup, DownloadMustComeFromTheProjectsOwnReleases)
{
    for (const std::string& url :
         {std::string("https://other.test/owner/Magisk/releases/download/v27.0/M.apk"),
          std::string("https://dl.test/someone/Magisk/releases/download/v27.0/M.apk"),
          std::string("https://dl.test/owner/Magisk/archive/M.apk"),
          std::string("http://dl.test/owner/Magisk/releases/download/v27.0/M.apk")})
        EXPECT_FALSE(ParseLatest(Answer(Asset("Magisk-v27.0.apk", url, Digest)), Hosts)) << url;
}

TEST(MagiskLookup, SizeMustBeKnown)
{
    EXPECT_FALSE(ParseLatest(Answer(Asset("Magisk-v27.0.apk", Url, Digest, "0")), Hosts));
    EXPECT_FALSE(ParseLatest(Answer(Asset("Magisk-v27.0.apk", Url, Digest, "\"5000\"")), Hosts));
}

TEST(MagiskLookup, AnswerThatIsNoObjectOrHasNoTagIsNamedSo)
{
    EXPECT_EQ(ParseLatest("[1, 2]", Hosts).error(), L"No Magisk release found on GitHub (JSON).");
    EXPECT_EQ(ParseLatest("<html>", Hosts).error(), L"No Magisk release found on GitHub (JSON).");
    EXPECT_EQ(ParseLatest("{\"assets\": []}", Hosts).error(), L"No Magisk release found on GitHub (?).");
    EXPECT_TRUE(ParseLatest("\xEF\xBB\xBF" + Answer(Asset("Magisk-v27.0.apk", Url, Digest)), Hosts));
}

class MagiskDownload : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(PdTest::LoopbackServer::Get().Running()) << "PD_RELEASE_SERVER is not set";
        served_.Put(L"owner/Magisk/releases/download/v27.0/Magisk-v27.0.apk", Apk);
        served_.Put(L"repos/owner/Magisk/releases/latest",
                    Answer(Asset("Magisk-v27.0.apk",
                                 Pd::Core::ToUtf8(hosts_.download) +
                                     "/owner/Magisk/releases/download/v27.0/Magisk-v27.0.apk",
                                 "sha256:" + Pd::Core::ToUtf8(Sha256Of(Apk)), std::to_string(Apk.size()))));
    }

    Pd::Result<> Fetch(const Magisk::Release& release)
    {
        return Magisk::Detail::DownloadInto(folder_.Path().wstring(), release, {}, {}, {});
    }

    std::size_t ApkRequests() const
    {
        return served_.Requests(L"owner/Magisk/releases/download/v27.0/Magisk-v27.0.apk").size();
    }

    PdTest::ServedFolder served_;
    std::wstring base_ = served_.Url(L"").substr(0, served_.Url(L"").size() - 1); // without the last "/"
    Magisk::Detail::Endpoints hosts_{base_, base_, L"owner"};
    PdTest::ScratchFolder folder_;
};

TEST_F(MagiskDownload, LatestReleaseIsFetchedAndRecorded)
{
    auto release = Magisk::Detail::FindLatestAt(hosts_, {});
    ASSERT_TRUE(release) << release.error();
    ASSERT_TRUE(Fetch(*release));
    EXPECT_EQ(PdTest::ReadBytes(folder_.Path() / L"Magisk.apk"), Apk);
    EXPECT_EQ(PdTest::ReadBytes(folder_.Path() / L"Magisk.txt"), "v27.0 " + Pd::Core::ToUtf8(Sha256Of(Apk)));
    EXPECT_FALSE(std::filesystem::exists(folder_.Path() / L"Magisk.apk.part"));

    auto stored = Magisk::Detail::VerifiedIn(folder_.Path().wstring());
    ASSERT_TRUE(stored);
    EXPECT_EQ(stored->path, (folder_.Path() / L"Magisk.apk").wstring());
    EXPECT_EQ(stored->tag, L"v27.0");
    EXPECT_EQ(stored->sha256, Sha256Of(Apk));
}

TEST_F(MagiskDownload, MatchingApkIsNotDownloadedAgain)
{
    auto release = Magisk::Detail::FindLatestAt(hosts_, {});
    ASSERT_TRUE(release);
    ASSERT_TRUE(Fetch(*release));
    ASSERT_EQ(ApkRequests(), 1u);
    ASSERT_TRUE(Fetch(*release));
    EXPECT_EQ(ApkRequests(), 1u);
}

TEST_F(MagiskDownload, ModifiedApkIsNotVerifiedAndIsFetchedAgain)
{
    auto release = Magisk::Detail::FindLatestAt(hosts_, {});
    ASSERT_TRUE(release);
    ASSERT_TRUE(Fetch(*release));
    folder_.Write(L"Magisk.apk", Apk + "x");
    EXPECT_FALSE(Magisk::Detail::VerifiedIn(folder_.Path().wstring()));
    ASSERT_TRUE(Fetch(*release));
    EXPECT_EQ(ApkRequests(), 2u);
    EXPECT_TRUE(Magisk::Detail::VerifiedIn(folder_.Path().wstring()));
}

TEST_F(MagiskDownload, RecordWithAShortDigestVerifiesNothing)
{
    folder_.Write(L"Magisk.apk", Apk);
    folder_.Write(L"Magisk.txt", "v27.0 " + Pd::Core::ToUtf8(Sha256Of(Apk)).substr(1));
    EXPECT_FALSE(Magisk::Detail::VerifiedIn(folder_.Path().wstring()));
    folder_.Write(L"Magisk.txt", "v27.0");
    EXPECT_FALSE(Magisk::Detail::VerifiedIn(folder_.Path().wstring()));
    folder_.Write(L"Magisk.txt", "  v27.0\n" + Pd::Core::ToUtf8(Sha256Of(Apk)) + "\n");
    EXPECT_TRUE(Magisk::Detail::VerifiedIn(folder_.Path().wstring()));
}

TEST_F(MagiskDownload, RecordThatCannotBeWrittenFailsTheDownload)
{
    auto release = Magisk::Detail::FindLatestAt(hosts_, {});
    ASSERT_TRUE(release);
    // A folder where the record's temporary file must go.
    std::filesystem::create_directories(folder_.Path() / L"Magisk.txt.new");
    auto result = Fetch(*release);
    ASSERT_FALSE(result);
    EXPECT_TRUE(result.error().starts_with(L"Cannot create ")) << result.error();
    EXPECT_FALSE(Magisk::Detail::VerifiedIn(folder_.Path().wstring()));
}

TEST_F(MagiskDownload, LookupErrorsOfTheServerPassThrough)
{
    served_.Rule(L"repos/owner/Magisk/releases/latest", R"({"status": 403})");
    auto release = Magisk::Detail::FindLatestAt(hosts_, {});
    ASSERT_FALSE(release);
    EXPECT_TRUE(release.error().starts_with(L"The server answered HTTP 403 for ")) << release.error();
}

} // namespace
