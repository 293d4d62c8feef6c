#include "tel/modem/RoutedNotices.h"

#include "core/Log.h"
#include "core/LogEscape.h"
#include "core/Strings.h"
#include "tel/modem/WindowsModem.h"
#include "tel/sms/MmsNoticePdu.h"

#include <fmt/format.h>

#include <algorithm>
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
                          reason, Core::EscapeForLog(Core::ToUtf8(from), LoggedOriginator)));
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
    std::vector<std::pair<std::uint32_t, std::string>> handing;
    for (std::string& part : parts)
    {
        const std::uint32_t id = (shared.noticeCounter++ & NoticeIdMask) | FirstNoticeId;
        if (handler)
            handing.emplace_back(id, part);
        shared.keptNotices.push_back({id, std::move(part), static_cast<bool>(handler)});
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
