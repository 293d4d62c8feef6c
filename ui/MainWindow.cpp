#include "ui/MainWindow.h"

#include "ui/MainWindowParts.h"

#include "core/host/HostChange.h"
#include "core/host/HostControl.h"
#include "core/Settings.h"
#include "core/Text.h"
#include "pd/ProgramVersion.h"
#include "release/base/InstallState.h"
#include "release/install/RunFolder.h"
#include "ui/Dialog.h"
#include "ui/ProgressText.h"
#include "ui/WindowPlacement.h"

#include <commctrl.h>
#include <windowsx.h>

#include <algorithm>
#include <cmath>

namespace Pd::Ui
{
namespace
{

constexpr DWORD OverlappedStyle = 0x00CF0000;

// The icon at a size, scaled down from a larger image; the import library lacks the loader, so
// it is looked up in the common controls already loaded.
HICON LoadScaledIcon(HINSTANCE instance, int width, int height)
{
    using Loader = HRESULT(WINAPI*)(HINSTANCE, PCWSTR, int, int, HICON*);
    HICON icon = nullptr;
    if (HMODULE controls = ::GetModuleHandleW(L"comctl32.dll"))
        if (auto load = reinterpret_cast<Loader>(
                reinterpret_cast<void*>(::GetProcAddress(controls, "LoadIconWithScaleDown"))))
            if (SUCCEEDED(load(instance, MAKEINTRESOURCEW(1), width, height, &icon)))
                return icon;
    return static_cast<HICON>(::LoadImageW(instance, MAKEINTRESOURCEW(1), IMAGE_ICON, width, height, 0));
}

} // namespace

void Place(HWND control, const D2D1_RECT_F& r)
{
    auto round = [](float v) { return static_cast<int>(std::lround(v)); };
    ::SetWindowPos(control, nullptr, round(r.left), round(r.top), round(r.right) - round(r.left),
                   round(r.bottom) - round(r.top), SWP_NOZORDER | SWP_NOACTIVATE);
}

MainWindow::MainWindow(HINSTANCE instance, std::wstring usageText)
    : instance_(instance), usageText_(std::move(usageText)),
      menuBar_(fonts_, Rgba(0.1725f, 0.1725f, 0.1725f, 1)), logView_(fonts_)
{
}

MainWindow::~MainWindow() = default;

CreateOutcome MainWindow::Create(int showCommand)
{
    if (HWND other = ::FindWindowW(MainWindowClass, nullptr))
    {
        if (::IsIconic(other))
            ::ShowWindow(other, SW_RESTORE);
        ::SetForegroundWindow(other);
        return CreateOutcome::AnotherWindow;
    }
    largeIcon_.Reset(LoadScaledIcon(instance_, ::GetSystemMetrics(SM_CXICON), ::GetSystemMetrics(SM_CYICON)));
    smallIcon_.Reset(
        LoadScaledIcon(instance_, ::GetSystemMetrics(SM_CXSMICON), ::GetSystemMetrics(SM_CYSMICON)));
    WNDCLASSEXW windowClass{};
    windowClass.cbSize = sizeof windowClass;
    windowClass.lpfnWndProc = StaticWndProc;
    windowClass.hInstance = instance_;
    windowClass.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
    windowClass.hbrBackground = static_cast<HBRUSH>(::GetStockObject(BLACK_BRUSH));
    windowClass.hIcon = largeIcon_ ? largeIcon_.Get() : ::LoadIconW(nullptr, IDI_APPLICATION);
    windowClass.hIconSm = smallIcon_.Get();
    windowClass.lpszClassName = MainWindowClass;
    if (!::RegisterClassExW(&windowClass) && ::GetLastError() != ERROR_CLASS_ALREADY_EXISTS)
        return CreateOutcome::Failed;
    auto& graphics = Graphics::Get();
    if (!graphics.d2dFactory || !graphics.writeFactory)
        return CreateOutcome::Failed;
    graphics.Prepare();
    taskbarButtonCreated_ = ::RegisterWindowMessageW(L"TaskbarButtonCreated");
    if (!::CreateWindowExW(0, MainWindowClass, L"Peldra", WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN,
                           CW_USEDEFAULT, CW_USEDEFAULT, 640, 720, nullptr, nullptr, instance_, this))
        return CreateOutcome::Failed;
    RestoreWindowRect(showCommand);
    AppendLog(Pd::Level::Info, Pd::Core::FormatText(TextId::ProgramStarted, L"Peldra", PD_VERSION_WTEXT));
    // The first release check also starts the background host, on the worker: the start waits for
    // the host, and the window never does.
    CheckRelease(false, true);
    return CreateOutcome::Created;
}

LRESULT CALLBACK MainWindow::StaticWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_NCCREATE)
    {
        auto* self = static_cast<MainWindow*>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams);
        self->window_ = window;
        ::SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
    }
    if (message == WM_NCDESTROY)
    {
        ::SetWindowLongPtrW(window, GWLP_USERDATA, 0);
        return ::DefWindowProcW(window, message, wParam, lParam);
    }
    auto* self = reinterpret_cast<MainWindow*>(::GetWindowLongPtrW(window, GWLP_USERDATA));
    return self ? self->HandleMessage(message, wParam, lParam)
                : ::DefWindowProcW(window, message, wParam, lParam);
}

