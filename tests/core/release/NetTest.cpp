// Transfers against the loopback release server: text fetches and file downloads with resume,
// retries, digest checks and cancellation.
#include "core/release/Net.h"

#include "core/Strings.h"
#include "tests/core/release/Helpers.h"
#include "tests/core/release/LoopbackServer.h"
#include "tests/core/ScratchFolder.h"

#include <gtest/gtest.h>

#include <optional>
#include <stop_token>

namespace
{

using Pd::Net::Download;
using Pd::Net::FetchText;
using PdTest::ErrorOf;
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
        served.Put(L"large.zst", LargeBytes());
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

    Pd::Result<std::string> Fetch(std::wstring_view file)
    {
        return FetchText(served.Url(file), {}, 10000, 20000);
    }

    PdTest::ServedFolder served;
    PdTest::ScratchFolder folder;
    fs::path target = folder.Path() / L".download" / L"large.zst";
    std::wstring largeSha = PdTest::Fixture(L"large").packedSha256;
    std::vector<std::wstring> log;
    std::vector<int> slices;
    std::function<void()> onSlice;
};

TEST_F(Transfers, FetchTextReturnsTheWholeBodyOfA200UpToOneMebibyte)
{
    served.Put(L"manifest.json", "{\"format\": 1}");
    served.Put(L"exact", std::string(1048576, 'e'));
    served.Put(L"over", std::string(1048577, 'o'));
    served.Put(L"cut.json", std::string(200000, 'c'));
    served.Rule(L"cut.json", R"({"stallAfter": 0, "stallMs": 50, "resetAfter": 70000})");
    served.Put(L"gone", "");
    served.Rule(L"gone", R"({"status": 404})");

    auto body = Fetch(L"manifest.json");
    ASSERT_TRUE(body) << body.error();
    EXPECT_EQ(*body, "{\"format\": 1}");
    auto requests = served.Requests(L"manifest.json");
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].userAgent, L"Peldra/0.1.2");
    EXPECT_EQ(requests[0].range, L"");
    EXPECT_EQ(Fetch(L"exact").value_or("").size(), 1048576u);
    EXPECT_EQ(ErrorOf(Fetch(L"over")), served.Url(L"over") + L" is larger than the limit of 1048576 bytes.");
    // A reset fails the request or ends the body early; either way the cut body is refused.
    auto cut = Fetch(L"cut.json");
    ASSERT_FALSE(cut) << "accepted " << cut->size() << " of 200000 bytes";
    EXPECT_EQ(ErrorOf(Fetch(L"gone")), L"The server answered HTTP 404 for " + served.Url(L"gone") + L".");
}

