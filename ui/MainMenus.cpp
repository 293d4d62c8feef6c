#include "ui/MainWindow.h"

#include "core/DataFolder.h"
#include "core/host/HostSettings.h"
#include "core/LanguageState.h"
#include "core/release/folders/Folders.h"
#include "core/release/manifest/Versions.h"
#include "core/release/uninstall/Uninstall.h"
#include "core/Settings.h"
#include "core/Text.h"
#include "pd/ProgramVersion.h"
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

} // namespace

void MainWindow::BuildMenus()
{
    using Pd::Core::Text;
    auto& bar = menuBar_;
    HMENU file = bar.AddMenu(Text(11000));
    bar.AddItem(file, 1000, Text(11004), L"Ctrl+I", false, false);
    bar.AddItem(file, 1001, Text(10004), L"Esc", false, false);
    bar.AddItem(file, 1003, Text(11005), L"F5", false, false);
    bar.AddSeparator(file);
    bar.AddItem(file, 1002, Text(11006), L"Ctrl+R", false, false);
    bar.AddItem(file, 1025, Text(11027), L"Ctrl+Shift+R", false, false);
    bar.AddItem(file, 1004, Text(11007), L"", false, false);
    bar.AddItem(file, 1005, Text(11008), L"", false, false);
    bar.AddSeparator(file);
    bar.AddItem(file, 1019, Text(11021), L"", false, false);
    bar.AddSeparator(file);
    bar.AddItem(file, 1006, Text(11009), L"Ctrl+Q", false, false);

    sourceMenu_ = bar.AddMenu(Text(11001));
    bar.AddItem(sourceMenu_, 1010, Text(11012), L"", true, false);
    bar.AddItem(sourceMenu_, 1009, Text(11011), L"", true, false);
    bar.AddItem(sourceMenu_, 1008, Text(11010), L"", true, false);
    bar.AddItem(sourceMenu_, 1011, Text(11013), L"Ctrl+E", true, false);
    bar.AddSeparator(sourceMenu_);
    bar.AddItem(sourceMenu_, 1012, Text(11019), L"", false, false);

    HMENU bluetooth = bar.AddMenu(Text(11022));
    bar.AddItem(bluetooth, 1020, Text(11023), L"Ctrl+B", false, false);
    bar.AddItem(bluetooth, 1021, Text(11024), L"", false, false);
    bar.AddSeparator(bluetooth);
    bar.AddItem(bluetooth, 1023, Text(11025), L"", false, false);
    bar.AddSeparator(bluetooth);
    bar.AddItem(bluetooth, 1024, Text(11026), L"", false, false);

    HMENU android = bar.AddMenu(Text(11028));
    bar.AddItem(android, 1033, Text(11037), L"", false, false);
    bar.AddItem(android, 1034, Text(19019), L"", false, false);
    bar.AddSeparator(android);
    bar.AddItem(android, 1026, Text(11029), L"", false, false);
    bar.AddItem(android, 1027, Text(11030), L"", false, false);
    bar.AddItem(android, 1038, Text(11041), L"", false, false);
    bar.AddSeparator(android);
    HMENU remember = bar.AddSubmenu(android, Text(11032));
    for (int id = 1029; id <= 1032; ++id)
        bar.AddItem(remember, id, Text(static_cast<std::uint32_t>(11033 + id - 1029)), L"", true, false);
    bar.AddSeparator(android);
    bar.AddItem(android, 1028, Text(11031), L"", false, false);

    HMENU view = bar.AddMenu(Text(11002));
    bar.AddItem(view, 1013, Text(11014), L"Ctrl+L", false, false);
    bar.AddItem(view, 1014, Text(11015), L"", false, false);
    bar.AddItem(view, 1015, Text(11016), L"", false, false);
    bar.AddSeparator(view);
    HMENU language = bar.AddSubmenu(view, Text(11017));
    languages_ = Pd::Core::LanguageMenuItems();
    std::wstring automatic = Pd::Core::AutoLanguage();
    for (const auto& entry : languages_)
        if (entry.code == automatic)
            automatic = entry.name;
    bar.AddItem(language, 1100, Pd::Core::FormatText(10013, automatic), L"", true, false);
    bar.AddSeparator(language);
    for (std::size_t at = 0; at < languages_.size() && 1101 + at <= 1199; ++at)
    {
        const auto& entry = languages_[at];
        std::wstring share;
        if (entry.code != L"en")
            share = fmt::format(L"{}%", entry.total ? entry.translated * 100 / entry.total : 100);
        bar.AddItem(language, static_cast<int>(1101 + at), entry.name, share, true, at > 0 && at % 20 == 0);
    }

    HMENU help = bar.AddMenu(Text(11003));
    bar.AddItem(help, 1036, Text(11039), L"", false, false);
    bar.AddItem(help, 1037, Text(11040), L"", false, false);
    bar.AddSeparator(help);
    bar.AddItem(help, 1017, Text(11018), L"F1", false, false);
    bar.AddItem(help, 1018, Text(11020), L"", false, false);

    logMenu_ = bar.NewPopup();
    bar.AddItem(logMenu_, 1014, Text(11015), L"Ctrl+C", false, false);
    bar.AddItem(logMenu_, 1015, Text(11016), L"", false, false);

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
        s.packageHasStateFile = s.package && Pd::Core::HasStateFile(*windows_->installedPackage);
    }
    s.manifest = manifest_ != nullptr;
    if (manifest_)
    {
        s.variant = manifest_->variant;
        if (manifest_->app)
            s.minimumProgram = manifest_->app->minimum;
    }
    s.programVersion = PD_VERSION_WTEXT;
    s.installFolderExists = Exists(installFolder_);
    s.stateFileInFolder = Exists(Pd::Core::JoinPath(installFolder_, L"peldra.json"));
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

