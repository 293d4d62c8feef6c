#include "cli/ProgressLine.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <string>

namespace
{

using Pd::Cli::ProgressBarCells;
using Pd::Cli::ProgressLine;
using Pd::Cli::ProgressLook;

constexpr wchar_t Full = L'\u2588';
constexpr wchar_t Light = L'\u2591';

std::size_t CountOf(const std::wstring& text, wchar_t unit)
{
    return static_cast<std::size_t>(std::count(text.begin(), text.end(), unit));
}

TEST(ProgressLineTest, BarCellsFollowTheWidthWithinTenToForty)
{
    EXPECT_EQ(ProgressBarCells(95), 14); // 95 - 33 - 48
    EXPECT_EQ(ProgressBarCells(80), 10);
    EXPECT_EQ(ProgressBarCells(40), 10);
    EXPECT_EQ(ProgressBarCells(121), 40);
    EXPECT_EQ(ProgressBarCells(200), 40);

    std::wstring line = ProgressLine(L"Downloading", 0.5, L"", {95});
    EXPECT_EQ(CountOf(line, Full) + CountOf(line, Light), 14u);
    EXPECT_EQ(CountOf(line, Full), 7u);
}

TEST(ProgressLineTest, LabelStandsInThirtyColumnsAndALongOneIsCut)
{
    std::wstring shortLine = ProgressLine(L"system.img", 0.0, L"", {120});
    EXPECT_EQ(shortLine.substr(0, 33), L"  system.img" + std::wstring(20, L' ') + L" ");

    std::wstring label(35, L'x');
    std::wstring longLine = ProgressLine(label, 0.0, L"", {120});
    EXPECT_EQ(longLine.substr(0, 33), L"  " + std::wstring(29, L'x') + L"\u2026 ");

    std::wstring exact(30, L'y');
    EXPECT_EQ(ProgressLine(exact, 0.0, L"", {120}).substr(0, 33), L"  " + exact + L" ");
}

TEST(ProgressLineTest, FractionIsClampedAndFloored)
{
    std::wstring over = ProgressLine(L"a", 1.5, L"done", {95});
    EXPECT_NE(over.find(L" 100%  done"), std::wstring::npos);
    EXPECT_EQ(CountOf(over, Full), 14u);

    std::wstring negative = ProgressLine(L"a", -0.3, L"", {95});
    EXPECT_NE(negative.find(L"   0%  "), std::wstring::npos);
    EXPECT_EQ(CountOf(negative, Light), 14u);

    std::wstring nan = ProgressLine(L"a", std::numeric_limits<double>::quiet_NaN(), L"", {95});
    EXPECT_NE(nan.find(L"   0%  "), std::wstring::npos);
    EXPECT_EQ(CountOf(nan, Full), 0u);

    EXPECT_NE(ProgressLine(L"a", 0.999, L"", {95}).find(L"  99%"), std::wstring::npos);
}

TEST(ProgressLineTest, FilledCellsRoundHalfAwayFromZero)
{
    EXPECT_EQ(CountOf(ProgressLine(L"a", 0.25, L"", {80}), Full), 3u); // 2.5 cells
    EXPECT_EQ(CountOf(ProgressLine(L"a", 0.05, L"", {80}), Full), 1u); // 0.5 cells
    EXPECT_EQ(CountOf(ProgressLine(L"a", 0.04, L"", {80}), Full), 0u);
}

TEST(ProgressLineTest, ALineThatIsTooWideLosesItsDetailFirstThenTheBar)
{
    std::wstring detail(60, L'd');
    std::wstring line = ProgressLine(L"label", 0.5, detail, {80});
    EXPECT_EQ(line.size(), 79u);
    EXPECT_EQ(CountOf(line, Full) + CountOf(line, Light), 10u); // the bar is whole
    EXPECT_NE(line.find(L"  50%  ddd"), std::wstring::npos);

    // 40 columns: the label part (33) and one column leave 6 for the bar; no value is left.
    std::wstring narrow = ProgressLine(L"label", 0.5, L"detail", {40});
    EXPECT_EQ(narrow.size(), 39u);
    EXPECT_EQ(CountOf(narrow, Full) + CountOf(narrow, Light), 6u);
    EXPECT_EQ(narrow.find(L'%'), std::wstring::npos);

    // Too narrow even for the label part.
    EXPECT_EQ(ProgressLine(L"label", 0.5, L"detail", {20}), L"  label            ");
}

TEST(ProgressLineTest, ColourWrapsOnlyTheBarAndTakesNoColumns)
{
    std::wstring detail(60, L'd');
    std::wstring plain = ProgressLine(L"label", 0.5, detail, {80, false});
    std::wstring coloured = ProgressLine(L"label", 0.5, detail, {80, true});
    std::wstring start = L"\x1b[38;2;215;10;83m";
    std::wstring end = L"\x1b[0m";
    ASSERT_EQ(coloured.size(), plain.size() + start.size() + end.size());
    EXPECT_EQ(coloured.substr(33, start.size()), start);
    EXPECT_EQ(coloured.substr(33 + start.size() + 10, end.size()), end);
}

TEST(ProgressLineTest, FillWidthPadsToOneColumnShortOfTheWidth)
{
    std::wstring line = ProgressLine(L"label", 0.5, L"1.0 MB", {95, false, true});
    EXPECT_EQ(line.size(), 94u);
    EXPECT_EQ(line.back(), L' ');
    EXPECT_EQ(ProgressLine(L"label", 0.5, L"1.0 MB", {95}).size(), 33u + 14u + 13u);
}

} // namespace
