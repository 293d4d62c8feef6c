#include "release/base/OpenPath.h"
#include "release/download/HttpRequest.h"
#include "release/download/Net.h"
#include "release/manifest/Manifest.h"

#include "core/ErrorText.h"
#include "core/Sha256.h"
#include "core/Strings.h"
#include "core/Text.h"
#include "release/folders/NoLinks.h"

#include <windows.h>

#include <algorithm>
#include <filesystem>
#include <memory>
#include <optional>

namespace Pd::Net
{
namespace
{

constexpr std::uint32_t AttemptConnectTimeoutMs = 15000;

using Detail::Failed;
using Detail::Failure;
using Detail::RequestResult;

// What one call knows about the file it fills: bytes written and hashed so far, whether any of
// them came from before a Range continuation (a prefix that may belong to another file), the
// validator of the answer they came from, which a continuation sends back in If-Range, and how
// much longer stalls may hold the download up.
struct Transfer
{
    std::wstring_view url;
    const std::wstring& path;
    std::uint64_t expectedSize;
    const ByteProgress& progress;
    const Core::LogText& log;
    std::uint32_t receiveTimeoutMs;
    std::uint32_t stallLeftMs;
    std::optional<Sha256> hasher{};
    std::uint64_t offset = 0;
    bool resumed = false;
    std::wstring validator{};
    bool droppedForShorterFile = false;

    void Report() const
    {
        if (progress)
            progress(offset, expectedSize);
    }

    void Log(const std::wstring& line) const
    {
        if (log)
            log(line);
    }

