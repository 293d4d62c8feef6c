// The main window's saved position: stored as its normal placement at close and restored with
// the same placement call, so the coordinates written are the coordinates read; a position
// that lies off every monitor comes back onto the nearest one.
#pragma once

#include <windows.h>

#include <optional>
#include <string>

namespace Pd::Ui
{

// "left top width height" as stored; none unless all four numbers are there and both sizes
// are above 200.
std::optional<RECT> ParseWindowRect(const std::wstring& text);
std::wstring FormatWindowRect(const RECT& rect);

// The rectangle moved (and, when larger, shrunk) so that it lies within the work area.
RECT FitOntoWorkArea(const RECT& rect, const RECT& work);

// Writes the window's normal placement as "WindowRect".
void SaveWindowPlacement(HWND window);

// The stored placement in workspace coordinates (what GetWindowPlacement gave and
// SetWindowPlacement takes), brought onto the nearest monitor when it lies off every one;
// none when nothing usable is stored.
std::optional<RECT> StoredWindowPlacement();

} // namespace Pd::Ui
