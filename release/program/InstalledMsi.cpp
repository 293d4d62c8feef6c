#include "release/program/InstalledMsi.h"

#include "core/ErrorText.h"
#include "core/StartProgram.h"
#include "core/Text.h"
#include "release/folders/Folders.h"

#include <windows.h>

#include <msi.h>

#include <fmt/xchar.h>

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

Result<> StartMsiUninstall(const std::wstring& productCode, bool removeData)
{
    const std::wstring systemFolder = Core::SystemFolder();
    const std::wstring msiexec = systemFolder + L"\\msiexec.exe";
    std::wstring commandLine = Detail::MsiUninstallCommandLine(msiexec, productCode, removeData);

    if (auto started = Core::StartProgram(msiexec, std::move(commandLine), 0); !started)
        return Fail(Core::ErrorText(Core::Text(TextId::StartingPeldraSetup), started.error()));
    return {};
}

namespace Detail
{

std::wstring MsiUninstallCommandLine(const std::wstring& msiexec, const std::wstring& productCode,
                                     bool removeData)
{
    return fmt::format(L"\"{}\" /x {} /passive{}", msiexec, productCode, removeData ? L" REMOVEDATA=1" : L"");
}

} // namespace Detail

} // namespace Pd::Install
