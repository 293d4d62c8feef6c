#include "core/release/Net.h"

#include "core/Strings.h"
#include "tests/core/release/Fixtures.h"
#include "tests/core/ScratchFolder.h"

#include <gtest/gtest.h>

#include <stop_token>

namespace
{

using Pd::Net::Download;
using Pd::Net::FetchText;
namespace fs = std::filesystem;

const std::string& LargeBytes()
{
    static const std::string bytes =
        PdTest::ReadBytes(PdTest::LoopbackServer::Get().File(L"fixtures/large.zst"));
    return bytes;
}

class Transfers : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(PdTest::LoopbackServer::Get().Running()) << "PD_RELEASE_SERVER is not set";
        served.PutFixture(L"large.zst", L"large.zst");
    }

    // Downloads the served large.zst into the scratch folder with recorded logs and waits.
    Pd::Result<> Get(int attempts = 1, std::wstring_view sha = {}, std::stop_token stop = {},
                     const Pd::Net::ByteProgress& progress = {})
    {
        return Download(
            served.Url(L"large.zst"), target.wstring(), LargeBytes().size(), sha.empty() ? largeSha : sha,
            attempts, progress, [this](const std::wstring& line) { log.push_back(line); }, stop,
            [this](std::chrono::milliseconds slice) {
                slices.push_back(static_cast<int>(slice.count()));
                if (onSlice)
                    onSlice();
            });
    }

    PdTest::ServedFolder served;
    PdTest::ScratchFolder folder;
    fs::path target = folder.Path() / L".download" / L"large.zst";
    std::wstring largeSha = PdTest::Fixture(L"large").packedSha256;
    std::vector<std::wstring> log;
    std::vector<int> slices;
    std::function<void()> onSlice;
};

TEST_F(Transfers, FetchTextReturnsTheBodyOfA200AndNamesAnyOtherStatus)
{
    served.Put(L"manifest.json", "{\"format\": 1}");
    auto body = FetchText(served.Url(L"manifest.json"), {}, 10000, 20000);
    ASSERT_TRUE(body) << body.error();
    EXPECT_EQ(*body, "{\"format\": 1}");
    auto requests = served.Requests(L"manifest.json");
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].userAgent, L"Peldra/0.1.2");
    EXPECT_EQ(requests[0].range, L"");

    served.Rule(L"manifest.json", R"({"status": 404})");
    auto gone = FetchText(served.Url(L"manifest.json"), {}, 10000, 20000);
    ASSERT_FALSE(gone);
    EXPECT_EQ(gone.error(), L"The server answered HTTP 404 for " + served.Url(L"manifest.json") + L".");
}

TEST_F(Transfers, FetchTextTakesOneMebibyteAndNotOneByteMore)
{
    served.Put(L"exact", std::string(1048576, 'e'));
    served.Put(L"over", std::string(1048577, 'o'));
    auto exact = FetchText(served.Url(L"exact"), {}, 10000, 20000);
    ASSERT_TRUE(exact);
    EXPECT_EQ(exact->size(), 1048576u);
    auto over = FetchText(served.Url(L"over"), {}, 10000, 20000);
    ASSERT_FALSE(over);
    EXPECT_EQ(over.error(), L"The server sent more data than expected.");
}

TEST_F(Transfers, FetchTextRefusesABodyCutShortByABrokenConnection)
{
    served.Put(L"cut.json", std::string(200000, 'c'));
    served.Rule(L"cut.json", R"({"resetAfter": 70000})");
    // Depending on when the reset reaches WinHTTP, it fails the request or ends the body early;
    // either way the cut body must never come back as the document.
    auto cut = FetchText(served.Url(L"cut.json"), {}, 10000, 20000);
    ASSERT_FALSE(cut) << "accepted " << cut->size() << " of 200000 bytes";
}

TEST_F(Transfers, OnlyHttpsOrLoopbackHttpAddressesAreUsed)
{
    const std::wstring refused = L"Only https:// addresses are supported (http:// only for localhost).";
    for (const wchar_t* url :
         {L"ftp://127.0.0.1/x", L"http://example.com/x", L"http://127.0.0.2/x", L"file:///C:/x"})
    {
        auto body = FetchText(url, {}, 2000, 2000);
        ASSERT_FALSE(body) << Pd::Core::ToUtf8(url);
        EXPECT_EQ(body.error(), refused) << Pd::Core::ToUtf8(url);
    }
    served.Put(L"x", "local");
    std::wstring upper = served.Url(L"x");
    upper.replace(upper.find(L"127.0.0.1"), 9, L"LOCALHOST");
    auto local = FetchText(upper, {}, 10000, 20000);
    ASSERT_TRUE(local) << local.error();
    EXPECT_EQ(*local, "local");
}

