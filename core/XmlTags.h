// A linear scanner for the start tags of a small XML document (a package's AppxManifest.xml):
// enough to read attributes of named elements, with no recursion and no backtracking, so that a
// hostile file of any length costs one pass.
#pragma once

#include <optional>
#include <string_view>
#include <vector>

namespace Pd::Core
{

// Every start tag "<name ...>" (or "<name/>") of an element named exactly `name`, from "<" to
// ">", in document order. A tag without its ">" ends the list.
std::vector<std::wstring_view> StartTags(std::wstring_view document, std::wstring_view name);

// The value of the attribute named exactly `name` in one start tag, between its quotes (double
// or single), entities left as written; none when the tag does not hold it well-formed.
std::optional<std::wstring_view> TagAttribute(std::wstring_view tag, std::wstring_view name);

} // namespace Pd::Core
