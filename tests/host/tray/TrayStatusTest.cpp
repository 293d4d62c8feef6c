// The tooltip, the menu table and the badge, built from a given state.
#include "host/tray/TrayStatus.h"
#include "host/tray/TrayBadge.h"

#include <gtest/gtest.h>

#include <vector>

namespace Pd::Host
{
namespace
{

TEST(TrayTooltip, ShowsUpdatesAndStateLinesAndIsCutAtTheShellsLimit)
{
    TrayStatus idle;
    idle.bluetoothOn = true; // no connected event: waiting
    EXPECT_EQ(TrayTooltip(idle), L"Peldra\nAndroid: not running\nBluetooth: waiting for Android\nRoot: off");

    TrayStatus both{
        .androidRunning = true, .elevationOn = true, .appUpdate = L"2.1", .releaseUpdate = L"14.2"};
    EXPECT_EQ(TrayTooltip(both), L"Peldra\nPeldra 2.1 is available\nAndroid release 14.2 is available\n"
                                 L"Android: running\nBluetooth: off\nRoot: on (Windows Hello)");

    TrayStatus longVersion{.appUpdate = std::wstring(200, L'9'), .releaseUpdate = {}};
    const std::wstring cut = TrayTooltip(longVersion);
    EXPECT_EQ(cut.size(), 127u);
    EXPECT_TRUE(cut.starts_with(L"Peldra\nPeldra 999"));
}

// The menu in short: each item's id with "c" when checked and "g" when greyed, "-" a separator.
std::string Shape(const std::vector<TrayMenuItem>& items)
{
    std::string shape;
    for (const TrayMenuItem& item : items)
        shape += (item.id == 0 ? std::string("-") : std::to_string(item.id)) + (item.checked ? "c" : "") +
                 (item.greyed ? "g" : "") + " ";
    return shape;
}

TEST(TrayMenu, ItemsFollowTheState)
{
    EXPECT_EQ(Shape(TrayMenuItems(TrayStatus{})), "1 3 - 5 6 7g - 8g 9 - 10 11 ");

    TrayStatus busy;
    busy.androidRunning = busy.bluetoothOn = busy.elevationOn = busy.elevationSuOn =
        busy.registrationWaiting = true;
    busy.appUpdate = L"2.1";
    busy.releaseUpdate = L"14.2";
    const auto full = TrayMenuItems(busy);
    EXPECT_EQ(Shape(full), "1 2 2 - 3 4 - 5c 6c 7c - 8 9 - 10 11 ");
    EXPECT_EQ(full[1].text, L"Peldra 2.1 is available\u2026");
    EXPECT_EQ(full[2].text, L"Android release 14.2 is available\u2026");
    EXPECT_EQ(full.back().text, L"Stop the background services");
}

TEST(TrayBadge, DiscInTheCornerWithTheIconCutAwayAroundIt)
{
    constexpr int size = 32;
    std::vector<std::uint32_t> pixels(size * size, 0xFF204080); // opaque icon
    DrawUpdateBadge(pixels, size, size);
    auto at = [&](int x, int y) { return pixels[y * size + x]; };
    EXPECT_EQ(at(0, 0), 0xFF204080u);            // far from the badge
    EXPECT_EQ(at(25, 25), 0xFFF7630Cu);          // inside the disc: opaque orange
    EXPECT_EQ(at(17, 25) >> 24, 0u);             // in the ring: cut away
    EXPECT_EQ(at(31, 25) & 0xFFFFFF, 0xF7630Cu); // the disc reaches the right edge
}

} // namespace
} // namespace Pd::Host
