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
    constexpr std::optional<RECT> icon = RECT{100, 500, 116, 516}, hidden;
    constexpr POINT on{105, 505}, off{600, 300}, edge{116 + IconSlack - 1, 505}, none{-1, -1};
    constexpr UINT id = TrayIconId;
    struct Case
    {
        const char* name;
        UINT id;
        DWORD age;
        std::optional<RECT> area;
        bool shellHasAreas;
        POINT cursor, anchor;
        bool overTray, trayFront;
        POINT expected; // none: nothing opens
    };
    const Case cases[] = {
        {"a click on the icon", id, 10, icon, true, on, on, false, false, on},
        {"input just at the limit", id, RecentInputMs, icon, true, on, on, false, false, on},
        {"no input for a while", id, RecentInputMs + 1, icon, true, on, on, true, true, none},
        {"another icon's id", 2, 10, icon, true, on, on, true, true, none},
        {"moved a little off", id, 10, icon, true, edge, on, false, false, edge},
        {"cursor and anchor elsewhere", id, 10, icon, true, off, off, true, false, none},
        {"cursor elsewhere, anchor on the icon", id, 10, icon, true, off, on, true, false, none},
        {"a key in the notification area", id, 10, icon, true, off, on, false, true, on},
        {"the tray in front, anchor off the icon", id, 10, icon, true, off, off, true, true, none},
        {"icon out of sight, cursor over the tray", id, 10, hidden, true, on, on, true, true, none},
        {"no icon areas, cursor over the tray", id, 10, hidden, false, on, on, true, false, on},
        {"no icon areas, cursor elsewhere", id, 10, hidden, false, off, on, false, true, none},
        {"no icon areas, no input for a while", id, MAXDWORD, hidden, false, on, on, true, true, none},
    };
    for (const Case& c : cases)
    {
        const auto point = UserEventPoint(
            {c.id, c.anchor, c.cursor, c.area, c.shellHasAreas, c.overTray, c.trayFront, c.age});
        EXPECT_EQ(point ? std::pair(point->x, point->y) : std::pair(none.x, none.y),
                  std::pair(c.expected.x, c.expected.y))
            << c.name;
    }
}

} // namespace
} // namespace Pd::Host
