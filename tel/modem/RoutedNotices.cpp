#include "tel/modem/RoutedNotices.h"

#include "core/Log.h"
#include "core/LogEscape.h"
#include "core/Strings.h"
#include "tel/modem/WindowsModem.h"
#include "tel/sms/MmsNoticePdu.h"

#include <fmt/format.h>

#include <algorithm>
#include <numeric>
#include <utility>

namespace Pd::Tel
{
namespace
{

// Longer than any address or media type a network sends.
constexpr std::size_t MaxFieldLength = 256;
constexpr std::uint32_t NoticeIdMask = 0x3FFFFFFF;
// Characters of a refused originator shown in its log line.
constexpr std::size_t LoggedOriginator = 40;

bool HasControl(std::wstring_view text)
{
    return std::ranges::any_of(text, [](wchar_t c) { return c < 0x20 || (c >= 0x7F && c <= 0x9F); });
}

std::uint32_t Code(HRESULT result)
{
    return static_cast<std::uint32_t>(result);
}

// The router's time stamp (100-ns units since 1601, universal time); now when it is no time.
SYSTEMTIME Timestamp(std::int64_t fileTime)
{
    FILETIME split{static_cast<DWORD>(fileTime & 0xFFFFFFFF), static_cast<DWORD>(fileTime >> 32)};
    SYSTEMTIME time{};
    if (!::FileTimeToSystemTime(&split, &time))
        ::GetSystemTime(&time);
    return time;
}

void LogRefused(std::string_view reason, const std::wstring& from)
{
    Core::Log(fmt::format("modem: an MMS notice from Windows' SMS router was refused: {} (from \"{}\")",
                          reason, Core::EscapeQuotedForLog(Core::ToUtf8(from), LoggedOriginator)));
}

// The media type without parameters, compared as media types are: without case.
bool IsMmsNotification(std::wstring_view contentType)
{
    contentType = contentType.substr(0, contentType.find(L';'));
    while (!contentType.empty() && (contentType.back() == L' ' || contentType.back() == L'\t'))
        contentType.remove_suffix(1);
    return contentType.size() == MmsContentType.size() &&
           std::ranges::equal(contentType, MmsContentType, [](wchar_t a, char b) {
               return (a >= L'A' && a <= L'Z' ? a - L'A' + L'a' : a) == static_cast<wchar_t>(b);
           });
}

// Drops the oldest kept notices, each with all its parts, until `parts` fit beside the rest.
void MakeRoom(Shared& shared, const std::vector<std::string>& parts)
{
    std::vector<KeptNotice>& kept = shared.keptNotices;
    auto text = [](std::size_t sum, const auto& pdu) { return sum + pdu.size(); };
    std::size_t count = kept.size() + parts.size();
    std::size_t bytes = std::accumulate(parts.begin(), parts.end(), std::size_t{0}, text);
    for (const KeptNotice& notice : kept)
        bytes += notice.pdu.size();
    while (!kept.empty() && (count > MaxKeptNotices || bytes > MaxKeptNoticeText))
    {
        const std::uint32_t message = kept.front().message;
        auto end = std::ranges::find_if(
            kept, [message](const KeptNotice& notice) { return notice.message != message; });
        const auto dropped = static_cast<std::size_t>(end - kept.begin());
        count -= dropped;
        for (auto at = kept.begin(); at != end; ++at)
            bytes -= at->pdu.size();
        kept.erase(kept.begin(), end);
        Core::Log(
            fmt::format("modem: too many MMS notices wait for Android - the oldest ({} part{}) was dropped",
                        dropped, dropped > 1 ? "s" : ""));
    }
}

bool Closed(Shared& shared)
{
    std::lock_guard lock(shared.lock);
    return shared.closed;
}

} // namespace

std::optional<std::string> RefuseRoutedPush(const Platform::RoutedSmsMessage& message)
{
    if (message.body.empty())
        return "it has no body";
    if (message.body.size() > MaxParts * ConcatenatedPartData)
        return fmt::format("its body of {} octets does not fit in {} SMS", message.body.size(), MaxParts);
    if (message.from.size() > MaxFieldLength || HasControl(message.from))
        return "its originator is too long or holds control characters";
    if (message.contentType.size() > MaxFieldLength || HasControl(message.contentType))
        return "its content type is too long or holds control characters";
    // Provisioning and service indications or loadings would reach Android as if the network had
    // sent them through its own SMS path.
    if (!IsMmsNotification(message.contentType))
        return fmt::format("it carries {}, not an MMS notification",
                           Core::EscapeForLog(Core::ToUtf8(message.contentType)));
    return std::nullopt;
}

void OnRoutedMessage(Shared& shared, Platform::Outcome<Platform::RoutedSmsMessage> message)
{
    if (Closed(shared))
        return;
    if (!message)
    {
        Core::Log(fmt::format("modem: an MMS notice from Windows' SMS router could not be read (0x{:08X})",
                              Code(message.error().code)));
        return;
    }
    if (message->type != Platform::SmsMessageType::Wap)
        return;
    if (auto reason = RefuseRoutedPush(*message))
        return LogRefused(*reason, message->from);
    const SYSTEMTIME time = Timestamp(message->timestamp);
    const std::string from = Core::ToUtf8(message->from);
    const std::string contentType = Core::ToUtf8(message->contentType);

    std::unique_lock lock(shared.lock);
    if (shared.closed)
        return;
    const std::uint8_t reference = shared.referenceCounter++;
    std::vector<std::string> parts = BuildMmsNoticePdu(from, time, contentType, message->body, reference);
    if (parts.empty())
    {
        lock.unlock();
        return LogRefused("it does not fit in 255 SMS", message->from);
    }
    auto handler = shared.messageHandler;
    MakeRoom(shared, parts);
    std::vector<std::pair<std::uint32_t, std::string>> handing;
    const std::uint32_t firstId = (shared.noticeCounter & NoticeIdMask) | FirstNoticeId;
    for (std::string& part : parts)
    {
        const std::uint32_t id = (shared.noticeCounter++ & NoticeIdMask) | FirstNoticeId;
        if (handler)
            handing.emplace_back(id, part);
        shared.keptNotices.push_back({id, std::move(part), static_cast<bool>(handler), firstId});
    }
    Core::Log(fmt::format("modem: an MMS notice from Windows' SMS router ({} octets, {} part{}){}",
                          message->body.size(), parts.size(), parts.size() > 1 ? "s" : "",
                          handler ? "" : " - kept until Android starts"));
    for (const auto& [id, pdu] : handing)
        CallHandler(shared, lock, handler, pdu, id);
}

void WindowsModem::ReceiveRoutedNotices()
{
    if (!shared_)
        return;
    auto failed = [](HRESULT code) {
        Core::Log(fmt::format("modem: Windows' SMS router gives no MMS notices (0x{:08X}): only those read "
                              "from the modem first reach Android",
                              Code(code)));
    };
    std::shared_ptr<Platform::SmsRouter> router = Platform::SmsRouting();
    if (!router)
        return failed(REGDB_E_CLASSNOTREG);
    // Registrations an earlier run left would go on copying notices to nobody.
    if (auto removed = router->UnregisterAll(RouterId); !removed)
        return failed(removed.error().code);
    auto registration = router->RegisterWapPeek(
        RouterId, [shared = shared_](Platform::Outcome<Platform::RoutedSmsMessage> message) {
            OnRoutedMessage(*shared, std::move(message));
        });
    if (!registration)
        return failed(registration.error().code);
    routerRegistration_ = std::move(*registration);
}

} // namespace Pd::Tel
