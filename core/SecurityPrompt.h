// The text of a prompt whose Yes gives Android root: the confirmation of wider root settings and
// a root request. Language files are only hints here (the HKCU "Language" value picks one for
// every host), so such a prompt shows its built-in English wording, which says what turns on and
// which app asks, in full and first; the current language's wording follows when it says
// anything else, cut at a bound. A translation can add words, but cannot take away, replace or
// push out of view the built-in ones.
#pragma once

#include "core/Text.h"

#include <cstddef>
#include <functional>
#include <string>

namespace Pd::Core
{

// At most this many UTF-16 units of the translated wording are shown, then "…".
inline constexpr std::size_t MaxTranslatedPromptUnits = 1000;

// compose gives the prompt's text in a wording; it is called once for each.
std::wstring SecurityPromptText(const std::function<std::wstring(Wording)>& compose);

} // namespace Pd::Core
