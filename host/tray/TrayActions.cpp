#include "core/DataFolder.h"
#include "core/host/HostControl.h"
#include "core/Text.h"
#include "host/hello/RootChange.h"
#include "host/tray/TrayIcon.h"
#include "platform/WebPage.h"
#include "release/folders/Folders.h"
#include "release/windows/TovikControl.h"

namespace Pd::Host
{
namespace
{

bool ConfirmRoot(HWND owner, RootChoice choice)
{
    return Bio::ConfirmRootSettings(
        choice, {}, [owner](const std::wstring& text) { return Bio::AskInMessageBox(owner, text, {}); });
}

void OpenBluetoothLog()
{
    const std::wstring folder = Core::DataFolder();
    if (folder.empty())
        return; // no known folder: nothing sensible to open
    // With the user's own rights: the file's association is the user's to choose.
    static_cast<void>(Platform::OpenAsUser({Core::JoinPath(folder, L"bluetooth.log"), {}, {}}));
}

} // namespace

namespace Detail
{

void OpenWindowWith(const std::function<void(const Platform::ShellRequest&)>& open)
{
    if (HWND window = ::FindWindowW(L"Peldra.MainWindow", nullptr))
    {
        if (::IsIconic(window))
            ::ShowWindow(window, SW_RESTORE);
        ::SetForegroundWindow(window);
        return;
    }
    open({InstalledHostExePath(), {}, {}});
}

} // namespace Detail

TrayActions DefaultTrayActions()
{
    TrayActions actions;
    // With the user's normal rights: the window asks for administrator rights itself, and nothing
    // the user's settings can redirect runs with the host's.
    actions.openWindow = [] {
        Detail::OpenWindowWith(
            [](const Platform::ShellRequest& request) { static_cast<void>(Platform::OpenAsUser(request)); });
    };
    actions.openAndroidSettings = [] { static_cast<void>(Install::OpenTovikSettings()); };
    actions.confirmRoot = &ConfirmRoot;
    actions.stopAndroid = [](std::stop_token stop) { static_cast<void>(Install::Stop(stop)); };
    actions.openBluetoothLog = &OpenBluetoothLog;
    return actions;
}

} // namespace Pd::Host
