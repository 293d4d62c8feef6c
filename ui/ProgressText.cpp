#include "ui/ProgressText.h"

#include "core/Strings.h"
#include "core/Text.h"

#include <fmt/xchar.h>

#include <algorithm>
#include <cmath>

namespace Pd::Ui
{

std::wstring FormatDuration(double seconds)
{
    // Far beyond any real transfer; keeps the conversion defined for a wild estimate.
    const double clamped = std::isfinite(seconds) ? std::clamp(seconds, 0.0, 1e12) : 0.0;
    auto s = static_cast<std::uint64_t>(clamped);
    if (s / 3600 != 0)
        return fmt::format(L"{}:{:02}:{:02}", s / 3600, s / 60 % 60, s % 60);
    return fmt::format(L"{}:{:02}", s / 60 % 60, s % 60);
}

std::wstring FormatProgressLine(const Pd::Core::Progress& report)
{
    constexpr std::wstring_view separator = L"  \u00B7  ";
    if (report.position < 0)
        return report.stage + L"\u2026";
    std::wstring line = fmt::format(L"{}%{}", report.position / 10, separator);
    if (report.itemCount > 1)
        line += fmt::format(L"{}/{}  ", report.itemIndex, report.itemCount);
    line += report.stage;
    if (report.bytesTotal != 0)
        line += fmt::format(L"{}{} / {}", separator, Pd::Core::FormatBytes(report.bytesDone),
                            Pd::Core::FormatBytes(report.bytesTotal));
    if (report.bytesPerSecond != 0)
        line += fmt::format(L"{}{}/s", separator, Pd::Core::FormatBytes(report.bytesPerSecond));
    if (report.remainingSeconds > 0)
        line += std::wstring(separator) +
                Pd::Core::FormatText(TextId::TimeLeft, FormatDuration(report.remainingSeconds));
    return line;
}

bool ProgressLinePace::Take(std::wstring_view stage, std::uint64_t now)
{
    if (shownAt_ && stage == stage_ && now - *shownAt_ < PeriodMs)
        return false;
    stage_ = stage;
    shownAt_ = now;
    return true;
}

} // namespace Pd::Ui
