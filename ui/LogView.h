// The log pane: time-stamped lines coloured by level, wrapped at the pane's width, with an
// overlay scroll bar it draws itself, line selection and copying.
#pragma once

#include "ui/Canvas.h"
#include "ui/LogLines.h"

#include <windows.h>

#include <string>

namespace Pd::Ui
{

inline constexpr const wchar_t* LogViewClass = L"Peldra.LogView";

class LogView
{
public:
    explicit LogView(const Fonts& fonts) : fonts_(&fonts) {}
    LogView(const LogView&) = delete;
    LogView& operator=(const LogView&) = delete;

    void Append(std::int32_t level, std::wstring text);
    void Clear();
    // The selected lines, or the whole log when none is selected.
    std::wstring CopyText() const { return lines_.CopyText(); }
    // Makes the next paint measure the lines again (the DPI changed).
    void Remeasure() { wrapWidth_ = -1.0f; }

    HWND Window() const { return window_; }
    const LogLines& Lines() const { return lines_; }
    const Scroll& ScrollState() const { return scroll_; }

    static bool RegisterClass(HINSTANCE instance);
    static LRESULT CALLBACK StaticWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

private:
    LRESULT WndProc(UINT message, WPARAM wParam, LPARAM lParam);
    void Measure(const RECT& client);
    void Paint(Canvas& canvas, const RECT& client);
    void ScrollTo(float position);
    bool OnBar(int x) const;
    Thumb CurrentThumb(const RECT& client) const;
    void SelectAt(int y, bool extend);
    float Px(float dip) const { return fonts_->Px(dip); }

    const Fonts* fonts_;
    HWND window_ = nullptr;
    LogLines lines_;
    float wrapWidth_ = -1.0f;
    float advance_ = 0.0f;   // of a character of the log's monospace font
    float rowHeight_ = 0.0f; // of one wrapped row
    Scroll scroll_;
    bool dragging_ = false;
    bool selecting_ = false;
    bool hot_ = false;
    float dragStartY_ = 0.0f;
    float dragStartPosition_ = 0.0f;
};

} // namespace Pd::Ui
