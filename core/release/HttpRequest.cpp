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

std::wstring LocationOf(HINTERNET request)
{
    DWORD size = 0;
    ::WinHttpQueryHeaders(request, WINHTTP_QUERY_LOCATION, WINHTTP_HEADER_NAME_BY_INDEX,
                          WINHTTP_NO_OUTPUT_BUFFER, &size, WINHTTP_NO_HEADER_INDEX);
    if (::GetLastError() != ERROR_INSUFFICIENT_BUFFER || size == 0)
        return {};
    std::wstring location(size / sizeof(wchar_t) + 1, L'\0');
    size = static_cast<DWORD>(location.size() * sizeof(wchar_t));
    if (!::WinHttpQueryHeaders(request, WINHTTP_QUERY_LOCATION, WINHTTP_HEADER_NAME_BY_INDEX, location.data(),
                               &size, WINHTTP_NO_HEADER_INDEX))
        return {};
    location.resize(size / sizeof(wchar_t));
    return location;
}

} // namespace

std::optional<std::uint64_t> ContentLength(HINTERNET request)
{
    // Read as text: the numeric form is limited to 32 bits, and Wine refuses its 64-bit form.
    wchar_t text[32] = {};
    DWORD size = sizeof(text) - sizeof(wchar_t);
    if (!::WinHttpQueryHeaders(request, WINHTTP_QUERY_CONTENT_LENGTH, WINHTTP_HEADER_NAME_BY_INDEX, text,
                               &size, WINHTTP_NO_HEADER_INDEX))
        return std::nullopt;
    std::wstring_view digits(text, size / sizeof(wchar_t));
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

namespace
{

Result<> OpenSession(Response& response, std::uint32_t connectTimeoutMs, std::uint32_t receiveTimeoutMs)
{
    std::wstring agent = fmt::format(L"Peldra/{}", ProgramVersion);
    response.session.Reset(::WinHttpOpen(agent.c_str(), WINHTTP_ACCESS_TYPE_AUTOMATIC_PROXY,
                                         WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, 0));
    if (!response.session)
        return Fail(Core::ErrorText(L"WinHttpOpen", ::GetLastError()));
    ::WinHttpSetTimeouts(response.session.Get(), static_cast<int>(connectTimeoutMs),
                         static_cast<int>(connectTimeoutMs), static_cast<int>(receiveTimeoutMs),
                         static_cast<int>(receiveTimeoutMs));
    DWORD http2 = WINHTTP_PROTOCOL_FLAG_HTTP2;
    ::WinHttpSetOption(response.session.Get(), WINHTTP_OPTION_ENABLE_HTTP_PROTOCOL, &http2, sizeof(http2));
    return {};
}

Result<> Send(Response& response, const Address& address, std::uint64_t offset)
{
    response.request.Reset();
    response.connection.Reset(
        ::WinHttpConnect(response.session.Get(), address.host.c_str(), address.port, 0));
    if (!response.connection)
        return Fail(Core::ErrorText(Core::FormatText(18060, response.url), ::GetLastError()));
    response.request.Reset(::WinHttpOpenRequest(response.connection.Get(), L"GET", address.path.c_str(),
                                                nullptr, WINHTTP_NO_REFERER, WINHTTP_DEFAULT_ACCEPT_TYPES,
                                                address.secure ? WINHTTP_FLAG_SECURE : 0));
    if (!response.request)
        return Fail(Core::ErrorText(L"WinHttpOpenRequest", ::GetLastError()));
    // Redirects are followed by OpenRequest, which checks where they lead first.
    DWORD policy = WINHTTP_OPTION_REDIRECT_POLICY_NEVER;
    ::WinHttpSetOption(response.request.Get(), WINHTTP_OPTION_REDIRECT_POLICY, &policy, sizeof(policy));

    std::wstring range = offset != 0 ? fmt::format(L"Range: bytes={}-\r\n", offset) : std::wstring();
    if (!::WinHttpSendRequest(
            response.request.Get(), range.empty() ? WINHTTP_NO_ADDITIONAL_HEADERS : range.c_str(),
            range.empty() ? 0 : static_cast<DWORD>(-1L), WINHTTP_NO_REQUEST_DATA, 0, 0, 0) ||
        !::WinHttpReceiveResponse(response.request.Get(), nullptr))
        return Fail(Core::ErrorText(Core::FormatText(18061, response.url), ::GetLastError()));

    DWORD status = 0;
    DWORD size = sizeof(status);
    if (!::WinHttpQueryHeaders(response.request.Get(), WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                               WINHTTP_HEADER_NAME_BY_INDEX, &status, &size, WINHTTP_NO_HEADER_INDEX))
        return Fail(Core::ErrorText(Core::FormatText(18062, response.url), ::GetLastError()));
    response.status = status;
    return {};
}

} // namespace

Result<Response> OpenRequest(std::wstring_view url, std::uint64_t offset, std::uint32_t connectTimeoutMs,
                             std::uint32_t receiveTimeoutMs)
{
    auto address = Crack(url);
    if (!address)
        return std::unexpected(std::move(address.error()));
    Response response;
    if (auto opened = OpenSession(response, connectTimeoutMs, receiveTimeoutMs); !opened)
        return std::unexpected(std::move(opened.error()));

    response.url = url;
    for (int redirects = 0;; ++redirects)
    {
        if (auto sent = Send(response, *address, offset); !sent)
            return std::unexpected(std::move(sent.error()));
        if (!IsRedirect(response.status) || redirects == MaxRedirects)
            return response;
        std::wstring location = LocationOf(response.request.Get());
        if (location.empty())
            return response;
        std::wstring next = Core::ResolveUrl(response.url, location);
        auto nextAddress = Crack(next);
        if (!nextAddress || (address->secure && !nextAddress->secure))
            return response;
        response.url = std::move(next);
        address = std::move(nextAddress);
    }
}

Result<> ReadBody(const Response& response, std::stop_token stop, const ChunkSink& sink)
{
    HINTERNET request = response.request.Get();
    auto buffer = std::make_unique_for_overwrite<std::uint8_t[]>(ChunkSize);
    for (;;)
    {
        if (stop.stop_requested())
            return Fail(Core::Text(10008));
        DWORD available = 0;
        if (!::WinHttpQueryDataAvailable(request, &available))
            return Fail(Core::ErrorText(Core::FormatText(18063, response.url), ::GetLastError()));
        if (available == 0)
            return {};
        DWORD read = 0;
        if (!::WinHttpReadData(request, buffer.get(), std::min<DWORD>(available, ChunkSize), &read))
            return Fail(Core::ErrorText(Core::FormatText(18063, response.url), ::GetLastError()));
        if (read == 0)
            return {};
        if (auto taken = sink(buffer.get(), read); !taken)
            return taken;
    }
}

} // namespace Pd::Net::Detail
