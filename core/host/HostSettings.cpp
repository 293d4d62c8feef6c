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

// Stored root settings that let nothing more happen than the confirmed ones are the new limit at
// once, so that turning a setting on again is asked. Only administrators can record it; otherwise
// the host records it on its next pass.
void NarrowConfirmedRootSettings()
{
    const RootSettings stored = StoredRootSettings();
    const RootSettings confirmed = ConfirmedRootSettings();
    if (stored != confirmed && !Widens(confirmed, stored))
        static_cast<void>(RecordConfirmedRootSettings(stored));
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
    NarrowConfirmedRootSettings();
    return TellOrStartHost();
}

Pd::Result<> SetElevationMagisk(bool on)
{
    if (on || ElevationMagiskEnabled())
        WriteFlag(L"MagiskOffPending", !on);
    Core::WriteUserDword(L"MagiskInAndroid", MagiskChangePending);
    WriteFlag(L"ElevationMagisk", on);
    NarrowConfirmedRootSettings();
    return TellOrStartHost();
}

Pd::Result<> SetElevationSu(bool on)
{
    WriteFlag(L"ElevationSu", on);
    NarrowConfirmedRootSettings();
    return TellRunningHost();
}

Pd::Result<> SetTrayEnabled(bool on)
{
    WriteFlag(L"Tray", on);
    return TellRunningHost();
}

} // namespace Pd::Host
