#include "ui/LogView.h"

#include "core/Clipboard.h"
#include "core/Text.h"

#include <windowsx.h>

#include <algorithm>
#include <cwchar>

namespace Pd::Ui
{
namespace
{

D2D1_COLOR_F LevelColour(std::int32_t level)
{
    switch (level)
    {
    case 1:
        return Rgba(0.4235f, 0.7961f, 0.3725f, 1);
    case 2:
        return Rgba(0.9882f, 0.8824f, 0, 1);
    case 3:
        return Rgba(1, 0.6f, 0.6431f, 1);
    default:
        return Rgba(1, 1, 1, 0.786f);
    }
}

RECT ClientOf(HWND window)
{
    RECT client{};
    ::GetClientRect(window, &client);
    return client;
}

} // namespace

void LogView::Append(std::int32_t level, std::wstring text)
{
    SYSTEMTIME now{};
    ::GetLocalTime(&now);
    wchar_t time[16]{};
    std::swprintf(time, 16, L"%02u:%02u:%02u", now.wHour, now.wMinute, now.wSecond);
    lines_.Append(time, level, std::move(text));
    if (window_ && ::IsWindowVisible(window_))
        ::InvalidateRect(window_, nullptr, FALSE);
}

void LogView::Clear()
{
    lines_.Clear();
    scroll_ = Scroll{};
    if (window_)
        ::InvalidateRect(window_, nullptr, FALSE);
}

bool LogView::RegisterClass(HINSTANCE instance)
{
    WNDCLASSEXW existing{};
    existing.cbSize = sizeof existing;
    if (::GetClassInfoExW(instance, LogViewClass, &existing))
        return true;
    WNDCLASSEXW windowClass{};
    windowClass.cbSize = sizeof windowClass;
    windowClass.style = CS_DBLCLKS;
    windowClass.lpfnWndProc = StaticWndProc;
    windowClass.hInstance = instance;
    windowClass.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
    windowClass.lpszClassName = LogViewClass;
    return ::RegisterClassExW(&windowClass) != 0;
}

LRESULT CALLBACK LogView::StaticWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_NCCREATE)
    {
        auto* view = static_cast<LogView*>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams);
        ::SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(view));
        if (view)
            view->window_ = window;
    }
    auto* view = reinterpret_cast<LogView*>(::GetWindowLongPtrW(window, GWLP_USERDATA));
    if (message == WM_NCDESTROY)
    {
        ::SetWindowLongPtrW(window, GWLP_USERDATA, 0);
        if (view)
            view->window_ = nullptr;
        return ::DefWindowProcW(window, message, wParam, lParam);
    }
    return view ? view->WndProc(message, wParam, lParam) : ::DefWindowProcW(window, message, wParam, lParam);
}

void LogView::Measure(const RECT& client)
{
    const float wrap = static_cast<float>(client.right) - Px(84);
    if (wrap != wrapWidth_)
    {
        wrapWidth_ = wrap;
        advance_ = MeasureText(*fonts_, 4, L"0");
        rowHeight_ = MeasureTextWrapped(*fonts_, 4, L"0", wrap);
        for (auto& entry : lines_.Entries())
            entry.measured = false;
    }
    // Of five thousand lines a dozen show: only those are laid out.
    auto height = [this](float text) { return std::max(text + Px(2), Px(17)); };
    FitLines(lines_.Entries(), scroll_, static_cast<float>(client.bottom), Px(6),
             {[&](const LogEntry& entry) { return height(MeasureTextWrapped(*fonts_, 4, entry.text, wrap)); },
              [&](const LogEntry& entry) {
                  return height(EstimatedHeight(entry.text.size(), wrap, advance_, rowHeight_));
              }});
}

Thumb LogView::CurrentThumb(const RECT& client) const
{
    float trackTop = static_cast<float>(client.top) + Px(3);
    float trackLength = static_cast<float>(client.bottom) - Px(3) - trackTop;
    return ThumbOf(scroll_, trackTop, trackLength, Px(24));
}

