// The main window's menu bar: captions drawn in the client area, each menu an owner-drawn popup,
// switched from menu to menu like a native bar (Left and Right, the mouse, Alt and mnemonics).
#pragma once

#include "ui/Canvas.h"

#include <windows.h>

#include <memory>
#include <string>
#include <vector>

namespace Pd::Ui
{

struct MenuItemData
{
    std::wstring text;
    std::wstring shortcut;
    bool separator = false;
    bool radio = false;
    bool submenu = false;
};

// The caption and mnemonic of "&File": "File" and 'f'; no "&" (or one at the end): no mnemonic.
struct MenuCaption
{
    std::wstring text;
    wchar_t mnemonic = 0;
};
MenuCaption ParseMenuCaption(const std::wstring& caption);

// Index of the caption that holds the point (half-open rectangles, first match), or -1.
int HitCaption(const std::vector<D2D1_RECT_F>& captions, float x, float y);

// The menu Left or Right moves to from menu `open` of n, wrapping round.
int NextMenu(int open, int n, bool right);

class MenuBar
{
public:
    struct Menu
    {
        std::wstring caption;
        wchar_t mnemonic = 0;
        HMENU popup = nullptr;
        D2D1_RECT_F rect{};
    };

    MenuBar(const Fonts& fonts, const D2D1_COLOR_F& background);
    ~MenuBar();
    MenuBar(const MenuBar&) = delete;
    MenuBar& operator=(const MenuBar&) = delete;

    HMENU AddMenu(const std::wstring& caption);
    void AddItem(HMENU popup, int id, const std::wstring& text, const std::wstring& shortcut, bool radio,
                 bool columnBreak);
    HMENU AddSubmenu(HMENU popup, const std::wstring& text);
    void AddSeparator(HMENU popup);
    HMENU NewPopup();
    void SetBackground(HMENU popup) const;
    static void Remeasure(HMENU popup);
    void RemeasureAll() const;

    void DrawBar(Canvas& canvas) const;
    void Draw(const DRAWITEMSTRUCT& item) const;
    void DrawItem(Canvas& canvas, const D2D1_RECT_F& rect, bool hot, bool disabled, bool checked,
                  const MenuItemData& data) const;
    // WM_MEASUREITEM of an owner-drawn item: width and height in pixels.
    SIZE MeasureItem(const MenuItemData& data) const;

    void Open(HWND window, int index, bool byKeyboard);
    bool HandleSysKey(HWND window, wchar_t character);
    static LRESULT CALLBACK FilterHook(int code, WPARAM wParam, LPARAM lParam);
    void DestroyItems();

    // Window procedure helpers.
    void OnMenuSelect(WPARAM wParam, LPARAM lParam);
    // Records the caption under a client point; true when the hot caption changed.
    bool SetHotAt(float x, float y);
    bool ClearHot();
    int CaptionAt(float x, float y) const;
    // Marks the captions for the next paint of the window, and nothing else of it.
    void InvalidateCaptions(HWND window) const;

    std::vector<Menu>& Menus() { return menus_; }
    const std::vector<Menu>& Menus() const { return menus_; }
    int OpenIndex() const { return openIndex_; }

private:
    void InvalidateBar(HWND window) const;

    const Fonts* fonts_;
    HBRUSH background_;
    std::vector<Menu> menus_;
    std::vector<HMENU> popups_;
    std::vector<std::unique_ptr<MenuItemData>> items_;
    int hotIndex_ = -1;
    int openIndex_ = -1;
    int nextIndex_ = -1;
    bool openByKeyboard_ = false;
    bool selectionHasSubmenu_ = false;
    HMENU selectedMenu_ = nullptr;
    HWND window_ = nullptr;
};

} // namespace Pd::Ui
