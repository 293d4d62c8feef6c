// What the icon shows: the state it is read from, the tooltip and the menu built from it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace Pd::Host
{

struct TrayStatus
{
    bool androidRunning = false;
    bool bluetoothOn = false;
    bool bluetoothConnected = false;
    bool elevationOn = false;
    bool elevationSuOn = false;
    bool registrationWaiting = false;
    std::wstring appUpdate;     // a pending program version, or empty
    std::wstring releaseUpdate; // a pending release version, or empty
};

// Reads whether the host's socket loops see the VM (no lookup), the settings, the Bluetooth
// bridge's connected event and the pending updates; registrationWaiting is left false (the
// caller asks the registration helper).
TrayStatus ReadTrayStatus();

// The lines "Peldra", the pending updates, Android, Bluetooth and root, joined with a line feed
// and cut to the 127 characters the shell keeps.
std::wstring TrayTooltip(const TrayStatus& status);

enum class TrayCommand : std::uint16_t
{
    OpenWindow = 1,
    Update = 2,
    AndroidSettings = 3,
    Register = 4,
    Bluetooth = 5,
    Elevation = 6,
    ElevationSu = 7,
    StopAndroid = 8,
    BluetoothLog = 9,
    HideIcon = 10,
    StopHost = 11,
};

struct TrayMenuItem
{
    std::uint16_t id = 0; // 0: a separator
    std::wstring text;
    bool checked = false;
    bool greyed = false;
};

// The context menu's items in order; the first is the default item.
std::vector<TrayMenuItem> TrayMenuItems(const TrayStatus& status);

} // namespace Pd::Host
