#include "cli/HelloRemember.h"

#include <fmt/xchar.h>

namespace Pd::Cli
{

std::wstring HelloRememberText(std::uint32_t value)
{
    if (value == 0)
        return L"off (Windows Hello asks every time)";
    if (value == HelloRememberUntilLocked)
        return L"until Windows is locked";
    return fmt::format(L"for {} minutes", value);
}

} // namespace Pd::Cli
