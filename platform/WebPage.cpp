#include "platform/WebPage.h"

#include "core/Elevation.h"
#include "platform/RealServices.h"

#include <shellapi.h>

#include <fmt/xchar.h>

namespace Pd::Platform
{

Outcome<> Real::OpenWebPage(const std::wstring& address)
{
    if (Core::ShellExecuteUnelevated(address.c_str()))
        return {};
    // ShellExecuteW reports success as a value above 32; on failure the thread's last error
    // says why, and the returned value stands in when it does not.
    ::SetLastError(ERROR_SUCCESS);
    auto result = reinterpret_cast<INT_PTR>(
        ::ShellExecuteW(nullptr, L"open", address.c_str(), nullptr, nullptr, SW_SHOWNORMAL));
    if (result > 32)
        return {};
    DWORD code = ::GetLastError();
    if (code == ERROR_SUCCESS)
        code = static_cast<DWORD>(result);
    return Failure(HRESULT_FROM_WIN32(code), fmt::format(L"the shell could not open it (code {})", code));
}

} // namespace Pd::Platform
