#include "host/notices/UpdateNotices.h"

#include "core/Handles.h"
#include "core/host/HostChange.h"
#include "core/Log.h"
#include "core/SetEventOnStop.h"
#include "core/Settings.h"
#include "release/download/ManifestLoader.h"
#include "release/install/RunFolder.h"
#include "release/manifest/Updates.h"
#include "release/manifest/Versions.h"

#include <chrono>
#include <string>

namespace Pd::Host
{
namespace
{

constexpr std::uint64_t CheckIntervalSeconds = 72000; // 20 hours
constexpr std::uint32_t ConnectTimeoutMs = 5000;
constexpr std::uint32_t ReceiveTimeoutMs = 8000;

std::uint64_t SecondsSince1970()
{
    using namespace std::chrono;
    return static_cast<std::uint64_t>(duration_cast<seconds>(system_clock::now().time_since_epoch()).count());
}

// The version as it enters the 8-bit log: anything outside printable ASCII becomes "?", so a
// manifest cannot break or forge log lines.
std::string LogVersion(const std::wstring& version)
{
    std::string text;
    for (wchar_t c : version)
        text += c >= 0x20 && c < 0x7F ? static_cast<char>(c) : '?';
    return text;
}

} // namespace

bool UpdateCheckDue(std::wstring_view lastChecked, std::uint64_t now)
{
    // More digits than fit in 64 bits would overflow: twenty digits already lie far in the future.
    if (lastChecked.empty() || lastChecked.size() > 19)
        return true;
    std::uint64_t checked = 0;
    for (wchar_t c : lastChecked)
    {
        if (c < L'0' || c > L'9')
            return true;
        checked = checked * 10 + static_cast<std::uint64_t>(c - L'0');
    }
    return now < checked || now - checked >= CheckIntervalSeconds;
}

void RunUpdateCheck(const UpdateNoticeServices& services, std::stop_token stop)
{
    if (!Core::UpdateCheckEnabled())
        return;
    if (!UpdateCheckDue(Core::ReadUserString(L"UpdateChecked", L""), SecondsSince1970()))
        return;
    auto level = services.network->Level();
    if (!level || *level != Platform::ConnectivityLevel::InternetAccess)
        return;
    const std::wstring address = Core::ManifestSource();
    if (address.empty())
        return;
    auto manifest = services.loadManifest(address, stop);
    if (!manifest || !manifest->isSigned)
        return;
    const Core::InstallFolder folder = Install::FolderToShow().folder;
    if (!Core::RecordUpdates(*manifest, folder))
        return;
    const Core::UpdateVersions pending = Core::PendingUpdates(folder);
    if (!pending.app.empty())
        Core::Log("host: Peldra " + LogVersion(pending.app) + " is available");
    if (!pending.release.empty())
        Core::Log("host: Android release " + LogVersion(pending.release) + " is available");
    SignalHostChanged();
}

void RunUpdateNotices(std::stop_token stop, const UpdateNoticeServices& services)
{
    UniqueHandle wake(::CreateEventW(nullptr, FALSE, FALSE, nullptr));
    UniqueHandle stopped(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
    if (!wake || !stopped)
        return;
    std::stop_callback<Core::SetEventOnStop> onStop(stop, Core::SetEventOnStop{stopped.Get()});
    // Cancelled before the events close: no notification sets a closed event.
    auto watch = services.network->Watch(wake.Get());
    if (!watch)
        ::SetEvent(wake.Get()); // without notifications: one check now, none later
    HANDLE handles[] = {stopped.Get(), wake.Get()};
    while (::WaitForMultipleObjects(2, handles, FALSE, INFINITE) == WAIT_OBJECT_0 + 1)
        RunUpdateCheck(services, stop);
}

UpdateNoticeServices DefaultUpdateNoticeServices()
{
    return {Platform::NetworkHints(), [](const std::wstring& address, std::stop_token stop) {
                return Core::LoadManifest(address, stop, ConnectTimeoutMs, ReceiveTimeoutMs);
            }};
}

void UpdateNotices(std::stop_token stop)
{
    RunUpdateNotices(stop, DefaultUpdateNoticeServices());
}

} // namespace Pd::Host
