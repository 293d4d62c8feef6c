#include "core/DataFolder.h"
#include "core/host/HostControl.h"
#include "core/release/folders/Folders.h"
#include "core/release/windows/TovikControl.h"
#include "core/Text.h"
#include "host/tray/TrayIcon.h"
#include "platform/WebPage.h"

#include <shellapi.h>

namespace Pd::Host
{
namespace
{

// Brings the open window forward, or starts the program, which opens it.
void OpenWindow()
{
    if (HWND window = ::FindWindowW(L"Peldra.MainWindow", nullptr))
    {
        if (::IsIconic(window))
            ::ShowWindow(window, SW_RESTORE);
        ::SetForegroundWindow(window);
        return;
    }
    ::ShellExecuteW(nullptr, L"open", InstalledHostExePath().c_str(), nullptr, nullptr, SW_SHOWNORMAL);
}

bool ConfirmRoot(HWND owner)
{
    const std::wstring caption = Core::Text(15023);
    const std::wstring text = Core::Text(15024);
    return ::MessageBoxW(owner, text.c_str(), caption.c_str(),
                         MB_YESNO | MB_ICONWARNING | MB_DEFBUTTON2 | MB_SETFOREGROUND) == IDYES;
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

TrayActions DefaultTrayActions()
{
    TrayActions actions;
    actions.openWindow = &OpenWindow;
    actions.openAndroidSettings = [] { static_cast<void>(Install::OpenTovikSettings()); };
    actions.confirmRoot = &ConfirmRoot;
    actions.stopAndroid = [](std::stop_token stop) { static_cast<void>(Install::Stop(stop)); };
    actions.openBluetoothLog = &OpenBluetoothLog;
    return actions;
}

} // namespace Pd::Host
