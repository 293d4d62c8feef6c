#include "host/tray/TrayWindow.h"

#include "core/Handles.h"
#include "core/host/HostSettings.h"
#include "core/host/TrayHooks.h"
#include "core/Text.h"
#include "host/tray/IconInput.h"
#include "host/tray/TrayBadge.h"
#include "host/tray/TrayStatus.h"

#include <commctrl.h>
#include <shellapi.h>

#include <algorithm>
#include <memory>

namespace Pd::Host
{
namespace
{

constexpr const wchar_t* ClassName = L"Peldra.Tray";

using UniqueIcon = Unique<HICON, &::DestroyIcon>;
using UniqueMenu = Unique<HMENU, &::DestroyMenu>;

// Icon resource 1 of the executable at the small-icon size; null when it cannot be loaded.
UniqueIcon LoadPlainIcon()
{
    HICON icon = nullptr;
    if (FAILED(::LoadIconMetric(::GetModuleHandleW(nullptr), MAKEINTRESOURCEW(1), LIM_SMALL, &icon)))
        return {};
    return UniqueIcon(icon);
}

// Copies text into a fixed shell field, cut to the field less its terminator.
template <std::size_t N> void CopyField(wchar_t (&field)[N], const std::wstring& text)
{
    const std::size_t length = std::min(text.size(), N - 1);
    std::copy_n(text.data(), length, field);
    field[length] = L'\0';
}

// Whether a window is one of the notification area's: a top-level window of the process that
// owns the taskbar, other than the desktop, which that process draws as well. Any program can
// make a window of the taskbar's class, but not the shell window while the shell runs, so that
// names the process where there is one; Wine's has none, only the taskbar of its tray.
bool IsTrayWindow(HWND window)
{
    HWND shell = ::GetShellWindow();
    HWND taskbar = shell != nullptr ? shell : ::FindWindowW(L"Shell_TrayWnd", nullptr);
    HWND root = window != nullptr ? ::GetAncestor(window, GA_ROOT) : nullptr;
    if (taskbar == nullptr || root == nullptr || root == shell || root == ::GetDesktopWindow())
        return false;
    DWORD trayProcess = 0;
    DWORD windowProcess = 0;
    ::GetWindowThreadProcessId(taskbar, &trayProcess);
    ::GetWindowThreadProcessId(root, &windowProcess);
    return trayProcess != 0 && trayProcess == windowProcess;
}

} // namespace

HWND TrayWindow::Create()
{
    HINSTANCE instance = ::GetModuleHandleW(nullptr);
    WNDCLASSEXW windowClass{};
    windowClass.cbSize = sizeof(windowClass);
    windowClass.lpfnWndProc = &TrayWindow::Procedure;
    windowClass.hInstance = instance;
    windowClass.lpszClassName = ClassName;
    ::RegisterClassExW(&windowClass); // fails harmlessly when an earlier tray registered it
    HWND window = ::CreateWindowExW(WS_EX_TOOLWINDOW, ClassName, L"Peldra", WS_POPUP, 0, 0, 0, 0, nullptr,
                                    nullptr, instance, this);
    if (window == nullptr)
        return nullptr;
    // Explorer's restart message and the icon's events reach the window also when the host runs
    // elevated and the shell does not.
    taskbarCreated_ = ::RegisterWindowMessageW(L"TaskbarCreated");
    if (taskbarCreated_ != 0)
        ::ChangeWindowMessageFilterEx(window, taskbarCreated_, MSGFLT_ALLOW, nullptr);
    ::ChangeWindowMessageFilterEx(window, TrayIconMessage, MSGFLT_ALLOW, nullptr);
    return window;
}

LRESULT CALLBACK TrayWindow::Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_NCCREATE)
    {
        auto* self = static_cast<TrayWindow*>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams);
        ::SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
        self->window_ = window;
    }
    auto* self = reinterpret_cast<TrayWindow*>(::GetWindowLongPtrW(window, GWLP_USERDATA));
    if (self == nullptr || self->window_ == nullptr)
        return ::DefWindowProcW(window, message, wParam, lParam);
    try
    {
        return self->Handle(message, wParam, lParam);
    }
    catch (...)
    {
        // Nothing may unwind through the system's dispatch; the message is dropped.
        return 0;
    }
}

