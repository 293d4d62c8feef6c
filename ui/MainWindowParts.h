// What the files of the main window share: the log pane's id, the frame timer, the palette and how
// controls are placed.
#pragma once

#include "ui/Button.h"
#include "ui/Canvas.h"

namespace Pd::Ui
{

inline constexpr int LogPaneId = 2001;
inline constexpr UINT_PTR ProgressTimer = 1;
inline constexpr UINT ProgressFrameMs = 15;

namespace Palette
{
inline constexpr D2D1_COLOR_F White = Rgba(1, 1, 1, 1);
inline constexpr D2D1_COLOR_F Text786 = Rgba(1, 1, 1, 0.786f);
inline constexpr D2D1_COLOR_F Text545 = Rgba(1, 1, 1, 0.545f);
inline constexpr D2D1_COLOR_F Track = Rgba(1, 1, 1, 0.1f);
inline constexpr D2D1_COLOR_F Teal = Rgba(0.2392f, 0.8627f, 0.5176f, 1);
inline constexpr D2D1_COLOR_F Green = Rgba(0.4235f, 0.7961f, 0.3725f, 1);
inline constexpr D2D1_COLOR_F Yellow = Rgba(0.9882f, 0.8824f, 0, 1);
inline constexpr D2D1_COLOR_F Red = Rgba(1, 0.6f, 0.6431f, 1);
inline constexpr D2D1_COLOR_F CardFill = Rgba(1, 1, 1, 0.05f);
inline constexpr D2D1_COLOR_F CardOutline = Rgba(1, 1, 1, 0.075f);
inline constexpr D2D1_COLOR_F BluetoothTint = Rgba(0.2314f, 0.6431f, 1.0f, 1.0f);
} // namespace Palette

// Moves a child control to a rectangle in pixels, rounded to whole pixels.
void Place(HWND control, const D2D1_RECT_F& rect);

} // namespace Pd::Ui
