// The "{...}" replacement fields of a text, and the rule a translation's fields must keep against
// the English text so that formatting it with the English arguments works.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace Pd::Core
{

struct TextFields
{
    std::uint32_t automatic = 0;         // "{}" and "{:spec}"
    std::vector<std::uint32_t> numbered; // "{0}", "{1:spec}" ... in order, repeats included
    std::vector<std::wstring> specs;     // ":08X" of "{:08X}", in order
    bool valid = true;                   // braces balanced, ids numeric, not automatic and numbered
};

TextFields ParseTextFields(std::wstring_view text);

// True when the translation could fail or show something else where the English text works: it is
// invalid, uses more automatic fields or a higher field number than the English text allows, or a
// format specification the English text does not have. Fewer, repeated and reordered fields pass;
// a numbered English pattern always allows {0} and {1}.
bool BreaksFieldRule(std::wstring_view english, std::wstring_view translation);

} // namespace Pd::Core
