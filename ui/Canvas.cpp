#include "ui/Canvas.h"

#include <dwmapi.h>

#include <algorithm>
#include <cmath>
#include <system_error>
#include <thread>

namespace Pd::Ui
{
namespace
{

struct FormatRow
{
    int family; // 0 interface, 1 display, 2 monospace, 3 icons
    float size;
    DWRITE_FONT_WEIGHT weight;
};

constexpr std::array<FormatRow, FontFormatCount> FormatRows{{
    {0, 13.0f, DWRITE_FONT_WEIGHT_NORMAL},
    {0, 13.0f, DWRITE_FONT_WEIGHT_SEMI_BOLD},
    {0, 11.5f, DWRITE_FONT_WEIGHT_NORMAL},
    {0, 10.5f, DWRITE_FONT_WEIGHT_SEMI_BOLD},
    {2, 11.5f, DWRITE_FONT_WEIGHT_NORMAL},
    {3, 13.0f, DWRITE_FONT_WEIGHT_NORMAL},
    {3, 10.0f, DWRITE_FONT_WEIGHT_NORMAL},
    {1, 19.0f, DWRITE_FONT_WEIGHT_SEMI_BOLD},
}};

ComPtr<IDWriteTextLayout> Layout(const Fonts& fonts, int format, std::wstring_view text, float maxWidth)
{
    ComPtr<IDWriteTextLayout> layout;
    auto& graphics = Graphics::Get();
    if (!graphics.writeFactory || format < 0 || format >= FontFormatCount || !fonts.formats[format])
        return layout;
    graphics.writeFactory->CreateTextLayout(text.data(), static_cast<UINT32>(text.size()),
                                            fonts.formats[format].Get(), maxWidth, 1'000'000.0f,
                                            layout.Put());
    if (layout)
    {
        layout->SetParagraphAlignment(DWRITE_PARAGRAPH_ALIGNMENT_NEAR);
        layout->SetTextAlignment(DWRITE_TEXT_ALIGNMENT_LEADING);
    }
    return layout;
}

void WrapWithoutTrimming(IDWriteTextLayout* layout)
{
    layout->SetWordWrapping(DWRITE_WORD_WRAPPING_WRAP);
    DWRITE_TRIMMING none{DWRITE_TRIMMING_GRANULARITY_NONE, 0, 0};
    layout->SetTrimming(&none, nullptr);
}

// The render target, made on first use and again after the device was lost, with its brush.
ID2D1DCRenderTarget* RenderTarget(Graphics& graphics)
{
    if (!graphics.renderTarget && graphics.d2dFactory)
    {
        graphics.brush.Reset();
        auto properties = D2D1::RenderTargetProperties(
            D2D1_RENDER_TARGET_TYPE_SOFTWARE,
            D2D1::PixelFormat(DXGI_FORMAT_B8G8R8A8_UNORM, D2D1_ALPHA_MODE_PREMULTIPLIED), 96.0f, 96.0f);
        graphics.d2dFactory->CreateDCRenderTarget(&properties, graphics.renderTarget.Put());
    }
    return graphics.renderTarget.Get();
}

// Ends a draw; a lost device drops the target and its brush, so that the next paint makes new ones.
void EndDraw(Graphics& graphics)
{
    if (graphics.renderTarget->EndDraw() == static_cast<HRESULT>(D2DERR_RECREATE_TARGET))
    {
        graphics.brush.Reset();
        graphics.renderTarget.Reset();
    }
}

} // namespace

bool Overlaps(const D2D1_RECT_F& area, const D2D1_RECT_F& rect)
{
    return rect.left < area.right && rect.right > area.left && rect.top < area.bottom &&
           rect.bottom > area.top;
}

Graphics::Graphics()
{
    D2D1_FACTORY_OPTIONS options{D2D1_DEBUG_LEVEL_NONE};
    ::D2D1CreateFactory(D2D1_FACTORY_TYPE_SINGLE_THREADED, __uuidof(ID2D1Factory), &options,
                        d2dFactory.PutVoid());
    ::DWriteCreateFactory(DWRITE_FACTORY_TYPE_SHARED, __uuidof(IDWriteFactory),
                          reinterpret_cast<IUnknown**>(writeFactory.Put()));
}

Graphics::~Graphics()
{
    if (memoryDc)
    {
        if (previousBitmap)
            ::SelectObject(memoryDc, previousBitmap);
        if (dib)
            ::DeleteObject(dib);
        ::DeleteDC(memoryDc);
    }
}

Graphics& Graphics::Get()
{
    static Graphics graphics;
    return graphics;
}

bool Graphics::HasFontFamily(const wchar_t* family)
{
    // Kept: under Wine every call for the system collection costs a look at every font file.
    if (!fontCollection && writeFactory)
        writeFactory->GetSystemFontCollection(fontCollection.Put(), FALSE);
    UINT32 index = 0;
    BOOL exists = FALSE;
    return fontCollection && SUCCEEDED(fontCollection->FindFamilyName(family, &index, &exists)) && exists;
}

int GrownBufferSide(int old, int request)
{
    int rounded = (std::max(request, 1) + 255) / 256 * 256;
    return std::max(old, rounded);
}

HDC Graphics::BackBuffer(int requestWidth, int requestHeight)
{
    requestWidth = std::max(requestWidth, 1);
    requestHeight = std::max(requestHeight, 1);
    if (!memoryDc)
        memoryDc = ::CreateCompatibleDC(nullptr);
    if (!memoryDc)
        return nullptr;
    if (dib && width >= requestWidth && height >= requestHeight)
        return memoryDc;
    if (dib)
    {
        ::SelectObject(memoryDc, previousBitmap);
        ::DeleteObject(dib);
        dib = nullptr;
    }
    int newWidth = GrownBufferSide(width, requestWidth);
    int newHeight = GrownBufferSide(height, requestHeight);
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    info.bmiHeader.biWidth = newWidth;
    info.bmiHeader.biHeight = -newHeight;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    dib = ::CreateDIBSection(memoryDc, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    if (!dib)
    {
        width = height = 0;
        return nullptr;
    }
    width = newWidth;
    height = newHeight;
    previousBitmap = ::SelectObject(memoryDc, dib);
    return memoryDc;
}

void Graphics::Prepare()
{
    // The device is made on a thread of its own while the caller makes its window; the Direct2D
    // factory is single-threaded, so nothing else touches it until Ready has joined that thread.
    try
    {
        preparing_ = std::jthread([this] { MakeDevice(); });
    }
    catch (const std::system_error&)
    {
        MakeDevice();
    }
}

void Graphics::Ready()
{
    if (preparing_.joinable())
        preparing_.join();
}

void Graphics::MakeDevice()
{
    HDC buffer = BackBuffer(1, 1);
    ID2D1DCRenderTarget* target = RenderTarget(*this);
    RECT bound{0, 0, 1, 1};
    if (!buffer || !target || FAILED(target->BindDC(buffer, &bound)))
        return;
    target->BeginDraw();
    target->Clear(Rgba(0, 0, 0, 1));
    if (brush || SUCCEEDED(target->CreateSolidColorBrush(Rgba(1, 1, 1, 0.5f), brush.Put())))
        target->FillRoundedRectangle(D2D1::RoundedRect(RectF(0, 0, 1, 1), 0.5f, 0.5f), brush.Get());
    EndDraw(*this);
}

const wchar_t* FirstPresentFamily(std::initializer_list<const wchar_t*> candidates,
                                  const std::function<bool(const wchar_t*)>& present)
{
    for (const wchar_t* family : candidates)
        if (present(family))
            return family;
    return *(candidates.end() - 1);
}

void Fonts::Create(Fonts& fonts, int dpi)
{
    fonts.dpi = dpi == 0 ? 96 : dpi;
    auto& graphics = Graphics::Get();
    if (!graphics.writeFactory)
        return;
    auto present = [&graphics](const wchar_t* family) { return graphics.HasFontFamily(family); };
    // Fonts without the Windows families (as under Wine) fall back to families that are present,
    // so that text is drawn rather than silently left blank.
    fonts.uiFamily = FirstPresentFamily(
        {L"Segoe UI Variable Text", L"Segoe UI", L"Tahoma", L"DejaVu Sans", L"Liberation Sans", L"Arial"},
        present);
    const wchar_t* display =
        FirstPresentFamily({L"Segoe UI Variable Display", L"Segoe UI", fonts.uiFamily}, present);
    const wchar_t* mono = FirstPresentFamily(
        {L"Cascadia Mono", L"Consolas", L"DejaVu Sans Mono", L"Liberation Mono", L"Courier New"}, present);
    const wchar_t* icons =
        FirstPresentFamily({L"Segoe Fluent Icons", L"Segoe MDL2 Assets", fonts.uiFamily}, present);
    const std::array<const wchar_t*, 4> families{fonts.uiFamily, display, mono, icons};

    for (int index = 0; index < FontFormatCount; ++index)
    {
        const FormatRow& row = FormatRows[index];
        fonts.formats[index].Reset();
        fonts.sizes[index] = static_cast<float>(fonts.dpi) * row.size / 96.0f;
        auto& format = fonts.formats[index];
        if (FAILED(graphics.writeFactory->CreateTextFormat(
                families[row.family], nullptr, row.weight, DWRITE_FONT_STYLE_NORMAL,
                DWRITE_FONT_STRETCH_NORMAL, fonts.sizes[index], L"en-us", format.Put())) ||
            !format)
        {
            format.Reset();
            continue;
        }
        format->SetWordWrapping(DWRITE_WORD_WRAPPING_NO_WRAP);
        format->SetParagraphAlignment(DWRITE_PARAGRAPH_ALIGNMENT_CENTER);
        ComPtr<IDWriteInlineObject> ellipsis;
        graphics.writeFactory->CreateEllipsisTrimmingSign(format.Get(), ellipsis.Put());
        DWRITE_TRIMMING trimming{DWRITE_TRIMMING_GRANULARITY_CHARACTER, 0, 0};
        format->SetTrimming(&trimming, ellipsis.Get());
    }
}

ID2D1SolidColorBrush* Canvas::Brush(const D2D1_COLOR_F& colour)
{
    if (!brush_)
        renderTarget_->CreateSolidColorBrush(colour, brush_.Put());
    else
        brush_->SetColor(colour);
    return brush_.Get();
}

void Canvas::FillRect(const D2D1_RECT_F& rect, const D2D1_COLOR_F& colour, float radius)
{
    if (rect.left >= rect.right || rect.top >= rect.bottom || !Shows(rect))
        return;
    auto* brush = Brush(colour);
    if (!brush)
        return;
    if (radius > 0.0f)
        renderTarget_->FillRoundedRectangle(D2D1::RoundedRect(rect, radius, radius), brush);
    else
        renderTarget_->FillRectangle(rect, brush);
}

void Canvas::StrokeRect(const D2D1_RECT_F& rect, const D2D1_COLOR_F& colour, float radius, float width)
{
    float half = width / 2.0f;
    D2D1_RECT_F inset{rect.left + half, rect.top + half, rect.right - half, rect.bottom - half};
    if (inset.left >= inset.right || inset.top >= inset.bottom || !Shows(rect))
        return;
    auto* brush = Brush(colour);
    if (!brush)
        return;
    if (radius > 0.0f)
        renderTarget_->DrawRoundedRectangle(D2D1::RoundedRect(inset, radius, radius), brush, width);
    else
        renderTarget_->DrawRectangle(inset, brush, width);
}

void Canvas::Line(D2D1_POINT_2F from, D2D1_POINT_2F to, const D2D1_COLOR_F& colour, float width)
{
    if (!Shows(RectF(std::min(from.x, to.x) - width, std::min(from.y, to.y) - width,
                     std::max(from.x, to.x) + width, std::max(from.y, to.y) + width)))
        return;
    if (auto* brush = Brush(colour))
        renderTarget_->DrawLine(from, to, brush, width);
}

void Canvas::FillEllipse(D2D1_POINT_2F centre, float radius, const D2D1_COLOR_F& colour)
{
    if (!Shows(RectF(centre.x - radius, centre.y - radius, centre.x + radius, centre.y + radius)))
        return;
    if (auto* brush = Brush(colour))
        renderTarget_->FillEllipse(D2D1::Ellipse(centre, radius, radius), brush);
}

float Canvas::Text(std::wstring_view text, const D2D1_RECT_F& rect, int format, const D2D1_COLOR_F& colour)
{
    // Wrapped text runs down from the top of its rectangle, whatever its bottom says.
    if (!Shows(RectF(rect.left, rect.top, rect.right, std::max(rect.bottom, area_.bottom))))
        return 0.0f;
    auto layout = Layout(fonts_, format, text, std::max(1.0f, rect.right - rect.left));
    if (!layout)
        return 0.0f;
    WrapWithoutTrimming(layout.Get());
    if (auto* brush = Brush(colour))
        renderTarget_->DrawTextLayout(D2D1::Point2F(rect.left, rect.top), layout.Get(), brush,
                                      D2D1_DRAW_TEXT_OPTIONS_CLIP);
    DWRITE_TEXT_METRICS metrics{};
    return SUCCEEDED(layout->GetMetrics(&metrics)) ? metrics.height : 0.0f;
}

void Canvas::DrawText(std::wstring_view text, const D2D1_RECT_F& rect, int format, const D2D1_COLOR_F& colour,
                      DWRITE_TEXT_ALIGNMENT alignment)
{
    if (text.empty() || rect.right <= rect.left || format < 0 || format >= FontFormatCount ||
        !fonts_.formats[format] || !Shows(rect))
        return;
    auto* textFormat = fonts_.formats[format].Get();
    textFormat->SetTextAlignment(alignment);
    if (auto* brush = Brush(colour))
        renderTarget_->DrawText(text.data(), static_cast<UINT32>(text.size()), textFormat, rect, brush,
                                D2D1_DRAW_TEXT_OPTIONS_CLIP, DWRITE_MEASURING_MODE_NATURAL);
}

void PaintWithCanvas(HDC target, const RECT& rect, const Fonts& fonts, const DrawCallback& draw,
                     const GdiCallback& gdiDraw)
{
    int width = rect.right - rect.left;
    int height = rect.bottom - rect.top;
    if (width < 1 || height < 1)
        return;
    auto& graphics = Graphics::Get();
    graphics.Ready();
    HDC buffer = graphics.BackBuffer(width, height);
    ID2D1DCRenderTarget* target2d = RenderTarget(graphics);
    if (!buffer || !target2d)
        return;
    RECT bound{0, 0, width, height};
    if (FAILED(target2d->BindDC(buffer, &bound)))
        return;
    target2d->BeginDraw();
    target2d->SetTransform(
        D2D1::Matrix3x2F::Translation(static_cast<float>(-rect.left), static_cast<float>(-rect.top)));
    target2d->SetTextAntialiasMode(D2D1_TEXT_ANTIALIAS_MODE_GRAYSCALE);
    {
        Canvas canvas(target2d, fonts, RectF(rect), graphics.brush);
        draw(canvas);
    }
    EndDraw(graphics);
    if (gdiDraw)
    {
        int saved = ::SaveDC(buffer);
        ::SetViewportOrgEx(buffer, -rect.left, -rect.top, nullptr);
        gdiDraw(buffer);
        ::RestoreDC(buffer, saved);
    }
    ::BitBlt(target, rect.left, rect.top, width, height, buffer, 0, 0, SRCCOPY);
}

float MeasureText(const Fonts& fonts, int format, std::wstring_view text)
{
    auto layout = Layout(fonts, format, text, 1'000'000.0f);
    DWRITE_TEXT_METRICS metrics{};
    if (!layout || FAILED(layout->GetMetrics(&metrics)))
        return 0.0f;
    return metrics.widthIncludingTrailingWhitespace;
}

float MeasureTextWrapped(const Fonts& fonts, int format, std::wstring_view text, float maxWidth)
{
    auto layout = Layout(fonts, format, text, std::max(1.0f, maxWidth));
    if (!layout)
        return 0.0f;
    WrapWithoutTrimming(layout.Get());
    DWRITE_TEXT_METRICS metrics{};
    return SUCCEEDED(layout->GetMetrics(&metrics)) ? metrics.height : 0.0f;
}

HRESULT ApplyWindowTheme(HWND window)
{
    constexpr DWORD DarkMode = 20, BackdropType = 38, CaptionColour = 35;
    BOOL dark = TRUE;
    ::DwmSetWindowAttribute(window, DarkMode, &dark, sizeof dark);
    HIGHCONTRASTW contrast{};
    contrast.cbSize = sizeof contrast;
    bool highContrast = ::SystemParametersInfoW(SPI_GETHIGHCONTRAST, sizeof contrast, &contrast, 0) &&
                        (contrast.dwFlags & HCF_HIGHCONTRASTON);
    int backdrop = highContrast ? 1 : 2;
    HRESULT result = ::DwmSetWindowAttribute(window, BackdropType, &backdrop, sizeof backdrop);
    auto& graphics = Graphics::Get();
    graphics.backdrop = SUCCEEDED(result) && !highContrast;
    int edge = graphics.backdrop ? -1 : 0;
    MARGINS margins{edge, edge, edge, edge};
    result = ::DwmExtendFrameIntoClientArea(window, &margins);
    if (graphics.backdrop)
        return result;
    COLORREF caption = ColorRefFromRgba(Rgba(0.1255f, 0.1255f, 0.1255f, 1.0f));
    return ::DwmSetWindowAttribute(window, CaptionColour, &caption, sizeof caption);
}

COLORREF ColorRefFromRgba(const D2D1_COLOR_F& colour)
{
    auto byte = [](float value) {
        return static_cast<unsigned>(std::lroundf(std::clamp(value, 0.0f, 1.0f) * 255.0f));
    };
    return byte(colour.r) | byte(colour.g) << 8 | byte(colour.b) << 16;
}

} // namespace Pd::Ui
