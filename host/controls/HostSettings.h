// The background host's per-user settings (REG_DWORD values under HKEY_CURRENT_USER
// "Software\Ormel\Peldra"). Every setter stores its value and then wakes a running host; the
// setters of the bridges that need a host start one when none runs. Nothing is cached: the
// host re-reads the values each time it wakes.
#pragma once

#include "core/Result.h"

#include <cstdint>

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
// until Windows is locked; 0 when missing.
std::uint32_t HelloRememberMinutes();

// These three start the host when none runs, whatever the new value: the error is the one of
// EnsureRunning.
Pd::Result<> SetBluetoothEnabled(bool on);
Pd::Result<> SetElevationEnabled(bool on);
Pd::Result<> SetElevationMagisk(bool on);

// These two only wake a running host; they fail only when a host runs that refuses this process.
Pd::Result<> SetElevationSu(bool on);
Pd::Result<> SetTrayEnabled(bool on);

} // namespace Pd::Host
