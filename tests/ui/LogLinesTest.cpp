#include "ui/LogLines.h"

#include <gtest/gtest.h>

#include <string>

namespace Pd::Ui
{
namespace
{

LogLines Numbered(std::size_t count)
{
    LogLines lines;
    for (std::size_t at = 0; at < count; ++at)
        lines.Append(L"12:00:00", 0, std::to_wstring(at));
    return lines;
}

TEST(LogLines, TheAppendPastTheCapDropsTheOldestFiveHundred)
{
    LogLines lines = Numbered(LogLines::Cap + 1);
    ASSERT_EQ(lines.Entries().size(), 4501u);
    EXPECT_EQ(lines.Entries().front().text, L"500");
    EXPECT_EQ(lines.Entries().back().text, L"5000");
}

TEST(LogLines, ASelectionMovesWithItsLinesAndGoesWithThem)
{
    LogLines lines = Numbered(LogLines::Cap);
    lines.Select(600, false);
    lines.Select(601, true);
    lines.Append(L"t", 0, L"new");
    ASSERT_TRUE(lines.Selection());
    EXPECT_EQ(lines.Entries()[lines.Selection()->first].text, L"600");
    EXPECT_EQ(lines.Entries()[lines.Selection()->second].text, L"601");

    LogLines dropped = Numbered(LogLines::Cap);
    dropped.Select(3, false);
    dropped.Append(L"t", 0, L"new");
    EXPECT_FALSE(dropped.Selection());
}

TEST(LogLines, CopyTakesTheSelectionInEitherDirectionElseEverything)
{
    LogLines lines = Numbered(4);
    EXPECT_EQ(lines.CopyText(), L"12:00:00  0\r\n12:00:00  1\r\n12:00:00  2\r\n12:00:00  3\r\n");
    lines.Select(2, false);
    lines.Select(1, true);
    EXPECT_EQ(lines.CopyText(), L"12:00:00  1\r\n12:00:00  2\r\n");
    lines.Select(3, false);
    EXPECT_EQ(lines.CopyText(), L"12:00:00  3\r\n");
    lines.Clear();
    EXPECT_EQ(lines.CopyText(), L"");
    EXPECT_FALSE(lines.Selection());
}

TEST(LogLines, LineAtFollowsTheMeasuredHeights)
{
    LogLines lines = Numbered(3);
    float heights[] = {17, 34, 17};
    for (int at = 0; at < 3; ++at)
        lines.Entries()[at].height = heights[at];
    EXPECT_EQ(lines.LineAt(0), 0u);
    EXPECT_EQ(lines.LineAt(16.9f), 0u);
    EXPECT_EQ(lines.LineAt(17), 1u);
    EXPECT_EQ(lines.LineAt(50), 1u);
    EXPECT_EQ(lines.LineAt(51), 2u);
    EXPECT_FALSE(lines.LineAt(68));
    EXPECT_FALSE(lines.LineAt(-1));
}

TEST(LogLines, OnlyTheLinesOnViewAreLaidOut)
{
    LogLines lines = Numbered(LogLines::Cap);
    std::vector<std::size_t> measured;
    const LineSizes sizes{[&](const LogEntry& entry) {
                              measured.push_back(std::stoul(entry.text));
                              return entry.text.ends_with(L"7") ? 34.0f : 17.0f; // a few wrap
                          },
                          [](const LogEntry&) { return 17.0f; }};
    Scroll scroll; // follows the end
    FitLines(lines.Entries(), scroll, 170, 6, sizes);
    // The last ten lines fill the 170 pixels, one of them (4997) wrapped.
    EXPECT_EQ(measured.size(), 10u);
    EXPECT_EQ(measured.front(), 4999u - 9);
    EXPECT_FLOAT_EQ(scroll.content, 6 + 4990 * 17.0f + 9 * 17.0f + 34.0f + 6);
    EXPECT_FLOAT_EQ(scroll.position, scroll.Range());

    measured.clear();
    scroll.MoveTo(0);
    FitLines(lines.Entries(), scroll, 170, 6, sizes);
    EXPECT_EQ(measured.size(), 9u); // the first nine, line 7 wrapped; once
    measured.clear();
    FitLines(lines.Entries(), scroll, 170, 6, sizes);
    EXPECT_TRUE(measured.empty());

    EXPECT_FLOAT_EQ(EstimatedHeight(0, 100, 10, 17), 17);
    EXPECT_FLOAT_EQ(EstimatedHeight(10, 100, 10, 17), 17);
    EXPECT_FLOAT_EQ(EstimatedHeight(11, 100, 10, 17), 34);
    EXPECT_FLOAT_EQ(EstimatedHeight(5, 5, 10, 17), 5 * 17); // narrower than a character
}

TEST(Scroll, MovesClampAndFollowTheEndWithinOnePixel)
{
    Scroll scroll{.position = 100, .content = 500.5f, .viewport = 400, .follow = true};
    EXPECT_TRUE(scroll.BarShown());
    EXPECT_TRUE(scroll.MoveTo(10));
    EXPECT_FALSE(scroll.follow);
    EXPECT_FALSE(scroll.MoveTo(10));
    EXPECT_TRUE(scroll.MoveTo(99.6f));
    EXPECT_TRUE(scroll.follow);
    EXPECT_TRUE(scroll.MoveTo(1e6f));
    EXPECT_FLOAT_EQ(scroll.position, 100.5f);
    EXPECT_TRUE(scroll.MoveTo(-5));
    EXPECT_EQ(scroll.position, 0.0f);

    Scroll half{.content = 400.5f, .viewport = 400};
    EXPECT_FALSE(half.BarShown());
}

TEST(Scroll, TheThumbKeepsItsMinimumAndRunsTheWholeTrack)
{
    Scroll scroll{.position = 0, .content = 10000, .viewport = 100};
    Thumb top = ThumbOf(scroll, 3, 94, 24);
    EXPECT_EQ(top.length, 24.0f);
    EXPECT_EQ(top.top, 3.0f);
    scroll.position = scroll.Range();
    Thumb bottom = ThumbOf(scroll, 3, 94, 24);
    EXPECT_FLOAT_EQ(bottom.top + bottom.length, 97.0f);
    EXPECT_EQ(WheelLines(-1), 10);
    EXPECT_EQ(WheelLines(0), 1);
    EXPECT_EQ(WheelLines(3), 3);
}

} // namespace
} // namespace Pd::Ui
