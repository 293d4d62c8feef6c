#include "ui/MenuBar.h"

#include <atomic>
#include <cmath>
#include <cwctype>

namespace Pd::Ui
{
namespace
{

// The bar whose menu is open; the message-filter hook has no other way to find it.
std::atomic<MenuBar*> openBar{nullptr};

constexpr D2D1_COLOR_F White = Rgba(1, 1, 1, 1);
constexpr D2D1_COLOR_F Dim = Rgba(1, 1, 1, 0.363f);
constexpr D2D1_COLOR_F Secondary = Rgba(1, 1, 1, 0.786f);

} // namespace

MenuCaption ParseMenuCaption(const std::wstring& caption)
{
    MenuCaption result{caption, 0};
    auto amp = caption.find(L'&');
    if (amp != std::wstring::npos && amp + 1 < caption.size())
    {
        result.mnemonic = static_cast<wchar_t>(std::towlower(caption[amp + 1]));
        result.text.erase(amp, 1);
    }
    return result;
}

int HitCaption(const std::vector<D2D1_RECT_F>& captions, float x, float y)
{
    for (std::size_t at = 0; at < captions.size(); ++at)
    {
        const auto& r = captions[at];
        if (r.left <= x && x < r.right && r.top <= y && y < r.bottom)
            return static_cast<int>(at);
    }
    return -1;
}

int NextMenu(int open, int n, bool right)
{
    return right ? (open + 1) % n : (open + n - 1) % n;
}

MenuBar::MenuBar(const Fonts& fonts, const D2D1_COLOR_F& background)
    : fonts_(&fonts), background_(::CreateSolidBrush(ColorRefFromRgba(background)))
{
}

MenuBar::~MenuBar()
{
    DestroyItems();
    if (background_)
        ::DeleteObject(background_);
}

void MenuBar::DestroyItems()
{
    for (auto& menu : menus_)
        ::DestroyMenu(menu.popup);
    // Submenus die with their parent menu; a popup attached nowhere must go by itself.
    for (HMENU popup : popups_)
        if (::IsMenu(popup))
            ::DestroyMenu(popup);
    menus_.clear();
    popups_.clear();
    items_.clear();
}

void MenuBar::SetBackground(HMENU popup) const
{
    MENUINFO info{};
    info.cbSize = sizeof info;
    info.fMask = MIM_BACKGROUND | MIM_STYLE;
    info.dwStyle = MNS_CHECKORBMP;
    info.hbrBack = background_;
    ::SetMenuInfo(popup, &info);
}

HMENU MenuBar::NewPopup()
{
    HMENU popup = ::CreatePopupMenu();
    SetBackground(popup);
    popups_.push_back(popup);
    return popup;
}

HMENU MenuBar::AddMenu(const std::wstring& caption)
{
    auto parsed = ParseMenuCaption(caption);
    HMENU popup = ::CreatePopupMenu();
    SetBackground(popup);
    menus_.push_back({parsed.text, parsed.mnemonic, popup, {}});
    return popup;
}

void MenuBar::AddItem(HMENU popup, int id, const std::wstring& text, const std::wstring& shortcut, bool radio,
                      bool columnBreak)
{
    auto& record = items_.emplace_back(
        std::make_unique<MenuItemData>(MenuItemData{text, shortcut, false, radio, false}));
    MENUITEMINFOW info{};
    info.cbSize = sizeof info;
    info.fMask = MIIM_ID | MIIM_STRING | MIIM_DATA | MIIM_FTYPE;
    info.fType = MFT_OWNERDRAW | (radio ? MFT_RADIOCHECK : 0) | (columnBreak ? MFT_MENUBREAK : 0);
    info.wID = static_cast<UINT>(id);
    info.dwItemData = reinterpret_cast<ULONG_PTR>(record.get());
    info.dwTypeData = record->text.data();
    ::InsertMenuItemW(popup, static_cast<UINT>(::GetMenuItemCount(popup)), TRUE, &info);
}

HMENU MenuBar::AddSubmenu(HMENU popup, const std::wstring& text)
{
    HMENU submenu = NewPopup();
    auto& record =
        items_.emplace_back(std::make_unique<MenuItemData>(MenuItemData{text, {}, false, false, true}));
    MENUITEMINFOW info{};
    info.cbSize = sizeof info;
    info.fMask = MIIM_SUBMENU | MIIM_STRING | MIIM_DATA | MIIM_FTYPE;
    info.fType = MFT_OWNERDRAW;
    info.hSubMenu = submenu;
    info.dwItemData = reinterpret_cast<ULONG_PTR>(record.get());
    info.dwTypeData = record->text.data();
    ::InsertMenuItemW(popup, static_cast<UINT>(::GetMenuItemCount(popup)), TRUE, &info);
    return submenu;
}

void MenuBar::AddSeparator(HMENU popup)
{
    auto& record =
        items_.emplace_back(std::make_unique<MenuItemData>(MenuItemData{{}, {}, true, false, false}));
    MENUITEMINFOW info{};
    info.cbSize = sizeof info;
    info.fMask = MIIM_DATA | MIIM_FTYPE;
    info.fType = MFT_OWNERDRAW | MFT_SEPARATOR;
    info.dwItemData = reinterpret_cast<ULONG_PTR>(record.get());
    ::InsertMenuItemW(popup, static_cast<UINT>(::GetMenuItemCount(popup)), TRUE, &info);
}

void MenuBar::Remeasure(HMENU popup)
{
    int count = ::GetMenuItemCount(popup);
    for (int at = 0; at < count; ++at)
    {
        MENUITEMINFOW info{};
        info.cbSize = sizeof info;
        info.fMask = MIIM_FTYPE;
        if (::GetMenuItemInfoW(popup, static_cast<UINT>(at), TRUE, &info))
            ::SetMenuItemInfoW(popup, static_cast<UINT>(at), TRUE, &info);
    }
}

void MenuBar::RemeasureAll() const
{
    for (const auto& menu : menus_)
        Remeasure(menu.popup);
    for (HMENU popup : popups_)
        Remeasure(popup);
}

SIZE MenuBar::MeasureItem(const MenuItemData& data) const
{
    const int dpi = fonts_->dpi;
    if (data.separator)
        return {::MulDiv(40, dpi, 96), ::MulDiv(9, dpi, 96)};
    float tail = 0.0f;
    if (data.submenu)
        tail = fonts_->Px(28);
    else if (!data.shortcut.empty())
        tail = MeasureText(*fonts_, 2, data.shortcut) + fonts_->Px(32);
    float width = fonts_->Px(36) + MeasureText(*fonts_, 0, data.text) + tail + fonts_->Px(16);
    return {static_cast<LONG>(width), ::MulDiv(30, dpi, 96)};
}

void MenuBar::DrawBar(Canvas& canvas) const
{
    for (int at = 0; at < static_cast<int>(menus_.size()); ++at)
    {
        const auto& menu = menus_[static_cast<std::size_t>(at)];
        bool open = at == openIndex_, hot = at == hotIndex_;
        if (open || hot)
            canvas.FillRect(menu.rect, open ? Rgba(1, 1, 1, 0.08f) : Rgba(1, 1, 1, 0.045f), fonts_->Px(4));
        canvas.DrawText(menu.caption, menu.rect, 0, open || hot ? White : Secondary,
                        DWRITE_TEXT_ALIGNMENT_CENTER);
    }
}

void MenuBar::DrawItem(Canvas& canvas, const D2D1_RECT_F& rect, bool hot, bool disabled, bool checked,
                       const MenuItemData& data) const
{
    auto px = [this](float dip) { return fonts_->Px(dip); };
    const float l = rect.left, t = rect.top, r = rect.right, b = rect.bottom;
    canvas.Clear(Rgba(0.1725f, 0.1725f, 0.1725f, 1));
    if (data.separator)
    {
        float y = std::floor((t + b) / 2) + 0.5f;
        canvas.Line(D2D1::Point2F(l + px(4), y), D2D1::Point2F(r - px(4), y),
                    Rgba(0.2706f, 0.2706f, 0.2706f, 1), 1.0f);
        return;
    }
    if (hot)
        canvas.FillRect(RectF(l + px(4), t + px(2), r - px(4), b - px(2)), Rgba(0.2275f, 0.2275f, 0.2275f, 1),
                        px(4));
    D2D1_COLOR_F text = disabled ? Dim : White;
    if (checked)
    {
        if (data.radio)
            canvas.FillEllipse(D2D1::Point2F(l + px(20), (t + b) / 2), px(3.5f),
                               disabled ? Dim : Rgba(0.2392f, 0.8627f, 0.5176f, 1));
        else
        {
            const wchar_t check = 0xE73E;
            canvas.DrawText({&check, 1}, RectF(l + px(10), t, l + px(30), b), 6, text,
                            DWRITE_TEXT_ALIGNMENT_CENTER);
        }
    }
    canvas.DrawText(data.text, RectF(l + px(36), t, r - px(12), b), 0, text, DWRITE_TEXT_ALIGNMENT_LEADING);
    if (data.submenu)
    {
        const wchar_t arrow = 0xE76C;
        canvas.DrawText({&arrow, 1}, RectF(r - px(28), t, r - px(10), b), 6, disabled ? Dim : Secondary,
                        DWRITE_TEXT_ALIGNMENT_CENTER);
    }
    else if (!data.shortcut.empty())
        canvas.DrawText(data.shortcut, RectF(l, t, r - px(16), b), 2, disabled ? Dim : Rgba(1, 1, 1, 0.545f),
                        DWRITE_TEXT_ALIGNMENT_TRAILING);
}

void MenuBar::Draw(const DRAWITEMSTRUCT& item) const
{
    const auto* data = reinterpret_cast<const MenuItemData*>(item.itemData);
    if (!data)
        return;
    bool disabled = (item.itemState & (ODS_GRAYED | ODS_DISABLED)) != 0;
    bool hot = (item.itemState & ODS_SELECTED) && !disabled;
    bool checked = (item.itemState & ODS_CHECKED) != 0;
    PaintWithCanvas(item.hDC, item.rcItem, *fonts_, [&](Canvas& canvas) {
        DrawItem(canvas, RectF(item.rcItem), hot, disabled, checked, *data);
    });
    if (data->submenu)
        ::ExcludeClipRect(item.hDC, item.rcItem.left, item.rcItem.top, item.rcItem.right, item.rcItem.bottom);
}

int MenuBar::CaptionAt(float x, float y) const
{
    std::vector<D2D1_RECT_F> rects;
    for (const auto& menu : menus_)
        rects.push_back(menu.rect);
    return HitCaption(rects, x, y);
}

bool MenuBar::SetHotAt(float x, float y)
{
    int hit = CaptionAt(x, y);
    if (hit == hotIndex_)
        return false;
    hotIndex_ = hit;
    return true;
}

bool MenuBar::ClearHot()
{
    if (hotIndex_ == -1)
        return false;
    hotIndex_ = -1;
    return true;
}

void MenuBar::OnMenuSelect(WPARAM wParam, LPARAM lParam)
{
    selectedMenu_ = reinterpret_cast<HMENU>(lParam);
    UINT flags = HIWORD(wParam);
    selectionHasSubmenu_ = flags != 0xFFFF && (flags & MF_POPUP);
}

void MenuBar::InvalidateCaptions(HWND window) const
{
    if (menus_.empty())
        return;
    RECT area{static_cast<LONG>(menus_.front().rect.left) - 2, static_cast<LONG>(menus_.front().rect.top) - 2,
              static_cast<LONG>(menus_.back().rect.right) + 2,
              static_cast<LONG>(menus_.back().rect.bottom) + 2};
    ::InvalidateRect(window, &area, FALSE);
}

void MenuBar::InvalidateBar(HWND window) const
{
    InvalidateCaptions(window);
    ::UpdateWindow(window);
}

void MenuBar::Open(HWND window, int index, bool byKeyboard)
{
    if (index < 0 || index >= static_cast<int>(menus_.size()) || openBar.load(std::memory_order_acquire))
        return;
    window_ = window;
    UINT command = 0;
    while (index >= 0)
    {
        openIndex_ = index;
        nextIndex_ = -1;
        selectedMenu_ = nullptr;
        selectionHasSubmenu_ = false;
        InvalidateBar(window);
        const auto& menu = menus_[static_cast<std::size_t>(index)];
        POINT corners[2]{{static_cast<LONG>(menu.rect.left), static_cast<LONG>(menu.rect.top)},
                         {static_cast<LONG>(menu.rect.right), static_cast<LONG>(menu.rect.bottom)}};
        ::ClientToScreen(window, &corners[0]);
        ::ClientToScreen(window, &corners[1]);
        TPMPARAMS params{sizeof params, {corners[0].x, corners[0].y, corners[1].x, corners[1].y}};
        if (byKeyboard)
            ::PostMessageW(window, WM_KEYDOWN, VK_DOWN, 0);
        openBar.store(this, std::memory_order_release);
        HHOOK hook = ::SetWindowsHookExW(WH_MSGFILTER, FilterHook, nullptr, ::GetCurrentThreadId());
        command = static_cast<UINT>(::TrackPopupMenuEx(menu.popup, TPM_RETURNCMD | TPM_VERTICAL, corners[0].x,
                                                       corners[1].y, window, &params));
        if (hook)
            ::UnhookWindowsHookEx(hook);
        openBar.store(nullptr, std::memory_order_release);
        if (command != 0)
            break;
        index = nextIndex_;
        byKeyboard = openByKeyboard_;
    }
    openIndex_ = -1;
    POINT cursor{};
    hotIndex_ = -1;
    if (::GetCursorPos(&cursor) && ::ScreenToClient(window, &cursor))
        hotIndex_ = CaptionAt(static_cast<float>(cursor.x), static_cast<float>(cursor.y));
    InvalidateBar(window);
    if (command != 0)
        ::PostMessageW(window, WM_COMMAND, MAKEWPARAM(command, 0), 0);
}

bool MenuBar::HandleSysKey(HWND window, wchar_t character)
{
    wchar_t lower = static_cast<wchar_t>(std::towlower(character));
    for (std::size_t at = 0; at < menus_.size(); ++at)
        if (menus_[at].mnemonic != 0 && menus_[at].mnemonic == lower)
        {
            Open(window, static_cast<int>(at), true);
            return true;
        }
    return false;
}

LRESULT CALLBACK MenuBar::FilterHook(int code, WPARAM wParam, LPARAM lParam)
{
    MenuBar* bar = openBar.load(std::memory_order_acquire);
    auto* message = reinterpret_cast<MSG*>(lParam);
    if (code != MSGF_MENU || !bar || bar->openIndex_ < 0 || !message)
        return ::CallNextHookEx(nullptr, code, wParam, lParam);
    const int n = static_cast<int>(bar->menus_.size());
    HMENU openPopup = bar->menus_[static_cast<std::size_t>(bar->openIndex_)].popup;
    bool inSubmenu = bar->selectedMenu_ && bar->selectedMenu_ != openPopup;
    if (message->message == WM_KEYDOWN && (message->wParam == VK_LEFT || message->wParam == VK_RIGHT))
    {
        bool right = message->wParam == VK_RIGHT;
        bool blocked = right ? bar->selectionHasSubmenu_ : inSubmenu;
        if (!blocked)
        {
            bar->openByKeyboard_ = true;
            bar->nextIndex_ = NextMenu(bar->openIndex_, n, right);
            ::EndMenu();
            return 1;
        }
    }
    else if (message->message == WM_MOUSEMOVE || message->message == WM_LBUTTONDOWN)
    {
        POINT point = message->pt;
        ::ScreenToClient(bar->window_, &point);
        int hit = bar->CaptionAt(static_cast<float>(point.x), static_cast<float>(point.y));
        if (message->message == WM_MOUSEMOVE && hit >= 0 && hit != bar->openIndex_)
        {
            bar->nextIndex_ = hit;
            bar->openByKeyboard_ = false;
            ::EndMenu();
            return 1;
        }
        if (message->message == WM_LBUTTONDOWN && hit == bar->openIndex_)
        {
            bar->nextIndex_ = -1;
            ::EndMenu();
            return 1;
        }
    }
    return ::CallNextHookEx(nullptr, code, wParam, lParam);
}

} // namespace Pd::Ui
