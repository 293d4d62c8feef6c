// Transfers against the loopback release server: text fetches and file downloads with resume,
// retries, digest checks and cancellation.
#include "release/download/Net.h"

#include "release/download/HttpRequest.h"

#include "core/Strings.h"
#include "tests/core/ScratchFolder.h"
#include "tests/release/Helpers.h"
#include "tests/release/LoopbackServer.h"

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
                     const Pd::Net::ByteProgress& progress = {}, Pd::Net::Pacing pacing = {})
    {
        pacing.waitSlice = [this](std::chrono::milliseconds slice) {
            slices.push_back(static_cast<int>(slice.count()));
            if (onSlice)
                onSlice();
        };
        return Download(
            served.Url(L"large.zst"), target.wstring(), LargeBytes().size(), sha.empty() ? largeSha : sha,
            attempts, progress, [this](const std::wstring& line) { log.push_back(line); }, stop, pacing);
    }

    // Starts a case of a table afresh: no file here, no request logged, the rule given.
    void Fresh(std::string_view rule)
    {
        std::error_code ignored;
        fs::remove(target, ignored);
        fs::remove(served.File(L"large.zst.log"), ignored);
        served.Rule(L"large.zst", rule);
        log.clear();
        slices.clear();
    }

    // The text with the address of large.zst in place of "{}"; empty stays empty.
    std::wstring Named(std::wstring text) const
    {
        if (const auto at = text.find(L"{}"); at != std::wstring::npos)
            text.replace(at, 2, served.Url(L"large.zst"));
        return text;
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
        EXPECT_EQ(ErrorOf(FetchText(url, {}, 2000, 2000)), L"Fetching " + std::wstring(url) + L": " + refused)
            << Pd::Core::ToUtf8(url);
    // A download from such an address is refused at once: no attempt, no wait between attempts.
    const auto refusedDownload =
        Download(L"ftp://127.0.0.1/large.zst", target.wstring(), 1, largeSha, 5, {},
                 [this](const std::wstring& line) { log.push_back(line); }, {},
                 {.waitSlice = [this](std::chrono::milliseconds) { slices.push_back(0); }});
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
    EXPECT_EQ(ErrorOf(Fetch(L"away")),
              served.Url(L"away") + L" was redirected to http://example.com/real: " + refused);
}

TEST(Redirects, NeverFromHttpsToHttpNorToAnAddressThatCouldNotBeAskedFirst)
{
    using Pd::Net::Detail::CheckRedirect;
    const std::wstring secure = L"https://releases.example/r/manifest.json";
    EXPECT_TRUE(CheckRedirect(secure, L"https://cdn.example/x?sig=1"));
    EXPECT_TRUE(CheckRedirect(L"http://127.0.0.1:8080/m", L"https://cdn.example/x"));
    EXPECT_TRUE(CheckRedirect(L"http://127.0.0.1:8080/m", L"http://localhost:9/x"));
    for (const wchar_t* plain : {L"http://cdn.example/x", L"HTTP://127.0.0.1/x"})
        EXPECT_EQ(ErrorOf(CheckRedirect(secure, plain)),
                  secure + L" was redirected to http (" + plain + L"), but only https is accepted.");
}

TEST(ContentRange, ReadsTheServedSpanOrTheUnsatisfiedTotal)
{
    using Pd::Net::Detail::ParseContentRange;
    auto range = ParseContentRange(L"bytes 100-199/200");
    EXPECT_EQ(std::pair(range->first, range->total),
              std::pair(std::optional<std::uint64_t>(100), std::optional<std::uint64_t>(200)));
    EXPECT_EQ(ParseContentRange(L"bytes */150")->total, 150u);
    EXPECT_EQ(ParseContentRange(L"bytes 0-0/*")->total, std::nullopt);
    for (const wchar_t* bad : {L"bytes 100-99/200", L"bytes 100-200/200", L"bytes */*", L"bytes -5-9/10",
                               L"items 1-2/3", L"bytes 1-2", L"bytes 99999999999999999999-1/2"})
        EXPECT_FALSE(ParseContentRange(bad)) << Pd::Core::ToUtf8(bad);
}

