#include "release/folders/KnownFolder.h"

#include <memory>

namespace Pd::Install
{

std::wstring KnownFolderPath(const KNOWNFOLDERID& id, DWORD flags)
{
    PWSTR path = nullptr;
    const HRESULT hr = ::SHGetKnownFolderPath(id, flags, nullptr, &path);
    // The buffer is the caller's to free whether or not the call succeeded.
    std::unique_ptr<wchar_t, decltype(&::CoTaskMemFree)> owner(path, &::CoTaskMemFree);
    return SUCCEEDED(hr) && path != nullptr ? std::wstring(path) : std::wstring();
}

} // namespace Pd::Install
