#include "host/tray/IconInput.h"

namespace Pd::Host
{
namespace
{

bool Within(const RECT& area, POINT point, LONG slack)
{
    return point.x >= area.left - slack && point.x < area.right + slack && point.y >= area.top - slack &&
           point.y < area.bottom + slack;
}

} // namespace

std::optional<POINT> UserEventPoint(const IconEventFacts& facts)
{
    if (facts.iconId != TrayIconId || facts.inputAgeMs > RecentInputMs)
        return std::nullopt;
    if (facts.iconArea)
    {
        if (Within(*facts.iconArea, facts.cursor, IconSlack))
            return facts.cursor;
        // From the keyboard the shell anchors the event at the icon, and it holds the focus.
        if (facts.trayForeground && Within(*facts.iconArea, facts.anchor, IconSlack))
            return facts.anchor;
        return std::nullopt;
    }
    // A shell that cannot say where its icons are (Wine's): the pointer must be over its window.
    // One that can but did not (the icon is out of sight) had no click on it.
    if (!facts.shellKnowsIconAreas && facts.cursorOverTray)
        return facts.cursor;
    return std::nullopt;
}

} // namespace Pd::Host
