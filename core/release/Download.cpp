#include "core/release/HttpRequest.h"
#include "core/release/Manifest.h"
#include "core/release/Net.h"

#include "core/ErrorText.h"
#include "core/release/NoLinks.h"
#include "core/Sha256.h"
#include "core/Strings.h"
#include "core/Text.h"

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
constexpr std::uint32_t AttemptReceiveTimeoutMs = 60000;

// What one call knows about the file it fills: bytes written and hashed so far, and whether
// any of them came from before a Range continuation (a prefix that may belong to another file).
struct Transfer
{
    std::wstring_view url;
    const std::wstring& path;
    std::uint64_t expectedSize;
    const ByteProgress& progress;
    std::optional<Sha256> hasher;
    std::uint64_t offset = 0;
    bool resumed = false;

    void Report() const
    {
        if (progress)
            progress(offset, expectedSize);
    }
};

UniqueFile OpenForReading(const std::wstring& path)
{
    return UniqueFile(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                    FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
}

// The folder of the download: nothing in it is written through a link.
std::wstring FolderOf(const std::wstring& path)
{
    return std::filesystem::path(path).parent_path().wstring();
}

std::unexpected<std::wstring> Canceled()
{
    return Fail(Core::Text(10008));
}

// What a hash of the file at `path` ended with, as a result.
Result<> Hashed(DWORD status, const std::wstring& path)
{
    if (status == ERROR_CANCELLED)
        return Canceled();
    if (status != ERROR_SUCCESS)
        return Fail(Core::ErrorText(Core::FormatText(18016, path), status));
    return {};
}

// Feeds the first `count` bytes of the file on disk into the hasher.
Result<> HashExisting(const std::wstring& path, std::uint64_t count, Sha256& hasher, std::stop_token stop)
{
    UniqueFile file = OpenForReading(path);
    if (!file)
        return Fail(Core::ErrorText(Core::FormatText(18015, path), ::GetLastError()));
    auto stopped = [&stop] { return stop.stop_requested(); };
    return Hashed(HashFile(file.Get(), hasher, stopped, count), path);
}

// Where the file on disk lets the download continue. A file larger than the expected size holds
// stale bytes: it is emptied, so that they can never be taken for the download.
Result<std::uint64_t> ResumePoint(const std::wstring& path, std::uint64_t expectedSize)
{
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!::GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data) ||
        (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
        return 0;
    std::uint64_t size = (std::uint64_t{data.nFileSizeHigh} << 32) | data.nFileSizeLow;
    if (size <= expectedSize)
        return size;
    auto file = Install::OpenBelow(FolderOf(path), path, GENERIC_WRITE, FILE_SHARE_READ, OPEN_EXISTING);
    if (!file)
        return std::unexpected(std::move(file.error()));
    if (!::SetEndOfFile(file->Get()))
        return Fail(Core::ErrorText(Core::FormatText(18018, path), ::GetLastError()));
    return 0;
}

// One request and one pass over its body into the file.
Result<> Attempt(Transfer& transfer, std::stop_token stop)
{
    auto response =
        Detail::OpenRequest(transfer.url, transfer.offset, AttemptConnectTimeoutMs, AttemptReceiveTimeoutMs);
    if (!response)
        return std::unexpected(std::move(response.error()));
    std::uint32_t status = response->status;
    if (transfer.offset > 0 && status == 200)
    {
        // The server ignored the range: the whole body follows, from byte 0.
        transfer.offset = 0;
        transfer.hasher.emplace();
        transfer.resumed = false;
    }
    else if (transfer.offset > 0 && status == 416)
    {
        return {};
    }
    else if (transfer.offset > 0 && status == 206)
    {
        transfer.resumed = true;
    }
    else if (!(transfer.offset == 0 && status == 200))
    {
        return Fail(Core::FormatText(18001, status));
    }

    auto opened = Install::OpenBelow(FolderOf(transfer.path), transfer.path, GENERIC_WRITE, FILE_SHARE_READ,
                                     OPEN_ALWAYS);
    if (!opened)
        return std::unexpected(std::move(opened.error()));
    const UniqueFile file = std::move(*opened);
    LARGE_INTEGER position{};
    position.QuadPart = static_cast<LONGLONG>(transfer.offset);
    if (!::SetFilePointerEx(file.Get(), position, nullptr, FILE_BEGIN) || !::SetEndOfFile(file.Get()))
        return Fail(Core::ErrorText(Core::FormatText(18018, transfer.path), ::GetLastError()));
    transfer.Report();

    return Detail::ReadBody(*response, stop, [&](const std::uint8_t* data, std::size_t size) -> Result<> {
        if (transfer.offset + size > transfer.expectedSize)
            return Fail(Core::Text(18004));
        DWORD written = 0;
        if (!::WriteFile(file.Get(), data, static_cast<DWORD>(size), &written, nullptr) || written != size)
            return Fail(Core::ErrorText(Core::FormatText(18018, transfer.path), ::GetLastError()));
        transfer.hasher->Update(data, size);
        transfer.offset += size;
        transfer.Report();
        return {};
    });
}

// Attempts until the file holds the expected size, with waits of 20 slices of i x 100 ms after
// the i-th failure.
Result<> RunAttempts(Transfer& transfer, int attempts, const Core::LogText& log, std::stop_token stop,
                     const WaitSlice& waitSlice)
{
    int count = std::max(attempts, 1);
    std::wstring lastError;
    for (int i = 1; i <= count; ++i)
    {
        if (transfer.offset == transfer.expectedSize)
            return {};
        auto attempt = Attempt(transfer, stop);
        if (!attempt)
            lastError = std::move(attempt.error());
        if (stop.stop_requested())
            return Canceled();
        if (attempt)
        {
            if (transfer.offset == transfer.expectedSize)
                return {};
            lastError = Core::Text(18003);
        }
        if (i == count)
            break;
        if (log)
            log(Core::FormatText(17007, i, count, lastError));
        for (int slice = 0; slice < 20; ++slice)
        {
            if (stop.stop_requested())
                return Canceled();
            if (waitSlice)
                waitSlice(std::chrono::milliseconds(i * 100));
            else
                ::Sleep(static_cast<DWORD>(i * 100));
        }
        if (stop.stop_requested())
            return Canceled();
    }
    return Fail(lastError);
}

} // namespace

