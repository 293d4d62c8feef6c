#include "ui/CommandState.h"

#include "ui/MainCommandTable.h"

namespace Pd::Ui
{

bool VariantHasGoogle(std::wstring_view variant)
{
    return variant.size() >= 6 && variant.find(L"Google") != std::wstring_view::npos;
}

bool IsCommandEnabled(unsigned id, const CommandState& state)
{
    const CommandRow* row = FindCommand(id);
    return !row || row->EnabledIn(state);
}

} // namespace Pd::Ui
