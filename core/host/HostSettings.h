// The background host's per-user settings (REG_DWORD values under HKEY_CURRENT_USER
// "Software\Ormel\Peldra"). Every setter stores its value and then wakes a running host; the
// setters of the bridges that need a host start one when none runs. Nothing is cached: the
// host re-reads the values each time it wakes.
#pragma once

#include "core/host/RootConsent.h"
#include "core/Result.h"

#include <cstdint>
#include <optional>

namespace Pd::Host
{

// Missing or unreadable values read as off, except Tray, which reads as on.
bool BluetoothEnabled();
bool ElevationEnabled();
bool ElevationSuEnabled();
bool ElevationMagiskEnabled();
bool MagiskOffPending();
bool TrayEnabled();

// Minutes a Windows Hello verification is remembered: 0 asks every time, 0xFFFFFFFF keeps it
// until Windows is locked. Remembering weakens the fingerprint prompt, so only a value that only
// administrators can change counts: the machine's value for this user (HKEY_LOCAL_MACHINE
// "Software\Ormel\Peldra", "HelloRemember-<user's SID>"), 0 when missing. The per-user value
// that older versions kept is still read, but it can only shorten the time, never lengthen it.
std::uint32_t HelloRememberMinutes();

// Stores the minutes in both values. A longer time than "ask every time" needs administrator
// rights (the machine's value must take it); "ask every time" always takes effect, since the
// per-user value alone shortens it.
Pd::Result<> SetHelloRememberMinutes(std::uint32_t minutes);

namespace Detail
{
// The minutes that count, from the machine's value and the per-user one.
std::uint32_t TrustedRememberMinutes(std::optional<std::uint32_t> machine, std::optional<std::uint32_t> user);

// How the setters write the confirmed record: a test plays a caller without administrator rights
// here (under Wine every process may write HKEY_LOCAL_MACHINE). Null: RecordConfirmedRootSettings.
inline long (*RecordRootFunction)(const RootSettings& settings) = nullptr;
} // namespace Detail

// The root setters carry out the user's choice. Turning a setting off also lowers the confirmed
// root settings (RootConsent.h), from the choice itself: at once with administrator rights, else
// through the host's next pass, waited for (bounded); the error says when the record could not be
// lowered or the host has not taken the change yet. A setting turned on is confirmed before it is
// stored (RootChange.h), or by the host, which asks for a widening it saw declined only after the
// user turned a setting on in an elevated Peldra (CountedRootChoices, RootConsent.h).

// These three start the host when none runs, whatever the new value: the error is the one of
// EnsureRunning.
Pd::Result<> SetBluetoothEnabled(bool on);
Pd::Result<> SetElevationEnabled(bool on);
Pd::Result<> SetElevationMagisk(bool on);

// These two only wake a running host; they fail only when a host runs that refuses this process.
Pd::Result<> SetElevationSu(bool on);
Pd::Result<> SetTrayEnabled(bool on);

} // namespace Pd::Host