Result<> Download(std::wstring_view url, const std::wstring& path, std::uint64_t expectedSize,
                  std::wstring_view expectedSha256, int attempts, const ByteProgress& progress,
                  const Core::LogText& log, std::stop_token stop, const WaitSlice& waitSlice)
{
    // A refused address stays refused: no attempt, no wait.
    if (!Core::IsFetchableAddress(url))
        return Fail(Core::Text(18000));
    std::error_code ignored;
    std::filesystem::create_directories(std::filesystem::path(path).parent_path(), ignored);

    Transfer transfer{url, path, expectedSize, progress, std::nullopt, 0, false};
    transfer.hasher.emplace();
    if (!transfer.hasher->Usable())
        return Fail(Core::Text(18005));

    auto resumeAt = ResumePoint(path, expectedSize);
    if (!resumeAt)
        return std::unexpected(std::move(resumeAt.error()));
    transfer.offset = *resumeAt;
    if (transfer.offset > 0)
    {
        transfer.resumed = true;
        if (log)
            log(Core::FormatText(17006, Core::FormatBytes(transfer.offset), Core::FormatBytes(expectedSize)));
        if (auto hashed = HashExisting(path, transfer.offset, *transfer.hasher, stop); !hashed)
            return hashed;
    }

    std::wstring digest;
    bool restarted = false;
    for (;;)
    {
        if (auto done = RunAttempts(transfer, attempts, log, stop, waitSlice); !done)
            return done;
        digest = transfer.hasher->Finish();
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
        transfer.hasher.emplace();
        transfer.offset = 0;
        transfer.resumed = false;
    }
    return Fail(Core::FormatText(18006, std::wstring(expectedSha256), digest));
}

Result<std::wstring> FileSha256(const std::wstring& path, const ByteProgress& progress, std::stop_token stop)
{
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!::GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data))
        return Fail(Core::ErrorText(Core::FormatText(18015, path), ::GetLastError()));
    std::uint64_t size = (std::uint64_t{data.nFileSizeHigh} << 32) | data.nFileSizeLow;
    Sha256 hasher;
    if (!hasher.Usable())
        return Fail(Core::Text(18005));
    UniqueFile file = OpenForReading(path);
    if (!file)
        return Fail(Core::ErrorText(Core::FormatText(18015, path), ::GetLastError()));
    auto stopped = [&stop] { return stop.stop_requested(); };
    auto told = [&](std::uint64_t done) {
        if (progress)
            progress(done, size);
    };
    if (auto hashed = Hashed(HashFile(file.Get(), hasher, stopped, WholeFile, told), path); !hashed)
        return std::unexpected(hashed.error());
    return hasher.Finish();
}

} // namespace Pd::Net
