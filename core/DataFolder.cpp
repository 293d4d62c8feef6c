#include "core/DataFolder.h"

#include "core/LogFile.h"

#include <windows.h>

#include <knownfolders.h>
#include <share.h>
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

namespace Detail
{

std::FILE* OpenLogFile()
{
    std::wstring folder = DataFolder();
    if (folder.empty())
        return nullptr;
    std::error_code error;
    std::filesystem::create_directories(folder, error);
    if (error)
        return nullptr;
    // Binary append, shared for reading and writing: the host and a command-line bridge may
    // append to the same file at once.
    std::wstring path = (std::filesystem::path(folder) / L"bluetooth.log").wstring();
    return ::_wfsopen(path.c_str(), L"ab", _SH_DENYNO);
}

} // namespace Detail
} // namespace Pd::Core
