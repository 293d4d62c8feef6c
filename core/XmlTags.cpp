#include "core/XmlTags.h"

namespace Pd::Core
{
namespace
{

bool IsXmlSpace(wchar_t unit)
{
    return unit == L' ' || unit == L'\t' || unit == L'\n' || unit == L'\r';
}

bool EndsName(wchar_t unit)
{
    return IsXmlSpace(unit) || unit == L'=' || unit == L'/' || unit == L'>';
}

// Where a name in a tag ends: at a blank, "=", "/", ">" or the end.
std::size_t NameEnd(std::wstring_view tag, std::size_t position)
{
    while (position < tag.size() && !EndsName(tag[position]))
        ++position;
    return position;
}

std::size_t SkipSpace(std::wstring_view tag, std::size_t position)
{
    while (position < tag.size() && IsXmlSpace(tag[position]))
        ++position;
    return position;
}

} // namespace

std::vector<std::wstring_view> StartTags(std::wstring_view document, std::wstring_view name)
{
    std::vector<std::wstring_view> tags;
    std::size_t position = 0;
    while ((position = document.find(L'<', position)) != std::wstring_view::npos)
    {
        // Only the name's own length is compared, so that a run of "<" costs one pass.
        const std::size_t nameStart = position + 1;
        const std::size_t nameEnd = nameStart + name.size();
        if (name.empty() || document.substr(nameStart, name.size()) != name || nameEnd >= document.size() ||
            !EndsName(document[nameEnd]))
        {
            position = nameStart;
            continue;
        }
        const std::size_t close = document.find(L'>', nameEnd);
        if (close == std::wstring_view::npos)
            break;
        tags.push_back(document.substr(position, close + 1 - position));
        position = close + 1;
    }
    return tags;
}

std::optional<std::wstring_view> TagAttribute(std::wstring_view tag, std::wstring_view name)
{
    std::size_t position = NameEnd(tag, tag.starts_with(L'<') ? 1 : 0);
    for (;;)
    {
        position = SkipSpace(tag, position);
        const std::size_t nameEnd = NameEnd(tag, position);
        if (nameEnd == position)
            return std::nullopt; // "/", ">", a stray "=" or the end: no more attributes
        const std::wstring_view attribute = tag.substr(position, nameEnd - position);
        position = SkipSpace(tag, nameEnd);
        if (position >= tag.size() || tag[position] != L'=')
            return std::nullopt;
        position = SkipSpace(tag, position + 1);
        if (position >= tag.size() || (tag[position] != L'"' && tag[position] != L'\''))
            return std::nullopt;
        const std::size_t valueEnd = tag.find(tag[position], position + 1);
        if (valueEnd == std::wstring_view::npos)
            return std::nullopt;
        if (attribute == name)
            return tag.substr(position + 1, valueEnd - position - 1);
        position = valueEnd + 1;
    }
}

} // namespace Pd::Core