void LogView::Paint(Canvas& canvas, const RECT& client)
{
    canvas.Clear(Graphics::Get().backdrop ? Rgba(1, 1, 1, 0.05f) : Rgba(0.1692f, 0.1692f, 0.1692f, 1));
    Measure(client);
    const auto& entries = lines_.Entries();
    if (entries.empty())
    {
        canvas.DrawText(Pd::Core::Text(TextId::NothingLoggedYet), RectF(client), 2, Rgba(1, 1, 1, 0.545f),
                        DWRITE_TEXT_ALIGNMENT_CENTER);
        return;
    }
    const float right = static_cast<float>(client.right);
    const float bottom = static_cast<float>(client.bottom);
    canvas.Target()->PushAxisAlignedClip(RectF(client), D2D1_ANTIALIAS_MODE_ALIASED);
    auto selection = lines_.Selection();
    float y = Px(6) - scroll_.position;
    for (std::size_t at = 0; at < entries.size(); ++at)
    {
        const auto& entry = entries[at];
        if (y + entry.height >= 0.0f && y <= bottom)
        {
            if (selection && at >= selection->first && at <= selection->second)
                canvas.FillRect(RectF(Px(4), y, right - Px(12), y + entry.height),
                                Rgba(0.2392f, 0.5f, 0.85f, 0.35f));
            canvas.DrawText(entry.time, RectF(Px(10), y, Px(70), y + Px(17)), 4, Rgba(1, 1, 1, 0.545f),
                            DWRITE_TEXT_ALIGNMENT_LEADING);
            canvas.Text(entry.text, RectF(Px(70), y + Px(1), right - Px(14), y + entry.height), 4,
                        LevelColour(entry.level));
        }
        y += entry.height;
    }
    canvas.Target()->PopAxisAlignedClip();
    if (!scroll_.BarShown())
        return;
    Thumb thumb = CurrentThumb(client);
    bool wide = hot_ || dragging_;
    canvas.FillRect(RectF(right - Px(wide ? 8 : 5), thumb.top, right - Px(2), thumb.top + thumb.length),
                    wide ? Rgba(1, 1, 1, 0.5f) : Rgba(1, 1, 1, 0.3f), Px(wide ? 3.0f : 1.5f));
}

void LogView::ScrollTo(float position)
{
    if (scroll_.MoveTo(position))
        ::InvalidateRect(window_, nullptr, FALSE);
}

bool LogView::OnBar(int x) const
{
    return scroll_.BarShown() &&
           static_cast<float>(x) >= static_cast<float>(ClientOf(window_).right) - Px(12);
}

void LogView::SelectAt(int y, bool extend)
{
    auto line = lines_.LineAt(static_cast<float>(y) + scroll_.position - Px(6));
    if (!line && !lines_.Entries().empty() && static_cast<float>(y) + scroll_.position - Px(6) >= 0.0f)
        line = lines_.Entries().size() - 1;
    if (line)
        lines_.Select(*line, extend);
    else if (!extend)
        lines_.ClearSelection();
    ::InvalidateRect(window_, nullptr, FALSE);
}

