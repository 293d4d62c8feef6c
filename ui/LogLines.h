// The log pane's lines, selection and scroll state, without any window: what the pane shows,
// what a click selects and what a copy takes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace Pd::Ui
{

struct LogEntry
{
    std::wstring time;
    std::wstring text;
    std::int32_t level = 0;
    float height = 0.0f;   // pixels: measured, or estimated while the line has not shown
    bool measured = false; // at the current wrapping width
};

class LogLines
{
public:
    static constexpr std::size_t Cap = 5000;
    static constexpr std::size_t Drop = 500;

    // At the cap the oldest Drop lines go; a selection moves with its lines.
    void Append(std::wstring time, std::int32_t level, std::wstring text);
    void Clear();

    const std::vector<LogEntry>& Entries() const { return entries_; }
    std::vector<LogEntry>& Entries() { return entries_; }

    // A click on a line selects it; extend keeps the anchor (Shift, or a drag).
    void Select(std::size_t index, bool extend);
    void SelectAll();
    void ClearSelection() { anchor_.reset(); }
    // First and last selected line, inclusive.
    std::optional<std::pair<std::size_t, std::size_t>> Selection() const;

    // The selected lines, or every line when none is selected: "time  text\r\n" each.
    std::wstring CopyText() const;

    // The line at a y offset from the top of the content (pixels, after the top margin), given
    // the measured heights; none past the end.
    std::optional<std::size_t> LineAt(float y) const;

private:
    std::vector<LogEntry> entries_;
    std::optional<std::size_t> anchor_;
    std::size_t caret_ = 0;
};

// Vertical scrolling of content taller than its viewport.
struct Scroll
{
    float position = 0.0f;
    float content = 0.0f;
    float viewport = 0.0f;
    bool follow = true; // stay at the end as lines arrive

    float Range() const { return content > viewport ? content - viewport : 0.0f; }
    bool BarShown() const { return content > viewport + 0.5f; }
    // Moves to a position (clamped); true when it changed, and then follow is recomputed.
    bool MoveTo(float target);
};

// How tall the lines of a pane are, found without laying out the ones that do not show.
struct LineSizes
{
    std::function<float(const LogEntry&)> measure;  // the height, by laying the line out
    std::function<float(const LogEntry&)> estimate; // the likely height, from its length alone
};

// Sizes the content for the viewport (the scroll's): every line the viewport shows is measured,
// every other line that has not been counts with its estimate. The content includes the margin
// above and below the lines; a scroll that follows the end stays there.
void FitLines(std::vector<LogEntry>& entries, Scroll& scroll, float viewport, float margin,
              const LineSizes& sizes);

// The height of a wrapped line of monospace text from its length: whole rows of
// width / advance characters, at least one, each rowHeight tall.
float EstimatedHeight(std::size_t characters, float width, float advance, float rowHeight);

// The thumb of an overlay scroll bar along a track.
struct Thumb
{
    float top = 0.0f;
    float length = 0.0f;
};
Thumb ThumbOf(const Scroll& scroll, float trackTop, float trackLength, float minimumLength);

// Lines a wheel notch setting scrolls: -1 (a page) counts as 10, 0 as 1.
int WheelLines(int setting);

} // namespace Pd::Ui
