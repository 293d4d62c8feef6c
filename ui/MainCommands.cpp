#include "ui/MainWindow.h"

#include "core/Clipboard.h"
#include "core/host/HostSettings.h"
#include "core/host/RegistrationRequest.h"
#include "core/host/ScheduledTask.h"
#include "core/Language.h"
#include "core/LanguageState.h"
#include "core/Settings.h"
#include "core/Text.h"
#include "host/hello/RootChange.h"
#include "platform/WebPage.h"
#include "release/folders/Folders.h"
#include "release/folders/InstallFolderChoice.h"
#include "release/windows/TovikControl.h"
#include "ui/Dialog.h"
#include "ui/FolderChoice.h"
#include "ui/MainWindowParts.h"

#include <shellapi.h>

#include <utility>

namespace Pd::Ui
{

void MainWindow::OnCommand(int id)
{
    if (id == IDOK)
        return;
    if (id == IDCANCEL)
        id = Id(MainCommand::Cancel);
    if (id >= static_cast<int>(AutoLanguageCommand) && id <= static_cast<int>(LastLanguageCommand))
        return SetLanguage(id);
    if (const CommandRow* row = FindCommand(static_cast<unsigned>(id));
        row && IsCommandEnabled(static_cast<unsigned>(id)))
        row->run(*this);
}

void MainWindow::ReportError(const std::wstring& text)
{
    Report(Pd::Level::Error, text);
}

void MainWindow::OpenAddress(const std::wstring& address)
{
    ::AllowSetForegroundWindow(ASFW_ANY);
    if (auto opened = Pd::Platform::OpenAsUser({address, {}, {}}); !opened)
        ReportError(Pd::Core::FormatText(TextId::OpeningFile, address) + L": " + opened.error().text);
}

void MainWindow::LaunchAndroid()
{
    AppendLog(Pd::Level::Info, Pd::Core::Text(TextId::StartingAndroid));
    if (auto opened = Pd::Install::OpenTovikStore(); !opened)
        ReportError(opened.error());
}

void MainWindow::ChangeInstallFolder()
{
    ComPtr<IFileOpenDialog> picker;
    if (FAILED(::CoCreateInstance(CLSID_FileOpenDialog, nullptr, CLSCTX_INPROC_SERVER, IID_IFileOpenDialog,
                                  picker.PutVoid())))
        return;
    FILEOPENDIALOGOPTIONS options = 0;
    picker->GetOptions(&options);
    picker->SetOptions(options | FOS_PICKFOLDERS | FOS_FORCEFILESYSTEM | FOS_PATHMUSTEXIST);
    std::wstring title = Pd::Core::Text(TextId::InstallFolderTitle);
    picker->SetTitle(title.c_str());
    const std::wstring& current = installFolder_.Path();
    std::wstring start = Pd::Core::IsFolder(current) ? current : ParentFolder(current);
    ComPtr<IShellItem> startItem;
    if (!start.empty() &&
        SUCCEEDED(::SHCreateItemFromParsingName(start.c_str(), nullptr, IID_IShellItem, startItem.PutVoid())))
        picker->SetFolder(startItem.Get());
    ComPtr<IShellItem> chosen;
    if (FAILED(picker->Show(window_)) || FAILED(picker->GetResult(chosen.Put())))
        return;
    PWSTR path = nullptr;
    if (FAILED(chosen->GetDisplayName(SIGDN_FILESYSPATH, &path)) || !path)
        return;
    std::wstring picked = path;
    ::CoTaskMemFree(path);
    // Stored and used in the one long form the commands give a folder.
    const std::wstring choice =
        Pd::Core::LongFolderPath(Pd::Core::InstallFolder::From(InstallFolderForChoice(picked)).Path());
    Pd::Core::WriteUserString(L"InstallFolder", choice);
    installFolder_ = Pd::Core::InstallFolder::From(choice);
    // The user's own click in the elevated window: it lasts, for the window and a plain install,
    // until the user chooses again.
    folderRefusal_.clear();
    if (auto recorded = Pd::Install::RecordChosenFolder(installFolder_); !recorded)
        AppendLog(Pd::Level::Warning, recorded.error());
    installState_ = Pd::Core::ReadState(installFolder_);
    UpdateComponents();
    DescribeRelease();
    UpdateButtons();
}

void MainWindow::DropSourceMenu()
{
    RECT button{};
    ::GetWindowRect(Control(MainCommand::SourceButton), &button);
    UINT chosen =
        static_cast<UINT>(::TrackPopupMenuEx(sourceMenu_, TPM_RETURNCMD | TPM_RIGHTBUTTON, button.left,
                                             button.bottom + static_cast<int>(Px(2)), window_, nullptr));
    if (chosen)
        ::PostMessageW(window_, WM_COMMAND, chosen, 0);
}

void MainWindow::SetSource(const std::wstring& word)
{
    Pd::Core::WriteUserString(L"Source", word);
    std::wstring label = SourceLabel();
    ::SetWindowTextW(Control(MainCommand::SourceButton), label.c_str());
    ::InvalidateRect(Control(MainCommand::SourceButton), nullptr, FALSE);
    AppendLog(Pd::Level::Info, Pd::Core::FormatText(TextId::SourceLog, label));
    CheckRelease(false);
}

void MainWindow::EditCustomSource()
{
    DialogSpec spec;
    spec.title = Pd::Core::Text(TextId::CustomRelease);
    spec.text = Pd::Core::Text(TextId::EnterAddressReleaseManifest);
    spec.fields.push_back(DialogField{Pd::Core::Text(TextId::ManifestUrl),
                                      Pd::Core::ReadUserString(L"CustomManifest", L""),
                                      L"https://example.org/peldra/manifest.json", nullptr});
    spec.width = 560;
    spec.validator = ValidateManifestUrl;
    DialogResult result = ShowDialog(window_, spec);
    if (result.button != 1 || result.values.empty())
        return;
    Pd::Core::WriteUserString(L"CustomManifest", result.values.front());
    SetSource(L"custom");
}

void MainWindow::TurnBluetoothOn()
{
    if (auto on = Pd::Host::SetBluetoothEnabled(true); !on)
        return ReportError(on.error());
    Report(Pd::Level::Success, Pd::Core::Text(TextId::BluetoothAdapterInUse));
    RefreshHostState();
}

void MainWindow::TurnBluetoothOff()
{
    if (auto off = Pd::Host::SetBluetoothEnabled(false); !off)
        AppendLog(Pd::Level::Warning, off.error());
    Report(Pd::Level::Info, Pd::Core::Text(TextId::BluetoothTurnedOffForAndroid));
    RefreshHostState();
}

void MainWindow::ToggleStartWithWindows()
{
    if (auto done = Pd::Host::SetTaskRegistered(!startWithWindows_); !done)
        return ReportError(done.error());
    startWithWindows_ = !startWithWindows_;
    AppendLog(Pd::Level::Success, startWithWindows_
                                      ? Pd::Core::FormatText(TextId::BluetoothStartsWithWindows, L"Peldra")
                                      : Pd::Core::Text(TextId::BluetoothNoLongerStartsWithWindows));
    ::InvalidateRect(window_, nullptr, FALSE);
}

bool MainWindow::ConfirmRoot(Pd::Host::RootChoice choice)
{
    return Pd::Bio::ConfirmRootSettings(choice, {}, [this](const std::wstring& text) {
        return ConfirmWiderRights(window_, Pd::Core::Text(TextId::RootForAndroidApps), text,
                                  Pd::Core::Text(TextId::TurnOn));
    });
}

void MainWindow::ToggleRoot()
{
    const bool on = !Pd::Host::ElevationEnabled();
    if (on && !ConfirmRoot({Pd::Host::RootSetting::Root, true}))
        return;
    if (auto done = Pd::Host::SetElevationEnabled(on); !done)
        return ReportError(done.error());
    AppendLog(Pd::Level::Success,
              Pd::Core::Text(on ? TextId::RootForAndroidAppsOn : TextId::RootForAndroidAppsOff));
    magiskRestartPending_ = Pd::Core::ReadUserDword(L"ElevationMagisk").value_or(0) != 0;
    ::InvalidateRect(window_, nullptr, FALSE);
}

void MainWindow::ToggleSu()
{
    const bool wasOn = Pd::Host::ElevationSuEnabled();
    if (!wasOn && !ConfirmRoot({Pd::Host::RootSetting::Su, true}))
        return;
    if (auto done = Pd::Host::SetElevationSu(!wasOn); !done)
        return ReportError(done.error());
    AppendLog(Pd::Level::Success, Pd::Core::Text(wasOn ? TextId::SuForRootAppsOff : TextId::SuForRootAppsOn));
    ::InvalidateRect(window_, nullptr, FALSE);
}

void MainWindow::ToggleTrayIcon()
{
    if (auto tray = Pd::Host::SetTrayEnabled(!Pd::Host::TrayEnabled()); !tray)
        AppendLog(Pd::Level::Error, tray.error());
    ::InvalidateRect(window_, nullptr, FALSE);
}

void MainWindow::SetHelloRemember(std::uint32_t minutes, TextId choice)
{
    if (minutes != 0 && Pd::Host::HelloRememberMinutes() == 0 &&
        !ConfirmWiderRights(window_, Pd::Core::Text(TextId::RememberWindowsHelloDialog),
                            Pd::Core::Text(TextId::RememberHelloExplanation),
                            Pd::Core::Text(TextId::Remember)))
        return;
    if (auto stored = Pd::Host::SetHelloRememberMinutes(minutes); !stored)
        return ReportError(stored.error());
    AppendLog(Pd::Level::Success,
              Pd::Core::Text(TextId::RememberWindowsHello) + L": " + Pd::Core::Text(choice));
}

void MainWindow::RegisterWithPlay()
{
    if (auto asked = Pd::Host::RequestRegistration(); !asked)
        return ReportError(asked.error());
    // The host's answer, whether the id went to the clipboard, comes with a host change.
    registrationRequested_ = true;
    InvalidateRectF(layout_.hostCard);
    if (Pd::Core::ReadUserDword(L"GooglePlayIdKnown").value_or(0) != 0)
        return;
    Report(Pd::Level::Info, Pd::Core::Text(TextId::StartingAndroidForGooglePage));
    LaunchAndroid();
}

void MainWindow::SetLanguage(int id)
{
    std::wstring code;
    if (id == 1100)
        code = L"auto";
    else if (auto at = static_cast<std::size_t>(id - 1101); id >= 1101 && at < languages_.size())
        code = languages_[at].code;
    if (code.empty() || !Pd::Core::SetLanguage(code, true))
        return;
    RebuildTexts();
    std::wstring current = Pd::Core::LanguageState::Instance().Code(), name = current;
    for (const auto& entry : languages_)
        if (entry.code == current)
            name = entry.name;
    AppendLog(Pd::Level::Info, Pd::Core::FormatText(TextId::LanguageStatus, name));
}

void MainWindow::RebuildTexts()
{
    menuBar_.DestroyItems();
    menuBar_.ClearHot();
    BuildMenus();
    for (const CommandRow& row : MainCommandRows())
        if (row.button.text)
            ::SetWindowTextW(Control(row.id), Pd::Core::Text(*row.button.text).c_str());
    ::SetWindowTextW(Control(MainCommand::SourceButton), SourceLabel().c_str());
    UpdateComponents();
    if (!busy_)
        DescribeRelease();
    Layout();
    ::RedrawWindow(window_, nullptr, nullptr, RDW_INVALIDATE | RDW_ALLCHILDREN);
}

void MainWindow::ShowCommandLineHelp()
{
    DialogSpec spec;
    spec.title = Pd::Core::Text(TextId::CommandLineDialog);
    spec.text = Pd::Core::FormatText(TextId::CommandLineDescription, L"Peldra.exe");
    spec.details = usageText_;
    spec.okText = Pd::Core::Text(TextId::Close);
    spec.cancelShown = false;
    spec.thirdText = Pd::Core::Text(TextId::Copy);
    spec.width = 720;
    if (ShowDialog(window_, spec).button == 2)
        Pd::Core::CopyToClipboard(window_, usageText_);
}

} // namespace Pd::Ui
