#include "host/background/BackgroundHost.h"

#include "bt/Bridge.h"
#include "core/Elevation.h"
#include "core/Handles.h"
#include "core/host/HostChange.h"
#include "core/host/HostObjects.h"
#include "core/host/HostSettings.h"
#include "core/host/TrayHooks.h"
#include "core/Log.h"
#include "core/ObjectSecurity.h"
#include "core/Settings.h"
#include "core/StopOnEvent.h"
#include "core/Strings.h"
#include "core/Text.h"
#include "host/background/HostThreads.h"
#include "host/elevation/ElevationBridge.h"
#include "host/hello/HelloBridge.h"
#include "host/hello/RootChange.h"
#include "host/notices/Registration.h"
#include "host/notices/UpdateNotices.h"
#include "host/tray/TrayIcon.h"
#include "release/verify/ReleaseVerification.h"
#include "release/windows/Packages.h"
#include "tel/bridge/Bridge.h"

#include <objbase.h>

#include <fmt/format.h>

#include <array>
#include <cstdint>
#include <string>
#include <utility>

namespace Pd::Host
{
namespace
{

using Core::ReleaseState;

void WriteReleaseState(ReleaseState state)
{
    Core::WriteUserDword(L"ReleaseState", static_cast<std::uint32_t>(state));
    SignalHostChanged();
}

const char* NotServedReason(ReleaseState state)
{
    switch (state)
    {
    case ReleaseState::Modified:
        return "an official release changed after installing";
    case ReleaseState::NoInstallFolder:
        return "missing";
    default:
        return "not an official Peldra release";
    }
}

// Its result tells only why it returned; the bridge logs its own failures.
void RunBluetoothBridge(std::stop_token stop)
{
    static_cast<void>(Bt::RunBridge(stop));
}

// Logs that an object of the host's exists under another account's ownership; silent when foreign
// is empty (the object was created, or failed for another reason).
void RefuseForeign(const wchar_t* name, const std::wstring& foreign)
{
    if (!foreign.empty())
        Core::Log(fmt::format("host: another program holds Peldra's name {} (owner {}), refused",
                              Core::ToUtf8(name), Core::ToUtf8(foreign)));
}

UniqueHandle CreateHostEvent(const wchar_t* name, bool manualReset)
{
    std::wstring foreign;
    UniqueHandle event = Core::CreateSessionEvent(name, manualReset, &foreign);
    RefuseForeign(name, foreign);
    return event;
}

enum class OtherHostSeen
{
    None,
    Ours,       // a host this one yields to: SYSTEM's or the Administrators', or, when this one is
                // unelevated, this user's
    Unelevated, // this user's host without administrator rights, seen by an elevated host
    Foreign,    // another account made the mutex first
};

constexpr DWORD UnelevatedHostStopMs = 10000;

OtherHostSeen OtherHost(bool elevated)
{
    UniqueHandle mutex(::OpenMutexW(SYNCHRONIZE | READ_CONTROL, FALSE, HostMutexName));
    if (!mutex)
    {
        if (::GetLastError() != ERROR_ACCESS_DENIED)
            return OtherHostSeen::None;
        // An elevated host's mutex refuses an unelevated one; every host's lets administrators in.
        if (!elevated)
            return OtherHostSeen::Ours;
        RefuseForeign(HostMutexName, L"unknown");
        return OtherHostSeen::Foreign;
    }
    if (auto owner = Core::ForeignOwner(mutex.Get(), true))
    {
        RefuseForeign(HostMutexName, *owner);
        return OtherHostSeen::Foreign;
    }
    return elevated && Core::ForeignOwner(mutex.Get(), false) ? OtherHostSeen::Unelevated
                                                              : OtherHostSeen::Ours;
}

// An unelevated host holds the name that the logon task's elevated host needs: it is asked to
// stop, and the name must be gone within the limit. False (logged) when it stays.
bool StopUnelevatedHost()
{
    Core::Log("host: a host without administrator rights runs in this session; asking it to stop");
    Core::SignalNamedEvent(StopEventName);
    for (DWORD waited = 0; waited < UnelevatedHostStopMs; waited += 50)
    {
        if (!UniqueHandle(::OpenMutexW(SYNCHRONIZE, FALSE, HostMutexName)))
            return true;
        ::Sleep(50);
    }
    Core::Log("host: the host without administrator rights did not stop, refused");
    return false;
}

// What runs while the release is verified: the threads, the tray and the waits.
class Serving
{
public:
    Serving(const HostParts& parts, HANDLE stop, HANDLE reload) : parts_(parts), stop_(stop), reload_(reload)
    {
    }
    Serving(const Serving&) = delete;
    Serving& operator=(const Serving&) = delete;

