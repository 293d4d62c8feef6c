#include "core/SecurityPrompt.h"

namespace Pd::Core
{

std::wstring SecurityPromptText(const std::function<std::wstring(Wording)>& compose)
{
    std::wstring text = compose(Wording::Builtin);
    std::wstring translated = compose(Wording::Current);
    if (translated.empty() || translated == text)
        return text;
    if (translated.size() > MaxTranslatedPromptUnits)
    {
        std::size_t cut = MaxTranslatedPromptUnits;
        if (translated[cut - 1] >= 0xD800 && translated[cut - 1] <= 0xDBFF) // never half a pair
            --cut;
        translated.resize(cut);
        translated += L'\u2026';
    }
    return text + L"\n\n" + translated;
}

} // namespace Pd::Core
