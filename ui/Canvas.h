// The drawing layer every window of the interface paints through: Direct2D into one shared GDI
// back buffer, DirectWrite text formats per window and DPI, and the dark window theme.
#pragma once

#include "core/Handles.h"

#include <windows.h>

#include <d2d1.h>
#include <dwrite.h>

#include <array>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <string_view>
#include <thread>

namespace Pd::Ui
{

// Process-wide factories and the back buffer; UI thread only (painting never nests).
class Graphics
{
public:
    static Graphics& Get();

    bool HasFontFamily(const wchar_t* family);
    // The memory DC with a DIB of at least width x height, or null.
    HDC BackBuffer(int width, int height);

    // Starts making the render target, with a first draw, on a thread of its own: a window's
    // first paint then finds the device made, and the window is made meanwhile. Every paint
    // waits until it is ready.
    void Prepare();
    void Ready();

    bool backdrop = false;
    ComPtr<ID2D1Factory> d2dFactory;
    ComPtr<IDWriteFactory> writeFactory;
    ComPtr<IDWriteFontCollection> fontCollection; // the system fonts, from the first family test
    // The device resources: kept from paint to paint until the device is lost.
    ComPtr<ID2D1DCRenderTarget> renderTarget;
    ComPtr<ID2D1SolidColorBrush> brush;
    HDC memoryDc = nullptr;
    HBITMAP dib = nullptr;
    HGDIOBJ previousBitmap = nullptr;
    int width = 0;
    int height = 0;

    Graphics(const Graphics&) = delete;
    Graphics& operator=(const Graphics&) = delete;
    ~Graphics();

private:
    Graphics();
    void MakeDevice();

    std::jthread preparing_; // last: joined before anything it makes goes
};

// Size the back buffer grows to for a request: each side rounded up to 256, never below the old.
int GrownBufferSide(int old, int request);

// The first family the test says is present; the last candidate when none is.
const wchar_t* FirstPresentFamily(std::initializer_list<const wchar_t*> candidates,
                                  const std::function<bool(const wchar_t*)>& present);

inline constexpr int FontFormatCount = 8;

// One window's text formats, built for its DPI.
struct Fonts
{
    static void Create(Fonts& fonts, int dpi);

    // Device pixels of a DIP value at these fonts' DPI.
    float Px(float dip) const { return dip * static_cast<float>(dpi) / 96.0f; }

    int dpi = 96;
    const wchar_t* uiFamily = L"Segoe UI";
    std::array<ComPtr<IDWriteTextFormat>, FontFormatCount> formats;
    std::array<float, FontFormatCount> sizes{};
};

// Whether any of the rectangle lies inside the area (both in the same coordinates).
bool Overlaps(const D2D1_RECT_F& area, const D2D1_RECT_F& rect);

// Draws into the area of one paint. What lies wholly outside that area is skipped: under Wine a
// line of text costs milliseconds, and a progress frame repaints a few pixels of the window.
class Canvas
{
public:
    Canvas(ID2D1RenderTarget* target, const Fonts& fonts, const D2D1_RECT_F& area,
           ComPtr<ID2D1SolidColorBrush>& brush)
        : renderTarget_(target), fonts_(fonts), area_(area), brush_(brush)
    {
    }

    void FillRect(const D2D1_RECT_F& rect, const D2D1_COLOR_F& colour, float radius = 0.0f);
    void StrokeRect(const D2D1_RECT_F& rect, const D2D1_COLOR_F& colour, float radius, float width);
    void Line(D2D1_POINT_2F from, D2D1_POINT_2F to, const D2D1_COLOR_F& colour, float width);
    void FillEllipse(D2D1_POINT_2F centre, float radius, const D2D1_COLOR_F& colour);
    // Wrapped text clipped at the rectangle's width; returns the drawn height (0 when the text
    // starts below the area or beside it, and is not drawn).
    float Text(std::wstring_view text, const D2D1_RECT_F& rect, int format, const D2D1_COLOR_F& colour);
    // One line in a format as built (vertically centred, ellipsis), with the given alignment.
    void DrawText(std::wstring_view text, const D2D1_RECT_F& rect, int format, const D2D1_COLOR_F& colour,
                  DWRITE_TEXT_ALIGNMENT alignment);
    void Clear(const D2D1_COLOR_F& colour) { renderTarget_->Clear(colour); }

    ID2D1RenderTarget* Target() const { return renderTarget_; }
    const Pd::Ui::Fonts& UiFonts() const { return fonts_; }
    ID2D1SolidColorBrush* Brush(const D2D1_COLOR_F& colour);
    // Whether the rectangle reaches into the area being painted.
    bool Shows(const D2D1_RECT_F& rect) const { return Overlaps(area_, rect); }

private:
    ID2D1RenderTarget* renderTarget_;
    const Pd::Ui::Fonts& fonts_;
    D2D1_RECT_F area_;
    ComPtr<ID2D1SolidColorBrush>& brush_; // the render target's, recoloured by every operation
};

using DrawCallback = std::function<void(Canvas&)>;
using GdiCallback = std::function<void(HDC)>;

void PaintWithCanvas(HDC target, const RECT& rect, const Fonts& fonts, const DrawCallback& draw,
                     const GdiCallback& gdiDraw = {});

float MeasureText(const Fonts& fonts, int format, std::wstring_view text);
float MeasureTextWrapped(const Fonts& fonts, int format, std::wstring_view text, float maxWidth);

HRESULT ApplyWindowTheme(HWND window);
COLORREF ColorRefFromRgba(const D2D1_COLOR_F& colour);

constexpr D2D1_COLOR_F Rgba(float r, float g, float b, float a)
{
    return D2D1_COLOR_F{r, g, b, a};
}
constexpr D2D1_RECT_F RectF(float l, float t, float r, float b)
{
    return D2D1_RECT_F{l, t, r, b};
}
inline D2D1_RECT_F RectF(const RECT& rect)
{
    return RectF(static_cast<float>(rect.left), static_cast<float>(rect.top), static_cast<float>(rect.right),
                 static_cast<float>(rect.bottom));
}

// Ends a WM_PAINT pass with EndPaint when it goes out of scope.
class PaintScope
{
public:
    explicit PaintScope(HWND window) : window_(window) { dc_ = ::BeginPaint(window, &paint_); }
    ~PaintScope() { ::EndPaint(window_, &paint_); }
    PaintScope(const PaintScope&) = delete;
    PaintScope& operator=(const PaintScope&) = delete;
    HDC Dc() const { return dc_; }
    const RECT& Area() const { return paint_.rcPaint; }

private:
    HWND window_;
    PAINTSTRUCT paint_{};
    HDC dc_ = nullptr;
};

} // namespace Pd::Ui
