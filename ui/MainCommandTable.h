// The main window's commands in one table: each command's WM_COMMAND id, menu text, keys, button,
// when it may run, its check mark and what it runs. The menus, the accelerators, the buttons and
// the dispatch all read it.
#pragma once

#include "core/TextId.h"
#include "ui/Button.h"
#include "ui/CommandState.h"

#include <windows.h>

#include <cstdint>
#include <optional>
#include <span>
#include <string>

namespace Pd::Ui
{

class MainWindow;

// The WM_COMMAND ids of the window's commands; the test drivers send them by number.
enum class MainCommand : std::uint16_t
{
    Install = 1000,
    Cancel = 1001,
    StartAndroid = 1002,
    CheckForUpdates = 1003,
    OpenInstallFolder = 1004,
    ChangeInstallFolder = 1005,
    Exit = 1006,
    SourceButton = 1007, // drops the Source menu down below the button
    SourceLocal = 1008,
    SourceMirror = 1009,
    SourceGitHub = 1010,
    SourceCustom = 1011,
    ReleasesPage = 1012,
    ShowLog = 1013,
    CopyLog = 1014,
    ClearLog = 1015,
    LogButton = 1016,
    CommandLineHelp = 1017,
    About = 1018,
    Uninstall = 1019,
    BluetoothOn = 1020,
    BluetoothOff = 1021,
    BluetoothButton = 1022,
    StartWithWindows = 1023,
    BluetoothLog = 1024,
    StopTovik = 1025,
    Root = 1026,
    Su = 1027,
    TrayIcon = 1028,
    HelloEveryTime = 1029,
    HelloFiveMinutes = 1030,
    HelloThirtyMinutes = 1031,
    HelloUntilLocked = 1032,
    AndroidSettings = 1033,
    RegisterWithPlay = 1034,
    Donate = 1035,
    UpdateApp = 1036,
    UpdateCheck = 1037,
    Magisk = 1038,
};

// The Language submenu's items: the automatic choice, then one id for each listed language.
inline constexpr unsigned AutoLanguageCommand = 1100;
inline constexpr unsigned FirstLanguageCommand = 1101;
inline constexpr unsigned LastLanguageCommand = 1199;

inline constexpr int Id(MainCommand command)
{
    return static_cast<int>(command);
}

// What the menus' marks show, read once each time a popup opens.
struct MenuMarks
{
    std::wstring source; // the release source's word
    bool logVisible = false;
    bool startWithWindows = false;
    bool elevation = false;
    bool elevationSu = false;
    bool elevationMagisk = false;
    bool tray = false;
    bool updateCheck = false;
    std::uint32_t helloRememberMinutes = 0;
};

struct CommandKey
{
    BYTE modifiers = 0; // FCONTROL, FSHIFT
    WORD key = 0;       // virtual key; 0: no accelerator
};

struct CommandButton
{
    int tab = 0;            // place in the tab order, from 1; 0: no button
    std::optional<TextId> text{}; // none: the window sets the label
    ButtonLook look;
};

struct CommandRow
{
    MainCommand id{};
    std::optional<TextId> text{};  // menu item text; none: in no menu
    const wchar_t* shortcut = L""; // shown beside the menu item
    CommandKey key{};
    bool radio = false;
    CommandButton button{};
    bool (*enabled)(const CommandState&) = nullptr; // null: always
    bool (*checked)(const MenuMarks&) = nullptr;    // null: the item's mark is left alone
    void (*run)(MainWindow&) = nullptr;

    bool EnabledIn(const CommandState& state) const { return !enabled || enabled(state); }
};

// Every command, one row each, in the order of their ids (the order the buttons are enabled in).
std::span<const CommandRow> MainCommandRows();

// The row of a WM_COMMAND id, or null (the language items, or an id of no command).
const CommandRow* FindCommand(unsigned id);
const CommandRow& FindCommand(MainCommand id); // every command has its row

} // namespace Pd::Ui