void MainWindow::OnInitMenuPopup(HMENU popup)
{
    const std::wstring source = ReadSource();
    const auto language = Pd::Core::LanguageState::Instance().Current();
    const std::uint32_t remember = Pd::Host::HelloRememberMinutes();
    const CommandState state = CurrentCommandState();
    for (int at = 0; at < ::GetMenuItemCount(popup); ++at)
    {
        UINT id = ::GetMenuItemID(popup, at);
        if (id == 0 || id == 0xFFFFFFFF)
            continue;
        ::EnableMenuItem(popup, id,
                         MF_BYCOMMAND | (Pd::Ui::IsCommandEnabled(id, state) ? MF_ENABLED : MF_GRAYED));
        std::optional<bool> checked;
        switch (id)
        {
        case 1008:
            checked = source == L"local";
            break;
        case 1009:
            checked = source == L"mirror";
            break;
        case 1010:
            checked = source == L"github";
            break;
        case 1011:
            checked = source == L"custom";
            break;
        case 1013:
            checked = logVisible_;
            break;
        case 1023:
            checked = startWithWindows_;
            break;
        case 1026:
            checked = state.elevation;
            break;
        case 1027:
            checked = Pd::Host::ElevationSuEnabled() && !state.elevationMagisk;
            break;
        case 1028:
            checked = Pd::Host::TrayEnabled();
            break;
        case 1029:
            checked = remember == 0;
            break;
        case 1030:
            checked = remember == 5;
            break;
        case 1031:
            checked = remember == 30;
            break;
        case 1032:
            checked = remember == 0xFFFFFFFF;
            break;
        case 1037:
            checked = Pd::Core::UpdateCheckEnabled();
            break;
        case 1038:
            checked = state.elevationMagisk;
            break;
        case 1100:
            checked = language.automatic;
            break;
        default:
            if (id >= 1101 && id <= 1199)
                checked = !language.automatic && id - 1101 < languages_.size() &&
                          languages_[id - 1101].code == language.code;
        }
        if (checked)
            ::CheckMenuItem(popup, id, MF_BYCOMMAND | (*checked ? MF_CHECKED : MF_UNCHECKED));
    }
}

void MainWindow::UpdateButtons()
{
    const CommandState state = CurrentCommandState();
    for (int id : {1000, 1001, 1002, 1005, 1007, 1022, 1034, 1036})
    {
        HWND control = ::GetDlgItem(window_, id);
        bool enabled = Pd::Ui::IsCommandEnabled(static_cast<unsigned>(id), state);
        if (!control || enabled == (::IsWindowEnabled(control) != FALSE))
            continue;
        if (!enabled && ::GetFocus() == control)
            ::SendMessageW(window_, WM_NEXTDLGCTL, 0, 0);
        ::EnableWindow(control, enabled);
    }
    auto& look = buttonLooks_[1022];
    if (look.tint.has_value() != bluetoothBridgeOn_)
    {
        if (bluetoothBridgeOn_)
            look.tint = Palette::BluetoothTint;
        else
            look.tint.reset();
        ::InvalidateRect(::GetDlgItem(window_, 1022), nullptr, FALSE);
    }
}

} // namespace Pd::Ui
