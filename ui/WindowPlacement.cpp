#include "ui/WindowPlacement.h"

#include "core/Settings.h"

#include <fmt/xchar.h>

#include <algorithm>
#include <cwchar>

namespace Pd::Ui
{
namespace
{

constexpr const wchar_t* WindowRectValue = L"WindowRect";

// Workspace coordinates are screen coordinates less the offset of the primary monitor's work
// area (a taskbar at the top or left moves it).
POINT WorkspaceOffset()
{
    MONITORINFO info{};
    info.cbSize = sizeof info;
    HMONITOR primary = ::MonitorFromPoint(POINT{0, 0}, MONITOR_DEFAULTTOPRIMARY);
    if (!::GetMonitorInfoW(primary, &info))
        return {0, 0};
    return {info.rcWork.left - info.rcMonitor.left, info.rcWork.top - info.rcMonitor.top};
}

RECT Offset(RECT rect, LONG dx, LONG dy)
{
    ::OffsetRect(&rect, dx, dy);
    return rect;
}

} // namespace

std::optional<RECT> ParseWindowRect(const std::wstring& text)
{
    long values[4]{};
    const wchar_t* at = text.c_str();
    for (long& value : values)
    {
        wchar_t* end = nullptr;
        value = std::wcstol(at, &end, 10);
        if (end == at)
            return std::nullopt;
        at = end;
    }
    if (values[2] <= 200 || values[3] <= 200 || values[2] > 100'000 || values[3] > 100'000 ||
        std::labs(values[0]) > 1'000'000 || std::labs(values[1]) > 1'000'000)
        return std::nullopt;
    return RECT{values[0], values[1], values[0] + values[2], values[1] + values[3]};
}

std::wstring FormatWindowRect(const RECT& rect)
{
    return fmt::format(L"{} {} {} {}", rect.left, rect.top, rect.right - rect.left, rect.bottom - rect.top);
}

RECT FitOntoWorkArea(const RECT& rect, const RECT& work)
{
    LONG width = std::min(rect.right - rect.left, work.right - work.left);
    LONG height = std::min(rect.bottom - rect.top, work.bottom - work.top);
    LONG left = std::clamp(rect.left, work.left, work.right - width);
    LONG top = std::clamp(rect.top, work.top, work.bottom - height);
    return RECT{left, top, left + width, top + height};
}

void SaveWindowPlacement(HWND window)
{
    WINDOWPLACEMENT placement{};
    placement.length = sizeof placement;
    if (::GetWindowPlacement(window, &placement))
        Pd::Core::WriteUserString(WindowRectValue, FormatWindowRect(placement.rcNormalPosition));
}

std::optional<RECT> StoredWindowPlacement()
{
    auto stored = ParseWindowRect(Pd::Core::ReadUserString(WindowRectValue, L""));
    if (!stored)
        return std::nullopt;
    POINT offset = WorkspaceOffset();
    RECT screen = Offset(*stored, offset.x, offset.y);
    if (::MonitorFromRect(&screen, MONITOR_DEFAULTTONULL))
        return stored;
    MONITORINFO info{};
    info.cbSize = sizeof info;
    if (!::GetMonitorInfoW(::MonitorFromRect(&screen, MONITOR_DEFAULTTONEAREST), &info))
        return std::nullopt;
    return Offset(FitOntoWorkArea(screen, info.rcWork), -offset.x, -offset.y);
}

} // namespace Pd::Ui