    void Run()
    {
        Start();
        for (;;)
        {
            Pass();
            if (!WaitForReload())
                break;
        }
        End();
    }

private:
    void Start()
    {
        if (parts_.hello)
            StartThread(hello_, "Windows Hello bridge", parts_.hello);
        if (parts_.handleRegister)
            register_ = CreateHostEvent(RegisterEventName, false); // may fail: no requests then
        Core::WriteUserDword(L"GooglePlayIdKnown", 0);
        if (parts_.registration)
            StartThread(registration_, "registration helper", parts_.registration, true);
        if (parts_.telephony)
            StartThread(telephony_, "telephony bridge", parts_.telephony);
        if (parts_.updateNotices)
            StartThread(updateNotices_, "update notices", parts_.updateNotices);
        SignalHostChanged();
    }

    // Applies the settings.
    void Pass()
    {
        SetBluetoothBridgeRunningWith(bluetooth_, BluetoothEnabled(), parts_.bluetooth);
        PassElevation();
        bool trayOn = TrayEnabled();
        if (trayOn && !closeTray_ && parts_.startTray)
            closeTray_ = parts_.startTray(stop_);
        else if (!trayOn && closeTray_)
            CloseTray();
        SignalHostChanged();
    }

    // False when the host is to stop (its Stop event, or a failed wait).
    bool WaitForReload()
    {
        std::array<HANDLE, 3> events{stop_, reload_, register_.Get()};
        DWORD count = register_ ? 3 : 2;
        for (;;)
        {
            DWORD woken = ::WaitForMultipleObjects(count, events.data(), FALSE, INFINITE);
            if (woken == WAIT_OBJECT_0 + 2)
                parts_.handleRegister();
            else
                return woken == WAIT_OBJECT_0 + 1;
        }
    }

    // The bridge runs while root is on, or while Magisk mode is being turned off until Android
    // confirms; a new mode restarts it, since a run serves one mode for its life. The mode comes
    // from the settled root settings alone: the stored values may change again meanwhile. An
    // elevation that cannot be told counts as elevated, so that a wider setting is still asked.
    void PassElevation()
    {
        const RootSettings settings = SettleRootSettings(
            Core::MayBeElevated(), CountedRootChoices(), rootMemory_,
            [this](const RootSettings& confirmed, const RootSettings& stored) {
                Core::StopOnEvent stopRequest(stop_);
                return parts_.confirmRoot && parts_.confirmRoot(confirmed, stored, stopRequest.Token());
            });
        Bio::Elevation::Mode mode = ElevationModeOf(settings, !settings.root && MagiskOffPending());
        if (mode != elevationMode_)
        {
            elevationMode_ = mode;
            StopThread(elevation_);
        }
        const bool on = settings.root || mode.magiskTurningOff;
        if (on && !elevation_.joinable() && parts_.elevation)
            StartThread(elevation_, "elevation bridge",
                        [body = parts_.elevation, mode](std::stop_token stop) { body(stop, mode); });
        else if (!on)
            StopThread(elevation_);
    }

    void CloseTray() { std::exchange(closeTray_, {})(); }

    void End()
    {
        Core::Log("host: stopping");
        if (closeTray_)
            CloseTray();
        // Fixed order: update notices, elevation bridge, Bluetooth bridge, telephony bridge,
        // registration helper, Windows Hello bridge.
        StopThread(updateNotices_);
        StopThread(elevation_);
        StopThread(bluetooth_);
        StopThread(telephony_);
        StopThread(registration_);
        StopThread(hello_);
        SignalHostChanged();
    }

