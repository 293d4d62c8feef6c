// The layout of one progress line: a label, a bar and the per cent with a detail text.
#pragma once

#include <string>
#include <string_view>

namespace Pd::Cli
{

struct ProgressLook
{
    int columns = 80;       // the line takes at most columns - 1 characters
    bool coloured = false;  // wrap the bar in a colour escape sequence
    bool fillWidth = false; // pad with blanks to columns - 1, so that a redraw covers a longer line
};

// "  <label in 30 columns> <bar> NNN%  <detail>", cut to fit. The fraction is clamped to 0..1
// (NaN counts as 0); the bar has 10 to 40 cells.
std::wstring ProgressLine(std::wstring_view label, double fraction, std::wstring_view detail,
                          ProgressLook look);

// The number of bar cells for a width in columns.
int ProgressBarCells(int columns);

} // namespace Pd::Cli
