#include "release/download/HttpRequest.h"

#include "core/ErrorText.h"
#include "core/ScopeExit.h"
#include "core/StoppableSleep.h"
#include "core/Strings.h"
#include "core/Text.h"
#include "core/Version.h"
#include "release/manifest/Manifest.h"

#include <fmt/xchar.h>

#include <algorithm>
#include <memory>
#include <string>
#include <utility>

#ifndef WINHTTP_ACCESS_TYPE_AUTOMATIC_PROXY
#define WINHTTP_ACCESS_TYPE_AUTOMATIC_PROXY 4
#endif
#ifndef WINHTTP_OPTION_ENABLE_HTTP_PROTOCOL
#define WINHTTP_OPTION_ENABLE_HTTP_PROTOCOL 133
#endif
#ifndef WINHTTP_PROTOCOL_FLAG_HTTP2
#define WINHTTP_PROTOCOL_FLAG_HTTP2 0x1
#endif
#ifndef WINHTTP_OPTION_RECEIVE_RESPONSE_TIMEOUT
#define WINHTTP_OPTION_RECEIVE_RESPONSE_TIMEOUT 7
#endif

namespace Pd::Net::Detail
{
namespace
{

constexpr int MaxRedirects = 10;
constexpr std::size_t ChunkSize = 1048576;

struct Address
{
    bool secure = false;
    std::wstring host;
    INTERNET_PORT port = 0;
    std::wstring path; // URL path followed by the query
};

std::unexpected<std::wstring> SchemeRefused()
{
    return Fail(Core::Text(TextId::OnlyHttpsSupported));
}

Result<Address> Crack(std::wstring_view url)
{
    // Only http and https are ever split; anything else is refused as a scheme, not as an address.
    if (!Core::EqualsAsciiIgnoringCase(url.substr(0, 8), L"https://") &&
        !Core::EqualsAsciiIgnoringCase(url.substr(0, 7), L"http://"))
        return SchemeRefused();
    wchar_t host[256];
    wchar_t path[2048];
    wchar_t extra[2048];
    URL_COMPONENTS parts{};
    parts.dwStructSize = sizeof(parts);
    parts.lpszHostName = host;
    parts.dwHostNameLength = static_cast<DWORD>(std::size(host));
    parts.lpszUrlPath = path;
    parts.dwUrlPathLength = static_cast<DWORD>(std::size(path));
    parts.lpszExtraInfo = extra;
    parts.dwExtraInfoLength = static_cast<DWORD>(std::size(extra));
    std::wstring text(url);
    if (!::WinHttpCrackUrl(text.c_str(), 0, 0, &parts))
        return Fail(Core::ErrorText(Core::Text(TextId::InvalidAddress), ::GetLastError()));
    Address address;
    address.secure = parts.nScheme == INTERNET_SCHEME_HTTPS;
    address.host.assign(host, parts.dwHostNameLength);
    address.port = parts.nPort;
    address.path.assign(path, parts.dwUrlPathLength);
    address.path.append(extra, parts.dwExtraInfoLength);
    // Some WinHTTP versions split an IPv6 literal into a host of "[" and port 0.
    if (address.host.empty() || address.host == L"[" || address.port == 0)
        return Fail(Core::ErrorText(Core::Text(TextId::InvalidAddress), ERROR_WINHTTP_INVALID_URL));
    if (!address.secure && !Core::IsLoopbackHost(address.host))
        return SchemeRefused();
    return address;
}

bool IsRedirect(std::uint32_t status)
{
    return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}

// Failures of the connection that a later attempt may not meet: it broke, was reset, or timed out
// (WinHTTP's codes, and the socket's codes Wine gives in their place).
bool IsTransientCode(DWORD code)
{
    switch (code)
    {
    case ERROR_WINHTTP_TIMEOUT:
    case ERROR_WINHTTP_CONNECTION_ERROR:
    case ERROR_WINHTTP_INVALID_SERVER_RESPONSE:
    case WSAECONNABORTED:
    case WSAECONNRESET:
    case WSAETIMEDOUT:
        return true;
    default:
        return false;
    }
}

bool IsTimeout(DWORD code)
{
    return code == ERROR_WINHTTP_TIMEOUT || code == WSAETIMEDOUT;
}

std::unexpected<RequestError> Network(const std::wstring& step, DWORD code)
{
    return Failed(Core::ErrorText(step, code), IsTransientCode(code) ? Failure::Transient : Failure::Lasting);
}

// The words for a failed secure connection come from the checks WinHTTP reported in its
// secure-failure callback; without them, from the code.
std::unexpected<RequestError> SendFailure(const std::wstring& step, DWORD code, DWORD secureFailure)
{
    if (std::wstring checks = SecureFailureText(secureFailure); !checks.empty())
        return Failed(Core::FormatText(TextId::ErrorWithCode, step, checks, code));
    return Network(step, code);
}

void CALLBACK NoteSecureFailure(HINTERNET, DWORD_PTR context, DWORD status, LPVOID information, DWORD length)
{
    if (status == WINHTTP_CALLBACK_STATUS_SECURE_FAILURE && context != 0 && information != nullptr &&
        length >= sizeof(DWORD))
        *reinterpret_cast<DWORD*>(context) |= *static_cast<const DWORD*>(information);
}

bool IsPrintableAscii(std::wstring_view text)
{
    return std::ranges::all_of(text, [](wchar_t c) { return c >= 0x20 && c < 0x7F; });
}

std::optional<std::uint64_t> Number(std::wstring_view digits)
{
    if (digits.empty() || digits.size() > 19)
        return std::nullopt;
    std::uint64_t value = 0;
    for (wchar_t c : digits)
    {
        if (c < L'0' || c > L'9')
            return std::nullopt;
        value = value * 10 + static_cast<std::uint64_t>(c - L'0');
    }
    return value;
}

// An HTTP date as servers send it today: "Sun, 06 Nov 1994 08:49:37 GMT". Windows' own parser takes
// almost any text for a date.
bool ParseHttpDate(std::wstring_view text, FILETIME& time)
{
    static constexpr std::wstring_view Months[] = {L"Jan", L"Feb", L"Mar", L"Apr", L"May", L"Jun",
                                                   L"Jul", L"Aug", L"Sep", L"Oct", L"Nov", L"Dec"};
    if (text.size() != 29 || text.substr(3, 2) != L", " || text[7] != L' ' || text[11] != L' ' ||
        text[16] != L' ' || text[19] != L':' || text[22] != L':' || text.substr(25) != L" GMT")
        return false;
    const auto month = std::ranges::find(Months, text.substr(8, 3));
    const auto day = Number(text.substr(5, 2)), year = Number(text.substr(12, 4));
    const auto hour = Number(text.substr(17, 2)), minute = Number(text.substr(20, 2));
    const auto second = Number(text.substr(23, 2));
    if (month == std::end(Months) || !day || !year || !hour || !minute || !second)
        return false;
    SYSTEMTIME date{};
    date.wYear = static_cast<WORD>(*year);
    date.wMonth = static_cast<WORD>(month - std::begin(Months) + 1);
    date.wDay = static_cast<WORD>(*day);
    date.wHour = static_cast<WORD>(*hour);
    date.wMinute = static_cast<WORD>(*minute);
    date.wSecond = static_cast<WORD>(*second);
    return ::SystemTimeToFileTime(&date, &time); // refuses what is no date, such as 31 Feb
}

} // namespace

bool IsTransientStatus(std::uint32_t status)
{
    return status == 408 || status == 429 || status == 500 || status == 502 || status == 503 || status == 504;
}

RequestError StatusFailure(HINTERNET request, std::uint32_t status, std::wstring_view url)
{
    RequestError error{Core::FormatText(TextId::ServerAnsweredHttpFor, status, std::wstring(url))};
    if (status == 404 || status == 403 || status == 410)
        error.failure = Failure::Final;
    else if (IsTransientStatus(status))
        error.failure = Failure::Transient;
    if (status == 429 || status == 503)
        if (auto asked = Header(request, WINHTTP_QUERY_RETRY_AFTER, 64))
        {
            FILETIME now{};
            ::GetSystemTimeAsFileTime(&now);
            error.retryAfter = ParseRetryAfter(*asked, now);
        }
    return error;
}

std::optional<std::chrono::seconds> ParseRetryAfter(std::wstring_view text, const FILETIME& now)
{
    constexpr std::uint64_t Day = 86400;
    if (auto seconds = Number(text))
        return std::chrono::seconds(std::min(*seconds, Day));
    FILETIME then{};
    if (!ParseHttpDate(text, then))
        return std::nullopt;
    auto ticks = [](const FILETIME& time) {
        return (std::uint64_t{time.dwHighDateTime} << 32) | time.dwLowDateTime;
    };
    const std::uint64_t later = ticks(then) > ticks(now) ? (ticks(then) - ticks(now)) / 10000000 : 0;
    return std::chrono::seconds(std::min(later, Day));
}

std::wstring SecureFailureText(DWORD flags)
{
    // From the most telling check to the least; WINHTTP_CALLBACK_STATUS_FLAG_* values.
    static constexpr std::pair<DWORD, TextId> Checks[] = {
        {0x00000010, TextId::CertificateForAnotherName}, // the certificate's name is not the server's
        {0x00000020, TextId::CertificateExpired},        // expired or not valid yet
        {0x00000008, TextId::CertificateNotTrusted},     // unknown certificate authority
        {0x00000004, TextId::CertificateRevoked},        // revoked
        {0x00000001, TextId::RevocationNotChecked},      // revocation could not be checked
        {0x00000002, TextId::CertificateInvalid},        // invalid certificate
        {0x00000040, TextId::CertificateInvalid},        // wrong usage
        {0x80000000, TextId::TlsNotSetUp},               // secure channel error
    };
    std::wstring text;
    std::optional<TextId> named;
    for (const auto& [flag, id] : Checks)
        if ((flags & flag) != 0 && id != named)
        {
            text += (text.empty() ? L"" : L"; ") + Core::Text(id);
            named = id;
        }
    return text;
}

std::optional<std::wstring> Header(HINTERNET request, DWORD query, std::size_t maxCharacters)
{
    DWORD size = 0;
    ::WinHttpQueryHeaders(request, query, WINHTTP_HEADER_NAME_BY_INDEX, WINHTTP_NO_OUTPUT_BUFFER, &size,
                          WINHTTP_NO_HEADER_INDEX);
    if (::GetLastError() != ERROR_INSUFFICIENT_BUFFER || size / sizeof(wchar_t) > maxCharacters + 1)
        return std::nullopt;
    std::wstring text(size / sizeof(wchar_t) + 1, L'\0');
    size = static_cast<DWORD>(text.size() * sizeof(wchar_t));
    if (!::WinHttpQueryHeaders(request, query, WINHTTP_HEADER_NAME_BY_INDEX, text.data(), &size,
                               WINHTTP_NO_HEADER_INDEX))
        return std::nullopt;
    text.resize(std::min<std::size_t>(size / sizeof(wchar_t), maxCharacters));
    return text;
}

std::optional<std::uint64_t> ContentLength(HINTERNET request)
{
    // Read as text: the numeric form is limited to 32 bits, and Wine refuses its 64-bit form.
    auto text = Header(request, WINHTTP_QUERY_CONTENT_LENGTH);
    return text ? Number(*text) : std::nullopt;
}

std::optional<ContentRange> ParseContentRange(std::wstring_view text)
{
    if (!text.starts_with(L"bytes "))
        return std::nullopt;
    text.remove_prefix(6);
    std::size_t slash = text.find(L'/');
    if (slash == std::wstring_view::npos)
        return std::nullopt;
    std::wstring_view span = text.substr(0, slash);
    std::wstring_view total = text.substr(slash + 1);
    ContentRange range;
    if (total != L"*")
    {
        range.total = Number(total);
        if (!range.total)
            return std::nullopt;
    }
    if (span == L"*")
        return range.total ? std::optional(range) : std::nullopt;
    std::size_t dash = span.find(L'-');
    if (dash == std::wstring_view::npos)
        return std::nullopt;
    range.first = Number(span.substr(0, dash));
    auto last = Number(span.substr(dash + 1));
    if (!range.first || !last || *last < *range.first || (range.total && *last >= *range.total))
        return std::nullopt;
    return range;
}

bool IsSendableValidator(std::wstring_view validator)
{
    return !validator.empty() && validator.size() <= MaxValidatorLength && IsPrintableAscii(validator) &&
           !validator.starts_with(L"W/");
}

std::wstring Validator(HINTERNET request)
{
    for (DWORD query : {WINHTTP_QUERY_ETAG, WINHTTP_QUERY_LAST_MODIFIED})
        if (auto value = Header(request, query); value && IsSendableValidator(*value))
            return *value;
    return {};
}

Result<> CheckNotEncoded(const Response& response)
{
    auto encoding = Header(response.request.Get(), WINHTTP_QUERY_CONTENT_ENCODING);
    if (!encoding || encoding->empty() || Core::EqualsAsciiIgnoringCase(*encoding, L"identity"))
        return {};
    std::wstring shown = encoding->size() > 40 ? encoding->substr(0, 40) + L"..." : *encoding;
    return Fail(Core::FormatText(TextId::ServerSentCompressed, response.url, shown));
}

Result<> CheckRedirect(std::wstring_view from, std::wstring_view to)
{
    if (Core::EqualsAsciiIgnoringCase(from.substr(0, 8), L"https://") &&
        Core::EqualsAsciiIgnoringCase(to.substr(0, 7), L"http://"))
        return Fail(Core::FormatText(TextId::RedirectedToHttp, std::wstring(from), std::wstring(to)));
    if (auto next = Crack(to); !next)
        return Fail(
            Core::FormatText(TextId::RedirectFailed, std::wstring(from), std::wstring(to), next.error()));
    return {};
}

namespace
{

RequestResult<> OpenSession(Response& response, std::uint32_t connectTimeoutMs,
                            std::uint32_t receiveTimeoutMs)
{
    std::wstring agent = fmt::format(L"Peldra/{}", ProgramVersion);
    response.session.Reset(::WinHttpOpen(agent.c_str(), WINHTTP_ACCESS_TYPE_AUTOMATIC_PROXY,
                                         WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, 0));
    if (!response.session)
        return Failed(Core::ErrorText(L"WinHttpOpen", ::GetLastError()));
    ::WinHttpSetTimeouts(response.session.Get(), static_cast<int>(connectTimeoutMs),
                         static_cast<int>(connectTimeoutMs), static_cast<int>(receiveTimeoutMs),
                         static_cast<int>(receiveTimeoutMs));
    // The receive time-out bounds each read of the body, not the wait for the headers, which has a
    // time-out of its own (90 s on Windows, none under Wine): the headers get the same deadline.
    DWORD headers = receiveTimeoutMs;
    ::WinHttpSetOption(response.session.Get(), WINHTTP_OPTION_RECEIVE_RESPONSE_TIMEOUT, &headers,
                       sizeof(headers));
    DWORD http2 = WINHTTP_PROTOCOL_FLAG_HTTP2;
    ::WinHttpSetOption(response.session.Get(), WINHTTP_OPTION_ENABLE_HTTP_PROTOCOL, &http2, sizeof(http2));
    return {};
}

RequestResult<> Send(Response& response, const Address& address, const RequestOptions& options,
                     std::uint32_t receiveTimeoutMs)
{
    response.request.Reset();
    response.connection.Reset(
        ::WinHttpConnect(response.session.Get(), address.host.c_str(), address.port, 0));
    if (!response.connection)
        return Network(Core::FormatText(TextId::ConnectingTo, response.url), ::GetLastError());
    response.request.Reset(::WinHttpOpenRequest(response.connection.Get(), L"GET", address.path.c_str(),
                                                nullptr, WINHTTP_NO_REFERER, WINHTTP_DEFAULT_ACCEPT_TYPES,
                                                address.secure ? WINHTTP_FLAG_SECURE : 0));
    if (!response.request)
        return Failed(Core::ErrorText(L"WinHttpOpenRequest", ::GetLastError()));
    // Redirects are followed by OpenRequest, which checks where they lead first.
    DWORD policy = WINHTTP_OPTION_REDIRECT_POLICY_NEVER;
    ::WinHttpSetOption(response.request.Get(), WINHTTP_OPTION_REDIRECT_POLICY, &policy, sizeof(policy));
    // Which certificate check failed comes only through the callback, on this thread while the
    // request is sent; the context is cleared before the flags go out of scope.
    DWORD secureFailure = 0;
    auto context = reinterpret_cast<DWORD_PTR>(&secureFailure);
    ::WinHttpSetOption(response.request.Get(), WINHTTP_OPTION_CONTEXT_VALUE, &context, sizeof(context));
    ::WinHttpSetStatusCallback(response.request.Get(), &NoteSecureFailure,
                               WINHTTP_CALLBACK_FLAG_SECURE_FAILURE, 0);
    Core::ScopeExit clear([request = response.request.Get()] {
        DWORD_PTR none = 0;
        ::WinHttpSetOption(request, WINHTTP_OPTION_CONTEXT_VALUE, &none, sizeof(none));
    });

    std::wstring headers;
    if (options.offset != 0)
    {
        headers = fmt::format(L"Range: bytes={}-\r\n", options.offset);
        if (!options.ifRange.empty())
            headers += fmt::format(L"If-Range: {}\r\n", options.ifRange);
    }
    if (!::WinHttpSendRequest(
            response.request.Get(), headers.empty() ? WINHTTP_NO_ADDITIONAL_HEADERS : headers.c_str(),
            headers.empty() ? 0 : static_cast<DWORD>(-1L), WINHTTP_NO_REQUEST_DATA, 0, 0, 0))
    {
        DWORD code = ::GetLastError();
        return SendFailure(Core::FormatText(TextId::SendingRequestTo, response.url), code, secureFailure);
    }
    if (!::WinHttpReceiveResponse(response.request.Get(), nullptr))
    {
        DWORD code = ::GetLastError();
        if (IsTimeout(code))
            return Failed(Core::FormatText(TextId::ServerTimedOut, response.url, receiveTimeoutMs / 1000),
                          Failure::Stalled);
        return SendFailure(Core::FormatText(TextId::SendingRequestTo, response.url), code, secureFailure);
    }

    DWORD status = 0;
    DWORD size = sizeof(status);
    if (!::WinHttpQueryHeaders(response.request.Get(), WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                               WINHTTP_HEADER_NAME_BY_INDEX, &status, &size, WINHTTP_NO_HEADER_INDEX))
        return Network(Core::FormatText(TextId::ReadingAnswerFrom, response.url), ::GetLastError());
    response.status = status;
    return {};
}

} // namespace

RequestResult<Response> OpenRequest(std::wstring_view url, const RequestOptions& options,
                                    std::uint32_t connectTimeoutMs, std::uint32_t receiveTimeoutMs)
{
    auto address = Crack(url);
    if (!address)
        return Failed(std::move(address.error()));
    Response response;
    if (auto opened = OpenSession(response, connectTimeoutMs, receiveTimeoutMs); !opened)
        return std::unexpected(std::move(opened.error()));

    response.url = url;
    response.receiveTimeoutMs = receiveTimeoutMs;
    for (int redirects = 0;; ++redirects)
    {
        if (auto sent = Send(response, *address, options, receiveTimeoutMs); !sent)
            return std::unexpected(std::move(sent.error()));
        if (!IsRedirect(response.status))
            return response;
        auto location = Header(response.request.Get(), WINHTTP_QUERY_LOCATION, 65536);
        if (!location || location->empty())
            return response;
        if (redirects == MaxRedirects)
            return Failed(Core::FormatText(TextId::TooManyRedirects, MaxRedirects, std::wstring(url)));
        std::wstring next = Core::ResolveUrl(response.url, *location);
        if (auto allowed = CheckRedirect(response.url, next); !allowed)
            return Failed(std::move(allowed.error()));
        address = Crack(next);
        response.url = std::move(next);
    }
}

RequestResult<> ReadBody(const Response& response, std::stop_token stop, const ChunkSink& sink)
{
    HINTERNET request = response.request.Get();
    auto readFailure = [&response](DWORD code) {
        if (IsTimeout(code))
            return Failed(Core::FormatText(TextId::ServerStoppedSending, response.url,
                                           response.receiveTimeoutMs / 1000),
                          Failure::Stalled);
        return Network(Core::FormatText(TextId::DownloadingFile, response.url), code);
    };
    auto buffer = std::make_unique_for_overwrite<std::uint8_t[]>(ChunkSize);
    for (;;)
    {
        if (stop.stop_requested())
            return Failed(Core::Text(TextId::Canceled));
        DWORD available = 0;
        if (!::WinHttpQueryDataAvailable(request, &available))
            return readFailure(::GetLastError());
        if (available == 0)
            return {};
        DWORD read = 0;
        if (!::WinHttpReadData(request, buffer.get(), std::min<DWORD>(available, ChunkSize), &read))
            return readFailure(::GetLastError());
        if (read == 0)
            return {};
        if (auto taken = sink(buffer.get(), read); !taken)
            return Failed(std::move(taken.error()));
    }
}

namespace
{

std::chrono::milliseconds ScheduledWait(int failed)
{
    return std::chrono::milliseconds(2000 * failed);
}

} // namespace

RetryWaits::RetryWaits(int attempts) : left_(0)
{
    for (int failed = 1; failed < attempts; ++failed)
        left_ += ScheduledWait(failed);
}

std::optional<std::chrono::milliseconds> RetryWaits::After(int failed, const RequestError& error)
{
    std::chrono::milliseconds wait = ScheduledWait(failed);
    if (error.retryAfter && *error.retryAfter > wait)
    {
        if (*error.retryAfter > left_)
            return std::nullopt;
        wait = *error.retryAfter;
    }
    left_ -= std::min(wait, left_);
    return wait;
}

bool Wait(std::chrono::milliseconds wait, std::stop_token stop, const WaitSlice& waitSlice)
{
    const std::chrono::milliseconds slice = wait / 20;
    for (int i = 0; i < 20; ++i)
    {
        if (stop.stop_requested())
            return false;
        if (waitSlice)
            waitSlice(slice);
        else
            Core::SleepFor(stop, slice);
    }
    return !stop.stop_requested();
}

std::wstring TooBusyText(const RequestError& error)
{
    return Core::FormatText(TextId::RetryAfterTooLate, error.text,
                            error.retryAfter.value_or(std::chrono::seconds(0)).count());
}

} // namespace Pd::Net::Detail