LRESULT TrayWindow::Handle(UINT message, WPARAM wParam, LPARAM lParam)
{
    if (taskbarCreated_ != 0 && message == taskbarCreated_)
    {
        AddIcon();
        return 0;
    }
    switch (message)
    {
    case TrayIconMessage:
        OnIconEvent(LOWORD(lParam), HIWORD(lParam), wParam);
        return 0;
    case TrayRefreshMessage:
        Refresh();
        return 0;
    case TrayBalloonMessage: {
        std::unique_ptr<TrayBalloon> balloon(reinterpret_cast<TrayBalloon*>(lParam));
        if (balloon)
            ShowBalloon(balloon->title, balloon->text);
        offerPending_ = false;
        return 0;
    }
    case TrayRegistrationMessage:
        ShowBalloon(Core::Text(TextId::RegisterPcWithGooglePlay),
                    Core::Text(TextId::RegisterGooglePlayExplanation));
        offerPending_ = true;
        return 0;
    case WM_COMMAND:
        OnCommand(LOWORD(wParam));
        return 0;
    case WM_CLOSE:
        ::DestroyWindow(window_);
        return 0;
    case WM_DESTROY:
        OnDestroy();
        return 0;
    default:
        return ::DefWindowProcW(window_, message, wParam, lParam);
    }
}

IconEventFacts TrayWindow::EventFacts(UINT event, UINT iconId, WPARAM anchor) const
{
    IconEventFacts facts;
    facts.event = event;
    facts.iconId = iconId;
    facts.anchor = {static_cast<short>(LOWORD(anchor)), static_cast<short>(HIWORD(anchor))};
    facts.now = ::GetTickCount();
    const ObservedInput input = input_.Latest();
    facts.press = input.press;
    facts.key = input.key;
    facts.usedSerial = usedInput_;
    NOTIFYICONIDENTIFIER icon{};
    icon.cbSize = sizeof(icon);
    icon.hWnd = window_;
    icon.uID = TrayIconId;
    RECT area{};
    const HRESULT located = ::Shell_NotifyIconGetRect(&icon, &area);
    if (SUCCEEDED(located))
        facts.iconArea = area;
    facts.shellKnowsIconAreas = located != E_NOTIMPL;
    facts.pressOverTray = input.press.downSeen && IsTrayWindow(::WindowFromPoint(input.press.down)) &&
                          IsTrayWindow(::WindowFromPoint(input.press.up));
    facts.trayForeground = IsTrayWindow(::GetForegroundWindow());
    return facts;
}

std::optional<POINT> TrayWindow::TakeUserInput(UINT event, UINT iconId, WPARAM anchor)
{
    const auto input = UserEventInput(EventFacts(event, iconId, anchor));
    if (!input)
        return std::nullopt;
    usedInput_ = input->serial; // one click opens one thing: a repeated event finds it used
    return input->at;
}

void TrayWindow::OnIconEvent(UINT event, UINT iconId, WPARAM anchor)
{
    switch (event)
    {
    case WM_CONTEXTMENU:
        if (const auto at = TakeUserInput(event, iconId, anchor))
            ShowMenu(*at);
        break;
    case WM_LBUTTONDBLCLK:
    case NIN_SELECT:
    case NIN_KEYSELECT:
        // Brings an open window forward: only when the user asked for it.
        if (TakeUserInput(event, iconId, anchor))
            OnCommand(static_cast<UINT>(TrayCommand::OpenWindow));
        break;
    case NIN_BALLOONUSERCLICK:
        // Only the registration offer acts on a click; a root-grant notice does not.
        if (offerPending_)
        {
            offerPending_ = false;
            if (actions_.openRegistration)
                actions_.openRegistration(window_);
            Refresh();
        }
        break;
    default:
        break;
    }
}

bool TrayWindow::ConfirmRoot(RootChoice choice)
{
    return actions_.confirmRoot && actions_.confirmRoot(window_, choice);
}

void TrayWindow::OnCommand(UINT id)
{
    switch (static_cast<TrayCommand>(id))
    {
    case TrayCommand::OpenWindow:
    case TrayCommand::Update:
        if (actions_.openWindow)
            actions_.openWindow();
        break;
    case TrayCommand::AndroidSettings:
        if (actions_.openAndroidSettings)
            actions_.openAndroidSettings();
        break;
    case TrayCommand::Register:
        offerPending_ = false;
        if (actions_.openRegistration)
            actions_.openRegistration(window_);
        break;
    case TrayCommand::Bluetooth:
        static_cast<void>(SetBluetoothEnabled(!BluetoothEnabled()));
        break;
    case TrayCommand::Elevation:
        if (ElevationEnabled())
            static_cast<void>(SetElevationEnabled(false));
        else if (ConfirmRoot({RootSetting::Root, true}))
            static_cast<void>(SetElevationEnabled(true));
        break;
    case TrayCommand::ElevationSu:
        if (ElevationSuEnabled())
            static_cast<void>(SetElevationSu(false));
        else if (ConfirmRoot({RootSetting::Su, true}))
            static_cast<void>(SetElevationSu(true));
        break;
    case TrayCommand::StopAndroid:
        if (actions_.stopAndroid)
            stopAndroid_.Start(actions_.stopAndroid); // a click while it runs adds nothing
        break;
    case TrayCommand::BluetoothLog:
        if (actions_.openBluetoothLog)
            actions_.openBluetoothLog();
        break;
    case TrayCommand::HideIcon:
        static_cast<void>(SetTrayEnabled(false)); // the host closes the icon on its next pass
        break;
    case TrayCommand::StopHost:
        ::SetEvent(stopEvent_); // the host closes the icon while it stops
        break;
    }
    Refresh();
}

