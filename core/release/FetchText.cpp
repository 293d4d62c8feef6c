#include "core/release/HttpRequest.h"
#include "core/release/Net.h"

#include "core/Text.h"

namespace Pd::Net
{

Result<std::string> FetchText(std::wstring_view url, std::stop_token stop, std::uint32_t connectTimeoutMs,
                              std::uint32_t receiveTimeoutMs)
{
    constexpr std::size_t Limit = 1048576;
    auto response = Detail::OpenRequest(url, 0, connectTimeoutMs, receiveTimeoutMs);
    if (!response)
        return std::unexpected(std::move(response.error()));
    if (response->status != 200)
        return Fail(Core::FormatText(18002, response->status, std::wstring(url)));
    std::string body;
    auto read =
        Detail::ReadBody(*response, stop, [&](const std::uint8_t* data, std::size_t size) -> Result<> {
            if (body.size() + size > Limit)
                return Fail(Core::FormatText(16061, std::wstring(url), Limit));
            body.append(reinterpret_cast<const char*>(data), size);
            return {};
        });
    if (!read)
        return std::unexpected(std::move(read.error()));
    // A connection that breaks mid-body can end the reading as if the body were complete.
    if (auto announced = Detail::ContentLength(response->request.Get());
        announced && *announced != body.size())
        return Fail(Core::Text(18003));
    return body;
}

} // namespace Pd::Net
