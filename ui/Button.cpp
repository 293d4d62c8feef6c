#include "ui/Button.h"

#include "core/Module.h"

#include <commctrl.h>

#include <algorithm>

namespace Pd::Ui
{
namespace
{

HWND hotButton = nullptr;

constexpr D2D1_COLOR_F White = Rgba(1, 1, 1, 1);
constexpr D2D1_COLOR_F Dim = Rgba(1, 1, 1, 0.363f);
constexpr D2D1_COLOR_F Secondary = Rgba(1, 1, 1, 0.786f);
constexpr D2D1_COLOR_F Border = Rgba(1, 1, 1, 0.075f);

D2D1_COLOR_F WithAlpha(D2D1_COLOR_F colour, float factor)
{
    colour.a *= factor;
    return colour;
}

D2D1_COLOR_F Background(const ButtonLook& look)
{
    bool backdrop = Graphics::Get().backdrop;
    if (look.onCard)
        return backdrop ? Rgba(1, 1, 1, 0.05f) : Rgba(0.1692f, 0.1692f, 0.1692f, 1);
    return backdrop ? Rgba(0, 0, 0, 0) : Rgba(0.1255f, 0.1255f, 0.1255f, 1);
}

struct States
{
    bool disabled, pressed, focused, hot;
};

void DrawBody(Canvas& canvas, const D2D1_RECT_F& rect, const ButtonLook& look, const States& state,
              float radius)
{
    float px = 1.0f;
    auto fill = [&](D2D1_COLOR_F colour) { canvas.FillRect(rect, colour, radius); };
    auto border = [&] { canvas.StrokeRect(rect, Border, radius, px); };
    bool plain = look.kind == ButtonNormal || look.kind == ButtonSelector;
    if (plain && look.tint && !state.disabled)
    {
        float alpha = state.pressed ? 0.14f : state.hot ? 0.28f : 0.2f;
        fill(WithAlpha(*look.tint, alpha));
        float inset = canvas.UiFonts().Px(1);
        canvas.StrokeRect(RectF(rect.left + inset, rect.top + inset, rect.right - inset, rect.bottom - inset),
                          WithAlpha(*look.tint, 0.22f), radius, canvas.UiFonts().Px(2.5f));
        canvas.StrokeRect(rect, WithAlpha(*look.tint, state.hot ? 0.9f : 0.72f), radius, px);
        return;
    }
    if (plain)
    {
        fill(state.disabled  ? Rgba(1, 1, 1, 0.04f)
             : state.pressed ? Rgba(1, 1, 1, 0.035f)
             : state.hot     ? Rgba(1, 1, 1, 0.09f)
                             : Rgba(1, 1, 1, 0.061f));
        border();
    }
    else if (look.kind == ButtonAccent)
    {
        if (state.disabled)
        {
            fill(Rgba(1, 1, 1, 0.04f));
            border();
        }
        else
            fill(state.pressed ? Rgba(0.0980f, 0.4627f, 0.2745f, 1)
                 : state.hot   ? Rgba(0.1490f, 0.6471f, 0.3882f, 1)
                               : Rgba(0.1216f, 0.5608f, 0.3333f, 1));
    }
    else if (!state.disabled && (state.pressed || state.hot))
        fill(state.pressed ? Rgba(1, 1, 1, 0.035f) : Rgba(1, 1, 1, 0.045f));
}

} // namespace

HWND HotButton()
{
    return hotButton;
}

HWND CreateButton(HWND parent, int controlId, const std::wstring& label)
{
    HWND button = ::CreateWindowExW(0, L"BUTTON", label.c_str(), 0x5001000B, 0, 0, 10, 10, parent,
                                    reinterpret_cast<HMENU>(static_cast<INT_PTR>(controlId)),
                                    Pd::Core::ModuleHandle(), nullptr);
    if (button)
        ::SetWindowSubclass(button, ButtonSubclassProc, 1, 0);
    return button;
}

LRESULT CALLBACK ButtonSubclassProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR,
                                    DWORD_PTR)
{
    switch (message)
    {
    case WM_MOUSEMOVE:
        if (hotButton != window)
        {
            if (HWND previous = std::exchange(hotButton, window))
                ::InvalidateRect(previous, nullptr, FALSE);
            TRACKMOUSEEVENT track{sizeof track, TME_LEAVE, window, 0};
            ::TrackMouseEvent(&track);
            ::InvalidateRect(window, nullptr, FALSE);
        }
        break;
    case WM_MOUSELEAVE:
        if (hotButton == window)
        {
            hotButton = nullptr;
            ::InvalidateRect(window, nullptr, FALSE);
        }
        break;
    case WM_ENABLE:
        if (!wParam && hotButton == window)
            hotButton = nullptr;
        break;
    case WM_LBUTTONDBLCLK:
        return ::DefSubclassProc(window, WM_LBUTTONDOWN, wParam, lParam);
    case WM_ERASEBKGND:
        return 1;
    case WM_NCDESTROY:
        if (hotButton == window)
            hotButton = nullptr;
        ::RemoveWindowSubclass(window, ButtonSubclassProc, 1);
        break;
    }
    return ::DefSubclassProc(window, message, wParam, lParam);
}

