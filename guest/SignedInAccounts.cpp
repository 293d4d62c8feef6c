#include "guest/SignedInAccounts.h"

#include "core/Strings.h"

#include <windows.h>

#define SECURITY_WIN32
#include <secext.h>
#include <wtsapi32.h>

#include <memory>
#include <string>
#include <vector>

namespace Pd::Guest
{
namespace
{

struct WtsFree
{
    void operator()(void* memory) const { ::WTSFreeMemory(memory); }
};

// "DOMAIN\user" of a session; empty when nobody is signed in there.
std::wstring SessionAccount(DWORD session)
{
    std::wstring parts[2];
    const WTS_INFO_CLASS classes[2] = {WTSDomainName, WTSUserName};
    for (int i = 0; i < 2; ++i)
    {
        wchar_t* text = nullptr;
        DWORD bytes = 0;
        if (!::WTSQuerySessionInformationW(WTS_CURRENT_SERVER_HANDLE, session, classes[i], &text, &bytes))
            return {};
        std::unique_ptr<wchar_t, WtsFree> owner(text);
        parts[i] = text != nullptr ? text : L"";
    }
    return parts[1].empty() ? std::wstring() : parts[0] + L"\\" + parts[1];
}

std::wstring OwnAccount()
{
    ULONG size = 0;
    ::GetUserNameExW(NameSamCompatible, nullptr, &size);
    std::vector<wchar_t> buffer(size + 1, L'\0');
    if (size == 0 || !::GetUserNameExW(NameSamCompatible, buffer.data(), &size))
        return {};
    return buffer.data();
}

} // namespace

bool AnotherAccountSignedIn()
{
    WTS_SESSION_INFOW* sessions = nullptr;
    DWORD count = 0;
    if (!::WTSEnumerateSessionsW(WTS_CURRENT_SERVER_HANDLE, 0, 1, &sessions, &count))
        return true;
    std::unique_ptr<WTS_SESSION_INFOW, WtsFree> owner(sessions);
    const std::wstring own = OwnAccount();
    for (DWORD i = 0; i < count; ++i)
    {
        const std::wstring account = SessionAccount(sessions[i].SessionId);
        if (!account.empty() && !Core::EqualsIgnoringCase(account, own))
            return true;
    }
    return false;
}

} // namespace Pd::Guest
