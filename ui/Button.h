// Owner-drawn push buttons in five looks, with process-wide hover tracking.
#pragma once

#include "ui/Canvas.h"

#include <windows.h>

#include <optional>
#include <string>

namespace Pd::Ui
{

enum ButtonKind : int
{
    ButtonNormal = 0,
    ButtonAccent = 1,
    ButtonSelector = 2,
    ButtonExpander = 3,
    ButtonIcon = 4,
};

struct ButtonLook
{
    int kind = ButtonNormal;
    wchar_t glyph = 0;
    bool onCard = false;
    bool expanded = false;
    std::wstring badge;
    std::optional<D2D1_COLOR_F> glyphColour;
    std::optional<D2D1_COLOR_F> tint;
    std::optional<D2D1_COLOR_F> activeGlyphColour;
};

inline ButtonLook MakeLook(int kind, wchar_t glyph = 0, bool onCard = false)
{
    ButtonLook look;
    look.kind = kind;
    look.glyph = glyph;
    look.onCard = onCard;
    return look;
}

inline ButtonLook WithGlyphColour(ButtonLook look, const D2D1_COLOR_F& colour, bool onlyWhenActive)
{
    (onlyWhenActive ? look.activeGlyphColour : look.glyphColour) = colour;
    return look;
}

// The label is cut to this many characters before drawing.
inline constexpr int MaxButtonLabel = 159;

HWND CreateButton(HWND parent, int controlId, const std::wstring& label);
LRESULT CALLBACK ButtonSubclassProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR id,
                                    DWORD_PTR data);
void DrawButton(const DRAWITEMSTRUCT& item, const Fonts& fonts, const ButtonLook& look);

// The button under the mouse, if any (one for the whole process).
HWND HotButton();

// Where glyph and label of a normal or accent button go: both centred together, the label
// shortened to the room there is. Pixels; glyphBox is 0 without a glyph.
struct ButtonContent
{
    float x = 0.0f;          // left of the glyph (or of the label without one)
    float labelWidth = 0.0f; // room given to the label
};
ButtonContent PlaceButtonContent(float left, float itemWidth, float dpiScale, bool hasGlyph,
                                 float labelWidth);

} // namespace Pd::Ui