TEST_F(Transfers, RedirectsStayOnLoopbackOrGoToHttps)
{
    served.Put(L"real", "moved here");
    served.Put(L"hop", "");
    served.Rule(L"hop", "{\"redirect\": \"real\"}");
    auto followed = FetchText(served.Url(L"hop"), {}, 10000, 20000);
    ASSERT_TRUE(followed) << followed.error();
    EXPECT_EQ(*followed, "moved here");

    served.Put(L"away", "");
    served.Rule(L"away", R"({"redirect": "http://example.com/real"})");
    auto refused = FetchText(served.Url(L"away"), {}, 10000, 20000);
    ASSERT_FALSE(refused);
    EXPECT_EQ(refused.error(), L"The server answered HTTP 302 for " + served.Url(L"away") + L".");
}

TEST_F(Transfers, FreshDownloadIsHashedWhileWrittenWithOneRequest)
{
    std::uint64_t last = 0;
    auto done = Get(1, {}, {}, [&](std::uint64_t bytes, std::uint64_t total) {
        EXPECT_EQ(total, LargeBytes().size());
        last = bytes;
    });
    ASSERT_TRUE(done) << done.error();
    EXPECT_EQ(PdTest::ReadBytes(target), LargeBytes());
    EXPECT_EQ(last, LargeBytes().size());
    auto requests = served.Requests(L"large.zst");
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].range, L"");
    EXPECT_TRUE(log.empty());
}

TEST_F(Transfers, PartialFileIsResumedWithARange)
{
    PdTest::WriteBytes(target, LargeBytes().substr(0, 1000000));
    ASSERT_TRUE(Get());
    EXPECT_EQ(PdTest::ReadBytes(target), LargeBytes());
    auto requests = served.Requests(L"large.zst");
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].range, L"bytes=1000000-");
    EXPECT_EQ(requests[0].status, 206u);
    EXPECT_EQ(log, std::vector<std::wstring>{L"Continuing a download: 976.6 KB of 3.0 MB already here."});
}

TEST_F(Transfers, ServerIgnoringTheRangeStartsTheFileAgain)
{
    PdTest::WriteBytes(target, LargeBytes().substr(0, 1000000));
    served.Rule(L"large.zst", R"({"ignoreRange": true})");
    ASSERT_TRUE(Get());
    EXPECT_EQ(PdTest::ReadBytes(target), LargeBytes());
    EXPECT_EQ(served.Requests(L"large.zst").at(0).status, 200u);
}

TEST_F(Transfers, CompleteFileIsVerifiedWithoutARequest)
{
    PdTest::WriteBytes(target, LargeBytes());
    ASSERT_TRUE(Get());
    EXPECT_TRUE(served.Requests(L"large.zst").empty());
}

TEST_F(Transfers, LargerFileOnDiskIsDownloadedFromTheStart)
{
    PdTest::WriteBytes(target, LargeBytes() + "stale tail");
    ASSERT_TRUE(Get());
    EXPECT_EQ(PdTest::ReadBytes(target), LargeBytes());
    EXPECT_EQ(served.Requests(L"large.zst").at(0).range, L"");
}

TEST_F(Transfers, EmptyDownloadNeverKeepsStaleBytes)
{
    fs::path empty = folder.Path() / L"empty.zst";
    PdTest::WriteBytes(empty, "stale bytes");
    auto done = Download(served.Url(L"large.zst"), empty.wstring(), 0, PdTest::EmptySha256, 1, {}, {}, {});
    ASSERT_TRUE(done) << done.error();
    EXPECT_EQ(fs::file_size(empty), 0u);
    EXPECT_TRUE(served.Requests(L"large.zst").empty());
}

TEST_F(Transfers, RangePastTheServersFileIsAnIncompleteDownload)
{
    served.Put(L"short.zst", std::string(100, 's'));
    fs::path file = folder.Path() / L"short.zst";
    PdTest::WriteBytes(file, std::string(150, 's'));
    auto done =
        Download(served.Url(L"short.zst"), file.wstring(), 200, std::wstring(64, L'0'), 1, {}, {}, {});
    ASSERT_FALSE(done);
    EXPECT_EQ(done.error(), L"The download is incomplete.");
    EXPECT_EQ(served.Requests(L"short.zst").at(0).status, 416u);
    EXPECT_EQ(fs::file_size(file), 150u);
}

TEST_F(Transfers, OversizeBodyFailsTheAttemptAndTheNextOneResumes)
{
    served.Rule(L"large.zst", R"([{"append": 10}, {}])");
    ASSERT_TRUE(Get(2));
    EXPECT_EQ(PdTest::ReadBytes(target), LargeBytes());
    auto requests = served.Requests(L"large.zst");
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[1].status, 206u);
    EXPECT_EQ(log, std::vector<std::wstring>{
                       L"Attempt 1 of 2 failed: The server sent more data than expected. - trying again."});
    EXPECT_EQ(slices, std::vector<int>(20, 100));
}

