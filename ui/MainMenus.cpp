#include "ui/MainWindow.h"

#include "core/DataFolder.h"
#include "core/host/HostSettings.h"
#include "core/LanguageState.h"
#include "core/Settings.h"
#include "core/Text.h"
#include "pd/ProgramVersion.h"
#include "release/folders/Folders.h"
#include "release/manifest/Versions.h"
#include "release/uninstall/Uninstall.h"
#include "ui/CommandState.h"
#include "ui/MainWindowParts.h"

#include <fmt/xchar.h>

#include <filesystem>

namespace Pd::Ui
{
namespace
{

// A path that exists; one whose status cannot be read counts as missing.
bool Exists(const std::wstring& path)
{
    std::error_code error;
    return !path.empty() && std::filesystem::exists(std::filesystem::path(path), error) && !error;
}

constexpr MainCommand Line{}; // a separator among a menu's commands

// A command's menu item, with the row's shortcut text unless another is given.
void AddCommand(MenuBar& bar, HMENU menu, MainCommand id, const wchar_t* shortcut = nullptr)
{
    const CommandRow& row = FindCommand(id);
    bar.AddItem(menu, Id(id), row.text ? Pd::Core::Text(*row.text) : std::wstring(),
                shortcut ? shortcut : row.shortcut, row.radio, false);
}

void AddCommands(MenuBar& bar, HMENU menu, std::initializer_list<MainCommand> items)
{
    for (MainCommand id : items)
        if (id == Line)
            bar.AddSeparator(menu);
        else
            AddCommand(bar, menu, id);
}

} // namespace

void MainWindow::BuildMenus()
{
    using enum MainCommand;
    using Pd::Core::Text;
    auto& bar = menuBar_;
    HMENU file = bar.AddMenu(Text(TextId::File));
    AddCommands(bar, file,
                {Install, Cancel, CheckForUpdates, Line, StartAndroid, StopTovik, OpenInstallFolder,
                 ChangeInstallFolder, Line, Uninstall, Line, Exit});

    sourceMenu_ = bar.AddMenu(Text(TextId::Source));
    AddCommands(bar, sourceMenu_,
                {SourceGitHub, SourceMirror, SourceLocal, SourceCustom, Line, ReleasesPage});

    HMENU bluetooth = bar.AddMenu(Text(TextId::BluetoothMenuBar));
    AddCommands(bar, bluetooth, {BluetoothOn, BluetoothOff, Line, StartWithWindows, Line, BluetoothLog});

    HMENU android = bar.AddMenu(Text(TextId::Android));
    AddCommands(bar, android, {AndroidSettings, RegisterWithPlay, Line, Root, Su, Magisk, Line});
    AddCommands(bar, bar.AddSubmenu(android, Text(TextId::RememberWindowsHello)),
                {HelloEveryTime, HelloFiveMinutes, HelloThirtyMinutes, HelloUntilLocked});
    AddCommands(bar, android, {Line, TrayIcon});

    HMENU view = bar.AddMenu(Text(TextId::View));
    AddCommands(bar, view, {ShowLog, CopyLog, ClearLog, Line});
    HMENU language = bar.AddSubmenu(view, Text(TextId::LanguageMenu));
    languages_ = Pd::Core::LanguageMenuItems();
    std::wstring automatic = Pd::Core::AutoLanguage();
    for (const auto& entry : languages_)
        if (entry.code == automatic)
            automatic = entry.name;
    bar.AddItem(language, AutoLanguageCommand, Pd::Core::FormatText(TextId::WindowsLanguage, automatic), L"",
                true, false);
    bar.AddSeparator(language);
    for (std::size_t at = 0; at < languages_.size() && FirstLanguageCommand + at <= LastLanguageCommand; ++at)
    {
        const auto& entry = languages_[at];
        std::wstring share;
        if (entry.code != L"en")
            share = fmt::format(L"{}%", entry.total ? entry.translated * 100 / entry.total : 100);
        bar.AddItem(language, static_cast<int>(FirstLanguageCommand + at), entry.name, share, true,
                    at > 0 && at % 20 == 0);
    }

    HMENU help = bar.AddMenu(Text(TextId::Help));
    AddCommands(bar, help, {UpdateApp, UpdateCheck, Line, CommandLineHelp, About});

    // The log pane copies with Ctrl+C itself.
    logMenu_ = bar.NewPopup();
    AddCommand(bar, logMenu_, CopyLog, L"Ctrl+C");
    AddCommands(bar, logMenu_, {ClearLog});

    RECT client{};
    ::GetClientRect(window_, &client);
    if (client.right > 0)
        Layout();
}

CommandState MainWindow::CurrentCommandState() const
{
    CommandState s;
    s.busy = busy_;
    s.checking = checking_;
    s.uninstalling = uninstalling_;
    s.facts = windows_.has_value();
    if (windows_)
    {
        s.build = windows_->build;
        s.package = windows_->installedPackage.has_value();
    }
    s.manifest = manifest_ != nullptr;
    if (manifest_)
    {
        s.variant = manifest_->variant;
        if (manifest_->app)
            s.minimumProgram = manifest_->app->minimum;
    }
    s.programVersion = PD_VERSION_WTEXT;
    s.installFolderExists = Exists(installFolder_.Path());
    s.stateFileInFolder = Exists(installFolder_.Join(L"peldra.json"));
    s.logHasEntries = !logView_.Lines().Entries().empty();
    s.bluetoothAdapter = bluetoothAdapter_;
    s.bridgeOn = bluetoothBridgeOn_;
    s.bluetoothLogExists = Exists(Pd::Core::JoinPath(Pd::Core::DataFolder(), L"bluetooth.log"));
    s.elevation = Pd::Host::ElevationEnabled();
    s.elevationMagisk = Pd::Host::ElevationMagiskEnabled();
    s.appUpdate = !appUpdateVersion_.empty();
    return s;
}

bool MainWindow::IsCommandEnabled(unsigned id) const
{
    return Pd::Ui::IsCommandEnabled(id, CurrentCommandState());
}

MenuMarks MainWindow::CurrentMenuMarks(const CommandState& state) const
{
    MenuMarks marks;
    marks.source = ReadSource();
    marks.logVisible = logVisible_;
    marks.startWithWindows = startWithWindows_;
    marks.elevation = state.elevation;
    marks.elevationSu = Pd::Host::ElevationSuEnabled();
    marks.elevationMagisk = state.elevationMagisk;
    marks.tray = Pd::Host::TrayEnabled();
    marks.updateCheck = Pd::Core::UpdateCheckEnabled();
    marks.helloRememberMinutes = Pd::Host::HelloRememberMinutes();
    return marks;
}

void MainWindow::OnInitMenuPopup(HMENU popup)
{
    const auto language = Pd::Core::LanguageState::Instance().Current();
    const CommandState state = CurrentCommandState();
    const MenuMarks marks = CurrentMenuMarks(state);
    for (int at = 0; at < ::GetMenuItemCount(popup); ++at)
    {
        UINT id = ::GetMenuItemID(popup, at);
        if (id == 0 || id == 0xFFFFFFFF)
            continue;
        ::EnableMenuItem(popup, id,
                         MF_BYCOMMAND | (Pd::Ui::IsCommandEnabled(id, state) ? MF_ENABLED : MF_GRAYED));
        std::optional<bool> checked;
        if (const CommandRow* row = FindCommand(id); row && row->checked)
            checked = row->checked(marks);
        else if (id == AutoLanguageCommand)
            checked = language.automatic;
        else if (id >= FirstLanguageCommand && id <= LastLanguageCommand)
            checked = !language.automatic && id - FirstLanguageCommand < languages_.size() &&
                      languages_[id - FirstLanguageCommand].code == language.code;
        if (checked)
            ::CheckMenuItem(popup, id, MF_BYCOMMAND | (*checked ? MF_CHECKED : MF_UNCHECKED));
    }
}

void MainWindow::UpdateButtons()
{
    const CommandState state = CurrentCommandState();
    for (const CommandRow& row : MainCommandRows())
    {
        if (!row.button.tab)
            continue;
        HWND control = Control(row.id);
        bool enabled = row.EnabledIn(state);
        if (!control || enabled == (::IsWindowEnabled(control) != FALSE))
            continue;
        if (!enabled && ::GetFocus() == control)
            ::SendMessageW(window_, WM_NEXTDLGCTL, 0, 0);
        ::EnableWindow(control, enabled);
    }
    auto& look = Look(MainCommand::BluetoothButton);
    if (look.tint.has_value() != bluetoothBridgeOn_)
    {
        if (bluetoothBridgeOn_)
            look.tint = Palette::BluetoothTint;
        else
            look.tint.reset();
        ::InvalidateRect(Control(MainCommand::BluetoothButton), nullptr, FALSE);
    }
}

} // namespace Pd::Ui
