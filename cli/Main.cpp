// Process entry of Peldra.exe: hardens the process, splits the command line and starts the mode
// its words ask for.
#include "cli/DelayLoad.h"
#include "cli/Installer.h"
#include "cli/LinkTrust.h"
#include "cli/Mode.h"
#include "cli/Run.h"
#include "cli/Usage.h"
#include "core/ComApartment.h"
#include "core/Elevation.h"
#include "core/ErrorText.h"
#include "core/Handles.h"
#include "core/Language.h"
#include "core/Log.h"
#include "core/Module.h"
#include "core/Text.h"
#include "host/background/BackgroundHost.h"
#include "release/folders/UserFolderFiles.h"
#include "ui/MainWindow.h"

#include <windows.h>

#include <commctrl.h>
#include <shellapi.h>

#include <cwctype>

#include <string>
#include <vector>

namespace
{

// Before anything else runs: DLLs load from the system folder only (the delay-loaded ones at
// once, so that no later load by name can find another copy), a corrupted heap ends the process,
// and Windows shows no error boxes of its own.
void HardenProcess()
{
    ::SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32);
    Pd::Cli::LoadDelayLoadedDlls();
    ::HeapSetInformation(nullptr, HeapEnableTerminationOnCorruption, nullptr, 0);
    UINT previous = ::SetErrorMode(0);
    ::SetErrorMode(previous | SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
}

void ShowError(const std::wstring& text)
{
    ::MessageBoxW(nullptr, text.c_str(), L"Peldra", MB_ICONERROR);
}

// Without administrator rights the window starts again elevated; the user's refusal of the
// prompt ends silently.
int RelaunchElevated()
{
    std::wstring path = Pd::Core::ModulePath();
    SHELLEXECUTEINFOW info{};
    info.cbSize = sizeof info;
    info.fMask = SEE_MASK_NOASYNC;
    info.lpVerb = L"runas";
    info.lpFile = path.c_str();
    info.nShow = SW_SHOWNORMAL;
    if (::ShellExecuteExW(&info))
        return 0;
    DWORD error = ::GetLastError();
    if (error != ERROR_CANCELLED)
        ShowError(Pd::Core::ErrorText(Pd::Core::Text(Pd::TextId::StartAsAdministrator), error));
    return 1;
}

// Alt with a menu letter opens that menu of the window's bar, whichever of its controls has the
// focus.
bool OpensMenu(Pd::Ui::MainWindow& window, const MSG& message)
{
    if (message.message != WM_SYSCHAR || ::GetAncestor(message.hwnd, GA_ROOT) != window.Window())
        return false;
    auto character = static_cast<wchar_t>(std::towlower(static_cast<wint_t>(LOWORD(message.wParam))));
    const auto& menus = window.Bar().Menus();
    for (std::size_t at = 0; at < menus.size(); ++at)
        if (menus[at].mnemonic != 0 && menus[at].mnemonic == character)
        {
            window.Bar().Open(window.Window(), static_cast<int>(at), true);
            return true;
        }
    return false;
}

int RunWindowLoop(Pd::Ui::MainWindow& window)
{
    MSG message{};
    while (::GetMessageW(&message, nullptr, 0, 0) > 0)
    {
        if (OpensMenu(window, message))
            continue;
        if (window.Accelerators() &&
            ::TranslateAcceleratorW(window.Window(), window.Accelerators(), &message))
            continue;
        if (::IsDialogMessageW(window.Window(), &message))
            continue;
        ::TranslateMessage(&message);
        ::DispatchMessageW(&message);
    }
    return static_cast<int>(static_cast<std::uint32_t>(message.wParam));
}

int RunWindow(HINSTANCE instance, int showCommand)
{
    Pd::Core::ApplyLanguageSetting();
    if (!Pd::Core::IsElevated())
        return RelaunchElevated();
    Pd::Core::ComApartment apartment(Pd::Core::Apartment::SingleThreaded);
    INITCOMMONCONTROLSEX controls{sizeof controls, ICC_STANDARD_CLASSES};
    ::InitCommonControlsEx(&controls);
    int code = 1;
    {
        Pd::Ui::MainWindow window(instance, Pd::Cli::UsageText());
        switch (window.Create(showCommand))
        {
        case Pd::Ui::CreateOutcome::Created:
            code = RunWindowLoop(window);
            break;
        case Pd::Ui::CreateOutcome::AnotherWindow:
            break;
        case Pd::Ui::CreateOutcome::Failed:
            ShowError(Pd::Core::Text(Pd::TextId::MainWindowNotCreated));
            break;
        }
    }
    return code;
}

} // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int showCommand)
{
    HardenProcess();
    Pd::Core::SetLogFileOpener(&Pd::Install::OpenDataFolderLog);
    // Before any file is opened: an elevated process follows no link the user's programs made.
    Pd::Cli::TrustOnlyAdministratorsLinks();

    int count = 0;
    Pd::UniqueLocal argumentBlock(::CommandLineToArgvW(::GetCommandLineW(), &count));
    auto* arguments = static_cast<wchar_t**>(argumentBlock.Get());
    bool split = arguments != nullptr;
    std::vector<std::wstring> words;
    for (int at = 0; split && at < count; ++at)
        words.emplace_back(arguments[at]);

    switch (Pd::Cli::ChooseMode(words, split))
    {
    case Pd::Cli::Mode::Installer:
        return Pd::Cli::RunInstaller(words);
    case Pd::Cli::Mode::BackgroundHost:
        Pd::Core::ApplyLanguageSetting();
        return Pd::Host::RunBackground();
    case Pd::Cli::Mode::Window:
        return RunWindow(instance, showCommand);
    case Pd::Cli::Mode::CommandLine:
        break;
    }
    return Pd::Cli::Run(split ? count : 0, arguments);
}
