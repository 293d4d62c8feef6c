#include "ui/Dialog.h"
#include "ui/MainLayout.h"
#include "ui/MenuBar.h"
#include "ui/WindowPlacement.h"

#include <gtest/gtest.h>

namespace Pd::Ui
{
namespace
{

TEST(DialogLayout, ButtonsRunFromTheRightAndFieldsMakeRoomForBrowse)
{
    auto layout = LayOutDialog(460, 40, {true, false}, false, 3);
    ASSERT_EQ(layout.buttons.size(), 3u);
    EXPECT_EQ(layout.buttons[2].right, 436);                // Cancel at the right margin
    EXPECT_EQ(layout.buttons[1].right, 436 - 132);          // OK one button and gap to its left
    EXPECT_EQ(layout.buttons[0].left, 436 - 3 * 124 - 16);  // the third button leftmost
    EXPECT_EQ(layout.fields[0].frame.right, 460 - 24 - 42); // room for the browse button
    EXPECT_EQ(layout.fields[0].browse.left, 460 - 24 - 36);
    EXPECT_EQ(layout.fields[1].frame.right, 436);
    // title 60, message 40 + 16, two fields of 66, error 24, bar 72
    EXPECT_EQ(layout.height, 60 + 56 + 2 * 66 + 24 + 72);
    EXPECT_EQ(LayOutDialog(460, 0, {}, true, 1).details.bottom, 60 + 380);
}

TEST(MainLayout, CaptionsLogAndCardsFollowTheClientSize)
{
    MainLayoutInput in{
        .right = 720, .height = 804, .buttonWidth = 120, .logVisible = true, .captionWidths = {30, 50}};
    auto layout = LayOutMainWindow(in);
    ASSERT_EQ(layout.captions.size(), 2u);
    EXPECT_EQ(layout.captions[0].left, 6);
    EXPECT_EQ(layout.captions[0].right, 56);
    EXPECT_EQ(layout.captions[1].left, 58);
    // Log height min(0.4 x 804, 180) = 180: the button sits above it.
    EXPECT_EQ(layout.logButton.top, 804 - 12 - 180 - 28 - 4);
    EXPECT_EQ(layout.logPane.bottom, 804 - 12 - 4);
    EXPECT_EQ(layout.install.right, 720 - 26);
    EXPECT_EQ(layout.cancel.left, 720 - 26 - 360 - 16);
    in.logVisible = false;
    EXPECT_EQ(LayOutMainWindow(in).logButton.top, 804 - 12 - 28);
    EXPECT_EQ(MinimumClientHeight(0, false), 624);
    EXPECT_EQ(MinimumClientHeight(3, true), 804);
    EXPECT_EQ(MinimumClientHeight(10, false), 630); // 24 x 10 + 58 outgrows 292
}

TEST(MenuBar, CaptionsHitTestsAndWrapping)
{
    EXPECT_EQ(ParseMenuCaption(L"&File").text, L"File");
    EXPECT_EQ(ParseMenuCaption(L"&File").mnemonic, L'f');
    EXPECT_EQ(ParseMenuCaption(L"Vi&EW").mnemonic, L'e');
    EXPECT_EQ(ParseMenuCaption(L"Help").mnemonic, 0);
    EXPECT_EQ(ParseMenuCaption(L"Help&").text, L"Help&");
    std::vector<D2D1_RECT_F> captions{{6, 4, 50, 32}, {52, 4, 90, 32}};
    EXPECT_EQ(HitCaption(captions, 6, 4), 0);
    EXPECT_EQ(HitCaption(captions, 50, 10), -1); // right edge is outside
    EXPECT_EQ(HitCaption(captions, 52, 31.9f), 1);
    EXPECT_EQ(HitCaption(captions, 60, 32), -1);
    EXPECT_EQ(NextMenu(5, 6, true), 0);
    EXPECT_EQ(NextMenu(0, 6, false), 5);
}

TEST(WindowPlacement, StoredTextNeedsFourNumbersAndARealSize)
{
    struct Row
    {
        const wchar_t* text;
        bool valid;
    } rows[] = {{L"10 20 640 720", true},      {L"-3000 -40 640 720", true}, {L"10 20 640", false},
                {L"10 20 200 720", false},     {L"x 20 640 720", false},     {L"", false},
                {L"10 20 640 99999999", false}};
    for (const auto& row : rows)
        EXPECT_EQ(ParseWindowRect(row.text).has_value(), row.valid) << row.text;
    RECT rect = *ParseWindowRect(L"-3000 -40 640 720");
    EXPECT_EQ(FormatWindowRect(rect), L"-3000 -40 640 720");
    EXPECT_EQ(rect.right, -2360);
}

TEST(WindowPlacement, FitMovesAndShrinksOntoTheWorkArea)
{
    RECT work{0, 0, 1024, 738};
    struct Row
    {
        RECT in, out;
    } rows[] = {
        {{-3000, -40, -2360, 680}, {0, 0, 640, 720}},    // far left and above
        {{5000, 900, 5640, 1620}, {384, 18, 1024, 738}}, // far right and below
        {{100, 10, 740, 730}, {100, 10, 740, 730}},      // already inside
        {{100, 10, 2100, 1010}, {0, 0, 1024, 738}},      // larger than the work area
    };
    for (const auto& row : rows)
    {
        RECT fitted = FitOntoWorkArea(row.in, work);
        EXPECT_TRUE(EqualRect(&fitted, &row.out))
            << fitted.left << "," << fitted.top << "," << fitted.right << "," << fitted.bottom;
    }
}

TEST(DialogFields, TrimmingTakesBlanksTabsAndQuotesAround)
{
    EXPECT_EQ(TrimFieldValue(L"  \"C:\\Program Files\\Tovik\\x.json\"\t "),
              L"C:\\Program Files\\Tovik\\x.json");
    EXPECT_EQ(TrimFieldValue(L" \" \t\""), L"");
    EXPECT_EQ(TrimFieldValue(L"a \"b\" c"), L"a \"b\" c");
}

} // namespace
} // namespace Pd::Ui