ButtonContent PlaceButtonContent(float left, float itemWidth, float dpiScale, bool hasGlyph, float labelWidth)
{
    float glyphBox = hasGlyph ? 22.0f * dpiScale : 0.0f;
    float width = std::max(0.0f, std::min(itemWidth - 20.0f * dpiScale - glyphBox, labelWidth));
    return {left + (itemWidth - glyphBox - width) / 2.0f, width};
}

void DrawButton(const DRAWITEMSTRUCT& item, const Fonts& fonts, const ButtonLook& look)
{
    States state{};
    state.disabled = (item.itemState & ODS_DISABLED) != 0;
    state.pressed = (item.itemState & ODS_SELECTED) && !state.disabled;
    state.focused = (item.itemState & ODS_FOCUS) && !(item.itemState & ODS_NOFOCUSRECT);
    state.hot = hotButton == item.hwndItem && !state.disabled;
    wchar_t buffer[MaxButtonLabel + 1]{};
    int length = ::GetWindowTextW(item.hwndItem, buffer, MaxButtonLabel + 1);
    std::wstring label(buffer, static_cast<std::size_t>(std::clamp(length, 0, MaxButtonLabel)));

    PaintWithCanvas(item.hDC, item.rcItem, fonts, [&](Canvas& canvas) {
        const D2D1_RECT_F rect = RectF(item.rcItem);
        auto px = [&](float dip) { return fonts.Px(dip); };
        canvas.Clear(Background(look));
        const float radius = px(4);
        D2D1_COLOR_F text = state.disabled ? Dim : state.pressed ? Secondary : White;
        if (look.kind == ButtonAccent && !state.disabled)
            text = state.pressed ? Rgba(1, 1, 1, 0.8f) : White;
        DrawBody(canvas, rect, look, state, radius);
        const wchar_t chevronDown = 0xE70D, chevronRight = 0xE76C;
        switch (look.kind)
        {
        case ButtonSelector:
            canvas.DrawText(label, RectF(rect.left + px(10), rect.top, rect.right - px(30), rect.bottom), 0,
                            text, DWRITE_TEXT_ALIGNMENT_LEADING);
            canvas.DrawText({&chevronDown, 1},
                            RectF(rect.right - px(28), rect.top, rect.right - px(8), rect.bottom), 6,
                            state.disabled ? Dim : Secondary, DWRITE_TEXT_ALIGNMENT_CENTER);
            break;
        case ButtonExpander: {
            const wchar_t& chevron = look.expanded ? chevronDown : chevronRight;
            canvas.DrawText({&chevron, 1},
                            RectF(rect.left + px(4), rect.top, rect.left + px(20), rect.bottom), 6, Secondary,
                            DWRITE_TEXT_ALIGNMENT_CENTER);
            canvas.DrawText(label, RectF(rect.left + px(24), rect.top, rect.right, rect.bottom), 1, text,
                            DWRITE_TEXT_ALIGNMENT_LEADING);
            if (!look.badge.empty())
            {
                float x = rect.left + px(30) + MeasureText(fonts, 1, label);
                auto box = RectF(x, rect.top + px(6), x + MeasureText(fonts, 3, look.badge) + px(12),
                                 rect.bottom - px(6));
                float half = (box.bottom - box.top) / 2.0f;
                canvas.FillRect(box, Rgba(0.1216f, 0.5608f, 0.3333f, 0.9f), half > 0 ? half : 0.0f);
                canvas.DrawText(look.badge, box, 3, White, DWRITE_TEXT_ALIGNMENT_CENTER);
            }
            break;
        }
        case ButtonIcon:
            canvas.DrawText({&look.glyph, 1}, rect, 5, text, DWRITE_TEXT_ALIGNMENT_CENTER);
            break;
        default: {
            bool hasGlyph = look.glyph != 0;
            auto place = PlaceButtonContent(rect.left, rect.right - rect.left, fonts.Px(1), hasGlyph,
                                            MeasureText(fonts, 0, label));
            if (hasGlyph)
            {
                D2D1_COLOR_F glyph = look.kind == ButtonAccent ? text : Secondary;
                if (state.disabled)
                    glyph = text;
                else if (look.activeGlyphColour && (state.hot || state.pressed || state.focused))
                    glyph = *look.activeGlyphColour;
                else if (look.glyphColour)
                    glyph = *look.glyphColour;
                canvas.DrawText({&look.glyph, 1}, RectF(place.x, rect.top, place.x + px(14), rect.bottom), 5,
                                glyph, DWRITE_TEXT_ALIGNMENT_CENTER);
            }
            float labelLeft = place.x + (hasGlyph ? px(22) : 0.0f);
            canvas.DrawText(label,
                            RectF(labelLeft, rect.top, labelLeft + place.labelWidth + 1.0f, rect.bottom), 0,
                            text, DWRITE_TEXT_ALIGNMENT_LEADING);
        }
        }
        if (state.focused)
            canvas.StrokeRect(rect, White, radius, px(1.5f));
    });
}

} // namespace Pd::Ui
