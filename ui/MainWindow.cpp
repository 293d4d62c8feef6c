#include "ui/MainWindow.h"

#include "core/Settings.h"
#include "core/Text.h"
#include "host/controls/HostControl.h"
#include "pd/ProgramVersion.h"
#include "ui/Dialog.h"
#include "ui/WindowPlacement.h"

#include <commctrl.h>
#include <windowsx.h>

#include <array>
#include <cmath>

namespace Pd::Ui
{
namespace
{

constexpr int LogPaneId = 2001;
constexpr DWORD OverlappedStyle = 0x00CF0000;

struct ButtonRow
{
    int id;
    std::uint32_t text;
    ButtonLook look;
};

const std::array<ButtonRow, 10>& ButtonTable()
{
    static const std::array<ButtonRow, 10> rows{{
        {1007, 0, MakeLook(ButtonSelector, 0, true)},
        {1005, 12004, MakeLook(ButtonNormal, 0xE8B7, true)},
        {1022, 13018,
         WithGlyphColour(MakeLook(ButtonNormal, 0xE702, true), Rgba(0.2314f, 0.6431f, 1.0f, 1.0f), false)},
        {1001, 10004, MakeLook(ButtonNormal, 0xE711, true)},
        {1002, 12003, MakeLook(ButtonNormal, 0xE768, true)},
        {1000, 12000, MakeLook(ButtonAccent, 0xE896, true)},
        {1034, 12007, MakeLook(ButtonNormal, 0xE8A7, true)},
        {1016, 12005, MakeLook(ButtonExpander)},
        {1036, 12008, MakeLook(ButtonAccent, 0xE895, true)},
        {1035, 12006,
         WithGlyphColour(MakeLook(ButtonNormal, 0xEB52), Rgba(0.8588f, 0.3804f, 0.6353f, 1.0f), true)},
    }};
    return rows;
}

constexpr D2D1_COLOR_F CardFill = Rgba(1, 1, 1, 0.05f);
constexpr D2D1_COLOR_F CardOutline = Rgba(1, 1, 1, 0.075f);

D2D1_COLOR_F StatusColour(Pd::Level level)
{
    switch (level)
    {
    case Pd::Level::Error:
        return Rgba(1, 0.6f, 0.6431f, 1);
    case Pd::Level::Warning:
        return Rgba(0.9882f, 0.8824f, 0, 1);
    case Pd::Level::Success:
        return Rgba(0.4235f, 0.7961f, 0.3725f, 1);
    default:
        return Rgba(1, 1, 1, 0.786f);
    }
}

D2D1_RECT_F Scale(const D2D1_RECT_F& r, float scale)
{
    return RectF(r.left * scale, r.top * scale, r.right * scale, r.bottom * scale);
}

void Place(HWND control, const D2D1_RECT_F& r)
{
    auto round = [](float v) { return static_cast<int>(std::lround(v)); };
    ::SetWindowPos(control, nullptr, round(r.left), round(r.top), round(r.right) - round(r.left),
                   round(r.bottom) - round(r.top), SWP_NOZORDER | SWP_NOACTIVATE);
}

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

void DrawCard(Canvas& canvas, const D2D1_RECT_F& card, float radius)
{
    canvas.FillRect(card, CardFill, radius);
    canvas.StrokeRect(card, CardOutline, radius, 1.0f);
}

} // namespace

MainWindow::MainWindow(HINSTANCE instance)
    : instance_(instance), menuBar_(fonts_, Rgba(0.1725f, 0.1725f, 0.1725f, 1)), logView_(fonts_)
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
    taskbarButtonCreated_ = ::RegisterWindowMessageW(L"TaskbarButtonCreated");
    if (!::CreateWindowExW(0, MainWindowClass, L"Peldra", WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN,
                           CW_USEDEFAULT, CW_USEDEFAULT, 640, 720, nullptr, nullptr, instance_, this))
        return CreateOutcome::Failed;
    RestoreWindowRect(showCommand);
    AppendLog(Pd::Level::Info, Pd::Core::FormatText(17000, L"Peldra", PD_VERSION_WTEXT));
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

