#include "ui/Dialog.h"

namespace Pd::Ui
{

std::wstring TrimFieldValue(const std::wstring& text)
{
    constexpr const wchar_t* Around = L" \t\"";
    auto first = text.find_first_not_of(Around);
    if (first == std::wstring::npos)
        return {};
    return text.substr(first, text.find_last_not_of(Around) - first + 1);
}

DialogLayout LayOutDialog(float width, float messageHeight, const std::vector<bool>& browse, bool details,
                          int buttonCount)
{
    constexpr float m = 24.0f;
    DialogLayout layout;
    layout.title = {m, m, width - m, m + 28};
    float y = m + 36;
    if (messageHeight > 0)
    {
        layout.message = {m, y, width - m, y + messageHeight};
        y += messageHeight + 16;
    }
    for (bool hasBrowse : browse)
    {
        DialogFieldBoxes field;
        field.label = {m, y, width - m, y + 18};
        y += 22;
        float b = hasBrowse ? 36.0f : 0.0f;
        field.frame = {m, y, width - m - (b > 0 ? 6 + b : 0), y + 32};
        if (hasBrowse)
            field.browse = {width - m - 36, y, width - m, y + 32};
        y += 12 + 32;
        layout.fields.push_back(field);
    }
    if (details)
    {
        layout.details = {m, y, width - m, y + 380};
        y = layout.details.bottom + 12;
    }
    layout.error = {m, y, width - m, y + 20};
    y += 24;
    layout.bar = {0, y, width, y + 72};
    float top = y + (72 - 32) / 2;
    for (int at = 0; at < buttonCount; ++at)
    {
        float right = width - m - static_cast<float>(buttonCount - 1 - at) * (124 + 8);
        layout.buttons.push_back({right - 124, top, right, top + 32});
    }
    layout.height = y + 72;
    return layout;
}

} // namespace Pd::Ui
