#include "release/program/InstallerModes.h"

#include "core/Module.h"
#include "release/folders/Folders.h"

#include <sddl.h>
#include <userenv.h>
#include <wtsapi32.h>

#include <fmt/xchar.h>

namespace Pd::Install
{
namespace
{

constexpr DWORD HostStopWaitMs = 10000;

using UniqueEnvironment = Unique<void*, &::DestroyEnvironmentBlock>;

struct WtsFree
{
    void operator()(void* memory) const { ::WTSFreeMemory(memory); }
};

// The SID of the token's user (a pointer into the buffer).
bool TokenUserIs(HANDLE token, PSID user)
{
    DWORD size = 0;
    ::GetTokenInformation(token, TokenUser, nullptr, 0, &size);
    if (size == 0)
        return false;
    std::vector<std::uint8_t> buffer(size);
    if (!::GetTokenInformation(token, TokenUser, buffer.data(), size, &size))
        return false;
    return ::EqualSid(reinterpret_cast<TOKEN_USER*>(buffer.data())->User.Sid, user) != FALSE;
}

} // namespace

std::vector<DWORD> ListSessionIds()
{
    std::vector<DWORD> ids;
    WTS_SESSION_INFOW* sessions = nullptr;
    DWORD count = 0;
    if (!::WTSEnumerateSessionsW(WTS_CURRENT_SERVER_HANDLE, 0, 1, &sessions, &count))
        return ids;
    std::unique_ptr<WTS_SESSION_INFOW, WtsFree> owner(sessions);
    for (DWORD i = 0; i < count; ++i)
        ids.push_back(sessions[i].SessionId);
    return ids;
}

bool EnablePrivilege(const wchar_t* name)
{
    UniqueHandle token;
    if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, token.Put()))
        return false;
    TOKEN_PRIVILEGES privileges{};
    privileges.PrivilegeCount = 1;
    privileges.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
    if (!::LookupPrivilegeValueW(nullptr, name, &privileges.Privileges[0].Luid))
        return false;
    // Success alone says nothing: a privilege the token lacks gives ERROR_NOT_ALL_ASSIGNED.
    return ::AdjustTokenPrivileges(token.Get(), FALSE, &privileges, 0, nullptr, nullptr) &&
           ::GetLastError() == ERROR_SUCCESS;
}

UniqueHandle FindUserToken(PSID user, DWORD& sessionId)
{
    return Detail::FindUserTokenWith(user, sessionId, Detail::CurrentSessions());
}

int StopHostsInAllSessions()
{
    // No installation lock: stopping the hosts changes nothing of the installation, and the
    // installer that asks must not wait minutes for another run.
    std::vector<std::wstring> names;
    for (DWORD session : ListSessionIds())
        names.push_back(Detail::SessionHostMutexName(session));
    return Detail::StopHostsNamed(names, HostStopWaitMs) ? 1 : 0;
}

std::uint32_t RunUninstallInUserSession(const std::wstring& sid, bool removeEverything)
{
    // No lock here: the uninstall this starts takes it itself and would only wait for this one.
    return Detail::RunUninstallWith(sid, removeEverything, Core::ModulePath(), Detail::CurrentSessions());
}

