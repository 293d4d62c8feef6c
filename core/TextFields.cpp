#include "core/TextFields.h"

#include <algorithm>
#include <limits>

namespace Pd::Core
{

TextFields ParseTextFields(std::wstring_view text)
{
    TextFields fields;
    std::size_t at = 0;
    while (at < text.size())
    {
        wchar_t unit = text[at];
        if (unit != L'{' && unit != L'}')
        {
            ++at;
            continue;
        }
        if (at + 1 < text.size() && text[at + 1] == unit)
        {
            at += 2; // "{{" or "}}": a literal brace
            continue;
        }
        if (unit == L'}')
        {
            fields.valid = false;
            ++at;
            continue;
        }
        std::size_t close = text.find(L'}', at + 1);
        if (close == std::wstring_view::npos)
        {
            fields.valid = false;
            break;
        }
        std::wstring_view inside = text.substr(at + 1, close - at - 1);
        std::size_t colon = inside.find(L':');
        std::wstring_view argument = inside.substr(0, colon);
        if (colon != std::wstring_view::npos)
            fields.specs.emplace_back(inside.substr(colon));
        if (argument.empty())
        {
            ++fields.automatic;
        }
        else if (std::all_of(argument.begin(), argument.end(),
                             [](wchar_t c) { return c >= L'0' && c <= L'9'; }))
        {
            // Saturating: a number this large is beyond every argument list anyway.
            std::uint64_t number = 0;
            for (wchar_t digit : argument)
                number = std::min<std::uint64_t>(number * 10 + static_cast<std::uint64_t>(digit - L'0'),
                                                 std::numeric_limits<std::uint32_t>::max());
            fields.numbered.push_back(static_cast<std::uint32_t>(number));
        }
        else
        {
            fields.valid = false;
        }
        at = close + 1;
    }
    if (fields.automatic > 0 && !fields.numbered.empty())
        fields.valid = false;
    return fields;
}

bool BreaksFieldRule(std::wstring_view english, std::wstring_view translation)
{
    TextFields original = ParseTextFields(english);
    TextFields translated = ParseTextFields(translation);

    std::uint64_t allowed = original.automatic;
    if (!original.numbered.empty())
    {
        std::uint64_t highest = *std::max_element(original.numbered.begin(), original.numbered.end());
        allowed = std::max<std::uint64_t>({allowed, highest + 1, 2});
    }

    if (!translated.valid || translated.automatic > allowed)
        return true;
    for (std::uint32_t number : translated.numbered)
        if (number >= allowed)
            return true;
    for (const auto& spec : translated.specs)
        if (std::find(original.specs.begin(), original.specs.end(), spec) == original.specs.end())
            return true;
    return false;
}

} // namespace Pd::Core
