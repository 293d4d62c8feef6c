#include "cli/ProgressLine.h"

#include <fmt/xchar.h>

#include <algorithm>
#include <cmath>

namespace Pd::Cli
{
namespace
{

constexpr std::size_t LabelColumns = 30;
constexpr std::size_t LabelPartSize = 2 + LabelColumns + 1;
constexpr int ColumnsBesideBar = 48;
constexpr wchar_t FilledCell = L'\u2588';
constexpr wchar_t EmptyCell = L'\u2591';
constexpr std::wstring_view BarColour = L"\x1b[38;2;215;10;83m";
constexpr std::wstring_view ColourOff = L"\x1b[0m";

std::wstring LabelPart(std::wstring_view label)
{
    std::wstring part = L"  ";
    if (label.size() > LabelColumns)
    {
        part += label.substr(0, LabelColumns - 1);
        part += L'\u2026';
    }
    else
    {
        part += label;
        part.append(LabelColumns - label.size(), L' ');
    }
    part += L' ';
    return part;
}

// Removes up to excess characters from the end of text; returns how many are still to remove.
std::size_t CutEnd(std::wstring& text, std::size_t excess)
{
    std::size_t cut = std::min(excess, text.size());
    text.resize(text.size() - cut);
    return excess - cut;
}

} // namespace

int ProgressBarCells(int columns)
{
    return std::clamp(columns - static_cast<int>(LabelPartSize) - ColumnsBesideBar, 10, 40);
}

std::wstring ProgressLine(std::wstring_view label, double fraction, std::wstring_view detail,
                          ProgressLook look)
{
    if (!(fraction >= 0.0)) // negative and NaN
        fraction = 0.0;
    fraction = std::min(fraction, 1.0);
    std::size_t columns = static_cast<std::size_t>(std::max(look.columns, 1));

    std::wstring labelPart = LabelPart(label);
    std::wstring valuePart =
        fmt::format(L" {:>3}%  {}", static_cast<int>(std::floor(fraction * 100.0)), detail);
    int cells = ProgressBarCells(look.columns);
    int filled = static_cast<int>(std::lround(cells * fraction));
    std::wstring bar(static_cast<std::size_t>(filled), FilledCell);
    bar.append(static_cast<std::size_t>(cells - filled), EmptyCell);

    // Keep one column free so that the line never wraps: cut the detail first, then the bar.
    std::size_t needed = labelPart.size() + bar.size() + valuePart.size() + 1;
    if (needed > columns)
    {
        std::size_t excess = needed - columns;
        excess = CutEnd(valuePart, excess);
        excess = CutEnd(bar, excess);
        CutEnd(labelPart, excess);
    }
    std::size_t shown = labelPart.size() + bar.size() + valuePart.size();
    if (look.fillWidth && shown < columns - 1)
        valuePart.append(columns - 1 - shown, L' ');

    if (look.coloured && !bar.empty())
        bar = fmt::format(L"{}{}{}", BarColour, bar, ColourOff);
    return labelPart + bar + valuePart;
}

} // namespace Pd::Cli