// Only what may pass is tried again, and the wait before the headers is bounded like every read.
TEST_F(Transfers, TextFetchRetriesOnlyTransientFailuresAndNamesTheAddress)
{
    struct Case
    {
        const char* what;
        std::string rule;
        std::uint32_t receiveMs;
        std::size_t requests;
        std::wstring error; // empty: fetched; else with {} for the address
    };
    const std::wstring stalled = L"The server did not answer in time: no answer from {} within 1 seconds.";
    const Case cases[] = {
        {"busy, then served", R"([{"status": 503}, {}])", 20000, 2, L""},
        {"cut short, then served", R"([{"stallAfter": 5, "stallMs": 200, "resetAfter": 5}, {}])", 20000, 2,
         L""},
        {"never answers", R"({"stallHeaders": 1500})", 1000, 3, stalled},
        {"busy throughout", R"({"status": 502})", 20000, 3, L"The server answered HTTP 502 for {}."},
        {"not there", R"({"status": 404})", 20000, 1, L"The server answered HTTP 404 for {}."},
    };
    for (const Case& c : cases)
    {
        served.Put(L"m.json", "{\"format\": 1, \"padding\": \"0123456789\"}");
        std::error_code ignored;
        fs::remove(served.File(L"m.json.log"), ignored);
        served.Rule(L"m.json", c.rule);
        log.clear();
        const std::wstring url = served.Url(L"m.json");
        auto body = FetchText(
            url, {}, 10000, c.receiveMs,
            {3, [this](const std::wstring& line) { log.push_back(line); }, [](std::chrono::milliseconds) {}});
        EXPECT_EQ(served.Requests(L"m.json").size(), c.requests) << c.what;
        EXPECT_EQ(log.size(), std::min<std::size_t>(c.requests, 3) - 1) << c.what;
        if (c.error.empty())
        {
            EXPECT_EQ(body.value_or(""), "{\"format\": 1, \"padding\": \"0123456789\"}") << c.what;
            continue;
        }
        std::wstring error = c.error;
        error.replace(error.find(L"{}"), 2, url);
        EXPECT_EQ(ErrorOf(body), error) << c.what;
        if (!log.empty())
        {
            EXPECT_EQ(log.back(), L"Attempt 2 of 3 failed: " + error + L" - trying again.") << c.what;
        }
    }
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
    const std::wstring url = served.Url(L"large.zst");
    served.Put(L"longer.zst", LargeBytes() + "x");
    const Case cases[] = {
        {"fresh", "", "", 1, {{L"", 200}}, Log{}},
        {"partial", LargeBytes().substr(0, 1000000), "", 1, {{L"bytes=1000000-", 206}}, Log{continuing}},
        {"range ignored",
         LargeBytes().substr(0, 1000000),
         R"({"ignoreRange": true})",
         1,
         {{L"bytes=1000000-", 200}},
         Log{continuing,
             url + L": the server sent the whole file instead of the part from byte 1000000 (the file "
                   L"changed on the server, or the server does not continue downloads); starting "
                   L"again from the beginning."}},
        {"part of another size",
         LargeBytes().substr(0, 1000000),
         R"([{"from": "longer.zst"}, {}])",
         1,
         {{L"bytes=1000000-", 206}, {L"", 200}},
         Log{continuing, url +
                             L": the server's part does not continue the download at byte 1000000 "
                             L"(Content-Range: bytes 1000000-" +
                             std::to_wstring(LargeBytes().size()) + L"/" +
                             std::to_wstring(LargeBytes().size() + 1) +
                             L"); starting again from the beginning."}},
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
        {"wrong bytes after a resume in the same call",
         "",
         R"([{"stallAfter": 500000, "stallMs": 300, "resetAfter": 500000}, {"corruptAt": 2000000}, {}])",
         2,
         {{L"", 200}, {L"bytes=500000-", 206}, {L"", 200}},
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

TEST_F(Transfers, ServersFileShorterThanTheReleaseSaysIsNamedAfterOneFreshStart)
{
    served.Put(L"short.zst", std::string(100, 's'));
    fs::path file = folder.Path() / L"short.zst";
    PdTest::WriteBytes(file, std::string(150, 's'));
    auto done =
        Download(served.Url(L"short.zst"), file.wstring(), 200, std::wstring(64, L'0'), 1, {}, {}, {});
    EXPECT_EQ(ErrorOf(done), L"The server's file " + served.Url(L"short.zst") +
                                 L" has 100 bytes, fewer than the 200 bytes the release says.");
    std::vector<std::uint64_t> statuses;
    for (const auto& request : served.Requests(L"short.zst"))
        statuses.push_back(request.status);
    EXPECT_EQ(statuses, (std::vector<std::uint64_t>{416, 200}));
    EXPECT_EQ(fs::file_size(file), 0u) << "the partial download of another file is dropped";
}

TEST_F(Transfers, CompressedAnswerIsRefusedNamingTheEncoding)
{
    served.Put(L"small.zst", std::string(100000, 'z'));
    served.Rule(L"small.zst", R"({"gzip": true})");
    fs::path file = folder.Path() / L"small.zst";
    EXPECT_EQ(
        ErrorOf(Download(served.Url(L"small.zst"), file.wstring(), 100000, std::wstring(64, L'0'), 1, {}, {},
                         {})),
        L"The server sent " + served.Url(L"small.zst") +
            L" compressed (Content-Encoding: gzip). Peldra takes it only as it is stored: turn compression "
            L"off for this file on the server.");
}

// The file on the server changed after the cut, and the server ignores If-Range: its part of the new
// file shows another ETag and is not spliced onto the old bytes.
TEST_F(Transfers, PartOfAnotherVersionOfTheFileIsRefusedByItsETag)
{
    std::string old = LargeBytes();
    old[10] ^= 0x55;
    served.Put(L"old.zst", old);
    served.Rule(L"large.zst",
                R"([{"from": "old.zst", "stallAfter": 200000, "stallMs": 300, "resetAfter": 200000},
        {"ignoreIfRange": true}, {}])");
    ASSERT_TRUE(Get(2));
    EXPECT_EQ(PdTest::ReadBytes(target), LargeBytes());
    ASSERT_EQ(log.size(), 2u);
    EXPECT_TRUE(log[1].starts_with(served.Url(L"large.zst") +
                                   L": the file on the server changed since the download began (ETag \""))
        << Pd::Core::ToUtf8(log[1]);
    const auto requests = served.Requests(L"large.zst");
    ASSERT_EQ(requests.size(), 3u);
    EXPECT_TRUE(requests[1].ifRange.starts_with(L"\"")) << "the ETag of the first answer";
    EXPECT_EQ(requests[2].range, L"");
}

// The file changed on the server between two calls (a cut-off run and the next one): the second
// call sends the validator kept beside the partial file and gets the whole new file at once.
TEST_F(Transfers, ResumeInALaterCallSendsTheValidatorKeptBesideThePartialFile)
{
    std::string old = LargeBytes();
    old[10] ^= 0x55;
    served.Put(L"old.zst", old);
    served.Rule(L"large.zst",
                R"([{"from": "old.zst", "stallAfter": 1000000, "stallMs": 300, "resetAfter": 1000000}, {}])");
    const fs::path validator = target.wstring() + L".validator";
    ASSERT_FALSE(Get(1));
    ASSERT_EQ(fs::file_size(target), 1000000u);
    const std::string kept = PdTest::ReadBytes(validator);
    EXPECT_TRUE(kept.starts_with('"')) << kept;

    ASSERT_TRUE(Get(1));
    EXPECT_EQ(PdTest::ReadBytes(target), LargeBytes());
    const auto requests = served.Requests(L"large.zst");
    ASSERT_EQ(requests.size(), 2u) << "the old part is never spliced onto the new file";
    EXPECT_EQ(requests[1].range, L"bytes=1000000-");
    EXPECT_EQ(requests[1].ifRange, Pd::Core::FromUtf8(kept));
    EXPECT_EQ(requests[1].status, 200u);
    EXPECT_FALSE(fs::exists(validator)) << "a whole file needs none";
}

// Answers that say the file is not there end the download at once; a busy server's wait is kept
// while it fits in the waits of the attempts left.
TEST_F(Transfers, AnswersThatEndOrDelayTheAttempts)
{
    struct Case
    {
        const char* what;
        std::string rule;
        std::size_t requests;
        std::vector<int> slices; // each value stands for 20 slices of it
        std::wstring error;      // empty: downloaded; else with {} for the address
    };
    auto busy = [](const wchar_t* seconds) {
        return L"The server answered HTTP 503 for {}. It asks to be asked again in " + std::wstring(seconds) +
               L" seconds, later than Peldra goes on trying: try again then.";
    };
    const Case cases[] = {
        {"not found", R"({"status": 404})", 1, {}, L"The server answered HTTP 404 for {}."},
        {"forbidden", R"({"status": 403})", 1, {}, L"The server answered HTTP 403 for {}."},
        {"gone", R"({"status": 410})", 1, {}, L"The server answered HTTP 410 for {}."},
        {"busy for 7 s", R"([{"status": 503, "retryAfter": "7"}, {}])", 2, {350}, L""},
        {"busy for less than the wait", R"([{"status": 429, "retryAfter": "1"}, {}])", 2, {100}, L""},
        {"busy for an hour", R"({"status": 503, "retryAfter": "3600"})", 1, {}, busy(L"3600")},
        {"busy for 7 s each time", R"({"status": 503, "retryAfter": "7"})", 3, {350, 350}, busy(L"7")},
    };
    for (const Case& c : cases)
    {
        Fresh(c.rule);
        auto done = Get(5);
        EXPECT_EQ(served.Requests(L"large.zst").size(), c.requests) << c.what;
        std::vector<int> expected;
        for (int wait : c.slices)
            expected.insert(expected.end(), 20, wait);
        EXPECT_EQ(slices, expected) << c.what;
        EXPECT_EQ(done ? L"" : done.error(), Named(c.error)) << c.what;
    }
}

// A server that stops sending, before its headers or in the body, holds the download up for the
// stall budget in all, whatever attempts are left; the bytes that came stay for a later call.
TEST_F(Transfers, StallsEndTheDownloadWhenTheyUsedUpTheirTime)
{
    const Pd::Net::Pacing pacing{.receiveTimeoutMs = 1000, .stallBudgetMs = 3000, .waitSlice = {}};
    struct Case
    {
        const char* what;
        std::string rule;
        std::uint64_t kept;
        std::wstring error;
    } cases[] = {
        {"before the headers", R"({"stallHeaders": 2500})", 0,
         L"The server did not answer in time: no answer from {} within 1 seconds."},
        {"in the body", R"({"stallAfter": 100000, "stallMs": 2500})", 300000,
         L"The server stopped sending: nothing came from {} for 1 seconds."},
    };
    for (const Case& c : cases)
    {
        Fresh(c.rule);
        EXPECT_EQ(ErrorOf(Get(5, {}, {}, {}, pacing)), Named(c.error)) << c.what;
        EXPECT_EQ(served.Requests(L"large.zst").size(), 3u) << c.what;
        EXPECT_EQ(log.size(), 2u) << c.what; // two retries, then the budget is used up
        EXPECT_EQ(fs::exists(target) ? fs::file_size(target) : 0u, c.kept) << c.what;
    }
}

TEST(RetryAfter, IsDelaySecondsOrAnHttpDateHeldToADay)
{
    const SYSTEMTIME noon{2024, 5, 3, 1, 12, 0, 0, 0};
    FILETIME now{};
    ASSERT_TRUE(::SystemTimeToFileTime(&noon, &now));
    const std::pair<const wchar_t*, std::optional<std::int64_t>> cases[] = {
        {L"120", 120},
        {L"0", 0},
        {L"90000", 86400},
        {L"Wed, 01 May 2024 12:01:00 GMT", 60},
        {L"Wed, 01 May 2024 11:00:00 GMT", 0},
        {L"Fri, 31 Feb 2024 12:00:00 GMT", std::nullopt},
        {L"Wed, 01 May 2024 12:01:00 UTC", std::nullopt},
        {L"", std::nullopt},
        {L"-5", std::nullopt},
        {L"soon", std::nullopt},
        {L"99999999999999999999", std::nullopt},
    };
    for (const auto& [text, seconds] : cases)
    {
        auto parsed = Pd::Net::Detail::ParseRetryAfter(text, now);
        EXPECT_EQ(parsed ? std::optional(parsed->count()) : std::nullopt, seconds) << Pd::Core::ToUtf8(text);
    }
}

TEST(SecureFailure, NamesEachCheckThatFailed)
{
    const std::pair<DWORD, const wchar_t*> cases[] = {
        {0x10, L"the server's certificate is for another name"},
        {0x30,
         L"the server's certificate is for another name; the server's certificate has expired or is not "
         L"valid yet"},
        {0x08, L"the server's certificate is not from a trusted authority"},
        {0x04, L"the server's certificate has been revoked"},
        {0x42, L"the server's certificate is not valid"},
        {0x80000000, L"the secure (TLS) connection could not be set up"},
        {0, L""},
    };
    for (const auto& [flags, text] : cases)
        EXPECT_EQ(Pd::Net::Detail::SecureFailureText(flags), text) << flags;
}

TEST_F(Transfers, FailedAttemptsWaitLongerEachTimeAndTheLastErrorIsReturned)
{
    served.Rule(L"large.zst", R"([{"append": 10}, {"status": 500}])");
    EXPECT_EQ(ErrorOf(Get(5)), L"The server answered HTTP 500 for " + served.Url(L"large.zst") + L".");
    const auto requests = served.Requests(L"large.zst");
    ASSERT_EQ(requests.size(), 5u);
    EXPECT_TRUE(requests[1].range.starts_with(L"bytes=")) << "the part before the excess is kept";
    ASSERT_EQ(log.size(), 4u);
    EXPECT_EQ(log[0], L"Attempt 1 of 5 failed: The server sent more data than expected. - trying again.");
    EXPECT_EQ(log[3], L"Attempt 4 of 5 failed: The server answered HTTP 500 for " + served.Url(L"large.zst") +
                          L". - trying again.");
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
