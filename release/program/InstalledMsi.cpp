#include "release/program/InstalledMsi.h"

#include "core/ErrorText.h"
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

    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process{};
    if (!::CreateProcessW(msiexec.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                          systemFolder.empty() ? nullptr : systemFolder.c_str(), &startup, &process))
        return Fail(Core::ErrorText(Core::Text(TextId::StartingPeldraSetup), ::GetLastError()));
    ::CloseHandle(process.hThread);
    ::CloseHandle(process.hProcess);
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
