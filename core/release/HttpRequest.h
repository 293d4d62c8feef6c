// One GET request over WinHTTP, shared by the text fetch and the file download.
#pragma once

#include "core/Handles.h"
#include "core/Result.h"

#include <windows.h>
#include <winhttp.h>

#include <cstdint>
#include <functional>
#include <optional>
#include <stop_token>
#include <string_view>

namespace Pd::Net::Detail
{

using UniqueInternet = Unique<HINTERNET, &::WinHttpCloseHandle>;

// An opened request with its answer's status. Dropping it closes request, connection, session.
struct Response
{
    UniqueInternet session;
    UniqueInternet connection;
    UniqueInternet request;
    std::uint32_t status = 0;
    std::wstring url; // the address that answered, after redirects; errors name it
};

// Sends a GET for url, from byte `offset` on when it is not 0 ("Range: bytes=<offset>-").
// Redirects are followed here, at most 10, and only where the first address could go itself:
// to https, or from a loopback http address to loopback; never from https to http. A redirect
// that is not followed is the answer.
Result<Response> OpenRequest(std::wstring_view url, std::uint64_t offset, std::uint32_t connectTimeoutMs,
                             std::uint32_t receiveTimeoutMs);

// The length the answer announced in Content-Length; none when it gave none or no number.
std::optional<std::uint64_t> ContentLength(HINTERNET request);

// Receives one chunk of the body; an error ends the reading with it.
using ChunkSink = std::function<Result<>(const std::uint8_t* data, std::size_t size)>;

// Reads the body to its end in chunks of at most 1 MiB, checking stop before each.
Result<> ReadBody(const Response& response, std::stop_token stop, const ChunkSink& sink);

} // namespace Pd::Net::Detail
