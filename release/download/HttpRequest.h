// One GET request over WinHTTP, shared by the text fetch and the file download.
#pragma once

#include "core/Handles.h"
#include "core/Result.h"
#include "release/download/Net.h"

#include <windows.h>
#include <winhttp.h>

#include <chrono>
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

// What a failure says about the next attempt.
enum class Failure
{
    Lasting,   // may well stay so (a refused address, a certificate that does not fit): a text fetch
               // stops, a download tries again as it does for every failure
    Transient, // the connection broke or timed out, the server was busy: worth another attempt
    Stalled,   // the server stopped sending (before its headers or in the body) until the time-out
    Final,     // the server said the file is not there for us (404, 403, 410): no attempt changes that
};

// Why a request failed: the complete text, what it means for another attempt, and the wait a busy
// server asked for in Retry-After.
struct RequestError
{
    std::wstring text;
    Failure failure = Failure::Lasting;
    std::optional<std::chrono::seconds> retryAfter{};

    // Whether the same request may well succeed a little later.
    bool Transient() const { return failure == Failure::Transient || failure == Failure::Stalled; }
};

template <typename T = void> using RequestResult = std::expected<T, RequestError>;

inline std::unexpected<RequestError> Failed(std::wstring text, Failure failure = Failure::Lasting)
{
    return std::unexpected(RequestError{std::move(text), failure});
}

// Whether an HTTP status says that the server may answer the same request later.
bool IsTransientStatus(std::uint32_t status);

// The failure of an answer with a status that is neither what was asked for nor a redirect:
// "The server answered HTTP <status> for <url>.", transient or final as the status says, with the
// Retry-After of a busy answer (429, 503).
RequestError StatusFailure(HINTERNET request, std::uint32_t status, std::wstring_view url);

// What a Retry-After header asks for: delta-seconds, or an HTTP date as seen from `now` (UTC);
// none when it is neither. A date in the past asks for no wait; anything is held to a day.
std::optional<std::chrono::seconds> ParseRetryAfter(std::wstring_view text, const FILETIME& now);

// The words for the checks WinHTTP's secure-failure flags say failed, joined by "; "; empty
// when the flags name none.
std::wstring SecureFailureText(DWORD flags);

// An opened request with its answer's status. Dropping it closes request, connection, session.
struct Response
{
    UniqueInternet session;
    UniqueInternet connection;
    UniqueInternet request;
    std::uint32_t status = 0;
    std::wstring url; // the address that answered, after redirects; errors name it
    std::uint32_t receiveTimeoutMs = 0;
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

// Whether a validator can be sent back as a header value as it is: 1 to 256 printable ASCII
// characters, so that nothing from the server can add a line, and no weak ETag, which may not be
// used for a range.
inline constexpr std::size_t MaxValidatorLength = 256;
bool IsSendableValidator(std::wstring_view validator);

// The refusal of an answer in a Content-Encoding other than identity: we never ask for one, and
// the bytes must be the resource's own.
Result<> CheckNotEncoded(const Response& response);

// Receives one chunk of the body; an error ends the reading with it.
using ChunkSink = std::function<Result<>(const std::uint8_t* data, std::size_t size)>;

// Reads the body to its end in chunks of at most 1 MiB, checking stop before each. A read that
// timed out means the server stopped sending; another failed read is transient; an error of the
// sink is neither.
RequestResult<> ReadBody(const Response& response, std::stop_token stop, const ChunkSink& sink);

// The waits between attempts: after the i-th failure 20 slices of i x 100 ms, unless a busy
// server asked for a wait of its own (Retry-After), which is kept when it ends no later than the
// waits of every attempt left would have in all (the retry deadline).
class RetryWaits
{
public:
    explicit RetryWaits(int attempts);

    // The wait after the `failed`-th failed attempt; none when the server asks for more than the
    // deadline leaves.
    std::optional<std::chrono::milliseconds> After(int failed, const RequestError& error);

private:
    std::chrono::milliseconds left_;
};

// Waits in 20 slices, checking stop before each. False when stop was requested before or during it.
bool Wait(std::chrono::milliseconds wait, std::stop_token stop, const WaitSlice& waitSlice);

// The error of a failure whose asked wait goes past the retry deadline.
std::wstring TooBusyText(const RequestError& error);

} // namespace Pd::Net::Detail
