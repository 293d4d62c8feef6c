#include "release/windows/SettingsShortcut.h"

#include "core/ErrorText.h"
#include "core/Handles.h"
#include "core/Strings.h"
#include "core/Text.h"
#include "core/UserFolders.h"
#include "release/folders/NoLinks.h"
#include "release/folders/UserFolderFiles.h"
#include "release/windows/Packages.h"
#include "release/windows/TovikControl.h"

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
constexpr std::uint64_t MaxShortcutBytes = 1 << 20;

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

// The shortcut's bytes, as IPersistFile::Save would write them.
HRESULT ShortcutBytes(IShellLinkW& link, std::string& bytes)
{
    ComPtr<IPersistStream> persist;
    HRESULT hr = link.QueryInterface(IID_IPersistStream, persist.PutVoid());
    ComPtr<IStream> stream;
    if (SUCCEEDED(hr))
        hr = ::CreateStreamOnHGlobal(nullptr, TRUE, stream.Put());
    if (SUCCEEDED(hr))
        hr = persist->Save(stream.Get(), TRUE);
    STATSTG status{};
    if (SUCCEEDED(hr))
        hr = stream->Stat(&status, STATFLAG_NONAME);
    if (SUCCEEDED(hr) && status.cbSize.QuadPart > MaxShortcutBytes)
        hr = E_UNEXPECTED;
    if (SUCCEEDED(hr))
        hr = stream->Seek(LARGE_INTEGER{}, STREAM_SEEK_SET, nullptr);
    ULONG read = 0;
    if (SUCCEEDED(hr))
    {
        bytes.resize(static_cast<std::size_t>(status.cbSize.QuadPart));
        hr = stream->Read(bytes.data(), static_cast<ULONG>(bytes.size()), &read);
    }
    if (SUCCEEDED(hr) && read != bytes.size())
        hr = E_UNEXPECTED;
    return hr;
}

} // namespace

std::vector<std::wstring> FindTovikSettingsShortcuts()
{
    std::vector<std::wstring> found;
    const std::wstring programs = Core::UserKnownFolder(FOLDERID_Programs).value_or(std::wstring());
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
    // Both folders are the user's own: the shortcut starts nothing from elsewhere and is written
    // nowhere else (a Programs folder moved to the all-users Startup folder, say).
    const Result<std::wstring> localAppData = Core::UserKnownFolder(FOLDERID_LocalAppData);
    if (!localAppData)
        return Pd::Fail(localAppData.error());
    const Result<std::wstring> found = Core::UserKnownFolder(FOLDERID_Programs);
    if (!found)
        return Pd::Fail(found.error());
    const std::wstring& programs = *found;
    const std::wstring target =
        *localAppData + L"\\Microsoft\\WindowsApps\\" + TovikFamilyName + L"\\TovikClient.exe";
    // The Start menu is the user's: nothing is deleted or written there through a link.
    const std::wstring root = UserFolderRoot(programs);
    for (const std::wstring& old : FindTovikSettingsShortcuts())
        static_cast<void>(DeleteBelow(root, old));

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
    std::string bytes;
    if (SUCCEEDED(hr))
        hr = ShortcutBytes(*link.Get(), bytes);
    if (FAILED(hr))
        return Pd::Fail(Core::ErrorText(path, static_cast<std::uint32_t>(hr)));
    if (auto written = WriteWholeFile(root, path, bytes); !written)
        return written;
    ::SHChangeNotify(SHCNE_CREATE, SHCNF_PATHW, path.c_str(), nullptr);
    return {};
}

} // namespace Pd::Install
