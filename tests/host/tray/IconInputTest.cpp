// Which icon events count as the user's own input at the icon: a table of what the tray window
// sees when the message arrives. Under Wine only a shell without icon areas occurs
// (tools/tray-check.py posts the event from another process and clicks for real); the icon-area
// and keyboard cases are Windows' and are shown here only.
#include "host/tray/IconInput.h"

#include <gtest/gtest.h>

namespace Pd::Host
{
namespace
{

TEST(IconInput, OnlyRecentInputAtTheIconOpensWhatTheEventAsks)
{
    constexpr RECT icon{100, 500, 116, 516};
    constexpr POINT on{105, 505}, off{600, 300}, edge{116 + CursorSlack - 1, 505}, none{-1, -1};
    enum Area
    {
        Known,
        Hidden,
        NoAreas
    };
    struct Case
    {
        const char* name;
        UINT id;
        DWORD age;
        Area area;
        POINT cursor, anchor;
        bool overTray, trayFront;
        POINT expected; // none: nothing opens
    };
    const Case cases[] = {
        {"a click on the icon", TrayIconId, 10, Known, on, on, false, false, on},
        {"input just at the limit", TrayIconId, RecentInputMs, Known, on, on, false, false, on},
        {"no input for a while", TrayIconId, RecentInputMs + 1, Known, on, on, true, true, none},
        {"another icon's id", 2, 10, Known, on, on, true, true, none},
        {"moved a little off", TrayIconId, 10, Known, edge, on, false, false, edge},
        {"cursor and anchor elsewhere", TrayIconId, 10, Known, off, off, true, false, none},
        {"cursor elsewhere, anchor on the icon", TrayIconId, 10, Known, off, on, true, false, none},
        {"a key in the notification area", TrayIconId, 10, Known, off, on, false, true, on},
        {"the tray in front, anchor off the icon", TrayIconId, 10, Known, off, off, true, true, none},
        {"icon out of sight, cursor over the tray", TrayIconId, 10, Hidden, on, on, true, true, none},
        {"no icon areas, cursor over the tray", TrayIconId, 10, NoAreas, on, on, true, false, on},
        {"no icon areas, cursor elsewhere", TrayIconId, 10, NoAreas, off, on, false, true, none},
        {"no icon areas, no input for a while", TrayIconId, MAXDWORD, NoAreas, on, on, true, true, none},
    };
    for (const Case& c : cases)
    {
        IconEventFacts facts{c.id, c.anchor, c.cursor, {}, c.area != NoAreas, c.overTray, c.trayFront, c.age};
        if (c.area == Known)
            facts.iconArea = icon;
        const std::optional<POINT> point = UserEventPoint(facts);
        EXPECT_EQ(point ? std::pair(point->x, point->y) : std::pair(none.x, none.y),
                  std::pair(c.expected.x, c.expected.y))
            << c.name;
    }
}

} // namespace
} // namespace Pd::Host
