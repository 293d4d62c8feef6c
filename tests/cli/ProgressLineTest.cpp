#include "cli/ProgressLine.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <limits>
#include <string>

namespace
{

using Pd::Cli::ProgressLine;

std::size_t Filled(const std::wstring& line)
{
    return static_cast<std::size_t>(std::ranges::count(line, L'\u2588'));
}
std::size_t Cells(const std::wstring& line)
{
    return Filled(line) + static_cast<std::size_t>(std::ranges::count(line, L'\u2591'));
}

TEST(ProgressLineTest, BarCellsFollowTheWidthWithinTenToForty)
{
    for (auto [columns, cells] : {std::pair{95, 14}, {80, 10}, {121, 40}, {200, 40}})
        EXPECT_EQ(Cells(ProgressLine(L"Downloading", 0.5, L"", {columns})), cells) << columns;
}

TEST(ProgressLineTest, FractionIsClampedAndFlooredAndTheBarRoundsHalfAwayFromZero)
{
    const double nan = std::numeric_limits<double>::quiet_NaN();
    for (auto [fraction, percent, filled] : {std::tuple{1.5, L" 100%  ", 10u},
                                             {-0.3, L"   0%  ", 0u},
                                             {nan, L"   0%  ", 0u},
                                             {0.999, L"  99%  ", 10u},
                                             {0.25, L"  25%  ", 3u},
                                             {0.04, L"   4%  ", 0u}})
    {
        std::wstring line = ProgressLine(L"a", fraction, L"", {80});
        EXPECT_NE(line.find(percent), std::wstring::npos) << fraction;
        EXPECT_EQ(Filled(line), filled) << fraction;
    }
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

// A redraw in place must cover whatever the longer line before it left.
TEST(ProgressLineTest, FillWidthPadsToOneColumnShortOfTheWidth)
{
    EXPECT_EQ(ProgressLine(L"label", 0.5, L"1.0 MB", {95, false, true}).size(), 94u);
    EXPECT_EQ(ProgressLine(L"label", 0.5, L"1.0 MB", {95}).size(), 33u + 14u + 13u);
}

} // namespace
