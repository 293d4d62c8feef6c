#include "host/controls/HostSettings.h"

#include "core/Settings.h"
#include "host/controls/HostControl.h"

#include <windows.h>

#include <optional>

namespace Pd::Host
{
namespace
{

// MagiskInAndroid: 2 means that Android has yet to confirm a change of Magisk mode.
constexpr std::uint32_t MagiskChangePending = 2;

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
    return Core::ReadUserDword(L"HelloRemember").value_or(0);
}

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
    return TellOrStartHost();
}

Pd::Result<> SetElevationMagisk(bool on)
{
    if (on || ElevationMagiskEnabled())
        WriteFlag(L"MagiskOffPending", !on);
    Core::WriteUserDword(L"MagiskInAndroid", MagiskChangePending);
    WriteFlag(L"ElevationMagisk", on);
    return TellOrStartHost();
}

Pd::Result<> SetElevationSu(bool on)
{
    WriteFlag(L"ElevationSu", on);
    return TellRunningHost();
}

Pd::Result<> SetTrayEnabled(bool on)
{
    WriteFlag(L"Tray", on);
    return TellRunningHost();
}

} // namespace Pd::Host