LRESULT LogView::WndProc(UINT message, WPARAM wParam, LPARAM lParam)
{
    const int x = GET_X_LPARAM(lParam), y = GET_Y_LPARAM(lParam);
    switch (message)
    {
    case WM_PAINT: {
        PaintScope paint(window_);
        RECT client = ClientOf(window_);
        PaintWithCanvas(paint.Dc(), client, *fonts_, [&](Canvas& canvas) { Paint(canvas, client); });
        return 0;
    }
    case WM_KEYDOWN: {
        bool control = ::GetKeyState(VK_CONTROL) < 0;
        if (control && wParam == 'C')
        {
            Pd::Core::CopyToClipboard(window_, lines_.CopyText());
            return 0;
        }
        if (control && wParam == 'A')
        {
            lines_.SelectAll();
            ::InvalidateRect(window_, nullptr, FALSE);
            return 0;
        }
        float line = Px(17);
        switch (wParam)
        {
        case VK_PRIOR:
            ScrollTo(scroll_.position - scroll_.viewport);
            return 0;
        case VK_NEXT:
            ScrollTo(scroll_.position + scroll_.viewport);
            return 0;
        case VK_HOME:
            ScrollTo(0.0f);
            return 0;
        case VK_END:
            ScrollTo(scroll_.Range());
            return 0;
        case VK_UP:
            ScrollTo(scroll_.position - line);
            return 0;
        case VK_DOWN:
            ScrollTo(scroll_.position + line);
            return 0;
        case VK_ESCAPE:
            if (lines_.Selection())
            {
                lines_.ClearSelection();
                ::InvalidateRect(window_, nullptr, FALSE);
                return 0;
            }
            break;
        }
        break;
    }
    case WM_MOUSEWHEEL: {
        UINT setting = 3;
        if (!::SystemParametersInfoW(SPI_GETWHEELSCROLLLINES, 0, &setting, 0))
            setting = 3;
        float notches = static_cast<float>(GET_WHEEL_DELTA_WPARAM(wParam)) / WHEEL_DELTA;
        ScrollTo(scroll_.position -
                 static_cast<float>(WheelLines(static_cast<int>(setting))) * Px(18) * 0.5f * notches);
        return 0;
    }
    case WM_GETDLGCODE:
    case WM_ERASEBKGND:
        return 1;
    case WM_SIZE:
        ::InvalidateRect(window_, nullptr, FALSE);
        return 0;
    case WM_MOUSEMOVE: {
        TRACKMOUSEEVENT track{sizeof track, TME_LEAVE, window_, 0};
        ::TrackMouseEvent(&track);
        if (dragging_)
        {
            RECT client = ClientOf(window_);
            Thumb thumb = CurrentThumb(client);
            float free = static_cast<float>(client.bottom) - Px(6) - thumb.length;
            if (free > 0.0f)
                ScrollTo(dragStartPosition_ + (static_cast<float>(y) - dragStartY_) * scroll_.Range() / free);
        }
        else if (selecting_)
            SelectAt(y, true);
        else if (bool hot = OnBar(x); hot != hot_)
        {
            hot_ = hot;
            ::InvalidateRect(window_, nullptr, FALSE);
        }
        return 0;
    }
    case WM_LBUTTONDOWN: {
        ::SetFocus(window_);
        if (!OnBar(x))
        {
            SelectAt(y, (wParam & MK_SHIFT) != 0);
            selecting_ = true;
            ::SetCapture(window_);
            return 0;
        }
        Thumb thumb = CurrentThumb(ClientOf(window_));
        if (static_cast<float>(y) < thumb.top)
            scroll_.MoveTo(scroll_.position - scroll_.viewport);
        else if (static_cast<float>(y) >= thumb.top + thumb.length)
            scroll_.MoveTo(scroll_.position + scroll_.viewport);
        dragging_ = true;
        dragStartY_ = static_cast<float>(y);
        dragStartPosition_ = scroll_.position;
        ::SetCapture(window_);
        ::InvalidateRect(window_, nullptr, FALSE);
        return 0;
    }
    case WM_LBUTTONUP:
        if (dragging_ || selecting_)
        {
            dragging_ = selecting_ = false;
            ::ReleaseCapture();
            ::InvalidateRect(window_, nullptr, FALSE);
        }
        return 0;
    case WM_CAPTURECHANGED:
        dragging_ = selecting_ = false;
        return 0;
    case WM_MOUSELEAVE:
        if (hot_)
        {
            hot_ = false;
            ::InvalidateRect(window_, nullptr, FALSE);
        }
        return 0;
    }
    return ::DefWindowProcW(window_, message, wParam, lParam);
}

} // namespace Pd::Ui