void MainWindow::OnCreate()
{
    ApplyWindowTheme(window_);
    Fonts::Create(fonts_, static_cast<int>(::GetDpiForWindow(window_)));
    BuildMenus();

    std::vector<ACCEL> keys;
    std::vector<const CommandRow*> buttons;
    for (const CommandRow& row : MainCommandRows())
    {
        if (row.key.key)
            keys.push_back(
                {static_cast<BYTE>(FVIRTKEY | row.key.modifiers), row.key.key, static_cast<WORD>(row.id)});
        if (row.button.tab)
            buttons.push_back(&row);
    }
    accelerators_.Reset(::CreateAcceleratorTableW(keys.data(), static_cast<int>(keys.size())));

    // Created in tab order.
    std::ranges::sort(buttons, {}, [](const CommandRow* row) { return row->button.tab; });
    for (const CommandRow* row : buttons)
    {
        CreateButton(window_, Id(row->id),
                     row->button.text ? Pd::Core::Text(*row->button.text) : std::wstring());
        Look(row->id) = row->button.look;
    }
    LogView::RegisterClass(instance_);
    ::CreateWindowExW(0, LogViewClass, L"Log", WS_CHILD | WS_TABSTOP, 0, 0, 10, 10, window_,
                      reinterpret_cast<HMENU>(static_cast<INT_PTR>(LogPaneId)), instance_, &logView_);
    logVisible_ = Pd::Core::ReadUserDword(L"LogVisible").value_or(0) != 0;
    Look(MainCommand::LogButton).expanded = logVisible_;
    if (logView_.Window())
        ::ShowWindow(logView_.Window(), logVisible_ ? SW_SHOW : SW_HIDE);
    Pd::Install::FolderChoice folder = Pd::Install::FolderToShow(Pd::Install::Asker::Window);
    installFolder_ = std::move(folder.folder);
    if (!folder.notice.empty())
        AppendLog(Pd::Level::Warning, folder.notice);
    if (folder.blocked)
        folderRefusal_ = std::move(folder.notice);
    installState_ = Pd::Core::ReadState(installFolder_);
    ::SetWindowTextW(Control(MainCommand::SourceButton), SourceLabel().c_str());
    SetStatus(Pd::Level::Info, Pd::Core::Text(TextId::ReadingRelease));
    UpdateButtons();
    hostChangedEvent_ = Pd::Host::CreateHostChangedEvent();
    if (hostChangedEvent_)
        ::RegisterWaitForSingleObject(
            hostChangedWait_.Put(), hostChangedEvent_.Get(),
            [](void* context, BOOLEAN) {
                ::PostMessageW(static_cast<HWND>(context), MessageHostChanged, 0, 0);
            },
            window_, INFINITE, WT_EXECUTEDEFAULT);
    RefreshHostState();
}

