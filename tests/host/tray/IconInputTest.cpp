// Which icon events count as the user's own input at the icon: a table of what the tray window
// sees when the message arrives. Under Wine only the cases of a shell without icon areas occur
// (tools/tray-check.py drives them with a posted message and a real click); the icon-area and
// keyboard cases are Windows' and are shown here only.
#include "host/tray/IconInput.h"

#include <gtest/gtest.h>

#include <optional>
#include <vector>

namespace Pd::Host
{
namespace
{

struct EventCase
{
    const char* name;
    IconEventFacts facts;
    std::optional<POINT> point;
};

TEST(IconInput, OnlyRecentInputAtTheIconOpensWhatTheEventAsks)
{
    constexpr RECT icon{100, 500, 116, 516};
    const IconEventFacts click{
        .iconId = TrayIconId, .anchor = {105, 505}, .cursor = {105, 505}, .iconArea = icon, .inputAgeMs = 10};
    const auto with = [&](auto change) {
        IconEventFacts facts = click;
        change(facts);
        return facts;
    };
    const std::vector<EventCase> cases{
        {"a click on the icon", click, POINT{105, 505}},
        {"input just at the limit", with([](auto& f) { f.inputAgeMs = RecentInputMs; }), POINT{105, 505}},
        {"no input for a while", with([](auto& f) { f.inputAgeMs = RecentInputMs + 1; }), std::nullopt},
        {"another icon's id", with([](auto& f) { f.iconId = 2; }), std::nullopt},
        {"moved a little off", with([](auto& f) {
             f.cursor = {116 + CursorSlack - 1, 505};
         }),
         POINT{116 + CursorSlack - 1, 505}},
        {"cursor elsewhere, anchor there too", with([](auto& f) {
             f.cursor = f.anchor = {600, 300};
         }),
         std::nullopt},
        {"cursor elsewhere, anchor on the icon", with([](auto& f) {
             f.cursor = {600, 300};
         }),
         std::nullopt},
        {"a key in the notification area", with([](auto& f) {
             f.cursor = {600, 300};
             f.trayForeground = true;
         }),
         POINT{105, 505}},
        {"the tray in front, anchor off the icon", with([](auto& f) {
             f.cursor = f.anchor = {600, 300};
             f.trayForeground = true;
         }),
         std::nullopt},
        {"icon out of sight, cursor over the tray", with([](auto& f) {
             f.iconArea.reset();
             f.cursorOverTray = f.trayForeground = true;
         }),
         std::nullopt},
        {"no icon areas, cursor over the tray", with([](auto& f) {
             f.iconArea.reset();
             f.shellKnowsIconAreas = false;
             f.cursorOverTray = true;
         }),
         POINT{105, 505}},
        {"no icon areas, cursor elsewhere", with([](auto& f) {
             f.iconArea.reset();
             f.shellKnowsIconAreas = false;
             f.trayForeground = true;
         }),
         std::nullopt},
        {"no icon areas, old input", with([](auto& f) {
             f.iconArea.reset();
             f.shellKnowsIconAreas = false;
             f.cursorOverTray = true;
             f.inputAgeMs = MAXDWORD;
         }),
         std::nullopt},
    };
    for (const EventCase& c : cases)
    {
        const std::optional<POINT> point = UserEventPoint(c.facts);
        ASSERT_EQ(point.has_value(), c.point.has_value()) << c.name;
        if (point)
        {
            EXPECT_EQ(point->x, c.point->x) << c.name;
            EXPECT_EQ(point->y, c.point->y) << c.name;
        }
    }
}

} // namespace
} // namespace Pd::Host
