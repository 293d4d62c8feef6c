#include "core/UserFolders.h"

#include "core/Elevation.h"
#include "core/Handles.h"
#include "core/Paths.h"
#include "core/Strings.h"
#include "core/Text.h"

#include <knownfolders.h>
#include <userenv.h>

#include <memory>
#include <vector>

namespace Pd::Core
{
namespace
{

// The "User Shell Folders" value that sets the folder: its old name where it has one, else its id.
std::wstring ValueName(const KNOWNFOLDERID& id)
{
    struct Named
    {
        const KNOWNFOLDERID& id;
        const wchar_t* name;
    };
    static const Named names[] = {
        {FOLDERID_LocalAppData, L"Local AppData"},
        {FOLDERID_RoamingAppData, L"AppData"},
        {FOLDERID_Programs, L"Programs"},
        {FOLDERID_StartMenu, L"Start Menu"},
        {FOLDERID_Startup, L"Startup"},
        {FOLDERID_Desktop, L"Desktop"},
    };
    for (const Named& named : names)
        if (::IsEqualGUID(named.id, id))
            return named.name;
    wchar_t text[40] = {};
    return ::StringFromGUID2(id, text, 40) > 0 ? std::wstring(text) : std::wstring();
}

std::wstring ShellFolderPath(const KNOWNFOLDERID& id)
{
    PWSTR path = nullptr;
    const HRESULT hr = ::SHGetKnownFolderPath(id, KF_FLAG_DONT_VERIFY, nullptr, &path);
    // The buffer is the caller's to free whether or not the call succeeded.
    std::unique_ptr<wchar_t, decltype(&::CoTaskMemFree)> owner(path, &::CoTaskMemFree);
    return SUCCEEDED(hr) && path != nullptr ? std::wstring(path) : std::wstring();
}

} // namespace

std::wstring UserProfileFolder()
{
    UniqueHandle token;
    if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, token.Put()))
        return {};
    DWORD size = 0;
    ::GetUserProfileDirectoryW(token.Get(), nullptr, &size);
    if (size == 0)
        return {};
    std::vector<wchar_t> buffer(size);
    if (!::GetUserProfileDirectoryW(token.Get(), buffer.data(), &size))
        return {};
    return std::wstring(buffer.data());
}

Result<std::wstring> UserKnownFolder(const KNOWNFOLDERID& id)
{
    const bool elevated = MayBeElevated();
    return Detail::CheckUserFolderWith(ShellFolderPath(id), elevated ? UserProfileFolder() : std::wstring(),
                                       elevated, ValueName(id));
}

bool Detail::IsInProfile(const std::wstring& folder, const std::wstring& profile)
{
    const std::wstring full = NormalizeFolder(folder);
    std::wstring base = NormalizeFolder(profile);
    if (full.empty() || base.empty())
        return false;
    if (EqualsIgnoringCase(full, base))
        return true;
    if (base.back() != L'\\')
        base += L'\\';
    return full.size() > base.size() && StartsWithIgnoringCase(full, base);
}

Result<std::wstring> Detail::CheckUserFolderWith(const std::wstring& folder, const std::wstring& profile,
                                                 bool elevated, std::wstring_view valueName)
{
    const std::wstring normal = NormalizeFolder(folder);
    if (normal.empty())
        return Fail(FormatText(TextId::UserFolderUnresolved, valueName));
    if (!elevated)
        return normal;
    if (NormalizeFolder(profile).empty())
        return Fail(FormatText(TextId::ProfileFolderUnknown, folder, valueName));
    if (!IsInProfile(normal, profile))
        return Fail(FormatText(TextId::FolderOutsideProfile, folder, profile, valueName));
    return normal;
}

} // namespace Pd::Core
