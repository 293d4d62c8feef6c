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
         .text = TextId::InstallOrUpdate,
         .shortcut = L"Ctrl+I",
         .key = {FCONTROL, 'I'},
         .button = {6, TextId::Install, MakeLook(ButtonAccent, 0xE896, true)},
         .enabled =
             [](const CommandState& s) {
                 return Idle(s) && s.manifest && s.facts && s.build >= 22000 &&
                        (s.minimumProgram.empty() ||
                         Pd::Core::CompareVersions(s.programVersion, s.minimumProgram) >= 0);
             },
         .run = [](W& w) { w.StartInstall(); }},
        // Esc reaches the window as IDCANCEL.
        {.id = Cancel,
         .text = TextId::Cancel,
         .shortcut = L"Esc",
         .button = {4, TextId::Cancel, MakeLook(ButtonNormal, 0xE711, true)},
         .enabled = [](const CommandState& s) { return s.busy && !s.uninstalling; },
         .run =
             [](W& w) {
                 w.worker_.request_stop();
                 w.SetStatus(Pd::Level::Warning, Text(TextId::Stopping));
             }},
        {.id = StartAndroid,
         .text = TextId::StartAndroid,
         .shortcut = L"Ctrl+R",
         .key = {FCONTROL, 'R'},
         .button = {5, TextId::Launch, MakeLook(ButtonNormal, 0xE768, true)},
         .enabled = PackageReady,
         .run = [](W& w) { w.LaunchAndroid(); }},
        {.id = CheckForUpdates,
         .text = TextId::CheckForUpdates,
         .shortcut = L"F5",
         .key = {0, VK_F5},
         .enabled = Idle,
         .run = [](W& w) { w.CheckRelease(false); }},
        {.id = OpenInstallFolder,
         .text = TextId::OpenInstallFolder,
         .enabled = [](const CommandState& s) { return s.installFolderExists; },
         .run =
             [](W& w) {
                 if (auto opened = Pd::Ui::OpenInstallFolder(w.installFolder_.Path()); !opened)
                     w.ReportError(opened.error());
             }},
        {.id = ChangeInstallFolder,
         .text = TextId::ChangeInstallFolder,
         .button = {2, TextId::Change, MakeLook(ButtonNormal, 0xE8B7, true)},
         .enabled = Idle,
         .run = [](W& w) { w.ChangeInstallFolder(); }},
        {.id = Exit,
         .text = TextId::Exit,
         .shortcut = L"Ctrl+Q",
         .key = {FCONTROL, 'Q'},
         .run = [](W& w) { ::PostMessageW(w.window_, WM_CLOSE, 0, 0); }},
        {.id = SourceButton,
         .button = {1, std::nullopt, MakeLook(ButtonSelector, 0, true)},
         .enabled = Idle,
         .run = [](W& w) { w.DropSourceMenu(); }},
        {.id = SourceLocal,
         .text = TextId::LocalTestServer,
         .radio = true,
         .enabled = Idle,
         .checked = [](const MenuMarks& m) { return m.source == L"local"; },
         .run = [](W& w) { w.SetSource(L"local"); }},
        {.id = SourceMirror,
         .text = TextId::OrmelMirror,
         .radio = true,
         .enabled = Idle,
         .checked = [](const MenuMarks& m) { return m.source == L"mirror"; },
         .run = [](W& w) { w.SetSource(L"mirror"); }},
        {.id = SourceGitHub,
         .text = TextId::GitHubReleases,
         .radio = true,
         .enabled = Idle,
         .checked = [](const MenuMarks& m) { return m.source == L"github"; },
         .run = [](W& w) { w.SetSource(L"github"); }},
        {.id = SourceCustom,
         .text = TextId::CustomManifest,
         .shortcut = L"Ctrl+E",
         .key = {FCONTROL, 'E'},
         .radio = true,
         .enabled = Idle,
         .checked = [](const MenuMarks& m) { return m.source == L"custom"; },
         .run = [](W& w) { w.EditCustomSource(); }},
        {.id = ReleasesPage,
         .text = TextId::ReleasesOnGitHub,
         .run =
             [](W& w) {
                 w.OpenAddress(fmt::format(L"https://{}/{}/releases", Pd::Core::ReleaseWebHost,
                                           Pd::Core::ReleaseRepository));
             }},
        {.id = ShowLog,
         .text = TextId::Log,
         .shortcut = L"Ctrl+L",
         .key = {FCONTROL, 'L'},
         .checked = [](const MenuMarks& m) { return m.logVisible; },
         .run = [](W& w) { w.ToggleLog(!w.logVisible_); }},
        {.id = CopyLog,
         .text = TextId::CopyLog,
         .enabled = LogHasEntries,
         .run = [](W& w) { Pd::Core::CopyToClipboard(w.window_, w.logView_.CopyText()); }},
        {.id = ClearLog,
         .text = TextId::ClearLog,
         .enabled = LogHasEntries,
         .run =
             [](W& w) {
                 w.logView_.Clear();
                 w.UpdateButtons();
             }},
        {.id = LogButton,
         .button = {8, TextId::LogButton, MakeLook(ButtonExpander)},
         .run = [](W& w) { w.ToggleLog(!w.logVisible_); }},
        {.id = CommandLineHelp,
         .text = TextId::CommandLine,
         .shortcut = L"F1",
         .key = {0, VK_F1},
         .run = [](W& w) { w.ShowCommandLineHelp(); }},
        {.id = About,
         .text = TextId::AboutPeldra,
         .run =
             [](W& w) {
                 ShowMessage(w.window_, Text(TextId::AboutPeldraDialog),
                             Pd::Core::FormatText(TextId::AboutDescription, L"Peldra", PD_VERSION_WTEXT,
                                                  L"Made by Ormel Software.", Pd::Core::ReleaseRepository));
             }},
        // The uninstall acts on the window's folder only, never on one a package registration names.
        {.id = Uninstall,
         .text = TextId::Uninstall,
         .enabled = [](const CommandState& s) { return Idle(s) && s.facts && s.stateFileInFolder; },
         .run = [](W& w) { w.Uninstall(); }},
        {.id = BluetoothOn,
         .text = TextId::TurnOnForAndroid,
         .shortcut = L"Ctrl+B",
         .key = {FCONTROL, 'B'},
         .enabled = [](const CommandState& s) { return BluetoothUsable(s) && !s.bridgeOn; },
         .run = [](W& w) { w.TurnBluetoothOn(); }},
        {.id = BluetoothOff,
         .text = TextId::TurnOff,
         .enabled = [](const CommandState& s) { return s.bridgeOn; },
         .run = [](W& w) { w.TurnBluetoothOff(); }},
        {.id = BluetoothButton,
         .button = {3, TextId::Bluetooth,
                    WithGlyphColour(MakeLook(ButtonNormal, 0xE702, true), Palette::BluetoothTint, false)},
         .enabled = BluetoothUsable,
         .run = [](W& w) { w.bluetoothBridgeOn_ ? w.TurnBluetoothOff() : w.TurnBluetoothOn(); }},
        {.id = StartWithWindows,
         .text = TextId::StartWithWindowsMenu,
         .enabled = BluetoothUsable,
         .checked = [](const MenuMarks& m) { return m.startWithWindows; },
         .run = [](W& w) { w.ToggleStartWithWindows(); }},
        {.id = BluetoothLog,
         .text = TextId::OpenBluetoothLog,
         .enabled = [](const CommandState& s) { return s.bluetoothLogExists; },
         .run = [](W& w) { w.OpenAddress(Pd::Core::JoinPath(Pd::Core::DataFolder(), L"bluetooth.log")); }},
        {.id = StopTovik,
         .text = TextId::StopTovik,
         .shortcut = L"Ctrl+Shift+R",
         .key = {FCONTROL | FSHIFT, 'R'},
         .enabled = PackageReady,
         .run = [](W& w) { w.StopTovik(); }},
        {.id = Root,
         .text = TextId::RootForAppsMenu,
         .enabled = NotUninstalling,
         .checked = [](const MenuMarks& m) { return m.elevation; },
         .run = [](W& w) { w.ToggleRoot(); }},
        {.id = Su,
         .text = TextId::SuForRootAppsMenu,
         .enabled =
             [](const CommandState& s) { return !s.uninstalling && s.elevation && !s.elevationMagisk; },
         .checked = [](const MenuMarks& m) { return m.elevationSu && !m.elevationMagisk; },
         .run = [](W& w) { w.ToggleSu(); }},
        {.id = TrayIcon,
         .text = TextId::IconInNotificationArea,
         .enabled = NotUninstalling,
         .checked = [](const MenuMarks& m) { return m.tray; },
         .run = [](W& w) { w.ToggleTrayIcon(); }},
        {.id = HelloEveryTime,
         .text = TextId::AskEveryTime,
         .radio = true,
         .enabled = NotUninstalling,
         .checked = [](const MenuMarks& m) { return m.helloRememberMinutes == 0; },
         .run = [](W& w) { w.SetHelloRemember(0, TextId::AskEveryTime); }},
        {.id = HelloFiveMinutes,
         .text = TextId::RememberFor5Minutes,
         .radio = true,
         .enabled = NotUninstalling,
         .checked = [](const MenuMarks& m) { return m.helloRememberMinutes == 5; },
         .run = [](W& w) { w.SetHelloRemember(5, TextId::RememberFor5Minutes); }},
        {.id = HelloThirtyMinutes,
         .text = TextId::RememberFor30Minutes,
         .radio = true,
         .enabled = NotUninstalling,
         .checked = [](const MenuMarks& m) { return m.helloRememberMinutes == 30; },
         .run = [](W& w) { w.SetHelloRemember(30, TextId::RememberFor30Minutes); }},
        {.id = HelloUntilLocked,
         .text = TextId::RememberUntilLocked,
         .radio = true,
         .enabled = NotUninstalling,
         .checked = [](const MenuMarks& m) { return m.helloRememberMinutes == 0xFFFFFFFF; },
         .run = [](W& w) { w.SetHelloRemember(0xFFFFFFFF, TextId::RememberUntilLocked); }},
        {.id = AndroidSettings,
         .text = TextId::AndroidSettingsMenu,
         .enabled = PackageReady,
         .run =
             [](W& w) {
                 if (auto opened = Pd::Install::OpenTovikSettings(); !opened)
                     w.ReportError(opened.error());
             }},
        {.id = RegisterWithPlay,
         .text = TextId::RegisterWithGooglePlay,
         .button = {7, TextId::Register, MakeLook(ButtonNormal, 0xE8A7, true)},
         .enabled =
             [](const CommandState& s) {
                 return PackageReady(s) && (!s.manifest || VariantHasGoogle(s.variant));
             },
         .run = [](W& w) { w.RegisterWithPlay(); }},
        {.id = Donate,
         .button = {10, TextId::Donate,
                    WithGlyphColour(MakeLook(ButtonNormal, 0xEB52), Rgba(0.8588f, 0.3804f, 0.6353f, 1.0f),
                                    true)},
         .run = [](W& w) { w.OpenAddress(L"https://ormel.software/peldra"); }},
        {.id = UpdateApp,
         .text = TextId::UpdatePeldra,
         .button = {9, TextId::UpdateApp, MakeLook(ButtonAccent, 0xE895, true)},
         .enabled = [](const CommandState& s) { return Idle(s) && s.appUpdate; },
         .run = [](W& w) { w.UpdateApp(); }},
        {.id = UpdateCheck,
         .text = TextId::CheckForUpdatesAutomatically,
         .checked = [](const MenuMarks& m) { return m.updateCheck; },
         .run = [](W&) { Pd::Core::WriteUserDword(L"UpdateCheck", Pd::Core::UpdateCheckEnabled() ? 0 : 1); }},
        {.id = Magisk,
         .text = TextId::MagiskMenu,
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
