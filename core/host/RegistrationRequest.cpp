#include "core/host/RegistrationRequest.h"

#include "core/Handles.h"
#include "core/host/HostObjects.h"
#include "core/Settings.h"
#include "core/Text.h"

#include <windows.h>

namespace Pd::Host
{
namespace
{

constexpr const wchar_t* IdCopiedValue = L"GooglePlayIdCopied";

} // namespace

Result<> RequestRegistration()
{
    UniqueHandle event(::OpenEventW(EVENT_MODIFY_STATE, FALSE, RegisterEventName));
    if (!event)
        return Fail(Core::Text(TextId::BackgroundServiceNotRunning));
    WriteIdCopy(IdCopy::Pending);
    // The host opens Google's page; it may come to the front only with this process's consent.
    ::AllowSetForegroundWindow(ASFW_ANY);
    ::SetEvent(event.Get());
    return {};
}

IdCopy ReadIdCopy()
{
    const std::uint32_t stored = Core::ReadUserDword(IdCopiedValue).value_or(0);
    return stored == 1 ? IdCopy::Copied : stored == 2 ? IdCopy::NotCopied : IdCopy::Pending;
}

void WriteIdCopy(IdCopy copy)
{
    Core::WriteUserDword(IdCopiedValue, static_cast<std::uint32_t>(copy));
}

IdCopy WaitForIdCopy(std::chrono::milliseconds timeout)
{
    for (auto waited = std::chrono::milliseconds(0);; waited += std::chrono::milliseconds(100))
    {
        if (IdCopy copy = ReadIdCopy(); copy != IdCopy::Pending || waited >= timeout)
            return copy;
        ::Sleep(100);
    }
}

} // namespace Pd::Host
