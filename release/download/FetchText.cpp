#include "release/download/HttpRequest.h"
#include "release/download/Net.h"

#include "core/Text.h"

#include <algorithm>

namespace Pd::Net
{
namespace
{

constexpr std::size_t Limit = 1048576;

Detail::RequestResult<std::string> FetchOnce(std::wstring_view url, std::stop_token stop,
                                             std::uint32_t connectTimeoutMs, std::uint32_t receiveTimeoutMs)
{
    auto response = Detail::OpenRequest(url, {}, connectTimeoutMs, receiveTimeoutMs);
    if (!response)
        return std::unexpected(std::move(response.error()));
    if (response->status != 200)
        return std::unexpected(Detail::StatusFailure(response->request.Get(), response->status, url));
    if (auto plain = Detail::CheckNotEncoded(*response); !plain)
        return Detail::Failed(std::move(plain.error()));
    std::string body;
    auto read =
        Detail::ReadBody(*response, stop, [&](const std::uint8_t* data, std::size_t size) -> Result<> {
            if (body.size() + size > Limit)
                return Fail(Core::FormatText(TextId::LargerThanLimit, std::wstring(url), Limit));
            body.append(reinterpret_cast<const char*>(data), size);
            return {};
        });
    if (!read)
        return std::unexpected(std::move(read.error()));
    // A connection that breaks mid-body can end the reading as if the body were complete.
    if (auto announced = Detail::ContentLength(response->request.Get());
        announced && *announced != body.size())
        return Detail::Failed(Core::Text(TextId::DownloadIncomplete), Detail::Failure::Transient);
    return body;
}

} // namespace

Result<std::string> FetchText(std::wstring_view url, std::stop_token stop, std::uint32_t connectTimeoutMs,
                              std::uint32_t receiveTimeoutMs, const Retries& retries)
{
    const int attempts = std::max(retries.attempts, 1);
    Detail::RetryWaits waits(attempts);
    for (int i = 1;; ++i)
    {
        auto body = FetchOnce(url, stop, connectTimeoutMs, receiveTimeoutMs);
        if (stop.stop_requested())
            return Fail(Core::Text(TextId::Canceled));
        if (body)
            return std::move(*body);
        Detail::RequestError& failure = body.error();
        // Every failure names the address asked for; most texts do already.
        if (failure.text.find(url) == std::wstring::npos)
            failure.text = Core::FormatText(TextId::FetchingFailed, std::wstring(url), failure.text);
        if (!failure.Transient() || i == attempts)
            return Fail(std::move(failure.text));
        auto wait = waits.After(i, failure);
        if (!wait)
            return Fail(Detail::TooBusyText(failure));
        if (retries.log)
            retries.log(Core::FormatText(TextId::AttemptFailedTryingAgain, i, attempts, failure.text));
        if (!Detail::Wait(*wait, stop, retries.waitSlice))
            return Fail(Core::Text(TextId::Canceled));
    }
}

} // namespace Pd::Net
