#include "core/Elevation.h"

#include "core/ComApartment.h"
#include "core/Handles.h"

#include <windows.h>

#include <exdisp.h>
#include <oleauto.h>
#include <sddl.h>
#include <shldisp.h>
#include <shlobj.h>

#include <vector>

namespace Pd::Core
{
namespace
{

// A string VARIANT for the call, or an empty one.
struct TextArgument
{
    explicit TextArgument(const wchar_t* text) : text_(text && *text ? ::SysAllocString(text) : nullptr)
    {
        if (text_)
        {
            value.vt = VT_BSTR;
            value.bstrVal = text_.Get();
        }
    }
    bool Missing(const wchar_t* text) const { return text && *text && !text_; }
    VARIANT value{};

private:
    UniqueBstr text_;
};

// Every step must succeed completely; the COM objects go before the apartment is left.
bool ExecuteThroughDesktop(const wchar_t* target, const wchar_t* arguments, const wchar_t* folder)
{
    ComPtr<IShellWindows> windows;
    if (FAILED(::CoCreateInstance(CLSID_ShellWindows, nullptr, CLSCTX_LOCAL_SERVER, IID_IShellWindows,
                                  windows.PutVoid())))
        return false;

    VARIANT location{};
    location.vt = VT_I4;
    location.lVal = CSIDL_DESKTOP;
    VARIANT empty{};
    long window = 0;
    ComPtr<IDispatch> desktop;
    if (windows->FindWindowSW(&location, &empty, SWC_DESKTOP, &window, SWFO_NEEDDISPATCH, desktop.Put()) !=
            S_OK ||
        !desktop)
        return false;

    auto services = desktop.As<IServiceProvider>();
    ComPtr<IShellBrowser> browser;
    if (!services ||
        FAILED(services->QueryService(SID_STopLevelBrowser, IID_IShellBrowser, browser.PutVoid())))
        return false;
    ComPtr<IShellView> view;
    if (FAILED(browser->QueryActiveShellView(view.Put())) || !view)
        return false;
    ComPtr<IDispatch> background;
    if (FAILED(view->GetItemObject(SVGIO_BACKGROUND, IID_IDispatch, background.PutVoid())) || !background)
        return false;
    auto folderView = background.As<IShellFolderViewDual>();
    ComPtr<IDispatch> application;
    if (!folderView || FAILED(folderView->get_Application(application.Put())) || !application)
        return false;
    auto shell = application.As<IShellDispatch2>();
    if (!shell)
        return false;

    UniqueBstr file(::SysAllocString(target));
    TextArgument parameters(arguments);
    TextArgument directory(folder);
    if (!file || parameters.Missing(arguments) || directory.Missing(folder))
        return false;
    VARIANT none{};
    VARIANT show{};
    show.vt = VT_I4;
    show.lVal = SW_SHOWNORMAL;
    return SUCCEEDED(shell->ShellExecute(file.Get(), parameters.value, directory.value, none, show));
}

} // namespace

Elevation ElevationOf(HANDLE token)
{
    TOKEN_ELEVATION elevation{};
    DWORD size = 0;
    if (token == nullptr ||
        !::GetTokenInformation(token, TokenElevation, &elevation, sizeof(elevation), &size))
        return Elevation::Unknown;
    return elevation.TokenIsElevated != 0 ? Elevation::Elevated : Elevation::NotElevated;
}

namespace
{

Elevation ProcessElevation()
{
    UniqueHandle token;
    if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, token.Put()))
        return Elevation::Unknown;
    return ElevationOf(token.Get());
}

} // namespace

bool IsElevated()
{
    return ProcessElevation() == Elevation::Elevated;
}

bool MayBeElevated()
{
    return ProcessElevation() != Elevation::NotElevated;
}

std::wstring ProcessUserSid()
{
    UniqueHandle token;
    if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, token.Put()))
        return {};
    DWORD size = 0;
    ::GetTokenInformation(token.Get(), TokenUser, nullptr, 0, &size);
    if (size < sizeof(TOKEN_USER))
        return {};
    std::vector<unsigned char> buffer(size);
    if (!::GetTokenInformation(token.Get(), TokenUser, buffer.data(), size, &size))
        return {};
    PWSTR text = nullptr;
    if (!::ConvertSidToStringSidW(reinterpret_cast<TOKEN_USER*>(buffer.data())->User.Sid, &text))
        return {};
    UniqueLocal owner(text);
    return std::wstring(text);
}

bool ShellExecuteUnelevated(const wchar_t* target, const wchar_t* arguments, const wchar_t* folder)
{
    if (target == nullptr)
        return false;
    ComApartment apartment(Apartment::SingleThreaded);
    return ExecuteThroughDesktop(target, arguments, folder);
}

} // namespace Pd::Core
