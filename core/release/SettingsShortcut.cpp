#include "core/release/SettingsShortcut.h"

#include "core/ErrorText.h"
#include "core/Handles.h"
#include "core/release/KnownFolder.h"
#include "core/release/Packages.h"
#include "core/release/TovikControl.h"
#include "core/Strings.h"
#include "core/Text.h"

#include <windows.h>

#include <initguid.h>

#include <objbase.h>
#include <propkey.h>
#include <propsys.h>
#include <shlobj.h>

#include <cwctype>
#include <filesystem>

namespace Pd::Install
{
namespace
{

constexpr int ArgumentsCapacity = 1024;

bool IsShortcutFile(const std::filesystem::path& path)
{
    return Core::ToLower(path.extension().wstring()) == L".lnk";
}

// The shortcut's arguments; empty when it cannot be loaded.
std::wstring ShortcutArguments(const std::wstring& path)
{
    ComPtr<IShellLinkW> link;
    if (FAILED(::CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                                  link.PutVoid())))
        return {};
    ComPtr<IPersistFile> file = link.As<IPersistFile>();
    if (!file || FAILED(file->Load(path.c_str(), STGM_READ)))
        return {};
    wchar_t arguments[ArgumentsCapacity] = {};
    if (FAILED(link->GetArguments(arguments, ArgumentsCapacity)))
        return {};
    return arguments;
}

// Sets the shortcut's app user model id and commits it.
HRESULT SetAppId(IShellLinkW& link, const wchar_t* appId)
{
    ComPtr<IPropertyStore> store;
    HRESULT hr = link.QueryInterface(IID_IPropertyStore, store.PutVoid());
    if (FAILED(hr))
        return hr;
    PROPVARIANT value{};
    value.vt = VT_LPWSTR;
    value.pwszVal = const_cast<wchar_t*>(appId); // read only: SetValue copies it
    hr = store->SetValue(PKEY_AppUserModel_ID, value);
    return SUCCEEDED(hr) ? store->Commit() : hr;
}

} // namespace

std::vector<std::wstring> FindTovikSettingsShortcuts()
{
    std::vector<std::wstring> found;
    const std::wstring programs = KnownFolderPath(FOLDERID_Programs);
    std::error_code error;
    if (programs.empty() || !std::filesystem::is_directory(programs, error))
        return found;
    for (std::filesystem::directory_iterator
             it(programs, std::filesystem::directory_options::skip_permission_denied, error),
         end;
         !error && it != end; it.increment(error))
    {
        const std::filesystem::path& path = it->path();
        if (IsShortcutFile(path) &&
            Core::EqualsIgnoringCase(ShortcutArguments(path), SettingsShortcutArguments))
            found.push_back(path.wstring());
    }
    return found;
}

Result<> CreateTovikSettingsShortcut(const std::wstring& name, const std::wstring& iconPath)
{
    const std::wstring localAppData = KnownFolderPath(FOLDERID_LocalAppData);
    const std::wstring programs = KnownFolderPath(FOLDERID_Programs);
    if (localAppData.empty() || programs.empty())
        return Pd::Fail(Core::Text(10010));
    const std::wstring target =
        localAppData + L"\\Microsoft\\WindowsApps\\" + TovikFamilyName + L"\\TovikClient.exe";
    for (const std::wstring& old : FindTovikSettingsShortcuts())
        ::DeleteFileW(old.c_str());

    const std::wstring path = programs + L"\\" + name + L".lnk";
    ComPtr<IShellLinkW> link;
    HRESULT hr =
        ::CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW, link.PutVoid());
    if (SUCCEEDED(hr))
        hr = link->SetPath(target.c_str());
    if (SUCCEEDED(hr))
        hr = link->SetArguments(SettingsShortcutArguments);
    if (SUCCEEDED(hr))
        hr = link->SetIconLocation(iconPath.c_str(), 1);
    if (SUCCEEDED(hr))
        hr = link->SetDescription(name.c_str());
    if (SUCCEEDED(hr))
        hr = SetAppId(*link.Get(), SettingsTarget);
    ComPtr<IPersistFile> file;
    if (SUCCEEDED(hr))
        hr = link->QueryInterface(IID_IPersistFile, file.PutVoid());
    if (SUCCEEDED(hr))
        hr = file->Save(path.c_str(), TRUE);
    if (FAILED(hr))
        return Pd::Fail(Core::ErrorText(path, static_cast<std::uint32_t>(hr)));
    ::SHChangeNotify(SHCNE_CREATE, SHCNF_PATHW, path.c_str(), nullptr);
    return {};
}

} // namespace Pd::Install
