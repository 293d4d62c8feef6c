#include "core/release/HttpRequest.h"

#include "core/ErrorText.h"
#include "core/release/Manifest.h"
#include "core/Strings.h"
#include "core/Text.h"
#include "core/Version.h"

#include <fmt/xchar.h>

#include <algorithm>
#include <memory>
#include <string>

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
    return Fail(Core::Text(18000));
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
        return Fail(Core::ErrorText(Core::Text(18010), ::GetLastError()));
    Address address;
    address.secure = parts.nScheme == INTERNET_SCHEME_HTTPS;
    address.host.assign(host, parts.dwHostNameLength);
    address.port = parts.nPort;
    address.path.assign(path, parts.dwUrlPathLength);
    address.path.append(extra, parts.dwExtraInfoLength);
    // Some WinHTTP versions split an IPv6 literal into a host of "[" and port 0.
    if (address.host.empty() || address.host == L"[" || address.port == 0)
        return Fail(Core::ErrorText(Core::Text(18010), ERROR_WINHTTP_INVALID_URL));
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

std::unexpected<RequestError> Network(const std::wstring& step, DWORD code)
{
    return Failed(Core::ErrorText(step, code), IsTransientCode(code));
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

} // namespace

bool IsTransientStatus(std::uint32_t status)
{
    return status == 408 || status == 429 || status == 500 || status == 502 || status == 503 || status == 504;
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

std::wstring Validator(HINTERNET request)
{
    // Sent back as a header line: only printable ASCII, so that nothing from the server can add a line.
    auto usable = [](const std::optional<std::wstring>& value) {
        return value && !value->empty() && value->size() <= 256 && IsPrintableAscii(*value);
    };
    // A weak ETag may not be used for a range.
    if (auto tag = Header(request, WINHTTP_QUERY_ETAG); usable(tag) && !tag->starts_with(L"W/"))
        return *tag;
    if (auto modified = Header(request, WINHTTP_QUERY_LAST_MODIFIED); usable(modified))
        return *modified;
    return {};
}

Result<> CheckNotEncoded(const Response& response)
{
    auto encoding = Header(response.request.Get(), WINHTTP_QUERY_CONTENT_ENCODING);
    if (!encoding || encoding->empty() || Core::EqualsAsciiIgnoringCase(*encoding, L"identity"))
        return {};
    std::wstring shown = encoding->size() > 40 ? encoding->substr(0, 40) + L"..." : *encoding;
    return Fail(Core::FormatText(18083, response.url, shown));
}

Result<> CheckRedirect(std::wstring_view from, std::wstring_view to)
{
    if (Core::EqualsAsciiIgnoringCase(from.substr(0, 8), L"https://") &&
        Core::EqualsAsciiIgnoringCase(to.substr(0, 7), L"http://"))
        return Fail(Core::FormatText(18055, std::wstring(from), std::wstring(to)));
    if (auto next = Crack(to); !next)
        return Fail(Core::FormatText(18056, std::wstring(from), std::wstring(to), next.error()));
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
        return Network(Core::FormatText(18060, response.url), ::GetLastError());
    response.request.Reset(::WinHttpOpenRequest(response.connection.Get(), L"GET", address.path.c_str(),
                                                nullptr, WINHTTP_NO_REFERER, WINHTTP_DEFAULT_ACCEPT_TYPES,
                                                address.secure ? WINHTTP_FLAG_SECURE : 0));
    if (!response.request)
        return Failed(Core::ErrorText(L"WinHttpOpenRequest", ::GetLastError()));
    // Redirects are followed by OpenRequest, which checks where they lead first.
    DWORD policy = WINHTTP_OPTION_REDIRECT_POLICY_NEVER;
    ::WinHttpSetOption(response.request.Get(), WINHTTP_OPTION_REDIRECT_POLICY, &policy, sizeof(policy));

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
        return Network(Core::FormatText(18061, response.url), ::GetLastError());
    if (!::WinHttpReceiveResponse(response.request.Get(), nullptr))
    {
        DWORD code = ::GetLastError();
        if (code == ERROR_WINHTTP_TIMEOUT || code == WSAETIMEDOUT)
            return Failed(Core::FormatText(18053, response.url, receiveTimeoutMs / 1000), true);
        return Network(Core::FormatText(18061, response.url), code);
    }

    DWORD status = 0;
    DWORD size = sizeof(status);
    if (!::WinHttpQueryHeaders(response.request.Get(), WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                               WINHTTP_HEADER_NAME_BY_INDEX, &status, &size, WINHTTP_NO_HEADER_INDEX))
        return Network(Core::FormatText(18062, response.url), ::GetLastError());
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
            return Failed(Core::FormatText(18054, MaxRedirects, std::wstring(url)));
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
    auto buffer = std::make_unique_for_overwrite<std::uint8_t[]>(ChunkSize);
    for (;;)
    {
        if (stop.stop_requested())
            return Failed(Core::Text(10008));
        DWORD available = 0;
        if (!::WinHttpQueryDataAvailable(request, &available))
            return Network(Core::FormatText(18063, response.url), ::GetLastError());
        if (available == 0)
            return {};
        DWORD read = 0;
        if (!::WinHttpReadData(request, buffer.get(), std::min<DWORD>(available, ChunkSize), &read))
            return Network(Core::FormatText(18063, response.url), ::GetLastError());
        if (read == 0)
            return {};
        if (auto taken = sink(buffer.get(), read); !taken)
            return Failed(std::move(taken.error()));
    }
}

bool WaitAfterFailure(int failed, std::stop_token stop, const WaitSlice& waitSlice)
{
    for (int slice = 0; slice < 20; ++slice)
    {
        if (stop.stop_requested())
            return false;
        if (waitSlice)
            waitSlice(std::chrono::milliseconds(failed * 100));
        else
            ::Sleep(static_cast<DWORD>(failed * 100));
    }
    return !stop.stop_requested();
}

} // namespace Pd::Net::Detail