    auto key = [](BYTE modifiers, WORD key, WORD command) {
        return ACCEL{static_cast<BYTE>(FVIRTKEY | modifiers), key, command};
    };
    std::array<ACCEL, 9> keys{
        key(FCONTROL, 'I', 1000), key(0, VK_F5, 1003),      key(FCONTROL, 'R', 1002),
        key(FCONTROL, 'Q', 1006), key(FCONTROL, 'E', 1011), key(FCONTROL, 'L', 1013),
        key(0, VK_F1, 1017),      key(FCONTROL, 'B', 1020), key(FCONTROL | FSHIFT, 'R', 1025),
    };
    accelerators_.Reset(::CreateAcceleratorTableW(keys.data(), static_cast<int>(keys.size())));

    for (const auto& row : ButtonTable())
    {
        CreateButton(window_, row.id, row.text ? Pd::Core::Text(row.text) : std::wstring());
        buttonLooks_[row.id] = row.look;
    }
    LogView::RegisterClass(instance_);
    ::CreateWindowExW(0, LogViewClass, L"Log", WS_CHILD | WS_TABSTOP, 0, 0, 10, 10, window_,
                      reinterpret_cast<HMENU>(static_cast<INT_PTR>(LogPaneId)), instance_, &logView_);
    logVisible_ = Pd::Core::ReadUserDword(L"LogVisible").value_or(0) != 0;
    buttonLooks_[1016].expanded = logVisible_;
    if (logView_.Window())
        ::ShowWindow(logView_.Window(), logVisible_ ? SW_SHOW : SW_HIDE);
    SetStatus(Pd::Level::Info, Pd::Core::Text(14000));
    if (auto started = Pd::Host::EnsureRunning(); !started)
        AppendLog(Pd::Level::Warning, started.error());
}

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

float MainWindow::ButtonWidth() const
{
    float widest = 120.0f;
    for (int id : {1001, 1002, 1000, 1005, 1022, 1036, 1035})
    {
        wchar_t text[128]{};
        ::GetWindowTextW(::GetDlgItem(window_, id), text, 128);
        auto look = buttonLooks_.find(id);
        float width = MeasureText(fonts_, 0, text) / Px(1) +
                      (look != buttonLooks_.end() && look->second.glyph ? 22.0f : 0.0f) + 30.0f;
        widest = std::max(widest, width);
    }
    return std::ceil(widest);
}

float MainWindow::MinimumHeight(bool logVisible) const
{
    return MinimumClientHeight(0, logVisible);
}

void MainWindow::Layout()
{
    if (!logView_.Window())
        return;
    RECT client{};
    ::GetClientRect(window_, &client);
    const float scale = Px(1);
    MainLayoutInput in;
    in.right = static_cast<float>(client.right) / scale;
    in.height = static_cast<float>(client.bottom) / scale;
    in.buttonWidth = ButtonWidth();
    in.logVisible = logVisible_;
    float labels = 0.0f;
    for (std::uint32_t id : {12020u, 12021u, 12022u})
        labels = std::max(labels, MeasureText(fonts_, 3, Pd::Core::Text(id)) / scale + 16);
    in.labelWidth = std::max(80.0f, std::ceil(labels));
    in.registerWidth = std::ceil(MeasureText(fonts_, 0, Pd::Core::Text(12007)) / scale + 52);
    for (const auto& menu : menuBar_.Menus())
        in.captionWidths.push_back(MeasureText(fonts_, 0, menu.caption) / scale);
    MainLayout dip = LayOutMainWindow(in);

    auto scaled = [scale](const D2D1_RECT_F& r) { return Scale(r, scale); };
    layout_ = dip;
    for (auto* r : {&layout_.headerCard, &layout_.hostCard, &layout_.componentsCard, &layout_.logCard,
                    &layout_.titleLine, &layout_.releaseLine, &layout_.sourceRow, &layout_.folderRow,
                    &layout_.downloadRow, &layout_.progressTrack, &layout_.statusLine})
        *r = scaled(*r);
    auto& menus = menuBar_.Menus();
    for (std::size_t at = 0; at < menus.size() && at < dip.captions.size(); ++at)
        menus[at].rect = scaled(dip.captions[at]);

    auto control = [this](int id) { return ::GetDlgItem(window_, id); };
    Place(control(1035), scaled(dip.donate));
    Place(control(1036), scaled(dip.updateApp));
    ::ShowWindow(control(1036), SW_HIDE);
    Place(control(1007), scaled(dip.source));
    Place(control(1005), scaled(dip.change));
    Place(control(1022), scaled(dip.bluetooth));
    Place(control(1000), scaled(dip.install));
    Place(control(1002), scaled(dip.launch));
    Place(control(1001), scaled(dip.cancel));
    Place(control(1016), scaled(dip.logButton));
    if (logVisible_)
        Place(logView_.Window(), scaled(dip.logPane));
    Place(control(1034), scaled(dip.reg));
    ::ShowWindow(control(1034), SW_HIDE);
    ::InvalidateRect(window_, nullptr, FALSE);
}

