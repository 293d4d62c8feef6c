// Every network transfer of the release management: small texts into memory, and files to
// disk with resume, SHA-256 while writing, retries and a final check. WinHTTP, synchronous, on
// the caller's thread; a stop request is seen before every chunk and in every wait slice.
#pragma once

#include "core/Result.h"
#include "release/base/Callbacks.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <stop_token>
#include <string>
#include <string_view>

namespace Pd::Net
{

// Sleeps one slice of the wait between two attempts; tests pass their own to stay fast.
using WaitSlice = std::function<void(std::chrono::milliseconds)>;

// How often a text fetch is tried. Only a transient failure (a broken or timed-out connection, a
// body cut short, a busy server: 408, 429, 500, 502, 503, 504) is tried again, after the waits of
// a download (a busy server's Retry-After as a download honours it); each retry is logged.
struct Retries
{
    int attempts = 1;
    Core::LogText log;
    WaitSlice waitSlice;
};

// One GET that must answer 200 with an uncompressed body of at most 1 MiB. Every error but
// "Canceled." names the address.
Result<std::string> FetchText(std::wstring_view url, std::stop_token stop, std::uint32_t connectTimeoutMs,
                              std::uint32_t receiveTimeoutMs, const Retries& retries = {});

// How long a download waits for a server that sends nothing: each attempt, for its answer's
// headers and for every read, up to receiveTimeoutMs, and all attempts together up to
// stallBudgetMs; then the download ends. Tests pass their own wait slices to stay fast.
struct Pacing
{
    std::uint32_t receiveTimeoutMs = 20000;
    std::uint32_t stallBudgetMs = 60000;
    WaitSlice waitSlice;
};

// Brings the file at path to exactly expectedSize bytes with the expected SHA-256, resuming a
// partial file, in up to `attempts` attempts with growing waits between them. An answer that says
// the file is not there (404, 403, 410) ends it at once, naming the address; a busy server's
// Retry-After is waited for when it ends before the waits of the attempts left would have. A
// partial file stays for a later call, with the validator (ETag, else Last-Modified) of the answer
// its bytes came from in "<path>.validator", so that the later call continues it only from the
// same version of the file; a file whose digest differs is deleted.
Result<> Download(std::wstring_view url, const std::wstring& path, std::uint64_t expectedSize,
                  std::wstring_view expectedSha256, int attempts, const ByteProgress& progress,
                  const Core::LogText& log, std::stop_token stop, const Pacing& pacing = {});

// The SHA-256 of a whole file as 64 lower-case hexadecimal characters.
Result<std::wstring> FileSha256(const std::wstring& path, const ByteProgress& progress, std::stop_token stop);

} // namespace Pd::Net