void MainWindow::OnClose()
{
    if (uninstalling_)
        return;
    if (busy_ &&
        !Confirm(window_, Pd::Core::Text(TextId::InstallationInProgress),
                 Pd::Core::Text(TextId::ClosingStopsInstallation), Pd::Core::Text(TextId::StopAndClose), 0))
        return;
    closing_ = true;
    worker_.request_stop();
    if (!skipWindowRect_)
        SaveWindowPlacement(window_);
    ::DestroyWindow(window_);
}

LRESULT MainWindow::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == taskbarButtonCreated_ && taskbarButtonCreated_ != 0)
    {
        if (!taskbar_ &&
            SUCCEEDED(::CoCreateInstance(CLSID_TaskbarList, nullptr, CLSCTX_INPROC_SERVER, IID_ITaskbarList3,
                                         taskbar_.PutVoid())) &&
            FAILED(taskbar_->HrInit()))
            taskbar_.Reset();
        return 0;
    }
    switch (message)
    {
    case WM_CREATE:
        OnCreate();
        return 0;
    case WM_DESTROY:
        StopFrames();
        hostChangedWait_.Reset();
        ::PostQuitMessage(0);
        return 0;
    case WM_ACTIVATE:
        if (LOWORD(wParam) != WA_INACTIVE)
            RefreshHostState();
        return ::DefWindowProcW(window_, message, wParam, lParam);
    case WM_TIMER:
        if (wParam == ProgressTimer)
            OnTimer();
        return 0;
    case WM_INITMENUPOPUP:
        OnInitMenuPopup(reinterpret_cast<HMENU>(wParam));
        return 0;
    case WM_SIZE:
        if (wParam != SIZE_MINIMIZED)
            Layout();
        return 0;
    case WM_PAINT: {
        // Only the invalid area is rasterised and copied: the progress animation invalidates
        // the bar alone, 66 times a second.
        PaintScope paint(window_);
        PaintWithCanvas(paint.Dc(), paint.Area(), fonts_, [this](Canvas& canvas) { Paint(canvas); });
        return 0;
    }
    case WM_CLOSE:
        OnClose();
        return 0;
    case WM_SETTINGCHANGE:
    case WM_THEMECHANGED:
    case WM_DWMCOMPOSITIONCHANGED:
        ApplyWindowTheme(window_);
        ::RedrawWindow(window_, nullptr, nullptr, RDW_INVALIDATE | RDW_ALLCHILDREN);
        return 0;
    case WM_GETMINMAXINFO: {
        UINT dpi = ::GetDpiForWindow(window_);
        RECT frame{0, 0, ::MulDiv(560, static_cast<int>(dpi), 96),
                   static_cast<LONG>(MinimumHeight(logVisible_) * static_cast<float>(dpi) / 96.0f)};
        ::AdjustWindowRectExForDpi(&frame, WS_OVERLAPPEDWINDOW, FALSE, 0, dpi);
        // On a small screen at a high scale the content may need more than the screen holds: the
        // minimum never exceeds the work area, or the window could not be placed on the screen.
        MONITORINFO monitor{};
        monitor.cbSize = sizeof monitor;
        ::GetMonitorInfoW(::MonitorFromWindow(window_, MONITOR_DEFAULTTONEAREST), &monitor);
        const RECT& work = monitor.rcWork;
        auto* info = reinterpret_cast<MINMAXINFO*>(lParam);
        info->ptMinTrackSize = {std::min(frame.right - frame.left, work.right - work.left),
                                std::min(frame.bottom - frame.top, work.bottom - work.top)};
        return 0;
    }
    case WM_DRAWITEM: {
        const auto& item = *reinterpret_cast<const DRAWITEMSTRUCT*>(lParam);
        if (item.CtlType == ODT_MENU)
            menuBar_.Draw(item);
        else if (auto look = buttonLooks_.find(static_cast<int>(item.CtlID)); look != buttonLooks_.end())
            DrawButton(item, fonts_, look->second);
        return 1;
    }
    case WM_ERASEBKGND:
        return 1;
    case WM_MEASUREITEM: {
        auto& item = *reinterpret_cast<MEASUREITEMSTRUCT*>(lParam);
        if (item.CtlType == ODT_MENU && item.itemData)
        {
            SIZE size = menuBar_.MeasureItem(*reinterpret_cast<const MenuItemData*>(item.itemData));
            item.itemWidth = static_cast<UINT>(size.cx);
            item.itemHeight = static_cast<UINT>(size.cy);
        }
        return 1;
    }
    case WM_CONTEXTMENU:
        if (reinterpret_cast<HWND>(wParam) == logView_.Window() && logMenu_)
        {
            POINT at{GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)};
            if (at.x == -1 && at.y == -1)
            {
                RECT pane{};
                ::GetWindowRect(logView_.Window(), &pane);
                at = {pane.left + static_cast<LONG>(Px(24)), pane.top + static_cast<LONG>(Px(24))};
            }
            UINT command = static_cast<UINT>(
                ::TrackPopupMenuEx(logMenu_, TPM_RETURNCMD | TPM_RIGHTBUTTON, at.x, at.y, window_, nullptr));
            if (command)
                ::PostMessageW(window_, WM_COMMAND, command, 0);
        }
        return 0;
    case WM_COMMAND:
        OnCommand(LOWORD(wParam));
        return 0;
    case WM_SYSCOMMAND:
        if ((wParam & 0xFFF0) == SC_KEYMENU)
        {
            if (lParam == 0)
            {
                menuBar_.Open(window_, 0, true);
                return 0;
            }
            if (lParam != L' ' && menuBar_.HandleSysKey(window_, static_cast<wchar_t>(lParam)))
                return 0;
        }
        return ::DefWindowProcW(window_, message, wParam, lParam);
    case WM_MENUSELECT:
        menuBar_.OnMenuSelect(wParam, lParam);
        return 0;
    case WM_MOUSEMOVE:
        if (!trackingMouse_)
        {
            TRACKMOUSEEVENT track{sizeof track, TME_LEAVE, window_, 0};
            trackingMouse_ = ::TrackMouseEvent(&track) != FALSE;
        }
        if (menuBar_.SetHotAt(static_cast<float>(GET_X_LPARAM(lParam)),
                              static_cast<float>(GET_Y_LPARAM(lParam))))
            menuBar_.InvalidateCaptions(window_);
        return 0;
    case WM_LBUTTONDOWN:
        if (int hit = menuBar_.CaptionAt(static_cast<float>(GET_X_LPARAM(lParam)),
                                         static_cast<float>(GET_Y_LPARAM(lParam)));
            hit >= 0)
            menuBar_.Open(window_, hit, false);
        return 0;
    case WM_MOUSELEAVE:
        trackingMouse_ = false;
        if (menuBar_.ClearHot())
            menuBar_.InvalidateCaptions(window_);
        return 0;
    case WM_DPICHANGED: {
        Fonts::Create(fonts_, HIWORD(wParam));
        menuBar_.RemeasureAll();
        logView_.Remeasure();
        ::InvalidateRect(logView_.Window(), nullptr, FALSE);
        const auto* suggested = reinterpret_cast<const RECT*>(lParam);
        ::SetWindowPos(window_, nullptr, suggested->left, suggested->top, suggested->right - suggested->left,
                       suggested->bottom - suggested->top, SWP_NOZORDER | SWP_NOACTIVATE);
        Layout();
        ::RedrawWindow(window_, nullptr, nullptr, RDW_INVALIDATE | RDW_ALLCHILDREN);
        return 0;
    }
    case MessageLogLine:
    case MessageProgress:
    case MessageFinished:
    case MessageQuestion:
    case MessageReleaseCheck:
    case MessageHostChanged:
        return HandleWorkerMessage(message, lParam);
    }
    return ::DefWindowProcW(window_, message, wParam, lParam);
}

