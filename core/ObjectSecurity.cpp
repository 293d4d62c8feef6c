#include "core/ObjectSecurity.h"

#include "core/Elevation.h"
#include "core/LogEscape.h"
#include "core/Strings.h"

#include <aclapi.h>
#include <sddl.h>

#include <array>

namespace Pd::Core
{

std::wstring SessionObjectSddl(std::wstring_view userSid, bool elevated)
{
    const std::wstring user(userSid);
    return L"O:" + (elevated ? std::wstring(L"BA") : user) + L"D:(A;;GA;;;SY)(A;;GA;;;BA)(A;;0x00100002;;;" +
           user + L")S:(ML;;NW;;;ME)";
}

SessionObjectSecurity::SessionObjectSecurity()
{
    const std::wstring user = ProcessUserSid();
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (!user.empty() &&
        ::ConvertStringSecurityDescriptorToSecurityDescriptorW(
            SessionObjectSddl(user, MayBeElevated()).c_str(), SDDL_REVISION_1, &descriptor, nullptr))
        descriptor_.Reset(descriptor);
    attributes_.nLength = sizeof(attributes_);
    attributes_.lpSecurityDescriptor = descriptor_ ? descriptor : nullptr;
    attributes_.bInheritHandle = FALSE;
}

bool IsTrustedOwner(PSID owner, PSID user)
{
    if (owner == nullptr || !::IsValidSid(owner))
        return false;
    return ::IsWellKnownSid(owner, WinLocalSystemSid) ||
           ::IsWellKnownSid(owner, WinBuiltinAdministratorsSid) ||
           (user != nullptr && ::IsValidSid(user) && ::EqualSid(owner, user));
}

std::optional<std::wstring> ForeignOwner(HANDLE object, bool userMayOwn)
{
    PSID owner = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (::GetSecurityInfo(object, SE_KERNEL_OBJECT, OWNER_SECURITY_INFORMATION, &owner, nullptr, nullptr,
                          nullptr, &descriptor) != ERROR_SUCCESS)
        return L"unknown";
    UniqueLocal ownerDescriptor(descriptor);
    PSID user = nullptr;
    UniqueLocal userSid;
    if (userMayOwn && ::ConvertStringSidToSidW(ProcessUserSid().c_str(), &user))
        userSid.Reset(user);
    if (IsTrustedOwner(owner, user))
        return std::nullopt;
    return owner == nullptr ? L"unknown" : AccountText(owner);
}

std::wstring AccountText(PSID sid)
{
    PWSTR text = nullptr;
    if (!::ConvertSidToStringSidW(sid, &text))
        return L"unknown";
    UniqueLocal textOwner(text);
    const std::wstring sidText(text);
    // The name is the one an administrator acts on; the SID stays, since a name can be reused.
    // A name from a domain is outside text: shown as a log shows it.
    std::array<wchar_t, 256> name{};
    std::array<wchar_t, 256> domain{};
    DWORD nameLength = static_cast<DWORD>(name.size());
    DWORD domainLength = static_cast<DWORD>(domain.size());
    SID_NAME_USE use{};
    if (!::LookupAccountSidW(nullptr, sid, name.data(), &nameLength, domain.data(), &domainLength, &use) ||
        nameLength == 0 || nameLength >= name.size() || domainLength >= domain.size())
        return sidText;
    const auto shown = [](const wchar_t* text, DWORD length) {
        return FromUtf8(EscapeForLog(ToUtf8(std::wstring_view(text, length)), 100));
    };
    std::wstring account = domainLength == 0 ? L"" : shown(domain.data(), domainLength) + L"\\";
    return account + shown(name.data(), nameLength) + L" (" + sidText + L")";
}

namespace
{

// Callers read ERROR_ALREADY_EXISTS after creating: the descriptor's release must not change it.
template <typename Create> UniqueHandle CreateChecked(Create create, std::wstring* foreignOwner)
{
    UniqueHandle handle;
    DWORD error = 0;
    {
        SessionObjectSecurity security;
        handle.Reset(create(security.Attributes()));
        error = ::GetLastError();
    }
    if (handle && error == ERROR_ALREADY_EXISTS)
        if (auto owner = ForeignOwner(handle.Get(), true))
        {
            handle.Reset();
            error = ERROR_INVALID_OWNER;
            if (foreignOwner != nullptr)
                *foreignOwner = std::move(*owner);
        }
    ::SetLastError(error);
    return handle;
}

} // namespace

UniqueHandle CreateSessionEvent(const wchar_t* name, bool manualReset, std::wstring* foreignOwner)
{
    return CreateChecked(
        [&](SECURITY_ATTRIBUTES* security) { return ::CreateEventW(security, manualReset, FALSE, name); },
        foreignOwner);
}

UniqueHandle CreateSessionMutex(const wchar_t* name, bool initiallyOwned, std::wstring* foreignOwner)
{
    return CreateChecked(
        [&](SECURITY_ATTRIBUTES* security) { return ::CreateMutexW(security, initiallyOwned, name); },
        foreignOwner);
}

bool SignalNamedEvent(const wchar_t* name)
{
    UniqueHandle event(::OpenEventW(EVENT_MODIFY_STATE, FALSE, name));
    return event && ::SetEvent(event.Get());
}

} // namespace Pd::Core
