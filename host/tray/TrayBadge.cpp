#include "host/tray/TrayBadge.h"

#include "core/Handles.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

namespace Pd::Host
{
namespace
{

using UniqueBitmap = Unique<HBITMAP, &::DeleteObject>;

struct ScreenDc
{
    HDC dc = ::GetDC(nullptr);
    ~ScreenDc()
    {
        if (dc != nullptr)
            ::ReleaseDC(nullptr, dc);
    }
};

std::uint32_t Channel(std::uint32_t pixel, int shift)
{
    return (pixel >> shift) & 0xFF;
}

std::uint32_t ToByte(double value)
{
    return static_cast<std::uint32_t>(std::clamp<long>(std::lround(value), 0, 255));
}

} // namespace

void DrawUpdateBadge(std::span<std::uint32_t> pixels, int width, int height)
{
    const double badge[3] = {12, 99, 247}; // blue, green, red
    const double r = 0.21 * width;
    const double gap = std::max(0.07 * width, 1.0);
    const double cx = width - r - 0.5;
    const double cy = height - r - 0.5;
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
        {
            const double d = std::hypot(x + 0.5 - cx, y + 0.5 - cy);
            if (d >= r + gap + 0.5)
                continue;
            std::uint32_t& pixel = pixels[static_cast<std::size_t>(y) * width + x];
            const double a0 = Channel(pixel, 24) / 255.0;
            const double fill = std::clamp(r + 0.5 - d, 0.0, 1.0);
            const double keep = 1 - std::clamp(r + gap + 0.5 - d, 0.0, 1.0);
            const double a1 = a0 * keep;
            const double alpha = fill + (1 - fill) * a1;
            std::uint32_t result = ToByte(alpha * 255) << 24;
            for (int channel = 0; channel < 3; ++channel)
            {
                const double c0 = Channel(pixel, channel * 8);
                const double c = alpha == 0 ? 0 : (c0 * a1 * (1 - fill) + fill * badge[channel]) / alpha;
                result |= ToByte(c) << (channel * 8);
            }
            pixel = result;
        }
}

HICON ComposeBadgedIcon(HICON plain)
{
    ICONINFO info{};
    if (!::GetIconInfo(plain, &info))
        return nullptr;
    UniqueBitmap colour(info.hbmColor);
    UniqueBitmap iconMask(info.hbmMask);
    BITMAP bitmap{};
    if (!colour || ::GetObjectW(colour.Get(), sizeof(bitmap), &bitmap) != sizeof(bitmap) ||
        bitmap.bmBitsPixel != 32 || bitmap.bmWidth <= 0 || bitmap.bmHeight <= 0)
        return nullptr;
    const int width = bitmap.bmWidth;
    const int height = bitmap.bmHeight;

    BITMAPINFO header{};
    header.bmiHeader.biSize = sizeof(header.bmiHeader);
    header.bmiHeader.biWidth = width;
    header.bmiHeader.biHeight = -height; // top-down
    header.bmiHeader.biPlanes = 1;
    header.bmiHeader.biBitCount = 32;
    header.bmiHeader.biCompression = BI_RGB;
    std::vector<std::uint32_t> pixels(static_cast<std::size_t>(width) * height);
    {
        ScreenDc screen;
        if (screen.dc == nullptr ||
            ::GetDIBits(screen.dc, colour.Get(), 0, height, pixels.data(), &header, DIB_RGB_COLORS) < height)
            return nullptr;
    }
    colour.Reset();
    iconMask.Reset();

    DrawUpdateBadge(pixels, width, height);

    void* bits = nullptr;
    UniqueBitmap section(::CreateDIBSection(nullptr, &header, DIB_RGB_COLORS, &bits, nullptr, 0));
    UniqueBitmap mask(::CreateBitmap(width, height, 1, 1, nullptr));
    if (!section || bits == nullptr || !mask)
        return nullptr;
    std::memcpy(bits, pixels.data(), pixels.size() * sizeof(std::uint32_t));
    ICONINFO badged{};
    badged.fIcon = TRUE;
    badged.hbmColor = section.Get();
    badged.hbmMask = mask.Get();
    return ::CreateIconIndirect(&badged);
}

} // namespace Pd::Host
