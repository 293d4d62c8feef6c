// Which icon events count as the user's own input at the icon: a table of the presses and keys the
// low-level hooks saw and of what the tray window sees when the message arrives. Under Wine only a
// shell without icon areas occurs (tools/tray-check.py forges the event from another process and
// clicks for real); the icon-area and keyboard cases are Windows' and are shown here only.
#include "host/tray/IconInput.h"
#include "host/tray/InputWatch.h"
#include "tests/support/HangLimit.h"

#include <gtest/gtest.h>

#include <shellapi.h>

namespace Pd::Host
{
namespace
{

constexpr DWORD Now = 50000;

// A press made of one down and one up, the up `age` ms before the event; each half injected or not.
ObservedPress Press(POINT down, POINT up, DWORD age, bool injectedDown = false, bool injectedUp = false,
                    MouseButton downButton = MouseButton::Right, MouseButton upButton = MouseButton::Right)
{
    const ObservedPress held = NextPress({}, {downButton, true, down, injectedDown, Now - age - 80}, 7);
    return NextPress(held, {upButton, false, up, injectedUp, Now - age}, 8);
}

TEST(IconInput, OnlyRecentInputAtTheIconOpensWhatTheEventAsks)
{
    constexpr std::optional<RECT> icon = RECT{100, 500, 116, 516}, hidden;
    constexpr POINT on{105, 505}, off{600, 300}, edge{116 + IconSlack - 1, 505}, none{-1, -1};
    constexpr ObservedKey enter{false, Now - 10, 9};
    constexpr UINT menu = WM_CONTEXTMENU, select = NIN_SELECT, keyed = NIN_KEYSELECT, move = WM_MOUSEMOVE;
    constexpr MouseButton left = MouseButton::Left, right = MouseButton::Right;
    const ObservedPress click = Press(on, on, 10);
    struct Case
    {
        const char* name;
        ObservedPress press;
        POINT expected;              // none: nothing opens
        UINT event = WM_CONTEXTMENU; // a right click, or the menu key
        ObservedKey key{};
        std::optional<RECT> area = icon;
        bool shellHasAreas = true, overTray = true, trayFront = false;
        POINT anchor = on;
        UINT id = TrayIconId;
        std::uint64_t used = 0;
    };
    const Case cases[] = {
        {"a genuine click on the icon", click, on},
        {"a left click selects it", Press(on, on, 10, false, false, left, left), on, select},
        {"opened where the button went up", Press(on, edge, 10), edge},
        {"a click just at the limit", Press(on, on, RecentInputMs), on},
        {"a click too old", Press(on, on, RecentInputMs + 1), none},
        {"an injected click", Press(on, on, 10, true, true), none, menu, {}, icon, true, true, true},
        {"injected down, genuine up", Press(on, on, 10, true, false), none},
        {"genuine down, injected up", Press(on, on, 10, false, true), none},
        {"a window over the icon took it", click, none, menu, {}, icon, true, false, true},
        {"a click outside the icon", Press(off, off, 10), none, menu, {}, icon, true, true, true},
        {"dragged off the icon", Press(on, off, 10), none},
        {"dragged onto the icon", Press(off, on, 10), none},
        {"down without up", NextPress({}, {right, true, on, false, Now - 10}, 7), none},
        {"up without down", NextPress({}, {right, false, on, false, Now - 10}, 7), none},
        {"down and up of different buttons", Press(on, on, 10, false, false, right, left), none},
        {"the forged callback alone", {}, none, menu, {}, icon, true, true, true},
        {"a click an earlier event used", click, none, menu, {}, icon, true, true, false, on, TrayIconId, 7},
        {"another icon's id", click, none, menu, {}, icon, true, true, false, on, 2},
        {"an event that opens nothing", click, none, move},
        {"icon out of sight", click, none, menu, {}, hidden, true, true, true},
        {"no icon areas, a click on the tray", click, on, menu, {}, hidden, false, true},
        {"no icon areas, a click elsewhere", click, none, menu, {}, hidden, false, false, true},
        {"no areas, injected", Press(on, on, 10, true, true), none, menu, {}, hidden, false, true},
        {"no areas, a click too old", Press(on, on, RecentInputMs + 1), none, menu, {}, hidden, false, true},
        {"Enter on the focused icon", {}, on, keyed, enter, icon, true, false, true},
        {"the menu key on the focused icon", Press(on, on, 5000), on, menu, enter, icon, true, false, true},
        {"an injected key", {}, none, keyed, {true, Now - 10, 9}, icon, true, false, true},
        {"a key too old", {}, none, keyed, {false, Now - RecentInputMs - 1, 9}, icon, true, false, true},
        {"a key used before", {}, none, keyed, enter, icon, true, false, true, on, TrayIconId, 9},
        {"a key, the tray not in front", {}, none, keyed, enter, icon, true, true, false},
        {"a key, anchored off the icon", {}, none, keyed, enter, icon, true, false, true, off},
        {"a key, no icon areas", {}, none, keyed, enter, hidden, false, true, true},
        {"a key does not select by mouse", {}, none, select, enter, icon, true, false, true},
    };
    for (const Case& c : cases)
    {
        const auto input = UserEventInput({c.event, c.id, c.anchor, Now, c.press, c.key, c.used, c.area,
                                           c.shellHasAreas, c.overTray, c.trayFront});
        EXPECT_EQ(input ? std::pair(input->at.x, input->at.y) : std::pair(none.x, none.y),
                  std::pair(c.expected.x, c.expected.y))
            << c.name;
        if (input)
        {
            EXPECT_EQ(input->serial, c.key.serial ? c.key.serial : 7u) << c.name;
        }
    }
}

// The hooks themselves: another program's click and key (SendInput) are seen, at their point,
// and marked injected, under Wine as on Windows; a real press is shown by tools/tray-check.py.
TEST(InputWatch, SeesSendInputsClickAndKeyAsInjected)
{
    InputWatch watch;
    ASSERT_TRUE(watch.Watching());
    ASSERT_TRUE(::SetCursorPos(40, 30));
    INPUT input[4]{};
    input[0].type = input[1].type = INPUT_MOUSE;
    input[0].mi.dwFlags = MOUSEEVENTF_RIGHTDOWN;
    input[1].mi.dwFlags = MOUSEEVENTF_RIGHTUP;
    input[2].type = input[3].type = INPUT_KEYBOARD;
    input[2].ki.wVk = input[3].ki.wVk = VK_F10;
    input[3].ki.dwFlags = KEYEVENTF_KEYUP;
    ASSERT_EQ(::SendInput(4, input, sizeof(INPUT)), 4u);
    ASSERT_TRUE(Pd::Test::PollUntil([&] { return watch.Latest().key.serial != 0; }));
    const ObservedInput seen = watch.Latest();
    EXPECT_TRUE(seen.press.downSeen && seen.press.upSeen && seen.press.injected);
    EXPECT_EQ(std::pair(seen.press.up.x, seen.press.up.y), std::pair(40L, 30L));
    EXPECT_TRUE(seen.key.injected);
    EXPECT_GT(seen.key.serial, seen.press.serial);
}

} // namespace
} // namespace Pd::Host