void MainWindow::Paint(Canvas& canvas)
{
    canvas.Clear(Graphics::Get().backdrop ? Rgba(0, 0, 0, 0) : Rgba(0.1255f, 0.1255f, 0.1255f, 1));
    menuBar_.DrawBar(canvas);
    const float radius = Px(8);
    DrawCard(canvas, layout_.headerCard, radius);
    const auto& title = layout_.titleLine;
    canvas.FillEllipse(D2D1::Point2F(title.left + Px(5), (title.top + title.bottom) / 2), Px(5),
                       Rgba(0.2392f, 0.8627f, 0.5176f, 1));
    canvas.DrawText(Pd::Core::Text(12010), RectF(title.left + Px(15), title.top, title.right, title.bottom),
                    7, Rgba(1, 1, 1, 1), DWRITE_TEXT_ALIGNMENT_LEADING);
    canvas.FillRect(layout_.progressTrack, Rgba(1, 1, 1, 0.1f),
                    (layout_.progressTrack.bottom - layout_.progressTrack.top) / 2);
    canvas.DrawText(statusText_, layout_.statusLine, 2, StatusColour(statusLevel_),
                    DWRITE_TEXT_ALIGNMENT_LEADING);
    DrawCard(canvas, layout_.hostCard, radius);
    DrawCard(canvas, layout_.componentsCard, radius);
    if (logVisible_)
        DrawCard(canvas, layout_.logCard, radius);
}

void MainWindow::RestoreWindowRect(int showCommand)
{
    UINT dpi = ::GetDpiForWindow(window_);
    RECT frame{0, 0, ::MulDiv(720, static_cast<int>(dpi), 96),
               ::MulDiv(static_cast<int>(MinimumHeight(logVisible_)), static_cast<int>(dpi), 96)};
    ::AdjustWindowRectExForDpi(&frame, OverlappedStyle, FALSE, 0, dpi);
    MONITORINFO monitor{};
    monitor.cbSize = sizeof monitor;
    ::GetMonitorInfoW(::MonitorFromWindow(window_, MONITOR_DEFAULTTOPRIMARY), &monitor);
    const RECT& work = monitor.rcWork;
    int width = frame.right - frame.left;
    int height = std::min<int>(work.bottom - work.top, frame.bottom - frame.top);
    int x = work.left + (work.right - work.left - width) / 2;
    int y = work.top + (work.bottom - work.top - height) / 2;
    // At a high scale on a small screen the default width alone can exceed the work area.
    RECT fitted = FitOntoWorkArea(RECT{x, y, x + width, y + height}, work);
    ::SetWindowPos(window_, nullptr, fitted.left, fitted.top, fitted.right - fitted.left,
                   fitted.bottom - fitted.top, SWP_NOZORDER | SWP_NOACTIVATE);
    // The stored rectangle is a normal placement in workspace coordinates: it goes back through
    // SetWindowPlacement, which takes the same coordinates.
    if (auto stored = StoredWindowPlacement())
    {
        WINDOWPLACEMENT placement{};
        placement.length = sizeof placement;
        ::GetWindowPlacement(window_, &placement);
        placement.flags = 0;
        placement.showCmd = SW_HIDE;
        placement.rcNormalPosition = *stored;
        ::SetWindowPlacement(window_, &placement);
    }
    Layout();
    if (showCommand == SW_SHOWMINIMIZED || showCommand == SW_MINIMIZE)
        showCommand = SW_SHOWNORMAL;
    ::ShowWindow(window_, showCommand);
    ::UpdateWindow(window_);
}

