#include "platform/Account.h"

#include "core/Handles.h"

#include <windows.h>

#include <sddl.h>

#include <vector>

namespace Pd::Platform
{

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

} // namespace Pd::Platform