    // The bytes so far are of no use: the next ones are written from byte 0.
    void StartAgain()
    {
        offset = 0;
        hasher.emplace();
        resumed = false;
        validator.clear();
    }
};

// Shared for deleting, as every reader of Peldra's files opens them: a run's rename over the file
// then goes past this reader wherever Windows renames with POSIX semantics.
UniqueFile OpenForReading(const std::wstring& path)
{
    return Install::OpenPath(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, OPEN_EXISTING,
                             FILE_FLAG_SEQUENTIAL_SCAN);
}

// The folder of the download: nothing in it is written through a link.
std::wstring FolderOf(const std::wstring& path)
{
    return std::filesystem::path(path).parent_path().wstring();
}

// Beside the partial file: the validator of the answer its bytes came from, so that a later call
// continues it only from the same version of the file.
std::wstring ValidatorPath(const std::wstring& path)
{
    return path + L".validator";
}

// The stored validator, when there is one that may be sent back.
std::wstring StoredValidator(const std::wstring& path)
{
    UniqueFile file = OpenForReading(ValidatorPath(path));
    char bytes[Detail::MaxValidatorLength + 1];
    DWORD read = 0;
    if (!file || !::ReadFile(file.Get(), bytes, sizeof(bytes), &read, nullptr))
        return {};
    std::wstring validator(bytes, bytes + read);
    return Detail::IsSendableValidator(validator) ? validator : std::wstring();
}

// Keeps the validator of a whole answer beside the file it fills; without one, none stays.
void StoreValidator(const Transfer& transfer)
{
    const std::wstring folder = FolderOf(transfer.path);
    const std::wstring stored = ValidatorPath(transfer.path);
    // Only the cost of a later resume hangs on it: the digest still proves the file.
    if (transfer.validator.empty() ||
        !Install::WriteWholeFile(folder, stored,
                                 std::string(transfer.validator.begin(), transfer.validator.end())))
        static_cast<void>(Install::DeleteBelow(folder, stored));
}

void DropValidator(const std::wstring& path)
{
    static_cast<void>(Install::DeleteBelow(FolderOf(path), ValidatorPath(path)));
}

std::unexpected<std::wstring> Canceled()
{
    return Fail(Core::Text(TextId::Canceled));
}

// What a hash of the file at `path` ended with, as a result.
Result<> Hashed(DWORD status, const std::wstring& path)
{
    if (status == ERROR_CANCELLED)
        return Canceled();
    if (status != ERROR_SUCCESS)
        return Fail(Core::ErrorText(Core::FormatText(TextId::ReadingFile, path), status));
    return {};
}

// Feeds the first `count` bytes of the file on disk into the hasher.
Result<> HashExisting(const std::wstring& path, std::uint64_t count, Sha256& hasher, std::stop_token stop)
{
    UniqueFile file = OpenForReading(path);
    if (!file)
        return Fail(Core::ErrorText(Core::FormatText(TextId::OpeningFile, path), ::GetLastError()));
    return Hashed(HashFile(file.Get(), hasher, stop, count), path);
}

// Cuts the file on disk to no bytes.
Result<> Empty(const std::wstring& path)
{
    auto file = Install::OpenBelow(FolderOf(path), path, GENERIC_WRITE, FILE_SHARE_READ, OPEN_EXISTING);
    if (!file)
        return std::unexpected(std::move(file.error()));
    if (!::SetEndOfFile(file->Get()))
        return Fail(Core::ErrorText(Core::FormatText(TextId::WritingFile, path), ::GetLastError()));
    return {};
}

// Where the file on disk lets the download continue. A file larger than the expected size holds
// stale bytes: it is emptied, so that they can never be taken for the download.
Result<std::uint64_t> ResumePoint(const std::wstring& path, std::uint64_t expectedSize)
{
    FILE_STANDARD_INFO standard{};
    {
        UniqueFile entry = Install::OpenPath(
            path, FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, OPEN_EXISTING,
            FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT);
        if (!entry ||
            !::GetFileInformationByHandleEx(entry.Get(), FileStandardInfo, &standard, sizeof(standard)) ||
            standard.Directory || standard.EndOfFile.QuadPart < 0)
            return 0;
    }
    const auto size = static_cast<std::uint64_t>(standard.EndOfFile.QuadPart);
    if (size <= expectedSize)
        return size;
    if (auto emptied = Empty(path); !emptied)
        return std::unexpected(std::move(emptied.error()));
    return 0;
}

std::wstring ShorterFile(const Transfer& transfer, std::uint64_t serverSize)
{
    return Core::FormatText(TextId::ServerFileSmallerThanRelease, std::wstring(transfer.url), serverSize,
                            transfer.expectedSize);
}

// The answer to a request that asked for the rest from transfer.offset: whether its body continues
// the bytes on disk. Else the transfer starts again from byte 0 (logged), and the answer is of no use
// unless it is the whole file (200). An error when the server's file is shorter than what is here
// a second time: starting again once is enough.
RequestResult<bool> Continues(Transfer& transfer, const Detail::Response& response)
{
    HINTERNET request = response.request.Get();
    const std::uint64_t asked = transfer.offset;
    if (response.status == 200)
    {
        transfer.Log(Core::FormatText(TextId::ServerSentWholeFile, std::wstring(transfer.url), asked));
        transfer.StartAgain();
        return true;
    }
    auto rangeText = Detail::Header(request, WINHTTP_QUERY_CONTENT_RANGE);
    const auto range = Detail::ParseContentRange(rangeText.value_or(L""));
    if (response.status == 416)
    {
        // The server's file ends at or before the bytes already here: they are of another file.
        if (transfer.droppedForShorterFile)
            return Failed(range && range->total ? ShorterFile(transfer, *range->total)
                                                : Core::Text(TextId::DownloadIncomplete));
        if (auto emptied = Empty(transfer.path); !emptied)
            return Failed(std::move(emptied.error()));
        transfer.Log(Core::FormatText(TextId::ServerFileShorter, std::wstring(transfer.url),
                                      Core::FormatBytes(asked)));
        transfer.droppedForShorterFile = true;
        transfer.StartAgain();
        return false;
    }
    if (response.status != 206)
        return std::unexpected(Detail::StatusFailure(request, response.status, response.url));
    if (!range || range->first != asked || (range->total && *range->total != transfer.expectedSize))
    {
        transfer.Log(Core::FormatText(TextId::ServerPartDoesNotContinue, std::wstring(transfer.url), asked,
                                      rangeText.value_or(L"none")));
        transfer.StartAgain();
        return false;
    }
    // A server that ignores If-Range still shows the version it sent in its ETag.
    if (transfer.validator.starts_with(L'"'))
        if (auto tag = Detail::Header(request, WINHTTP_QUERY_ETAG); tag && *tag != transfer.validator)
        {
            transfer.Log(Core::FormatText(TextId::FileOnServerChanged, std::wstring(transfer.url),
                                          transfer.validator, *tag));
            transfer.StartAgain();
            return false;
        }
    transfer.resumed = true;
    return true;
}

// Opens the request for the rest of the file, or for the whole file when what is here cannot be
// continued; the answer's body then goes to the file from transfer.offset.
RequestResult<Detail::Response> OpenFor(Transfer& transfer, std::uint32_t receiveTimeoutMs)
{
    for (;;)
    {
        const bool continuing = transfer.offset > 0;
        auto response =
            Detail::OpenRequest(transfer.url, {transfer.offset, continuing ? transfer.validator : L""},
                                AttemptConnectTimeoutMs, receiveTimeoutMs);
        if (!response)
            return std::unexpected(std::move(response.error()));
        if (auto plain = Detail::CheckNotEncoded(*response); !plain)
            return Failed(std::move(plain.error()));
        if (continuing)
        {
            auto continues = Continues(transfer, *response);
            if (!continues)
                return std::unexpected(std::move(continues.error()));
            if (!*continues)
                continue; // again, from byte 0: at most once more, since no range is asked for
            if (transfer.offset > 0)
                return std::move(*response);
        }
        if (response->status != 200)
            return std::unexpected(
                Detail::StatusFailure(response->request.Get(), response->status, response->url));
        // A whole file shorter than the release says can never become the release's file.
        if (auto announced = Detail::ContentLength(response->request.Get());
            announced && *announced < transfer.expectedSize)
            return Failed(ShorterFile(transfer, *announced));
        transfer.validator = Detail::Validator(response->request.Get());
        return std::move(*response);
    }
}

// One request and one pass over its body into the file. A stall, before the headers or in the
// body, is charged to what is left of the stall budget.
RequestResult<> Attempt(Transfer& transfer, std::stop_token stop)
{
    // Never 0, which WinHTTP takes for no time-out at all.
    const std::uint32_t timeoutMs =
        std::max<std::uint32_t>(std::min(transfer.receiveTimeoutMs, transfer.stallLeftMs), 1);
    auto charged = [&](RequestResult<> result) {
        if (!result && result.error().failure == Failure::Stalled)
            transfer.stallLeftMs -= std::min(timeoutMs, transfer.stallLeftMs);
        return result;
    };
    auto response = OpenFor(transfer, timeoutMs);
    if (!response)
        return charged(std::unexpected(std::move(response.error())));

    auto opened = Install::OpenBelow(FolderOf(transfer.path), transfer.path, GENERIC_WRITE, FILE_SHARE_READ,
                                     OPEN_ALWAYS);
    if (!opened)
        return Failed(std::move(opened.error()));
    const UniqueFile file = std::move(*opened);
    LARGE_INTEGER position{};
    position.QuadPart = static_cast<LONGLONG>(transfer.offset);
    if (!::SetFilePointerEx(file.Get(), position, nullptr, FILE_BEGIN) || !::SetEndOfFile(file.Get()))
        return Failed(
            Core::ErrorText(Core::FormatText(TextId::WritingFile, transfer.path), ::GetLastError()));
    // Stored once the old bytes are gone and before a new one is written: the validator beside the
    // file always names the answer its bytes came from.
    if (transfer.offset == 0)
        StoreValidator(transfer);
    transfer.Report();

    return charged(
        Detail::ReadBody(*response, stop, [&](const std::uint8_t* data, std::size_t size) -> Result<> {
            if (transfer.offset + size > transfer.expectedSize)
                return Fail(Core::Text(TextId::ServerSentMoreData));
            DWORD written = 0;
            if (!::WriteFile(file.Get(), data, static_cast<DWORD>(size), &written, nullptr) ||
                written != size)
                return Fail(
                    Core::ErrorText(Core::FormatText(TextId::WritingFile, transfer.path), ::GetLastError()));
            transfer.hasher->Update(data, size);
            transfer.offset += size;
            transfer.Report();
            return {};
        }));
}

// Attempts until the file holds the expected size, with the waits of Detail::RetryWaits between
// them. An answer that says the file is not there, a busy server that asks for more time than the
// waits leave, and stalls that used up the budget end the attempts at once.
Result<> RunAttempts(Transfer& transfer, int attempts, const Core::LogText& log, std::stop_token stop,
                     const WaitSlice& waitSlice)
{
    const int count = std::max(attempts, 1);
    Detail::RetryWaits waits(count);
    Detail::RequestError last;
    for (int i = 1; i <= count; ++i)
    {
        if (transfer.offset == transfer.expectedSize)
            return {};
        auto attempt = Attempt(transfer, stop);
        if (!attempt)
            last = std::move(attempt.error());
        if (stop.stop_requested())
            return Canceled();
        if (attempt)
        {
            if (transfer.offset == transfer.expectedSize)
                return {};
            last = {Core::Text(TextId::DownloadIncomplete), Failure::Transient};
        }
        if (i == count || last.failure == Failure::Final ||
            (last.failure == Failure::Stalled && transfer.stallLeftMs == 0))
            break;
        auto wait = waits.After(i, last);
        if (!wait)
            return Fail(Detail::TooBusyText(last));
        if (log)
            log(Core::FormatText(TextId::AttemptFailedTryingAgain, i, count, last.text));
        if (!Detail::Wait(*wait, stop, waitSlice))
            return Canceled();
    }
    return Fail(std::move(last.text));
}

} // namespace

Result<> Download(std::wstring_view url, const std::wstring& path, std::uint64_t expectedSize,
                  std::wstring_view expectedSha256, int attempts, const ByteProgress& progress,
                  const Core::LogText& log, std::stop_token stop, const Pacing& pacing)
{
    // A refused address stays refused: no attempt, no wait.
    if (!Core::IsFetchableAddress(url))
        return Fail(Core::Text(TextId::OnlyHttpsSupported));
    std::error_code ignored;
    std::filesystem::create_directories(std::filesystem::path(path).parent_path(), ignored);

    Transfer transfer{url, path, expectedSize, progress, log, pacing.receiveTimeoutMs, pacing.stallBudgetMs};
    transfer.hasher.emplace();
    if (!transfer.hasher->Usable())
        return Fail(Core::Text(TextId::Sha256NotAvailable));

    auto resumeAt = ResumePoint(path, expectedSize);
    if (!resumeAt)
        return std::unexpected(std::move(resumeAt.error()));
    transfer.offset = *resumeAt;
    if (transfer.offset > 0)
    {
        transfer.resumed = true;
        if (log)
            log(Core::FormatText(TextId::ContinuingDownload, Core::FormatBytes(transfer.offset),
                                 Core::FormatBytes(expectedSize)));
        if (auto hashed = HashExisting(path, transfer.offset, *transfer.hasher, stop); !hashed)
            return hashed;
        transfer.validator = StoredValidator(path);
    }

    std::wstring digest;
    bool restarted = false;
    for (;;)
    {
        if (auto done = RunAttempts(transfer, attempts, log, stop, pacing.waitSlice); !done)
            return done;
        digest = transfer.hasher->Finish();
        DropValidator(path); // the file is whole: nothing continues it
        if (digest == expectedSha256)
            return {};
        static_cast<void>(Install::DeleteBelow(FolderOf(path), path));
        // A resumed prefix may have come from another file (an older release left a partial
        // download under the same name): the whole file is fetched once more from the start.
        // Only once: the fresh transfer resumes after a broken connection too, and a server that
        // keeps sending wrong bytes must not keep it going.
        if (!transfer.resumed || restarted)
            break;
        restarted = true;
        transfer.StartAgain();
    }
    return Fail(Core::FormatText(TextId::Sha256Mismatch, std::wstring(expectedSha256), digest));
}

Result<std::wstring> FileSha256(const std::wstring& path, const ByteProgress& progress, std::stop_token stop)
{
    Sha256 hasher;
    if (!hasher.Usable())
        return Fail(Core::Text(TextId::Sha256NotAvailable));
    UniqueFile file = OpenForReading(path);
    LARGE_INTEGER length{};
    if (!file || !::GetFileSizeEx(file.Get(), &length))
        return Fail(Core::ErrorText(Core::FormatText(TextId::OpeningFile, path), ::GetLastError()));
    const auto size = static_cast<std::uint64_t>(length.QuadPart);
    auto told = [&](std::uint64_t done) {
        if (progress)
            progress(done, size);
    };
    if (auto hashed = Hashed(HashFile(file.Get(), hasher, stop, WholeFile, told), path); !hashed)
        return std::unexpected(hashed.error());
    return hasher.Finish();
}

} // namespace Pd::Net
