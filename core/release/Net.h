// Every network transfer of the release management: small texts into memory, and files to
// disk with resume, SHA-256 while writing, retries and a final check. WinHTTP, synchronous, on
// the caller's thread; a stop request is seen before every chunk and in every wait slice.
#pragma once

#include "core/release/Callbacks.h"
#include "core/Result.h"

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
// a download; each retry is logged.
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

// Brings the file at path to exactly expectedSize bytes with the expected SHA-256, resuming a
// partial file, in up to `attempts` attempts with growing waits between them. A partial file
// stays for a later call; a file whose digest differs is deleted.
Result<> Download(std::wstring_view url, const std::wstring& path, std::uint64_t expectedSize,
                  std::wstring_view expectedSha256, int attempts, const ByteProgress& progress,
                  const Core::LogText& log, std::stop_token stop, const WaitSlice& waitSlice = {});

// The SHA-256 of a whole file as 64 lower-case hexadecimal characters.
Result<std::wstring> FileSha256(const std::wstring& path, const ByteProgress& progress, std::stop_token stop);

} // namespace Pd::Net