LRESULT MainWindow::HandleWorkerMessage(UINT message, LPARAM lParam)
{
    switch (message)
    {
    case MessageLogLine:
        if (auto line = TakePayload<LogLineMessage>(lParam))
        {
            if (line->level == Pd::Level::Warning || line->level == Pd::Level::Error)
                SetStatus(line->level, line->text);
            AppendLog(line->level, std::move(line->text));
        }
        return 0;
    case MessageProgress:
        // Reports may come a thousand times a second: the next frame shows the latest.
        if (auto report = TakePayload<Pd::Core::Progress>(lParam))
        {
            progress_ = std::move(*report);
            reportWaiting_ = true;
            RunFrames();
        }
        return 0;
    case MessageFinished:
        if (auto result = TakePayload<OperationResult>(lParam))
        {
            if (worker_.joinable())
                worker_.join();
            OnFinished(*result);
        }
        return 0;
    case MessageQuestion:
        if (closing_ || !lParam)
            return 0;
        return Confirm(window_, Pd::Core::Text(TextId::ChangeToWindows),
                       reinterpret_cast<const wchar_t*>(lParam), Pd::Core::Text(TextId::Continue), 0)
                   ? 1
                   : 0;
    case MessageReleaseCheck:
        if (auto result = TakePayload<ReleaseCheckResult>(lParam))
        {
            if (worker_.joinable() && !busy_)
                worker_.join();
            bluetoothAdapter_ = result->bluetoothAdapter;
            startWithWindows_ = result->startWithWindows;
            releaseChecked_ = true;
            OnReleaseChecked(std::move(result->windows), std::move(result->manifest),
                             std::move(result->error));
        }
        return 0;
    case MessageHostChanged:
        RefreshHostState();
        return 0;
    }
    return 0;
}