void TrayWindow::OnDestroy()
{
    ClearTrayHooks();
    NOTIFYICONDATAW data = IconData(0);
    ::Shell_NotifyIconW(NIM_DELETE, &data);
    ::PostQuitMessage(0);
    window_ = nullptr;
}

NOTIFYICONDATAW TrayWindow::IconData(UINT flags) const
{
    NOTIFYICONDATAW data{};
    data.cbSize = sizeof(data);
    data.hWnd = window_;
    data.uID = TrayIconId;
    data.uFlags = flags;
    return data;
}

void TrayWindow::AddIcon()
{
    NOTIFYICONDATAW data = IconData(0);
    ::Shell_NotifyIconW(NIM_DELETE, &data); // a stale icon of this window
    UniqueIcon icon = LoadPlainIcon();
    data = IconData(NIF_MESSAGE | NIF_ICON | NIF_TIP | NIF_SHOWTIP);
    data.uCallbackMessage = TrayIconMessage;
    data.hIcon = icon.Get();
    CopyField(data.szTip, L"Peldra");
    ::Shell_NotifyIconW(NIM_ADD, &data);
    data.uVersion = NOTIFYICON_VERSION_4;
    ::Shell_NotifyIconW(NIM_SETVERSION, &data);
    badgeShown_ = false;
    Refresh();
}

void TrayWindow::RefreshIcon(bool updatePending)
{
    if (updatePending == badgeShown_)
        return;
    UniqueIcon plain = LoadPlainIcon();
    if (!plain)
        return;
    UniqueIcon badged(updatePending ? ComposeBadgedIcon(plain.Get()) : nullptr);
    NOTIFYICONDATAW data = IconData(NIF_ICON);
    data.hIcon = badged ? badged.Get() : plain.Get();
    if (::Shell_NotifyIconW(NIM_MODIFY, &data))
        badgeShown_ = static_cast<bool>(badged);
}

void TrayWindow::Refresh()
{
    if (window_ == nullptr)
        return;
    const TrayStatus status = ReadTrayStatus();
    RefreshIcon(!status.appUpdate.empty() || !status.releaseUpdate.empty());
    NOTIFYICONDATAW data = IconData(NIF_TIP | NIF_SHOWTIP);
    CopyField(data.szTip, TrayTooltip(status));
    ::Shell_NotifyIconW(NIM_MODIFY, &data);
}

void TrayWindow::ShowBalloon(const std::wstring& title, const std::wstring& text)
{
    if (window_ == nullptr)
        return;
    NOTIFYICONDATAW data = IconData(NIF_INFO);
    data.dwInfoFlags = NIIF_INFO;
    CopyField(data.szInfoTitle, title);
    CopyField(data.szInfo, text);
    ::Shell_NotifyIconW(NIM_MODIFY, &data);
}

void TrayWindow::ShowMenu(POINT at)
{
    TrayStatus status = ReadTrayStatus();
    status.registrationWaiting = actions_.registrationWaiting && actions_.registrationWaiting();
    UniqueMenu menu(::CreatePopupMenu());
    if (!menu)
        return;
    for (const TrayMenuItem& item : TrayMenuItems(status))
    {
        if (item.id == 0)
        {
            ::AppendMenuW(menu.Get(), MF_SEPARATOR, 0, nullptr);
            continue;
        }
        const UINT flags = MF_STRING | (item.checked ? MF_CHECKED : 0) | (item.greyed ? MF_GRAYED : 0);
        ::AppendMenuW(menu.Get(), flags, item.id, item.text.c_str());
    }
    ::SetMenuDefaultItem(menu.Get(), static_cast<UINT>(TrayCommand::OpenWindow), FALSE);
    // Without the foreground the menu would not close when the user clicks elsewhere.
    ::SetForegroundWindow(window_);
    ::TrackPopupMenuEx(menu.Get(), TPM_BOTTOMALIGN | TPM_RIGHTBUTTON, at.x, at.y, window_, nullptr);
    if (window_ != nullptr)
        ::PostMessageW(window_, WM_NULL, 0, 0);
}

} // namespace Pd::Host