TEST_F(Transfers, OnlyHttpsOrLoopbackHttpAddressesAreUsedAndRedirectsStaySo)
{
    const std::wstring refused = L"Only https:// addresses are supported (http:// only for localhost).";
    for (const wchar_t* url :
         {L"ftp://127.0.0.1/x", L"http://example.com/x", L"http://127.0.0.2/x", L"file:///C:/x"})
        EXPECT_EQ(ErrorOf(FetchText(url, {}, 2000, 2000)), refused) << Pd::Core::ToUtf8(url);
    // A download from such an address is refused at once: no attempt, no wait between attempts.
    const auto refusedDownload = Download(
        L"ftp://127.0.0.1/large.zst", target.wstring(), 1, largeSha, 5, {},
        [this](const std::wstring& line) { log.push_back(line); }, {},
        [this](std::chrono::milliseconds) { slices.push_back(0); });
    EXPECT_EQ(ErrorOf(refusedDownload), refused);
    EXPECT_TRUE(log.empty() && slices.empty());
    served.Put(L"x", "local");
    std::wstring upper = served.Url(L"x");
    upper.replace(upper.find(L"127.0.0.1"), 9, L"LOCALHOST");
    EXPECT_EQ(FetchText(upper, {}, 10000, 20000).value_or("failed"), "local");

    served.Put(L"hop", "");
    served.Rule(L"hop", "{\"redirect\": \"x\"}");
    EXPECT_EQ(Fetch(L"hop").value_or("failed"), "local");
    served.Put(L"away", "");
    served.Rule(L"away", R"({"redirect": "http://example.com/real"})");
    EXPECT_EQ(ErrorOf(Fetch(L"away")), L"The server answered HTTP 302 for " + served.Url(L"away") + L".");
}

// What is on disk before the download decides what is asked of the server; the file always ends
// up whole and verified.
TEST_F(Transfers, FileOnDiskIsResumedOnlyWhereItCanBeAndProvedByTheWholeDigest)
{
    struct Request
    {
        std::wstring range;
        std::uint64_t status;
        bool operator==(const Request&) const = default;
    };
    struct Case
    {
        const char* what;
        std::string onDisk; // none when empty
        std::string rule;
        int attempts;
        std::vector<Request> requests;
        std::optional<std::vector<std::wstring>> log; // none: not predictable
    };
    const std::string other = PdTest::ReadBytes(PdTest::LoopbackServer::Get().File(L"fixtures/other.zst"));
    const std::wstring continuing = L"Continuing a download: 976.6 KB of 3.0 MB already here.";
    using Log = std::vector<std::wstring>;
    const Case cases[] = {
        {"fresh", "", "", 1, {{L"", 200}}, Log{}},
        {"partial", LargeBytes().substr(0, 1000000), "", 1, {{L"bytes=1000000-", 206}}, Log{continuing}},
        {"range ignored",
         LargeBytes().substr(0, 1000000),
         R"({"ignoreRange": true})",
         1,
         {{L"bytes=1000000-", 200}},
         Log{continuing}},
        {"complete", LargeBytes(), "", 1, {}, Log{L"Continuing a download: 3.0 MB of 3.0 MB already here."}},
        {"stale tail", LargeBytes() + "stale tail", "", 1, {{L"", 200}}, Log{}},
        {"prefix of another file",
         other.substr(0, 1000000),
         "",
         1,
         {{L"bytes=1000000-", 206}, {L"", 200}},
         Log{continuing}},
        {"reset mid-body",
         "",
         R"([{"stallAfter": 500000, "stallMs": 300, "resetAfter": 500000}, {}])",
         2,
         {{L"", 200}, {L"bytes=500000-", 206}},
         std::nullopt},
    };
    for (const Case& c : cases)
    {
        std::error_code ignored;
        fs::remove(target, ignored);
        fs::remove(served.File(L"large.zst.log"), ignored);
        fs::remove(served.File(L"large.zst.rule"), ignored);
        if (!c.onDisk.empty())
            PdTest::WriteBytes(target, c.onDisk);
        if (!c.rule.empty())
            served.Rule(L"large.zst", c.rule);
        log.clear();
        std::uint64_t last = 0;
        auto done = Get(c.attempts, {}, {}, [&](std::uint64_t bytes, std::uint64_t total) {
            EXPECT_EQ(total, LargeBytes().size());
            last = bytes;
        });
        ASSERT_TRUE(done) << c.what << ": " << Pd::Core::ToUtf8(done.error());
        EXPECT_EQ(PdTest::ReadBytes(target), LargeBytes()) << c.what;
        std::vector<Request> requests;
        for (const auto& request : served.Requests(L"large.zst"))
            requests.push_back({request.range, request.status});
        EXPECT_EQ(requests, c.requests) << c.what;
        if (!c.requests.empty())
        {
            EXPECT_EQ(last, LargeBytes().size()) << c.what;
        }
        if (c.log)
        {
            EXPECT_EQ(log, *c.log) << c.what;
        }
    }
}

TEST_F(Transfers, RangePastTheServersFileIsAnIncompleteDownload)
{
    served.Put(L"short.zst", std::string(100, 's'));
    fs::path file = folder.Path() / L"short.zst";
    PdTest::WriteBytes(file, std::string(150, 's'));
    auto done =
        Download(served.Url(L"short.zst"), file.wstring(), 200, std::wstring(64, L'0'), 1, {}, {}, {});
    EXPECT_EQ(ErrorOf(done), L"The download is incomplete.");
    EXPECT_EQ(served.Requests(L"short.zst").at(0).status, 416u);
    EXPECT_EQ(fs::file_size(file), 150u);
}

TEST_F(Transfers, FailedAttemptsWaitLongerEachTimeAndTheLastErrorIsReturned)
{
    served.Rule(L"large.zst", R"([{"append": 10}, {"status": 500}])");
    EXPECT_EQ(ErrorOf(Get(5)), L"The server answered HTTP 500.");
    const auto requests = served.Requests(L"large.zst");
    ASSERT_EQ(requests.size(), 5u);
    EXPECT_TRUE(requests[1].range.starts_with(L"bytes=")) << "the part before the excess is kept";
    ASSERT_EQ(log.size(), 4u);
    EXPECT_EQ(log[0], L"Attempt 1 of 5 failed: The server sent more data than expected. - trying again.");
    EXPECT_EQ(log[3], L"Attempt 4 of 5 failed: The server answered HTTP 500. - trying again.");
    std::vector<int> expected;
    for (int wait : {100, 200, 300, 400})
        expected.insert(expected.end(), 20, wait);
    EXPECT_EQ(slices, expected);
}

TEST_F(Transfers, StopDuringTheBodyKeepsThePartialFileAndDuringAWaitEndsItWithinOneSlice)
{
    std::stop_source stop;
    auto done = Get(3, {}, stop.get_token(), [&](std::uint64_t bytes, std::uint64_t) {
        if (bytes > 1000000)
            stop.request_stop();
    });
    EXPECT_EQ(ErrorOf(done), L"Canceled.");
    EXPECT_GT(fs::file_size(target), 1000000u);
    EXPECT_LT(fs::file_size(target), LargeBytes().size());
    EXPECT_EQ(served.Requests(L"large.zst").size(), 1u);

    served.Rule(L"large.zst", R"({"status": 503})");
    std::stop_source waiting;
    onSlice = [&] {
        if (slices.size() == 3)
            waiting.request_stop();
    };
    EXPECT_EQ(ErrorOf(Get(5, {}, waiting.get_token())), L"Canceled.");
    EXPECT_EQ(slices.size(), 3u);
    EXPECT_EQ(served.Requests(L"large.zst").size(), 2u);
}

TEST_F(Transfers, DigestThatStillDiffersIsDiscardedWithoutRetry)
{
    std::wstring wrong(64, L'0');
    EXPECT_EQ(ErrorOf(Get(5, wrong)), L"SHA-256 mismatch (expected " + wrong + L", got " + largeSha +
                                          L") - the download was discarded.");
    EXPECT_FALSE(fs::exists(target));
    EXPECT_EQ(served.Requests(L"large.zst").size(), 1u);

    // A resumed file is fetched once more from the start; when that differs too, it goes.
    PdTest::WriteBytes(target, LargeBytes().substr(0, 1000000));
    served.Rule(L"large.zst", R"({"corruptAt": 2000000})");
    EXPECT_TRUE(ErrorOf(Get()).starts_with(L"SHA-256 mismatch"));
    EXPECT_FALSE(fs::exists(target));
    EXPECT_EQ(served.Requests(L"large.zst").size(), 3u);

    // The fetch from the start breaks and resumes; its wrong digest ends the call all the same.
    fs::remove(served.File(L"large.zst.log"));
    PdTest::WriteBytes(target, LargeBytes().substr(0, 1000000));
    served.Rule(L"large.zst", R"([{"corruptAt": 2000000},
        {"corruptAt": 2000000, "stallAfter": 1500000, "stallMs": 300, "resetAfter": 1500000},
        {"corruptAt": 2000000}])");
    EXPECT_TRUE(ErrorOf(Get(2)).starts_with(L"SHA-256 mismatch"));
    std::vector<std::wstring> ranges;
    for (const auto& request : served.Requests(L"large.zst"))
        ranges.push_back(request.range);
    EXPECT_EQ(ranges, (std::vector<std::wstring>{L"bytes=1000000-", L"", L"bytes=1500000-"}));
}

} // namespace
