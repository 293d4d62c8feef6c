#include "ui/MainWindow.h"

#include "core/Settings.h"
#include "core/Text.h"
#include "ui/CommandState.h"
#include "ui/MainWindowParts.h"
#include "ui/WindowPlacement.h"

#include <algorithm>
#include <cmath>

namespace Pd::Ui
{
namespace
{

constexpr DWORD OverlappedStyle = 0x00CF0000;

} // namespace

float MainWindow::ButtonWidth() const
{
    float widest = 120.0f;
    using enum MainCommand;
    for (MainCommand id :
         {Cancel, StartAndroid, Install, ChangeInstallFolder, BluetoothButton, UpdateApp, Donate})
    {
        wchar_t text[128]{};
        ::GetWindowTextW(Control(id), text, 128);
        auto look = buttonLooks_.find(Id(id));
        float width = MeasureText(fonts_, 0, text) / Px(1) +
                      (look != buttonLooks_.end() && look->second.glyph ? 22.0f : 0.0f) + 30.0f;
        widest = std::max(widest, width);
    }
    return std::ceil(widest);
}

float MainWindow::MinimumHeight(bool logVisible) const
{
    return MinimumClientHeight(manifest_ ? static_cast<int>(manifest_->components.size()) : 0, logVisible);
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
    for (TextId id : {TextId::SourceHeading, TextId::FolderHeading, TextId::DownloadHeading})
        labels = std::max(labels, MeasureText(fonts_, 3, Pd::Core::Text(id)) / scale + 16);
    in.labelWidth = std::max(80.0f, std::ceil(labels));
    wchar_t registerText[128]{};
    ::GetWindowTextW(Control(MainCommand::RegisterWithPlay), registerText, 128);
    in.registerWidth = std::ceil(MeasureText(fonts_, 0, registerText) / scale + 52);
    labelWidth_ = in.labelWidth * scale;
    registerWidth_ = in.registerWidth * scale;
    for (const auto& menu : menuBar_.Menus())
        in.captionWidths.push_back(MeasureText(fonts_, 0, menu.caption) / scale);
    MainLayout dip = LayOutMainWindow(in);

    auto scaled = [scale](const D2D1_RECT_F& r) {
        return RectF(r.left * scale, r.top * scale, r.right * scale, r.bottom * scale);
    };
    layout_ = dip;
    for (auto* r : {&layout_.headerCard, &layout_.hostCard, &layout_.componentsCard, &layout_.logCard,
                    &layout_.titleLine, &layout_.releaseLine, &layout_.sourceRow, &layout_.folderRow,
                    &layout_.downloadRow, &layout_.progressTrack, &layout_.statusLine})
        *r = scaled(*r);
    auto& menus = menuBar_.Menus();
    for (std::size_t at = 0; at < menus.size() && at < dip.captions.size(); ++at)
        menus[at].rect = scaled(dip.captions[at]);

    Place(Control(MainCommand::Donate), scaled(dip.donate));
    Place(Control(MainCommand::UpdateApp), scaled(dip.updateApp));
    ::ShowWindow(Control(MainCommand::UpdateApp), appUpdateVersion_.empty() ? SW_HIDE : SW_SHOWNA);
    Place(Control(MainCommand::SourceButton), scaled(dip.source));
    Place(Control(MainCommand::ChangeInstallFolder), scaled(dip.change));
    Place(Control(MainCommand::BluetoothButton), scaled(dip.bluetooth));
    Place(Control(MainCommand::Install), scaled(dip.install));
    Place(Control(MainCommand::StartAndroid), scaled(dip.launch));
    Place(Control(MainCommand::Cancel), scaled(dip.cancel));
    Place(Control(MainCommand::LogButton), scaled(dip.logButton));
    if (logVisible_)
        Place(logView_.Window(), scaled(dip.logPane));
    Place(Control(MainCommand::RegisterWithPlay), scaled(dip.reg));
    ::ShowWindow(Control(MainCommand::RegisterWithPlay), ShowsRegistration() ? SW_SHOWNA : SW_HIDE);
    ::InvalidateRect(window_, nullptr, FALSE);
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
    Look(MainCommand::LogButton).expanded = visible;
    Look(MainCommand::LogButton).badge.clear();
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
    ::InvalidateRect(Control(MainCommand::LogButton), nullptr, FALSE);
}

bool MainWindow::ShowsRegistration() const
{
    if (!windows_ || !windows_->installedPackage)
        return false;
    return !manifest_ || VariantHasGoogle(manifest_->variant);
}

void MainWindow::InvalidateRectF(const D2D1_RECT_F& rect)
{
    RECT pixels{static_cast<LONG>(std::floor(rect.left)), static_cast<LONG>(std::floor(rect.top)),
                static_cast<LONG>(std::ceil(rect.right)), static_cast<LONG>(std::ceil(rect.bottom))};
    ::InvalidateRect(window_, &pixels, FALSE);
}

} // namespace Pd::Ui
