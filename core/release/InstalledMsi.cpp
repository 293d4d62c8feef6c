#include "core/release/InstalledMsi.h"

#include <windows.h>

#include <msi.h>

namespace Pd::Install
{

std::optional<std::wstring> FindInstalledMsi()
{
    for (DWORD index = 0;; ++index)
    {
        wchar_t product[39] = {};
        if (::MsiEnumRelatedProductsW(ProgramUpgradeCode, 0, index, product) != ERROR_SUCCESS)
            return std::nullopt;
        const INSTALLSTATE state = ::MsiQueryProductStateW(product);
        if (state == INSTALLSTATE_LOCAL || state == INSTALLSTATE_DEFAULT)
            return std::wstring(product);
    }
}

} // namespace Pd::Install
