#include "cli/ProgressLine.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <limits>
#include <string>

namespace
{

using Pd::Cli::ProgressBarCells;
using Pd::Cli::ProgressLine;

std::size_t Filled(const std::wstring& line)
{
    return static_cast<std::size_t>(std::count(line.begin(), line.end(), L'\u2588'));
}
std::size_t Cells(const std::wstring& line)
{
    return Filled(line) + static_cast<std::size_t>(std::count(line.begin(), line.end(), L'\u2591'));
}

TEST(ProgressLineTest, BarCellsFollowTheWidthWithinTenToForty)
{
    EXPECT_EQ(ProgressBarCells(95), 14); // 95 - 33 - 48
    EXPECT_EQ(ProgressBarCells(80), 10);
    EXPECT_EQ(ProgressBarCells(121), 40);
    EXPECT_EQ(ProgressBarCells(200), 40);
    EXPECT_EQ(Cells(ProgressLine(L"Downloading", 0.5, L"", {95})), 14u);
}

TEST(ProgressLineTest, LabelStandsInThirtyColumnsAndALongOneIsCut)
{
    EXPECT_EQ(ProgressLine(L"system.img", 0.0, L"", {120}).substr(0, 33),
              L"  system.img" + std::wstring(21, L' '));
    EXPECT_EQ(ProgressLine(std::wstring(31, L'x'), 0.0, L"", {120}).substr(0, 33),
              L"  " + std::wstring(29, L'x') + L"\u2026 ");
}

TEST(ProgressLineTest, FractionIsClampedFlooredAndRoundedHalfAwayFromZeroInTheBar)
{
    std::wstring over = ProgressLine(L"a", 1.5, L"done", {95});
    EXPECT_NE(over.find(L" 100%  done"), std::wstring::npos);
    EXPECT_EQ(Filled(over), 14u);
    EXPECT_NE(ProgressLine(L"a", -0.3, L"", {95}).find(L"   0%  "), std::wstring::npos);
    std::wstring nan = ProgressLine(L"a", std::numeric_limits<double>::quiet_NaN(), L"", {95});
    EXPECT_NE(nan.find(L"   0%  "), std::wstring::npos);
    EXPECT_EQ(Filled(nan), 0u);
    EXPECT_NE(ProgressLine(L"a", 0.999, L"", {95}).find(L"  99%"), std::wstring::npos);

    EXPECT_EQ(Filled(ProgressLine(L"a", 0.25, L"", {80})), 3u); // 2.5 cells
    EXPECT_EQ(Filled(ProgressLine(L"a", 0.04, L"", {80})), 0u); // 0.4 cells
}

TEST(ProgressLineTest, ALineThatIsTooWideLosesItsDetailFirstThenTheBarThenTheLabel)
{
    std::wstring line = ProgressLine(L"label", 0.5, std::wstring(60, L'd'), {80});
    EXPECT_EQ(line.size(), 79u);
    EXPECT_EQ(Cells(line), 10u);

    std::wstring narrow = ProgressLine(L"label", 0.5, L"detail", {40});
    EXPECT_EQ(narrow.size(), 39u);
    EXPECT_EQ(Cells(narrow), 6u);
    EXPECT_EQ(narrow.find(L'%'), std::wstring::npos);

    EXPECT_EQ(ProgressLine(L"label", 0.5, L"detail", {20}), L"  label" + std::wstring(12, L' '));
}

TEST(ProgressLineTest, ColourWrapsOnlyTheBarAndTakesNoColumns)
{
    std::wstring detail(60, L'd');
    std::wstring plain = ProgressLine(L"label", 0.5, detail, {80, false});
    std::wstring coloured = ProgressLine(L"label", 0.5, detail, {80, true});
    std::wstring start = L"\x1b[38;2;215;10;83m";
    ASSERT_EQ(coloured.size(), plain.size() + start.size() + 4);
    EXPECT_EQ(coloured.substr(33, start.size()), start);
    EXPECT_EQ(coloured.substr(33 + start.size() + 10, 4), L"\x1b[0m");
}

TEST(ProgressLineTest, FillWidthPadsToOneColumnShortOfTheWidth)
{
    EXPECT_EQ(ProgressLine(L"label", 0.5, L"1.0 MB", {95, false, true}).size(), 94u);
    EXPECT_EQ(ProgressLine(L"label", 0.5, L"1.0 MB", {95}).size(), 33u + 14u + 13u);
}

} // namespace