void MainWindow::ToggleLog(bool visible)
{
    if (visible == logVisible_)
        return;
    logVisible_ = visible;
    Pd::Core::WriteUserDword(L"LogVisible", visible ? 1 : 0);
    if (visible)
        unseenLogLines_ = 0;
    buttonLooks_[1016].expanded = visible;
    buttonLooks_[1016].badge.clear();
    ::ShowWindow(logView_.Window(), visible ? SW_SHOW : SW_HIDE);
    if (!::IsZoomed(window_) && !::IsIconic(window_))
    {
        RECT rect{};
        ::GetWindowRect(window_, &rect);
        MONITORINFO monitor{};
        monitor.cbSize = sizeof monitor;
        ::GetMonitorInfoW(::MonitorFromWindow(window_, MONITOR_DEFAULTTONEAREST), &monitor);
        const RECT& work = monitor.rcWork;
        int d = ::MulDiv(180, fonts_.dpi, 96) * (visible ? 1 : -1);
        int grown = rect.bottom - rect.top + d;
        int top = work.bottom >= rect.bottom + d ? rect.top : std::max<int>(work.top, work.bottom - grown);
        int height = std::min<int>(grown, work.bottom - work.top);
        ::SetWindowPos(window_, nullptr, rect.left, top, rect.right - rect.left, height,
                       SWP_NOZORDER | SWP_NOACTIVATE);
    }
    Layout();
    ::InvalidateRect(::GetDlgItem(window_, 1016), nullptr, FALSE);
}

void MainWindow::AppendLog(Pd::Level level, std::wstring text)
{
    if (!logVisible_)
        ++unseenLogLines_;
    logView_.Append(static_cast<std::int32_t>(level), std::move(text));
}

void MainWindow::SetStatus(Pd::Level level, std::wstring text)
{
    statusLevel_ = level;
    statusText_ = std::move(text);
    RECT line{static_cast<LONG>(std::floor(layout_.statusLine.left)),
              static_cast<LONG>(std::floor(layout_.statusLine.top)),
              static_cast<LONG>(std::ceil(layout_.statusLine.right)),
              static_cast<LONG>(std::ceil(layout_.statusLine.bottom))};
    ::InvalidateRect(window_, &line, FALSE);
}

void MainWindow::OnCommand(int id)
{
    // The window's other commands come with the commands and operations that act on the release.
    switch (id)
    {
    case 1006:
        ::PostMessageW(window_, WM_CLOSE, 0, 0);
        break;
    case 1013:
    case 1016:
        ToggleLog(!logVisible_);
        break;
    case 1014:
        CopyToClipboard(window_, logView_.CopyText());
        break;
    case 1015:
        logView_.Clear();
        break;
    }
}

void MainWindow::OnClose()
{
    if (uninstalling_)
        return;
    if (busy_ && !Confirm(window_, Pd::Core::Text(15004), Pd::Core::Text(15005), Pd::Core::Text(15006), 0))
        return;
    closing_ = true;
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
        ::PostQuitMessage(0);
        return 0;
    case WM_SIZE:
        if (wParam != SIZE_MINIMIZED)
            Layout();
        return 0;
    case WM_PAINT: {
        PaintScope paint(window_);
        RECT client{};
        ::GetClientRect(window_, &client);
        PaintWithCanvas(paint.Dc(), client, fonts_, [this](Canvas& canvas) { Paint(canvas); });
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
                   static_cast<LONG>(MinimumHeight(false) * static_cast<float>(dpi) / 96.0f)};
        ::AdjustWindowRectExForDpi(&frame, WS_OVERLAPPEDWINDOW, FALSE, 0, dpi);
        auto* info = reinterpret_cast<MINMAXINFO*>(lParam);
        info->ptMinTrackSize = {frame.right - frame.left, frame.bottom - frame.top};
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
            ::InvalidateRect(window_, nullptr, FALSE);
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
            ::InvalidateRect(window_, nullptr, FALSE);
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
    case MessageLogLine: {
        std::unique_ptr<LogLineMessage> line(reinterpret_cast<LogLineMessage*>(lParam));
        if (line)
        {
            if (line->level == Pd::Level::Warning || line->level == Pd::Level::Error)
                SetStatus(line->level, line->text);
            AppendLog(line->level, std::move(line->text));
        }
        return 0;
    }
    case MessageQuestion:
        if (closing_ || !lParam)
            return 0;
        return Confirm(window_, Pd::Core::Text(15007), reinterpret_cast<const wchar_t*>(lParam),
                       Pd::Core::Text(10014), 0)
                   ? 1
                   : 0;
    }
    return ::DefWindowProcW(window_, message, wParam, lParam);
}

} // namespace Pd::Ui