    const HostParts& parts_;
    HANDLE stop_;
    HANDLE reload_;
    UniqueHandle register_;
    RootMemory rootMemory_;
    std::jthread registration_;
    std::jthread updateNotices_;
    std::jthread bluetooth_;
    std::jthread telephony_;
    std::jthread hello_;
    std::jthread elevation_;
    Bio::Elevation::Mode elevationMode_;
    std::function<void()> closeTray_;
};

} // namespace

void SetBluetoothBridgeRunningWith(std::jthread& slot, bool on, const ThreadBody& body)
{
    if (on && !slot.joinable() && body)
        StartThread(slot, "Bluetooth bridge", body);
    else if (!on)
        StopThread(slot);
}

void SetBluetoothBridgeRunning(std::jthread& slot, bool on)
{
    SetBluetoothBridgeRunningWith(slot, on, &RunBluetoothBridge);
}

Bio::Elevation::Mode ElevationModeOf(const RootSettings& settings, bool magiskOffPending)
{
    return {settings.root && settings.su, settings.root && settings.magisk,
            !settings.root && magiskOffPending};
}

RootSettings SettleRootSettings(bool elevated, std::uint32_t choices, RootMemory& memory,
                                const std::function<bool(const RootSettings&, const RootSettings&)>& confirm)
{
    if (memory.choicesSeen != choices)
    {
        if (memory.choicesSeen) // the user turned a setting on in Peldra since: ask again
            memory.declined.Clear();
        memory.choicesSeen = choices;
    }
    const RootSettings stored = StoredRootSettings();
    const RootSettings confirmed = ConfirmedRootSettings();
    if (stored == confirmed)
        return stored;
    const bool declinedBefore = memory.declined.Cover(WideningOf(confirmed, stored));
    bool asked = false;
    const RootChangeStep step = DecideRootChange(confirmed, stored, elevated, declinedBefore, [&] {
        asked = true;
        Core::Log("host: the root settings were widened; asking the user to confirm");
        return confirm(confirmed, stored);
    });
    if (step == RootChangeStep::Adopt)
    {
        const RootSettings record = asked ? stored : CommonRootSettings(confirmed, stored);
        if (elevated && record != confirmed)
            static_cast<void>(RecordConfirmedRootSettings(record)); // a narrower one is the new limit
        return stored;
    }
    WriteStoredRootSettings(confirmed);
    if (asked)
    {
        memory.declined.Add(WideningOf(confirmed, stored));
        memory.noticeGiven = false;
        Core::Log("host: the wider root settings were not confirmed; the previous ones are written back");
    }
    else if (!std::exchange(memory.noticeGiven, true))
    {
        Core::Log("host: another program changed the root settings again; written back without asking");
        CallBalloonHook(Core::Text(TextId::RootConfirmTitle), Core::Text(TextId::RootChangedElsewhere));
    }
    return confirmed;
}

HostParts BuiltHostParts()
{
    HostParts parts;
    parts.verifyRelease = [](std::stop_token stop) {
        auto package = Install::FindInstalledPackage();
        return Core::VerifyRelease(Core::InstallFolder::From(package ? package->installLocation : L""),
                                   std::move(stop));
    };
    parts.bluetooth = &RunBluetoothBridge;
    parts.hello = [](std::stop_token stop) { static_cast<void>(Bio::Hello::RunBridge(stop)); };
    parts.elevation = &Bio::Elevation::RunBridge;
    parts.confirmRoot = [](const RootSettings& confirmed, const RootSettings& stored, std::stop_token stop) {
        return Bio::ConfirmRootChange(confirmed, stored, stop, [&stop](const std::wstring& text) {
            return Bio::AskInMessageBox(nullptr, text, stop);
        });
    };
    parts.registration = &RunRegistration;
    parts.telephony = &Tel::RunBridge;
    parts.handleRegister = &HandleRegisterSignal;
    parts.updateNotices = &UpdateNotices;
    parts.startTray = [](HANDLE stop) {
        TrayActions actions = DefaultTrayActions();
        actions.registrationWaiting = [] {
            std::lock_guard lock(RegistrationLock);
            return !WaitingDeviceId.empty();
        };
        actions.openRegistration = [](HWND owner) { static_cast<void>(OpenRegistrationPage(owner)); };
        return StartTrayIcon(stop, std::move(actions));
    };
    return parts;
}

int RunBackground()
{
    return RunBackgroundWith(BuiltHostParts());
}

int RunBackgroundWith(const HostParts& parts)
{
    // The events exist before the mutex: a Stop that finds the mutex always finds its event too.
    // While no host runs, a set Stop event is left over from an earlier host.
    const bool elevated = Core::MayBeElevated();
    if (auto other = OtherHost(elevated); other == OtherHostSeen::Unelevated)
    {
        if (!StopUnelevatedHost())
            return 1;
    }
    else if (other != OtherHostSeen::None)
        return other == OtherHostSeen::Foreign ? 1 : 0;
    UniqueHandle stop = CreateHostEvent(StopEventName, true);
    UniqueHandle reload = stop ? CreateHostEvent(ReloadEventName, false) : UniqueHandle();
    if (!stop || !reload)
        return 1;
    ::ResetEvent(stop.Get());
    std::wstring foreign;
    UniqueHandle mutex = Core::CreateSessionMutex(HostMutexName, true, &foreign);
    RefuseForeign(HostMutexName, foreign);
    if (!mutex)
        return foreign.empty() ? 0 : 1;
    if (::GetLastError() == ERROR_ALREADY_EXISTS)
    {
        // Another host started at the same moment: an elevated one yields only to its like.
        if (!elevated || !Core::ForeignOwner(mutex.Get(), false))
            return 0;
        RefuseForeign(HostMutexName, L"this user without administrator rights");
        return 1;
    }

    Core::Log("host: started");
    WriteReleaseState(ReleaseState::Running);
    ReleaseState state = ReleaseState::Running;
    {
        Core::StopOnEvent stopRequest(stop.Get()); // a Stop during the check ends it
        state = parts.verifyRelease(stopRequest.Token());
    }
    WriteReleaseState(state);
    if (state == ReleaseState::Cancelled)
        return 0;
    if (state != ReleaseState::Verified)
    {
        Core::Log(std::string("host: the installed Android is ") + NotServedReason(state) +
                  " - Bluetooth and Windows Hello are not served");
        return 4;
    }

    Serving serving(parts, stop.Get(), reload.Get());
    serving.Run();
    return 0;
}

} // namespace Pd::Host
