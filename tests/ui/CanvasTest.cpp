#include "ui/Canvas.h"

#include <gtest/gtest.h>

#include <set>

namespace Pd::Ui
{
namespace
{

TEST(Canvas, TheBackBufferGrowsInStepsOf256AndNeverShrinks)
{
    auto& graphics = Graphics::Get();
    struct Row
    {
        int width, height, expectWidth, expectHeight;
    } rows[] = {{300, 10, 512, 256}, {200, 200, 512, 256}, {600, 100, 768, 256}, {0, 0, 768, 256}};
    for (const auto& row : rows)
    {
        ASSERT_NE(graphics.BackBuffer(row.width, row.height), nullptr);
        EXPECT_EQ(graphics.width, row.expectWidth) << row.width << "x" << row.height;
        EXPECT_EQ(graphics.height, row.expectHeight) << row.width << "x" << row.height;
    }
}

TEST(Canvas, FontsScaleWithDpiAndFallBackToFamiliesThatExist)
{
    Fonts fonts;
    Fonts::Create(fonts, 0);
    EXPECT_EQ(fonts.dpi, 96);
    Fonts::Create(fonts, 144);
    EXPECT_FLOAT_EQ(fonts.sizes[0], 19.5f);
    EXPECT_FLOAT_EQ(fonts.sizes[7], 28.5f);
    for (const auto& format : fonts.formats)
        EXPECT_TRUE(format);
    // Whatever family was chosen is present, so text is drawn and measures are not zero.
    EXPECT_TRUE(Graphics::Get().HasFontFamily(fonts.uiFamily)) << fonts.uiFamily;
    EXPECT_GT(MeasureText(fonts, 0, L"Install"), 10.0f);
    EXPECT_GT(MeasureTextWrapped(fonts, 4, L"a long line that wraps at a narrow width", 60),
              MeasureTextWrapped(fonts, 4, L"a", 60));

    std::set<std::wstring> present{L"DejaVu Sans"};
    auto has = [&](const wchar_t* family) { return present.contains(family); };
    EXPECT_STREQ(FirstPresentFamily({L"Segoe UI", L"DejaVu Sans", L"Arial"}, has), L"DejaVu Sans");
    EXPECT_STREQ(FirstPresentFamily({L"Segoe UI", L"Arial"}, has), L"Arial");
}

// Painting itself needs a Direct2D render target, which Wine's null graphics driver cannot make:
// the window check under Xvfb looks at the pixels.

TEST(Canvas, OnlyWhatReachesIntoThePaintedAreaIsDrawn)
{
    const D2D1_RECT_F area = RectF(10, 20, 110, 40);
    struct Row
    {
        D2D1_RECT_F rect;
        bool drawn;
    } rows[] = {
        {RectF(0, 0, 200, 300), true},    // around it
        {RectF(50, 25, 60, 30), true},    // inside
        {RectF(0, 30, 11, 35), true},     // one pixel in from the left
        {RectF(0, 30, 10, 35), false},    // touching the left edge only
        {RectF(110, 30, 150, 35), false}, // starting at the right edge
        {RectF(20, 0, 30, 20), false},    // ending at the top
        {RectF(20, 40, 30, 60), false},   // starting at the bottom
        {RectF(20, 39.5f, 30, 60), true},
    };
    for (const auto& row : rows)
        EXPECT_EQ(Overlaps(area, row.rect), row.drawn)
            << row.rect.left << "," << row.rect.top << " " << row.rect.right << "," << row.rect.bottom;
}

TEST(Canvas, ColoursRoundToTheNearestByte)
{
    EXPECT_EQ(ColorRefFromRgba(Rgba(0.1255f, 0.1255f, 0.1255f, 1)), RGB(32, 32, 32));
    EXPECT_EQ(ColorRefFromRgba(Rgba(0.1725f, 0.1725f, 0.1725f, 0)), RGB(44, 44, 44));
    EXPECT_EQ(ColorRefFromRgba(Rgba(2, -1, 0.5f, 1)), RGB(255, 0, 128));
}

} // namespace
} // namespace Pd::Ui