void MainWindow::OnTimer()
{
    if (reportWaiting_ && linePace_.Take(progress_.stage, ::GetTickCount64()))
        ShowProgressReport();
    float target =
        progress_.position >= 0 ? static_cast<float>(progress_.position) / 1000.0f : shownFraction_;
    shownFraction_ += (target - shownFraction_) * 0.18f;
    if (std::fabs(target - shownFraction_) < 0.001f)
        shownFraction_ = target;
    const bool sweeping = progress_.position < 0 && (busy_ || checking_);
    if (shownFraction_ == target && !sweeping && !reportWaiting_)
        StopFrames();
    D2D1_RECT_F track = layout_.progressTrack;
    InvalidateRectF(RectF(track.left - 1, track.top - 1, track.right + 1, track.bottom + 1));
}

void MainWindow::RunFrames()
{
    if (!framesRunning_)
        framesRunning_ = ::SetTimer(window_, ProgressTimer, ProgressFrameMs, nullptr) != 0;
}

void MainWindow::StopFrames()
{
    ::KillTimer(window_, ProgressTimer);
    framesRunning_ = false;
}

void MainWindow::ShowProgressReport()
{
    if (taskbar_)
    {
        if (progress_.position < 0)
            taskbar_->SetProgressState(window_, TBPF_INDETERMINATE);
        else
        {
            taskbar_->SetProgressState(window_, TBPF_NORMAL);
            taskbar_->SetProgressValue(window_, static_cast<ULONGLONG>(progress_.position), 1000);
        }
    }
    SetStatus(Pd::Level::Info, FormatProgressLine(progress_));
}

} // namespace Pd::Ui