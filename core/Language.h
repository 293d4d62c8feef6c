// Which language the texts are shown in: an explicit code, or "auto" (the best language file for
// the user's preferred Windows display languages). The choice is stored per user in the value
// "Language" and applied at start.
#pragma once

#include "core/LanguageFile.h"

#include <cstdint>
#include <string>
#include <vector>

namespace Pd::Core
{

struct LanguageMenuItem
{
    std::wstring code;
    std::wstring name;
    std::vector<std::wstring> locales;
    std::uint64_t translated = 0; // built-in ids with a non-empty text in the file
    std::uint64_t total = 0;      // number of built-in ids
};

// Makes a language current: a code, or "auto" / empty for the automatic choice. Any failure (a
// refused code, a file that does not open) leaves the process in English and returns false; only
// a successful call with store set writes "Language" ("auto" when chosen automatically).
bool SetLanguage(const std::wstring& choice, bool store);

// Applies the stored choice (default "auto") without storing it; "auto" when it cannot be set.
void ApplyLanguageSetting();

// The code the automatic choice gives for the user's preferred UI languages; "en" when none fits.
std::wstring AutoLanguage();

// The automatic choice for the given preferred language names (as Windows reports them, in its
// order) among the given files (in folder order).
std::wstring AutoLanguageFor(const std::vector<std::wstring>& preferred,
                             const std::vector<LanguageFile>& files);

// The window's language menu: English first, then every language file sorted by its name.
std::vector<LanguageMenuItem> LanguageMenuItems();

} // namespace Pd::Core
