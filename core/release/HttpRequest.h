// One GET request over WinHTTP, shared by the text fetch and the file download.
#pragma once

#include "core/Handles.h"
#include "core/release/Net.h"
#include "core/Result.h"

#include <windows.h>
#include <winhttp.h>

#include <cstdint>
#include <expected>
#include <functional>
#include <optional>
#include <stop_token>
#include <string>
#include <string_view>

namespace Pd::Net::Detail
{

using UniqueInternet = Unique<HINTERNET, &::WinHttpCloseHandle>;

// Why a request failed: the complete text, and whether the same request may well succeed a little
// later (the connection broke or timed out, the server was busy). An address that is refused, a
// certificate that does not fit or an answer that says no stays so and is not tried again.
struct RequestError
{
    std::wstring text;
    bool transient = false;
};

template <typename T = void> using RequestResult = std::expected<T, RequestError>;

inline std::unexpected<RequestError> Failed(std::wstring text, bool transient = false)
{
    return std::unexpected(RequestError{std::move(text), transient});
}

// Whether an HTTP status says that the server may answer the same request later.
bool IsTransientStatus(std::uint32_t status);

// An opened request with its answer's status. Dropping it closes request, connection, session.
struct Response
{
    UniqueInternet session;
    UniqueInternet connection;
    UniqueInternet request;
    std::uint32_t status = 0;
    std::wstring url; // the address that answered, after redirects; errors name it
};

struct RequestOptions
{
    std::uint64_t offset = 0; // from this byte on ("Range: bytes=<offset>-") when not 0
    std::wstring ifRange;     // with a range: the validator of the answer the range continues
};

// Sends a GET for url. The answer's headers must come within the receive time-out, as every later
// read must. Redirects are followed here, at most 10, and only where the first address could go
// itself: to https, or from a loopback http address to loopback; never from https to http. A
// redirect elsewhere, or one too many, is an error that says so.
RequestResult<Response> OpenRequest(std::wstring_view url, const RequestOptions& options,
                                    std::uint32_t connectTimeoutMs, std::uint32_t receiveTimeoutMs);

// Whether a redirect from `from` to `to` may be followed; else the error naming both.
Result<> CheckRedirect(std::wstring_view from, std::wstring_view to);

// A response header as text; none when absent or longer than maxCharacters.
std::optional<std::wstring> Header(HINTERNET request, DWORD query, std::size_t maxCharacters = 1024);

// The length the answer announced in Content-Length; none when it gave none or no number.
std::optional<std::uint64_t> ContentLength(HINTERNET request);

// What a Content-Range header says: "bytes <first>-<last>/<total>" (total "*" when unknown), or
// "bytes */<total>" for a range that could not be served (first then none).
struct ContentRange
{
    std::optional<std::uint64_t> first;
    std::optional<std::uint64_t> total;
};
std::optional<ContentRange> ParseContentRange(std::wstring_view text);

// What identifies this version of the resource for If-Range: a strong ETag, else Last-Modified;
// empty when the answer has neither in a form that can be sent back as it is.
std::wstring Validator(HINTERNET request);

// The refusal of an answer in a Content-Encoding other than identity: we never ask for one, and
// the bytes must be the resource's own.
Result<> CheckNotEncoded(const Response& response);

// Receives one chunk of the body; an error ends the reading with it.
using ChunkSink = std::function<Result<>(const std::uint8_t* data, std::size_t size)>;

// Reads the body to its end in chunks of at most 1 MiB, checking stop before each. A failed read
// is transient; an error of the sink is not.
RequestResult<> ReadBody(const Response& response, std::stop_token stop, const ChunkSink& sink);

// The wait after the `failed`-th failed attempt: 20 slices of failed x 100 ms. False when stop was
// requested before or during it.
bool WaitAfterFailure(int failed, std::stop_token stop, const WaitSlice& waitSlice);

} // namespace Pd::Net::Detail
