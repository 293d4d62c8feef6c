// The tooltip, the menu table and the badge, built from a given state.
#include "host/tray/TrayStatus.h"
#include "host/tray/TrayBadge.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <ranges>
#include <vector>

namespace Pd::Host
{
namespace
{

std::vector<std::wstring> Lines(const std::wstring& text)
{
    std::vector<std::wstring> lines;
    for (auto part : text | std::views::split(L'\n'))
        lines.emplace_back(part.begin(), part.end());
    return lines;
}

TEST(TrayTooltip, ShowsUpdatesAndStateLinesAndIsCutAtTheShellsLimit)
{
    TrayStatus idle;
    idle.bluetoothOn = true; // no connected event: waiting
    EXPECT_EQ(Lines(TrayTooltip(idle)),
              (std::vector<std::wstring>{L"Peldra", L"Android: not running",
                                         L"Bluetooth: waiting for Android", L"Root: off"}));

    TrayStatus both{
        .androidRunning = true, .elevationOn = true, .appUpdate = L"2.1", .releaseUpdate = L"14.2"};
    EXPECT_EQ(Lines(TrayTooltip(both)),
              (std::vector<std::wstring>{L"Peldra", L"Peldra 2.1 is available",
                                         L"Android release 14.2 is available", L"Android: running",
                                         L"Bluetooth: off", L"Root: on (Windows Hello)"}));

    TrayStatus longVersion{.appUpdate = std::wstring(200, L'9'), .releaseUpdate = {}};
    const std::wstring cut = TrayTooltip(longVersion);
    EXPECT_EQ(cut.size(), 127u);
    EXPECT_TRUE(cut.starts_with(L"Peldra\nPeldra 999"));
}

std::vector<std::uint16_t> Ids(const std::vector<TrayMenuItem>& items)
{
    std::vector<std::uint16_t> ids;
    for (const TrayMenuItem& item : items)
        ids.push_back(item.id);
    return ids;
}

const TrayMenuItem& Item(const std::vector<TrayMenuItem>& items, std::uint16_t id)
{
    return *std::ranges::find(items, id, &TrayMenuItem::id);
}

TEST(TrayMenu, ItemsFollowTheState)
{
    const auto plain = TrayMenuItems(TrayStatus{});
    EXPECT_EQ(Ids(plain), (std::vector<std::uint16_t>{1, 3, 0, 5, 6, 7, 0, 8, 9, 0, 10, 11}));
    EXPECT_TRUE(Item(plain, 7).greyed); // su needs root
    EXPECT_TRUE(Item(plain, 8).greyed); // no VM to stop
    EXPECT_FALSE(Item(plain, 5).checked);

    TrayStatus busy{.androidRunning = true,
                    .bluetoothOn = true,
                    .elevationOn = true,
                    .elevationSuOn = true,
                    .registrationWaiting = true,
                    .appUpdate = L"2.1",
                    .releaseUpdate = L"14.2"};
    const auto full = TrayMenuItems(busy);
    EXPECT_EQ(Ids(full), (std::vector<std::uint16_t>{1, 2, 2, 0, 3, 4, 0, 5, 6, 7, 0, 8, 9, 0, 10, 11}));
    EXPECT_EQ(full[1].text, L"Peldra 2.1 is available\u2026");
    EXPECT_EQ(full[2].text, L"Android release 14.2 is available\u2026");
    for (std::uint16_t id : {5, 6, 7})
        EXPECT_TRUE(Item(full, id).checked) << id;
    EXPECT_FALSE(Item(full, 7).greyed);
    EXPECT_FALSE(Item(full, 8).greyed);
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
