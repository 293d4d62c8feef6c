#include "core/host/HostSettings.h"

#include "core/Elevation.h"
#include "core/host/HostControl.h"
#include "core/host/RootConsent.h"
#include "core/Settings.h"
#include "core/Text.h"

#include <windows.h>

#include <algorithm>
#include <optional>

namespace Pd::Host
{
namespace
{

// MagiskInAndroid: 2 means that Android has yet to confirm a change of Magisk mode.
constexpr std::uint32_t MagiskChangePending = 2;

constexpr const wchar_t* RememberName = L"HelloRemember";

// The machine's value for this user: only administrators can change the machine's settings key.
// Empty when the user cannot be told.
std::wstring MachineRememberName()
{
    const std::wstring user = Core::ProcessUserSid();
    return user.empty() ? std::wstring() : std::wstring(RememberName) + L"-" + user;
}

bool ReadFlag(const wchar_t* name, bool whenMissing)
{
    std::optional<std::uint32_t> value = Core::ReadUserDword(name);
    return value ? *value != 0 : whenMissing;
}

void WriteFlag(const wchar_t* name, bool on)
{
    Core::WriteUserDword(name, on ? 1 : 0); // a failed write is ignored; the host is told anyway
}

// The common end of the setters of the bridges that need a host.
Pd::Result<> TellOrStartHost()
{
    if (NotifyHostReload())
        return {};
    return EnsureRunning();
}

// Starts nothing; only a host that runs but refuses this process is reported.
Pd::Result<> TellRunningHost()
{
    if (!NotifyHostReload() && FindHost() == HostPresence::Unreachable)
        return Pd::Fail(UnreachableHostText());
    return {};
}

// How long an unelevated "off" waits for the elevated host to record it: a host started just now
// checks the release first.
constexpr DWORD RecordWaitMs = 10000;

bool RecordReadsChoice(RootChoice choice)
{
    const RootSettings confirmed = ConfirmedRootSettings();
    return RecordAfterChoice(confirmed, choice) == confirmed;
}

// A setting turned off lowers the confirmed record at once, computed from the choice: the stored
// values may already have been rewritten by another program. Only administrators can write the
// record; an unelevated caller waits, bounded, for the elevated host to record what it stored, and
// reports done only once the record reads off.
Pd::Result<> RecordRootChoiceOff(RootChoice choice, bool startHost)
{
    const RootSettings confirmed = ConfirmedRootSettings();
    const RootSettings record = RecordAfterChoice(confirmed, choice);
    const long written = record == confirmed                     ? ERROR_SUCCESS
                         : Detail::RecordRootFunction != nullptr ? Detail::RecordRootFunction(record)
                                                                 : RecordConfirmedRootSettings(record);
    if (written != ERROR_SUCCESS && written != ERROR_ACCESS_DENIED)
        return Pd::Fail(Core::FormatText(TextId::RootRecordNotLowered, written));
    Pd::Result<> told = startHost ? TellOrStartHost() : TellRunningHost();
    if (written == ERROR_SUCCESS || !told)
        return told;
    for (DWORD waited = 0; FindHost() != HostPresence::None && waited < RecordWaitMs; waited += 100)
    {
        if (RecordReadsChoice(choice))
            return {};
        ::Sleep(100);
    }
    if (RecordReadsChoice(choice))
        return {};
    return Pd::Fail(Core::Text(TextId::RootOffNotTakenYet));
}

// A setting turned on is confirmed by the caller (RootChange.h) or by the host.
Pd::Result<> FinishRootChoice(RootChoice choice, bool startHost)
{
    if (!choice.on)
        return RecordRootChoiceOff(choice, startHost);
    return startHost ? TellOrStartHost() : TellRunningHost();
}

} // namespace

bool BluetoothEnabled()
{
    return ReadFlag(L"Bluetooth", false);
}

bool ElevationEnabled()
{
    return ReadFlag(L"Elevation", false);
}

bool ElevationSuEnabled()
{
    return ReadFlag(L"ElevationSu", false);
}

bool ElevationMagiskEnabled()
{
    return ReadFlag(L"ElevationMagisk", false);
}

bool MagiskOffPending()
{
    return ReadFlag(L"MagiskOffPending", false);
}

bool TrayEnabled()
{
    return ReadFlag(L"Tray", true);
}

std::uint32_t HelloRememberMinutes()
{
    std::uint32_t machine = 0;
    DWORD size = sizeof(machine);
    const std::wstring machineName = MachineRememberName();
    const bool stored =
        !machineName.empty() && ::RegGetValueW(HKEY_LOCAL_MACHINE, Core::SettingsKey, machineName.c_str(),
                                               RRF_RT_REG_DWORD, nullptr, &machine, &size) == ERROR_SUCCESS;
    return Detail::TrustedRememberMinutes(stored ? std::optional(machine) : std::nullopt,
                                          Core::ReadUserDword(RememberName));
}

Pd::Result<> SetHelloRememberMinutes(std::uint32_t minutes)
{
    const std::wstring machineName = MachineRememberName();
    const long machine = machineName.empty()
                             ? ERROR_INVALID_SID
                             : ::RegSetKeyValueW(HKEY_LOCAL_MACHINE, Core::SettingsKey, machineName.c_str(),
                                                 REG_DWORD, &minutes, sizeof(minutes));
    const long user = Core::WriteUserDword(RememberName, minutes);
    if (minutes == 0)
        return user == ERROR_SUCCESS || machine == ERROR_SUCCESS
                   ? Pd::Result<>()
                   : Pd::Fail(Core::FormatText(TextId::HelloSettingNotStored, user));
    if (machine == ERROR_ACCESS_DENIED)
        return Pd::Fail(Core::Text(TextId::RememberHelloNeedsAdministrator));
    if (machine != ERROR_SUCCESS)
        return Pd::Fail(Core::FormatText(TextId::HelloSettingNotStored, machine));
    // The per-user value can shorten the time: unchanged, it could keep asking every time.
    if (user != ERROR_SUCCESS)
        return Pd::Fail(Core::FormatText(TextId::HelloSettingNotStored, user));
    return {};
}

namespace Detail
{

std::uint32_t TrustedRememberMinutes(std::optional<std::uint32_t> machine, std::optional<std::uint32_t> user)
{
    // 0xFFFFFFFF (until locked) is the longest: the smaller number is the stricter setting.
    return std::min(machine.value_or(0), user.value_or(UINT32_MAX));
}

} // namespace Detail

Pd::Result<> SetBluetoothEnabled(bool on)
{
    WriteFlag(L"Bluetooth", on);
    return TellOrStartHost();
}

Pd::Result<> SetElevationEnabled(bool on)
{
    bool magisk = ElevationMagiskEnabled();
    if (!on && magisk)
        WriteFlag(L"MagiskOffPending", true);
    if (magisk)
        Core::WriteUserDword(L"MagiskInAndroid", MagiskChangePending);
    WriteFlag(L"Elevation", on);
    return FinishRootChoice({RootSetting::Root, on}, true);
}

Pd::Result<> SetElevationMagisk(bool on)
{
    if (on || ElevationMagiskEnabled())
        WriteFlag(L"MagiskOffPending", !on);
    Core::WriteUserDword(L"MagiskInAndroid", MagiskChangePending);
    WriteFlag(L"ElevationMagisk", on);
    return FinishRootChoice({RootSetting::Magisk, on}, true);
}

Pd::Result<> SetElevationSu(bool on)
{
    WriteFlag(L"ElevationSu", on);
    return FinishRootChoice({RootSetting::Su, on}, false);
}

Pd::Result<> SetTrayEnabled(bool on)
{
    WriteFlag(L"Tray", on);
    return TellRunningHost();
}

} // namespace Pd::Host
