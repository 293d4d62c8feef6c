#include "core/DataFolder.h"

#include <windows.h>

#include <knownfolders.h>
#include <shlobj.h>

#include <filesystem>
#include <memory>

namespace Pd::Core
{

std::wstring DataFolder()
{
    PWSTR raw = nullptr;
    HRESULT hr = ::SHGetKnownFolderPath(FOLDERID_LocalAppData, 0, nullptr, &raw);
    std::unique_ptr<wchar_t, decltype(&::CoTaskMemFree)> owner(raw, &::CoTaskMemFree);
    if (FAILED(hr) || raw == nullptr || *raw == L'\0')
        return {};
    return (std::filesystem::path(raw) / L"Peldra").wstring();
}

} // namespace Pd::Core