TEST_F(Transfers, ResetMidBodyIsResumedByTheNextAttempt)
{
    served.Rule(L"large.zst", R"([{"stallAfter": 500000, "stallMs": 300, "resetAfter": 500000}, {}])");
    auto done = Get(2);
    ASSERT_TRUE(done) << done.error();
    EXPECT_EQ(PdTest::ReadBytes(target), LargeBytes());
    auto requests = served.Requests(L"large.zst");
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[1].range, L"bytes=500000-");
    EXPECT_EQ(requests[1].status, 206u);
}

TEST_F(Transfers, FailedAttemptsWaitLongerEachTimeAndTheLastErrorIsReturned)
{
    served.Rule(L"large.zst", R"({"status": 500})");
    auto done = Get(5);
    ASSERT_FALSE(done);
    EXPECT_EQ(done.error(), L"The server answered HTTP 500.");
    EXPECT_EQ(served.Requests(L"large.zst").size(), 5u);
    ASSERT_EQ(log.size(), 4u);
    EXPECT_EQ(log[3], L"Attempt 4 of 5 failed: The server answered HTTP 500. - trying again.");
    std::vector<int> expected;
    for (int wait : {100, 200, 300, 400})
        expected.insert(expected.end(), 20, wait);
    EXPECT_EQ(slices, expected);
}

TEST_F(Transfers, StopDuringTheBodyKeepsThePartialFile)
{
    std::stop_source stop;
    auto done = Get(3, {}, stop.get_token(), [&](std::uint64_t bytes, std::uint64_t) {
        if (bytes > 1000000)
            stop.request_stop();
    });
    ASSERT_FALSE(done);
    EXPECT_EQ(done.error(), L"Canceled.");
    EXPECT_GT(fs::file_size(target), 1000000u);
    EXPECT_LT(fs::file_size(target), LargeBytes().size());
    EXPECT_EQ(served.Requests(L"large.zst").size(), 1u);
}

TEST_F(Transfers, StopDuringAWaitEndsItWithinOneSlice)
{
    served.Rule(L"large.zst", R"({"status": 503})");
    std::stop_source stop;
    onSlice = [&] {
        if (slices.size() == 3)
            stop.request_stop();
    };
    auto done = Get(5, {}, stop.get_token());
    ASSERT_FALSE(done);
    EXPECT_EQ(done.error(), L"Canceled.");
    EXPECT_EQ(slices.size(), 3u);
    EXPECT_EQ(served.Requests(L"large.zst").size(), 1u);
}

TEST_F(Transfers, FreshDownloadWithAnotherDigestIsDiscardedWithoutRetry)
{
    std::wstring wrong(64, L'0');
    auto done = Get(5, wrong);
    ASSERT_FALSE(done);
    EXPECT_EQ(done.error(), L"SHA-256 mismatch (expected " + wrong + L", got " + largeSha +
                                L") - the download was discarded.");
    EXPECT_FALSE(fs::exists(target));
    EXPECT_EQ(served.Requests(L"large.zst").size(), 1u);
}

TEST_F(Transfers, PrefixOfAnotherFileIsDiscardedAndTheWholeFileFetchedAgain)
{
    std::string other = PdTest::ReadBytes(PdTest::LoopbackServer::Get().File(L"fixtures/other.zst"));
    PdTest::WriteBytes(target, other.substr(0, 1000000));
    auto done = Get();
    ASSERT_TRUE(done) << done.error();
    EXPECT_EQ(PdTest::ReadBytes(target), LargeBytes());
    auto requests = served.Requests(L"large.zst");
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[0].range, L"bytes=1000000-");
    EXPECT_EQ(requests[1].range, L"");
}

TEST_F(Transfers, ResumedDownloadThatStillDiffersAfterTheNewStartIsDiscarded)
{
    PdTest::WriteBytes(target, LargeBytes().substr(0, 1000000));
    served.Rule(L"large.zst", R"({"corruptAt": 2000000})");
    auto done = Get();
    ASSERT_FALSE(done);
    EXPECT_TRUE(done.error().starts_with(L"SHA-256 mismatch")) << done.error();
    EXPECT_FALSE(fs::exists(target));
    EXPECT_EQ(served.Requests(L"large.zst").size(), 2u);
}

TEST_F(Transfers, FileSha256HashesWholeFilesAndNamesOnesItCannotOpen)
{
    auto digest = Pd::Net::FileSha256(served.File(L"large.zst").wstring(), {}, {});
    ASSERT_TRUE(digest);
    EXPECT_EQ(*digest, largeSha);
    std::wstring missing = (folder.Path() / L"missing").wstring();
    auto none = Pd::Net::FileSha256(missing, {}, {});
    ASSERT_FALSE(none);
    EXPECT_TRUE(none.error().starts_with(L"Opening " + missing + L": ")) << none.error();
}

} // namespace
