// Folder paths made comparable.
#pragma once

#include <string>

namespace Pd::Core
{

// The folder as a full, lexically normal path with backslashes and without a trailing separator
// (a drive root such as C:\ keeps its backslash). Empty when the path cannot be made full.
std::wstring NormalizeFolder(const std::wstring& folder);

} // namespace Pd::Core
