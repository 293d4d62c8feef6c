// The registry helpers of the leftovers clean-up.
#include "release/uninstall/Leftovers.h"

#include "core/ErrorText.h"
#include "core/Handles.h"
#include "core/Strings.h"
#include "core/Text.h"

namespace Pd::Install
{
namespace
{

UniqueRegKey OpenUserKey(const std::wstring& key, REGSAM access)
{
    UniqueRegKey handle;
    if (::RegOpenKeyExW(HKEY_CURRENT_USER, key.c_str(), 0, access, handle.Put()) != ERROR_SUCCESS)
        return {};
    return handle;
}

} // namespace

std::vector<std::wstring> RegSubkeyNames(const std::wstring& key)
{
    std::vector<std::wstring> names;
    UniqueRegKey handle = OpenUserKey(key, KEY_ENUMERATE_SUB_KEYS);
    if (!handle)
        return names;
    for (DWORD index = 0;; ++index)
    {
        wchar_t name[256];
        DWORD length = static_cast<DWORD>(std::size(name));
        const LSTATUS status =
            ::RegEnumKeyExW(handle.Get(), index, name, &length, nullptr, nullptr, nullptr, nullptr);
        if (status == ERROR_NO_MORE_ITEMS)
            break;
        if (status == ERROR_SUCCESS)
            names.emplace_back(name, length);
        else if (status != ERROR_MORE_DATA) // a name too long for the key's rules is skipped
            break;
    }
    return names;
}

std::vector<std::wstring> RegValueNames(const std::wstring& key)
{
    std::vector<std::wstring> names;
    UniqueRegKey handle = OpenUserKey(key, KEY_QUERY_VALUE);
    DWORD longest = 0;
    if (!handle || ::RegQueryInfoKeyW(handle.Get(), nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                                      nullptr, &longest, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
        return names;
    std::wstring name(longest + 1, L'\0');
    for (DWORD index = 0;; ++index)
    {
        DWORD length = static_cast<DWORD>(name.size());
        const LSTATUS status =
            ::RegEnumValueW(handle.Get(), index, name.data(), &length, nullptr, nullptr, nullptr, nullptr);
        if (status == ERROR_NO_MORE_ITEMS)
            break;
        if (status == ERROR_SUCCESS)
            names.emplace_back(name.data(), length);
        else if (status != ERROR_MORE_DATA) // a value added meanwhile with a longer name is skipped
            break;
    }
    return names;
}

std::wstring RegReadString(const std::wstring& key, const wchar_t* valueName)
{
    constexpr DWORD flags = RRF_RT_REG_SZ | RRF_RT_REG_EXPAND_SZ | RRF_NOEXPAND;
    DWORD bytes = 0;
    if (::RegGetValueW(HKEY_CURRENT_USER, key.c_str(), valueName, flags, nullptr, nullptr, &bytes) !=
            ERROR_SUCCESS ||
        bytes < sizeof(wchar_t))
        return {};
    std::wstring text(bytes / sizeof(wchar_t) + 1, L'\0');
    bytes = static_cast<DWORD>(text.size() * sizeof(wchar_t));
    if (::RegGetValueW(HKEY_CURRENT_USER, key.c_str(), valueName, flags, nullptr, text.data(), &bytes) !=
        ERROR_SUCCESS)
        return {};
    text.resize(text.find(L'\0') == std::wstring::npos ? text.size() : text.find(L'\0'));
    return text;
}

void RegDeleteTree(LeftoverCleanup& cleanup, const std::wstring& key)
{
    LSTATUS status = ::RegDeleteTreeW(HKEY_CURRENT_USER, key.c_str());
    // Given a subkey, RegDeleteTreeW already takes the key itself with it: then it is gone.
    if (status == ERROR_SUCCESS)
        if (LSTATUS own = ::RegDeleteKeyW(HKEY_CURRENT_USER, key.c_str()); own != ERROR_FILE_NOT_FOUND)
            status = own;
    if (status == ERROR_SUCCESS)
        ++cleanup.counts.registryKeys;
    else if (status != ERROR_FILE_NOT_FOUND)
        cleanup.report(Core::ErrorText(Core::FormatText(TextId::DeletingFile, L"HKCU\\" + key),
                                       static_cast<DWORD>(status)));
}

void RegDeleteValue(LeftoverCleanup& cleanup, const std::wstring& key, const std::wstring& name)
{
    UniqueRegKey handle = OpenUserKey(key, KEY_SET_VALUE);
    if (!handle)
        return;
    const LSTATUS status = ::RegDeleteValueW(handle.Get(), name.c_str());
    if (status == ERROR_SUCCESS)
        ++cleanup.counts.registryValues;
    else if (status != ERROR_FILE_NOT_FOUND)
        cleanup.report(Core::ErrorText(Core::FormatText(TextId::DeletingFile, L"HKCU\\" + key + L"\\" + name),
                                       static_cast<DWORD>(status)));
}

void RegDeleteMatchingSubkeys(LeftoverCleanup& cleanup, const std::wstring& key, const std::wstring& prefix)
{
    if (prefix.empty())
        return;
    for (const std::wstring& name : RegSubkeyNames(key))
        if (Core::StartsWithIgnoringCase(name, prefix))
            RegDeleteTree(cleanup, key + L"\\" + name);
}

} // namespace Pd::Install
