// The orange update badge drawn onto the icon while an update is waiting.
#pragma once

#include <windows.h>

#include <cstdint>
#include <span>

namespace Pd::Host
{

// Draws the badge into top-down 32-bit pixels (0xAARRGGBB, colours not premultiplied): a disc
// touching the right and bottom edges, with the icon cut away in a ring around it.
void DrawUpdateBadge(std::span<std::uint32_t> pixels, int width, int height);

// A new icon: the plain icon with the badge; null when the icon has no 32-bit colour bitmap or
// its pixels cannot be read.
HICON ComposeBadgedIcon(HICON plain);

} // namespace Pd::Host
