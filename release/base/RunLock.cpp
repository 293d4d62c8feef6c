#include "release/base/RunLock.h"

#include "core/ErrorText.h"
#include "core/ObjectSecurity.h"
#include "core/SetEventOnStop.h"
#include "core/Text.h"

#include <windows.h>

#include <sddl.h>

namespace Pd::Core
{
namespace
{

// Waiting and releasing is all a run needs, and every run that changes the installation runs with
// administrator rights: only they (and the system, for the installer's modes) may hold it. Anyone
// else could hold it to block every install, update and uninstall.
constexpr DWORD LockAccess = SYNCHRONIZE | MUTEX_MODIFY_STATE | READ_CONTROL;
constexpr const wchar_t* LockSecurity = L"O:BAD:(A;;GA;;;SY)(A;;GA;;;BA)";
// The namespace's boundary name and its prefix in object names.
constexpr const wchar_t* NamespaceName = L"Peldra";
// A namespace may go (its last holder ends) between a failed create and the open that follows.
constexpr int NamespaceAttempts = 3;

struct Security
{
    Security()
    {
        PSECURITY_DESCRIPTOR made = nullptr;
        if (::ConvertStringSecurityDescriptorToSecurityDescriptorW(LockSecurity, SDDL_REVISION_1, &made,
                                                                   nullptr))
            descriptor.Reset(made);
        attributes.lpSecurityDescriptor = made;
    }
    UniqueLocal descriptor;
    SECURITY_ATTRIBUTES attributes{sizeof(SECURITY_ATTRIBUTES), nullptr, FALSE};
};

// Wine declares the private namespace functions but implements none of them (adding a SID to a
// boundary ends the process): only there is the lock a "Global\" mutex.
bool HasPrivateNamespaces()
{
    const HMODULE ntdll = ::GetModuleHandleW(L"ntdll.dll");
    return ntdll == nullptr || ::GetProcAddress(ntdll, "wine_get_version") == nullptr;
}

// The boundary that only a token with the Administrators group enabled is within.
UniqueBoundary AdministratorsBoundary()
{
    UniqueBoundary boundary(::CreateBoundaryDescriptorW(NamespaceName, 0));
    BYTE sid[SECURITY_MAX_SID_SIZE] = {};
    DWORD size = sizeof(sid);
    if (!boundary || !::CreateWellKnownSid(WinBuiltinAdministratorsSid, nullptr, sid, &size))
        return {};
    HANDLE grown = boundary.Release(); // the call may move the descriptor
    const BOOL added = ::AddSIDToBoundaryDescriptor(&grown, sid);
    boundary.Reset(grown);
    return added ? std::move(boundary) : UniqueBoundary();
}

// Where the lock lies: the mutex's full name and the namespace it lies in, kept open; or the
// Windows error of getting there.
struct LockPlace
{
    UniqueNamespace space;
    std::wstring name;
    DWORD error = ERROR_SUCCESS;
};

// The lock's namespace is created when create is set and it does not exist yet.
LockPlace FindLockPlace(const wchar_t* name, bool create)
{
    if (!HasPrivateNamespaces())
        return {{}, std::wstring(L"Global\\") + name};
    UniqueBoundary boundary = AdministratorsBoundary();
    Security security;
    if (!boundary || !security.descriptor)
        return {{}, {}, ::GetLastError() != ERROR_SUCCESS ? ::GetLastError() : ERROR_INVALID_FUNCTION};
    DWORD error = ERROR_SUCCESS;
    for (int attempt = 0; attempt < NamespaceAttempts; ++attempt)
    {
        UniqueNamespace space;
        if (create)
        {
            space.Reset(::CreatePrivateNamespaceW(&security.attributes, boundary.Get(), NamespaceName));
            error = space ? ERROR_SUCCESS : ::GetLastError();
        }
        if (!space && (!create || error == ERROR_ALREADY_EXISTS))
        {
            space.Reset(::OpenPrivateNamespaceW(boundary.Get(), NamespaceName));
            error = space ? ERROR_SUCCESS : ::GetLastError();
            if (!space && create && error != ERROR_ACCESS_DENIED)
                continue; // it went between the two calls: create it again
        }
        if (!space)
            return {{}, {}, error};
        return {std::move(space), std::wstring(NamespaceName) + L"\\" + name};
    }
    return {{}, {}, error};
}

UniqueHandle CreateLock(const std::wstring& name)
{
    Security security;
    UniqueHandle mutex(
        ::CreateMutexExW(security.descriptor ? &security.attributes : nullptr, name.c_str(), 0, LockAccess));
    if (!mutex)
        mutex.Reset(::OpenMutexW(LockAccess, FALSE, name.c_str()));
    return mutex;
}

bool Taken(DWORD wait)
{
    return wait == WAIT_OBJECT_0 || wait == WAIT_ABANDONED;
}

} // namespace

Result<RunLock> RunLock::Acquire(const LogText& log, std::stop_token stop, std::chrono::milliseconds wait,
                                 const wchar_t* name)
{
    LockPlace place = FindLockPlace(name, true);
    if (place.name.empty())
        return Fail(ErrorText(FormatText(TextId::OpeningFile, name), place.error));
    UniqueHandle mutex = CreateLock(place.name);
    if (!mutex)
        return Fail(ErrorText(FormatText(TextId::OpeningFile, place.name), ::GetLastError()));
    if (auto owner = ForeignOwner(mutex.Get(), false))
        return Fail(FormatText(TextId::NameHeldByAnotherProgram, place.name, *owner));
    if (Taken(::WaitForSingleObject(mutex.Get(), 0)))
        return RunLock(std::move(place.space), std::move(mutex));

    if (log)
        log(FormatText(TextId::WaitingForOtherRun, (wait.count() + 999) / 1000));
    UniqueHandle stopped(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
    if (!stopped)
        return Fail(ErrorText(FormatText(TextId::OpeningFile, place.name), ::GetLastError()));
    DWORD result = WAIT_FAILED;
    {
        std::stop_callback<SetEventOnStop> wake(stop, SetEventOnStop{stopped.Get()});
        const HANDLE handles[] = {mutex.Get(), stopped.Get()};
        result = ::WaitForMultipleObjects(2, handles, FALSE, static_cast<DWORD>(wait.count()));
    }
    if (Taken(result))
        return RunLock(std::move(place.space), std::move(mutex));
    if (result == WAIT_OBJECT_0 + 1)
        return Fail(Text(TextId::Canceled));
    return Fail(Text(TextId::AnotherRunChangingInstallation));
}

bool RunLock::HeldElsewhere(const wchar_t* name)
{
    // The namespace, like a "Global\\" lock, exists only while a run holds it.
    const LockPlace place = FindLockPlace(name, false);
    if (place.name.empty())
        return place.error == ERROR_ACCESS_DENIED;
    UniqueHandle mutex(::OpenMutexW(LockAccess, FALSE, place.name.c_str()));
    if (!mutex)
        return ::GetLastError() == ERROR_ACCESS_DENIED;
    if (!Taken(::WaitForSingleObject(mutex.Get(), 0)))
        return true;
    ::ReleaseMutex(mutex.Get());
    return false;
}

RunLock::~RunLock()
{
    if (mutex_)
        ::ReleaseMutex(mutex_.Get());
}

} // namespace Pd::Core
