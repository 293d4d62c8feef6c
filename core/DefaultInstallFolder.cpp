#include "core/DefaultInstallFolder.h"

#include <windows.h>

#include <knownfolders.h>
#include <shlobj.h>

#include <filesystem>
#include <memory>

namespace Pd::Core
{

std::wstring DefaultInstallFolder()
{
    PWSTR raw = nullptr;
    HRESULT hr = ::SHGetKnownFolderPath(FOLDERID_ProgramFiles, 0, nullptr, &raw);
    std::unique_ptr<wchar_t, decltype(&::CoTaskMemFree)> owner(raw, &::CoTaskMemFree);
    std::filesystem::path base = (SUCCEEDED(hr) && raw != nullptr && *raw != L'\0')
                                     ? std::filesystem::path(raw)
                                     : L"C:\\Program Files";
    return (base / L"Peldra").wstring();
}

} // namespace Pd::Core
