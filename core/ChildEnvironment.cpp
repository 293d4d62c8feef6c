#include "core/ChildEnvironment.h"

#include "core/UserFolders.h"

#include <windows.h>

#include <knownfolders.h>
#include <shlobj.h>

#include <algorithm>
#include <memory>
#include <optional>

namespace Pd::Core
{
namespace
{

std::vector<std::wstring>& PassedOnNames()
{
    static std::vector<std::wstring> names;
    return names;
}

std::wstring KnownFolder(const KNOWNFOLDERID& id)
{
    PWSTR path = nullptr;
    const HRESULT hr = ::SHGetKnownFolderPath(id, KF_FLAG_DONT_VERIFY, nullptr, &path);
    // The buffer is the caller's to free whether or not the call succeeded.
    std::unique_ptr<wchar_t, decltype(&::CoTaskMemFree)> owner(path, &::CoTaskMemFree);
    return SUCCEEDED(hr) && path != nullptr ? std::wstring(path) : std::wstring();
}

// This process's value of the variable; none when it has none.
std::optional<std::wstring> OwnVariable(const std::wstring& name)
{
    std::wstring value(256, L'\0');
    for (int attempt = 0; attempt < 3; ++attempt)
    {
        ::SetLastError(ERROR_SUCCESS);
        const DWORD length =
            ::GetEnvironmentVariableW(name.c_str(), value.data(), static_cast<DWORD>(value.size()));
        if (length == 0 && ::GetLastError() == ERROR_ENVVAR_NOT_FOUND)
            return std::nullopt;
        if (length < value.size())
        {
            value.resize(length);
            return value;
        }
        // Too small: the length asked for counts the terminating zero.
        value.assign(length, L'\0');
    }
    return std::nullopt;
}

bool SameName(const std::wstring& a, const std::wstring& b)
{
    return ::CompareStringOrdinal(a.c_str(), static_cast<int>(a.size()), b.c_str(),
                                  static_cast<int>(b.size()), TRUE) == CSTR_EQUAL;
}

} // namespace

void PassOnToChildren(const wchar_t* name)
{
    PassedOnNames().emplace_back(name);
}

std::expected<std::vector<ChildVariable>, std::uint32_t> ChildVariables()
{
    wchar_t windows[MAX_PATH] = {};
    const UINT windowsLength = ::GetSystemWindowsDirectoryW(windows, MAX_PATH);
    if (windowsLength == 0 || windowsLength >= MAX_PATH)
        return std::unexpected(windowsLength == 0 ? ::GetLastError() : ERROR_BUFFER_OVERFLOW);
    wchar_t system[MAX_PATH] = {};
    const UINT systemLength = ::GetSystemDirectoryW(system, MAX_PATH);
    if (systemLength == 0 || systemLength >= MAX_PATH)
        return std::unexpected(systemLength == 0 ? ::GetLastError() : ERROR_BUFFER_OVERFLOW);
    const std::wstring windowsFolder(windows, windowsLength);
    const std::wstring systemFolder(system, systemLength);

    std::vector<ChildVariable> variables{
        {L"SystemRoot", windowsFolder},
        {L"windir", windowsFolder},
        {L"TEMP", windowsFolder + L"\\Temp"},
        {L"TMP", windowsFolder + L"\\Temp"},
        {L"PATH", systemFolder},
        {L"ComSpec", systemFolder + L"\\cmd.exe"},
    };
    if (windowsFolder.size() >= 2 && windowsFolder[1] == L':')
        variables.push_back({L"SystemDrive", windowsFolder.substr(0, 2)});
    const std::wstring programData = KnownFolder(FOLDERID_ProgramData);
    const std::wstring profile = UserProfileFolder();
    for (const ChildVariable& folder :
         {ChildVariable{L"ProgramFiles", KnownFolder(FOLDERID_ProgramFiles)},
          ChildVariable{L"CommonProgramFiles", KnownFolder(FOLDERID_ProgramFilesCommon)},
          ChildVariable{L"ProgramData", programData}, ChildVariable{L"ALLUSERSPROFILE", programData},
          ChildVariable{L"USERPROFILE", profile}})
        if (!folder.value.empty())
            variables.push_back(folder);
    for (const std::wstring& name : PassedOnNames())
        if (auto value = OwnVariable(name))
            variables.push_back({name, *value});
    return variables;
}

std::expected<std::wstring, std::uint32_t> ChildEnvironmentBlock()
{
    auto variables = ChildVariables();
    if (!variables)
        return std::unexpected(variables.error());
    return Detail::EnvironmentBlock(*variables);
}

std::wstring Detail::EnvironmentBlock(const std::vector<ChildVariable>& variables)
{
    std::vector<const ChildVariable*> kept;
    for (const ChildVariable& variable : variables)
        if (std::none_of(kept.begin(), kept.end(),
                         [&](const ChildVariable* other) { return SameName(other->name, variable.name); }))
            kept.push_back(&variable);
    std::stable_sort(kept.begin(), kept.end(), [](const ChildVariable* a, const ChildVariable* b) {
        return ::CompareStringOrdinal(a->name.c_str(), static_cast<int>(a->name.size()), b->name.c_str(),
                                      static_cast<int>(b->name.size()), TRUE) == CSTR_LESS_THAN;
    });
    std::wstring block;
    for (const ChildVariable* variable : kept)
        block += variable->name + L'=' + variable->value + L'\0';
    if (block.empty())
        block += L'\0';
    return block + L'\0';
}

} // namespace Pd::Core
