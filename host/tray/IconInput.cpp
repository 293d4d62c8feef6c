#include "host/tray/IconInput.h"

#include <shellapi.h>

namespace Pd::Host
{
namespace
{

bool Within(const RECT& area, POINT point, LONG slack)
{
    return point.x >= area.left - slack && point.x < area.right + slack && point.y >= area.top - slack &&
           point.y < area.bottom + slack;
}

// Unsigned, so that the tick count's wrap after 49 days does not matter; a time after now (which
// the clock never gives) counts as very old.
bool Recent(DWORD now, DWORD tick)
{
    return now - tick <= RecentInputMs;
}

bool Fresh(std::uint64_t serial, std::uint64_t usedSerial)
{
    return serial != 0 && serial > usedSerial;
}

std::optional<IconEventInput> FromPress(const IconEventFacts& facts)
{
    const ObservedPress& press = facts.press;
    if (!Fresh(press.serial, facts.usedSerial) || !press.downSeen || !press.upSeen || press.injected ||
        !Recent(facts.now, press.upTick))
        return std::nullopt;
    // The press must have reached the shell: a window of another program's over the icon takes
    // the click itself, and its program could post the event.
    if (!facts.pressOverTray)
        return std::nullopt;
    if (facts.iconArea)
    {
        if (Within(*facts.iconArea, press.down, IconSlack) && Within(*facts.iconArea, press.up, IconSlack))
            return IconEventInput{press.up, press.serial};
        return std::nullopt;
    }
    // A shell that cannot say where its icons are (Wine's) has its windows to go by; one that can
    // but did not (the icon is out of sight) had no click on it.
    if (!facts.shellKnowsIconAreas)
        return IconEventInput{press.up, press.serial};
    return std::nullopt;
}

std::optional<IconEventInput> FromKey(const IconEventFacts& facts)
{
    // From the keyboard the shell anchors the event at the icon, and it holds the focus; only a
    // shell that says where the icon is can be checked.
    const ObservedKey& key = facts.key;
    if (!Fresh(key.serial, facts.usedSerial) || key.injected || !Recent(facts.now, key.tick) ||
        !facts.iconArea || !facts.trayForeground || !Within(*facts.iconArea, facts.anchor, IconSlack))
        return std::nullopt;
    return IconEventInput{facts.anchor, key.serial};
}

} // namespace

ObservedPress NextPress(const ObservedPress& last, const ButtonEvent& event, std::uint64_t serial)
{
    if (event.down)
        return {event.button, event.point, {}, true, false, event.injected, 0, serial};
    if (last.downSeen && !last.upSeen && last.button == event.button)
    {
        ObservedPress completed = last;
        completed.up = event.point;
        completed.upSeen = true;
        completed.injected = last.injected || event.injected;
        completed.upTick = event.tick;
        return completed;
    }
    return {event.button, {}, event.point, false, true, event.injected, event.tick, serial};
}

bool IsIconActivationKey(DWORD virtualKey)
{
    return virtualKey == VK_RETURN || virtualKey == VK_SPACE || virtualKey == VK_APPS || virtualKey == VK_F10;
}

std::optional<IconEventInput> UserEventInput(const IconEventFacts& facts)
{
    if (facts.iconId != TrayIconId)
        return std::nullopt;
    switch (facts.event)
    {
    case NIN_SELECT:
    case WM_LBUTTONDBLCLK:
        return FromPress(facts);
    case NIN_KEYSELECT:
        return FromKey(facts);
    case WM_CONTEXTMENU: // a right click, or the menu key on the focused icon
        if (auto input = FromPress(facts))
            return input;
        return FromKey(facts);
    default:
        return std::nullopt;
    }
}

} // namespace Pd::Host
