#include "ui/LogLines.h"

#include <algorithm>

namespace Pd::Ui
{

void LogLines::Append(std::wstring time, std::int32_t level, std::wstring text)
{
    if (entries_.size() >= Cap)
    {
        entries_.erase(entries_.begin(), entries_.begin() + Drop);
        if (anchor_)
        {
            if (*anchor_ < Drop && caret_ < Drop)
                anchor_.reset();
            else
            {
                anchor_ = *anchor_ < Drop ? 0 : *anchor_ - Drop;
                caret_ = caret_ < Drop ? 0 : caret_ - Drop;
            }
        }
    }
    entries_.push_back({std::move(time), std::move(text), level, 0.0f});
}

void LogLines::Clear()
{
    entries_.clear();
    anchor_.reset();
    caret_ = 0;
}

void LogLines::Select(std::size_t index, bool extend)
{
    if (entries_.empty())
        return;
    index = std::min(index, entries_.size() - 1);
    if (!extend || !anchor_)
        anchor_ = index;
    caret_ = index;
}

void LogLines::SelectAll()
{
    if (entries_.empty())
        return;
    anchor_ = 0;
    caret_ = entries_.size() - 1;
}

std::optional<std::pair<std::size_t, std::size_t>> LogLines::Selection() const
{
    if (!anchor_)
        return std::nullopt;
    return std::pair{std::min(*anchor_, caret_), std::max(*anchor_, caret_)};
}

std::wstring LogLines::CopyText() const
{
    std::size_t first = 0, last = entries_.size();
    if (auto selection = Selection())
    {
        first = selection->first;
        last = selection->second + 1;
    }
    std::wstring text;
    for (std::size_t at = first; at < last && at < entries_.size(); ++at)
        text += entries_[at].time + L"  " + entries_[at].text + L"\r\n";
    return text;
}

std::optional<std::size_t> LogLines::LineAt(float y) const
{
    if (y < 0.0f)
        return std::nullopt;
    float top = 0.0f;
    for (std::size_t at = 0; at < entries_.size(); ++at)
    {
        top += entries_[at].height;
        if (y < top)
            return at;
    }
    return std::nullopt;
}

void FitLines(std::vector<LogEntry>& entries, Scroll& scroll, float viewport, float margin,
              const LineSizes& sizes)
{
    scroll.viewport = viewport;
    // A measured line can move those below it: fit again until the lines on view are all measured.
    for (bool measuredSome = true; measuredSome;)
    {
        float total = 0.0f;
        for (auto& entry : entries)
        {
            if (!entry.measured)
                entry.height = sizes.estimate(entry);
            total += entry.height;
        }
        scroll.content = margin + total + margin;
        if (scroll.follow)
            scroll.position = scroll.Range();
        scroll.position = std::clamp(scroll.position, 0.0f, scroll.Range());

        measuredSome = false;
        float top = margin - scroll.position;
        for (auto& entry : entries)
        {
            if (top > viewport)
                break;
            if (!entry.measured && top + entry.height >= 0.0f)
            {
                entry.height = sizes.measure(entry);
                entry.measured = measuredSome = true;
            }
            top += entry.height;
        }
    }
}

float EstimatedHeight(std::size_t characters, float width, float advance, float rowHeight)
{
    const auto perRow = static_cast<std::size_t>(std::max(1.0f, advance > 0.0f ? width / advance : 1.0f));
    return static_cast<float>(std::max<std::size_t>(1, (characters + perRow - 1) / perRow)) * rowHeight;
}

bool Scroll::MoveTo(float target)
{
    float clamped = std::clamp(target, 0.0f, Range());
    if (clamped == position)
        return false;
    position = clamped;
    follow = position >= Range() - 1.0f;
    return true;
}

Thumb ThumbOf(const Scroll& scroll, float trackTop, float trackLength, float minimumLength)
{
    float ratio = scroll.content > 0.0f ? scroll.viewport / scroll.content : 1.0f;
    Thumb thumb;
    thumb.length = std::max(trackLength * ratio, minimumLength);
    float range = scroll.Range();
    thumb.top = trackTop + (range > 0.0f ? (trackLength - thumb.length) * scroll.position / range : 0.0f);
    return thumb;
}

int WheelLines(int setting)
{
    if (setting == -1)
        return 10;
    return setting == 0 ? 1 : setting;
}

} // namespace Pd::Ui