namespace Detail
{

std::wstring SessionHostMutexName(DWORD session)
{
    return fmt::format(L"Global\\Session\\{}\\Peldra.Host", session);
}

bool StopHostsNamed(const std::vector<std::wstring>& mutexNames, DWORD waitMs)
{
    std::vector<UniqueHandle> stopping;
    for (const std::wstring& name : mutexNames)
    {
        UniqueHandle mutex(::OpenMutexW(SYNCHRONIZE, FALSE, name.c_str()));
        if (!mutex)
            continue;
        UniqueHandle stop(::OpenEventW(EVENT_MODIFY_STATE, FALSE, (name + L".Stop").c_str()));
        if (stop && ::SetEvent(stop.Get()))
            stopping.push_back(std::move(mutex));
    }

    // One deadline for all: however many sessions there are, the whole stop takes about waitMs.
    const ULONGLONG deadline = ::GetTickCount64() + waitMs;
    bool late = false;
    for (const UniqueHandle& mutex : stopping)
    {
        const ULONGLONG now = ::GetTickCount64();
        const DWORD left = now >= deadline ? 0 : static_cast<DWORD>(deadline - now);
        const DWORD waited = ::WaitForSingleObject(mutex.Get(), left);
        // A host that ended without releasing its mutex leaves it abandoned: that counts as stopped.
        if (waited == WAIT_OBJECT_0 || waited == WAIT_ABANDONED)
            ::ReleaseMutex(mutex.Get());
        else
            late = true;
    }
    return late;
}

SessionAccess CurrentSessions()
{
    return {&ListSessionIds,
            [](DWORD session) {
                WTS_CONNECTSTATE_CLASS* state = nullptr;
                DWORD bytes = 0;
                if (!::WTSQuerySessionInformationW(WTS_CURRENT_SERVER_HANDLE, session, WTSConnectState,
                                                   reinterpret_cast<LPWSTR*>(&state), &bytes))
                    return false;
                std::unique_ptr<WTS_CONNECTSTATE_CLASS, WtsFree> owner(state);
                return bytes >= sizeof(*state) && *state == WTSActive;
            },
            [](DWORD session) {
                UniqueHandle token;
                if (!::WTSQueryUserToken(session, token.Put()))
                    return UniqueHandle();
                return token;
            }};
}

UniqueHandle FullToken(UniqueHandle token)
{
    TOKEN_ELEVATION_TYPE type{};
    DWORD size = 0;
    if (!::GetTokenInformation(token.Get(), TokenElevationType, &type, sizeof(type), &size) ||
        type != TokenElevationTypeLimited)
        return token;
    TOKEN_LINKED_TOKEN linked{};
    if (!::GetTokenInformation(token.Get(), TokenLinkedToken, &linked, sizeof(linked), &size) ||
        !linked.LinkedToken)
        return token;
    return UniqueHandle(linked.LinkedToken);
}

UniqueHandle FindUserTokenWith(PSID user, DWORD& sessionId, const SessionAccess& access)
{
    const std::vector<DWORD> sessions = access.sessions();
    // First the sessions the user is working in, then any (a disconnected one).
    for (bool activeOnly : {true, false})
        for (DWORD session : sessions)
        {
            if (activeOnly && !access.isActive(session))
                continue;
            UniqueHandle token = access.userToken(session);
            if (token && TokenUserIs(token.Get(), user))
            {
                sessionId = session;
                return FullToken(std::move(token));
            }
        }
    return {};
}

std::wstring UserUninstallCommandLine(const std::wstring& program, bool removeEverything)
{
    return fmt::format(L"\"{}\" uninstall --yes --from-setup{}", program, removeEverything ? L" --all" : L"");
}

std::uint32_t RunUninstallWith(const std::wstring& sid, bool removeEverything, const std::wstring& program,
                               const SessionAccess& access)
{
    UniqueLocal user;
    if (!::ConvertStringSidToSidW(sid.c_str(), reinterpret_cast<PSID*>(user.Put())) ||
        !::IsValidSid(static_cast<PSID>(user.Get())))
        return 2;

    for (const wchar_t* privilege : {SE_TCB_NAME, SE_ASSIGNPRIMARYTOKEN_NAME, SE_INCREASE_QUOTA_NAME})
        EnablePrivilege(privilege);

    DWORD session = 0;
    UniqueHandle token = FindUserTokenWith(static_cast<PSID>(user.Get()), session, access);
    user.Reset();
    if (!token)
        return ERROR_NO_TOKEN;

    UniqueEnvironment environment;
    if (!::CreateEnvironmentBlock(environment.Put(), token.Get(), FALSE))
        environment.Reset();
    SECURITY_ATTRIBUTES inheritable{sizeof(inheritable), nullptr, TRUE};
    UniqueFile nul(::CreateFileW(L"NUL", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                 &inheritable, OPEN_EXISTING, 0, nullptr));

    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    wchar_t desktop[] = L"winsta0\\default";
    startup.lpDesktop = desktop;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = startup.hStdOutput = startup.hStdError = nul.Get();

    std::wstring commandLine = UserUninstallCommandLine(program, removeEverything);
    const std::wstring systemFolder = Core::SystemFolder();
    PROCESS_INFORMATION process{};
    const BOOL started =
        ::CreateProcessAsUserW(token.Get(), program.c_str(), commandLine.data(), nullptr, nullptr, TRUE,
                               CREATE_NO_WINDOW | CREATE_UNICODE_ENVIRONMENT, environment.Get(),
                               systemFolder.empty() ? nullptr : systemFolder.c_str(), &startup, &process);
    const DWORD error = ::GetLastError();
    environment.Reset();
    if (!started)
        return error;

    UniqueHandle thread(process.hThread);
    UniqueHandle child(process.hProcess);
    ::WaitForSingleObject(child.Get(), INFINITE);
    DWORD exitCode = 1;
    if (!::GetExitCodeProcess(child.Get(), &exitCode))
        exitCode = 1;
    return exitCode;
}

} // namespace Detail

} // namespace Pd::Install
