#include "platform/WebPage.h"

#include "core/Elevation.h"
#include "platform/RealServices.h"

#include <shellapi.h>
#include <shlwapi.h>

#include <fmt/xchar.h>

#include <cwctype>

namespace Pd::Platform
{
namespace
{

const wchar_t* OrNull(const std::wstring& text)
{
    return text.empty() ? nullptr : text.c_str();
}

// The desktop shell takes any address and, when no program opens it, asks the user for one: an
// address whose scheme nothing handles is refused here, as an ordinary shell execution refuses it.
bool NothingHandles(const std::wstring& target)
{
    const std::wstring scheme = Detail::SchemeOf(target);
    if (scheme.empty())
        return false;
    wchar_t command[MAX_PATH * 2] = {};
    DWORD size = MAX_PATH * 2;
    const HRESULT hr =
        ::AssocQueryStringW(ASSOCF_IS_PROTOCOL, ASSOCSTR_COMMAND, scheme.c_str(), L"open", command, &size);
    return FAILED(hr) && hr != E_POINTER; // E_POINTER: a command longer than the buffer
}

Error NotOpened(DWORD code)
{
    return Error{HRESULT_FROM_WIN32(code), fmt::format(L"the shell could not open it (code {})", code)};
}

} // namespace

std::wstring Detail::SchemeOf(const std::wstring& target)
{
    const std::size_t colon = target.find(L':');
    if (colon < 2 || colon == std::wstring::npos)
        return {};
    for (std::size_t at = 0; at < colon; ++at)
        if (!std::iswalnum(target[at]) && target[at] != L'+' && target[at] != L'-' && target[at] != L'.')
            return {};
    return target.substr(0, colon);
}

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
    return std::unexpected(NotOpened(code));
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
    if (NothingHandles(request.target))
        return std::unexpected(NotOpened(ERROR_NO_ASSOCIATION));
    return Detail::OpenAsUserWith(request, Core::MayBeElevated(), desktop, own);
}

Outcome<> OpenWebPage(const std::wstring& address)
{
    return OpenAsUser({address, {}, {}});
}

} // namespace Pd::Platform
