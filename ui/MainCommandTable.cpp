#include "ui/MainCommandTable.h"

#include "core/Clipboard.h"
#include "core/DataFolder.h"
#include "core/Settings.h"
#include "core/Text.h"
#include "pd/ProgramVersion.h"
#include "release/base/ReleaseConstants.h"
#include "release/folders/Folders.h"
#include "release/manifest/Versions.h"
#include "release/windows/TovikControl.h"
#include "ui/Dialog.h"
#include "ui/FolderChoice.h"
#include "ui/MainWindow.h"
#include "ui/MainWindowParts.h"

#include <fmt/xchar.h>

#include <algorithm>

namespace Pd::Ui
{
namespace
{

// Neither an operation nor a release check runs on the worker.
bool Idle(const CommandState& s)
{
    return !s.busy && !s.checking;
}

bool NotUninstalling(const CommandState& s)
{
    return !s.uninstalling;
}

// A release check does not matter here: it leaves the installed package alone.
bool PackageReady(const CommandState& s)
{
    return !s.busy && s.facts && s.package;
}

bool BluetoothUsable(const CommandState& s)
{
    return !s.uninstalling && s.bluetoothAdapter != 0;
}

bool LogHasEntries(const CommandState& s)
{
    return s.logHasEntries;
}

} // namespace

// A friend of the window: each row runs what its command does.
std::span<const CommandRow> MainCommandRows()
{
    using enum MainCommand;
    using Pd::Core::Text;
    using W = MainWindow;
    static const CommandRow rows[] = {
        {.id = Install,
         .text = 11004,
         .shortcut = L"Ctrl+I",
         .key = {FCONTROL, 'I'},
         .button = {6, 12000, MakeLook(ButtonAccent, 0xE896, true)},
         .enabled =
             [](const CommandState& s) {
                 return Idle(s) && s.manifest && s.facts && s.build >= 22000 &&
                        (s.minimumProgram.empty() ||
                         Pd::Core::CompareVersions(s.programVersion, s.minimumProgram) >= 0);
             },
         .run = [](W& w) { w.StartInstall(); }},
        // Esc reaches the window as IDCANCEL.
        {.id = Cancel,
         .text = 10004,
         .shortcut = L"Esc",
         .button = {4, 10004, MakeLook(ButtonNormal, 0xE711, true)},
         .enabled = [](const CommandState& s) { return s.busy && !s.uninstalling; },
         .run =
             [](W& w) {
                 w.worker_.request_stop();
                 w.SetStatus(Pd::Level::Warning, Text(14013));
             }},
        {.id = StartAndroid,
         .text = 11006,
         .shortcut = L"Ctrl+R",
         .key = {FCONTROL, 'R'},
         .button = {5, 12003, MakeLook(ButtonNormal, 0xE768, true)},
         .enabled = PackageReady,
         .run = [](W& w) { w.LaunchAndroid(); }},
        {.id = CheckForUpdates,
         .text = 11005,
         .shortcut = L"F5",
         .key = {0, VK_F5},
         .enabled = Idle,
         .run = [](W& w) { w.CheckRelease(false); }},
        {.id = OpenInstallFolder,
         .text = 11007,
         .enabled = [](const CommandState& s) { return s.installFolderExists; },
         .run =
             [](W& w) {
                 if (auto opened = Pd::Ui::OpenInstallFolder(w.installFolder_); !opened)
                     w.ReportError(opened.error());
             }},
        {.id = ChangeInstallFolder,
         .text = 11008,
         .button = {2, 12004, MakeLook(ButtonNormal, 0xE8B7, true)},
         .enabled = Idle,
         .run = [](W& w) { w.ChangeInstallFolder(); }},
        {.id = Exit,
         .text = 11009,
         .shortcut = L"Ctrl+Q",
         .key = {FCONTROL, 'Q'},
         .run = [](W& w) { ::PostMessageW(w.window_, WM_CLOSE, 0, 0); }},
        {.id = SourceButton,
         .button = {1, 0, MakeLook(ButtonSelector, 0, true)},
         .enabled = Idle,
         .run = [](W& w) { w.DropSourceMenu(); }},
        {.id = SourceLocal,
         .text = 11010,
         .radio = true,
         .enabled = Idle,
         .checked = [](const MenuMarks& m) { return m.source == L"local"; },
         .run = [](W& w) { w.SetSource(L"local"); }},
        {.id = SourceMirror,
         .text = 11011,
         .radio = true,
         .enabled = Idle,
         .checked = [](const MenuMarks& m) { return m.source == L"mirror"; },
         .run = [](W& w) { w.SetSource(L"mirror"); }},
        {.id = SourceGitHub,
         .text = 11012,
         .radio = true,
         .enabled = Idle,
         .checked = [](const MenuMarks& m) { return m.source == L"github"; },
         .run = [](W& w) { w.SetSource(L"github"); }},
        {.id = SourceCustom,
         .text = 11013,
         .shortcut = L"Ctrl+E",
         .key = {FCONTROL, 'E'},
         .radio = true,
         .enabled = Idle,
         .checked = [](const MenuMarks& m) { return m.source == L"custom"; },
         .run = [](W& w) { w.EditCustomSource(); }},
        {.id = ReleasesPage,
         .text = 11019,
         .run =
             [](W& w) {
                 w.OpenAddress(fmt::format(L"https://{}/{}/releases", Pd::Core::ReleaseWebHost,
                                           Pd::Core::ReleaseRepository));
             }},
        {.id = ShowLog,
         .text = 11014,
         .shortcut = L"Ctrl+L",
         .key = {FCONTROL, 'L'},
         .checked = [](const MenuMarks& m) { return m.logVisible; },
         .run = [](W& w) { w.ToggleLog(!w.logVisible_); }},
        {.id = CopyLog,
         .text = 11015,
         .enabled = LogHasEntries,
         .run = [](W& w) { Pd::Core::CopyToClipboard(w.window_, w.logView_.CopyText()); }},
        {.id = ClearLog,
         .text = 11016,
         .enabled = LogHasEntries,
         .run =
             [](W& w) {
                 w.logView_.Clear();
                 w.UpdateButtons();
             }},
        {.id = LogButton,
         .button = {8, 12005, MakeLook(ButtonExpander)},
         .run = [](W& w) { w.ToggleLog(!w.logVisible_); }},
        {.id = CommandLineHelp,
         .text = 11018,
         .shortcut = L"F1",
         .key = {0, VK_F1},
         .run = [](W& w) { w.ShowCommandLineHelp(); }},
        {.id = About,
         .text = 11020,
         .run =
             [](W& w) {
                 ShowMessage(w.window_, Text(15008),
                             Pd::Core::FormatText(15009, L"Peldra", PD_VERSION_WTEXT,
                                                  L"Made by Ormel Software.", Pd::Core::ReleaseRepository));
             }},
        {.id = Uninstall,
         .text = 11021,
         .enabled =
             [](const CommandState& s) {
                 return Idle(s) && s.facts && (s.packageHasStateFile || s.stateFileInFolder);
             },
         .run = [](W& w) { w.Uninstall(); }},
        {.id = BluetoothOn,
         .text = 11023,
         .shortcut = L"Ctrl+B",
         .key = {FCONTROL, 'B'},
         .enabled = [](const CommandState& s) { return BluetoothUsable(s) && !s.bridgeOn; },
         .run = [](W& w) { w.TurnBluetoothOn(); }},
        {.id = BluetoothOff,
         .text = 11024,
         .enabled = [](const CommandState& s) { return s.bridgeOn; },
         .run = [](W& w) { w.TurnBluetoothOff(); }},
        {.id = BluetoothButton,
         .button = {3, 13018,
                    WithGlyphColour(MakeLook(ButtonNormal, 0xE702, true), Palette::BluetoothTint, false)},
         .enabled = BluetoothUsable,
         .run = [](W& w) { w.bluetoothBridgeOn_ ? w.TurnBluetoothOff() : w.TurnBluetoothOn(); }},
        {.id = StartWithWindows,
         .text = 11025,
         .enabled = BluetoothUsable,
         .checked = [](const MenuMarks& m) { return m.startWithWindows; },
         .run = [](W& w) { w.ToggleStartWithWindows(); }},
        {.id = BluetoothLog,
         .text = 11026,
         .enabled = [](const CommandState& s) { return s.bluetoothLogExists; },
         .run = [](W& w) { w.OpenAddress(Pd::Core::JoinPath(Pd::Core::DataFolder(), L"bluetooth.log")); }},
        {.id = StopTovik,
         .text = 11027,
         .shortcut = L"Ctrl+Shift+R",
         .key = {FCONTROL | FSHIFT, 'R'},
         .enabled = PackageReady,
         .run = [](W& w) { w.StopTovik(); }},
        {.id = Root,
         .text = 11029,
         .enabled = NotUninstalling,
         .checked = [](const MenuMarks& m) { return m.elevation; },
         .run = [](W& w) { w.ToggleRoot(); }},
        {.id = Su,
         .text = 11030,
         .enabled =
             [](const CommandState& s) { return !s.uninstalling && s.elevation && !s.elevationMagisk; },
         .checked = [](const MenuMarks& m) { return m.elevationSu && !m.elevationMagisk; },
         .run = [](W& w) { w.ToggleSu(); }},
        {.id = TrayIcon,
         .text = 11031,
         .enabled = NotUninstalling,
         .checked = [](const MenuMarks& m) { return m.tray; },
         .run = [](W& w) { w.ToggleTrayIcon(); }},
        {.id = HelloEveryTime,
         .text = 11033,
         .radio = true,
         .enabled = NotUninstalling,
         .checked = [](const MenuMarks& m) { return m.helloRememberMinutes == 0; },
         .run = [](W& w) { w.SetHelloRemember(0, 11033); }},
        {.id = HelloFiveMinutes,
         .text = 11034,
         .radio = true,
         .enabled = NotUninstalling,
         .checked = [](const MenuMarks& m) { return m.helloRememberMinutes == 5; },
         .run = [](W& w) { w.SetHelloRemember(5, 11034); }},
        {.id = HelloThirtyMinutes,
         .text = 11035,
         .radio = true,
         .enabled = NotUninstalling,
         .checked = [](const MenuMarks& m) { return m.helloRememberMinutes == 30; },
         .run = [](W& w) { w.SetHelloRemember(30, 11035); }},
        {.id = HelloUntilLocked,
         .text = 11036,
         .radio = true,
         .enabled = NotUninstalling,
         .checked = [](const MenuMarks& m) { return m.helloRememberMinutes == 0xFFFFFFFF; },
         .run = [](W& w) { w.SetHelloRemember(0xFFFFFFFF, 11036); }},
        {.id = AndroidSettings,
         .text = 11037,
         .enabled = PackageReady,
         .run =
             [](W& w) {
                 if (auto opened = Pd::Install::OpenTovikSettings(); !opened)
                     w.ReportError(opened.error());
             }},
        {.id = RegisterWithPlay,
         .text = 19019,
         .button = {7, 12007, MakeLook(ButtonNormal, 0xE8A7, true)},
         .enabled =
             [](const CommandState& s) {
                 return PackageReady(s) && (!s.manifest || VariantHasGoogle(s.variant));
             },
         .run = [](W& w) { w.RegisterWithPlay(); }},
        {.id = Donate,
         .button = {10, 12006,
                    WithGlyphColour(MakeLook(ButtonNormal, 0xEB52), Rgba(0.8588f, 0.3804f, 0.6353f, 1.0f),
                                    true)},
         .run = [](W& w) { w.OpenAddress(L"https://ormel.software/peldra"); }},
        {.id = UpdateApp,
         .text = 11039,
         .button = {9, 12008, MakeLook(ButtonAccent, 0xE895, true)},
         .enabled = [](const CommandState& s) { return Idle(s) && s.appUpdate; },
         .run = [](W& w) { w.UpdateApp(); }},
        {.id = UpdateCheck,
         .text = 11040,
         .checked = [](const MenuMarks& m) { return m.updateCheck; },
         .run = [](W&) { Pd::Core::WriteUserDword(L"UpdateCheck", Pd::Core::UpdateCheckEnabled() ? 0 : 1); }},
        {.id = Magisk,
         .text = 11041,
         .enabled = [](const CommandState& s) { return !s.busy && s.elevation; },
         .checked = [](const MenuMarks& m) { return m.elevationMagisk; },
         .run = [](W& w) { w.ToggleMagisk(); }},
    };
    return rows;
}

const CommandRow* FindCommand(unsigned id)
{
    const auto rows = MainCommandRows();
    const auto row =
        std::ranges::find(rows, id, [](const CommandRow& r) { return static_cast<unsigned>(r.id); });
    return row != rows.end() ? &*row : nullptr;
}

const CommandRow& FindCommand(MainCommand id)
{
    return *FindCommand(static_cast<unsigned>(id));
}

} // namespace Pd::Ui
