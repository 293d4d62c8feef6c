#include "platform/WebPage.h"

#include "core/Elevation.h"
#include "platform/RealServices.h"

#include <shellapi.h>

#include <fmt/xchar.h>

namespace Pd::Platform
{
namespace
{

const wchar_t* OrNull(const std::wstring& text)
{
    return text.empty() ? nullptr : text.c_str();
}

} // namespace

Outcome<> Detail::OpenAsUserWith(const ShellRequest& request, bool elevated,
                                 const std::function<bool(const ShellRequest&)>& desktop,
                                 const ShellRoute& own)
{
    if (desktop(request))
        return {};
    if (elevated)
        return Failure(
            E_ACCESSDENIED,
            L"the desktop shell did not take it, and Peldra opens nothing with administrator rights");
    const DWORD code = own(request);
    if (code == ERROR_SUCCESS)
        return {};
    return Failure(HRESULT_FROM_WIN32(code), fmt::format(L"the shell could not open it (code {})", code));
}

Outcome<> Real::OpenAsUser(const ShellRequest& request)
{
    const auto desktop = [](const ShellRequest& asked) {
        return Core::ShellExecuteUnelevated(asked.target.c_str(), OrNull(asked.arguments),
                                            OrNull(asked.folder));
    };
    const auto own = [](const ShellRequest& asked) -> DWORD {
        // ShellExecuteW reports success as a value above 32; on failure the thread's last error
        // says why, and the returned value stands in when it does not.
        ::SetLastError(ERROR_SUCCESS);
        auto result = reinterpret_cast<INT_PTR>(::ShellExecuteW(nullptr, L"open", asked.target.c_str(),
                                                                OrNull(asked.arguments), OrNull(asked.folder),
                                                                SW_SHOWNORMAL));
        if (result > 32)
            return ERROR_SUCCESS;
        const DWORD code = ::GetLastError();
        return code != ERROR_SUCCESS ? code : static_cast<DWORD>(result);
    };
    return Detail::OpenAsUserWith(request, Core::IsElevated(), desktop, own);
}

Outcome<> OpenWebPage(const std::wstring& address)
{
    return OpenAsUser({address, {}, {}});
}

} // namespace Pd::Platform
