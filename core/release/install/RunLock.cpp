#include "core/release/install/RunLock.h"

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

constexpr std::uint32_t RefusedText = 16070;
constexpr std::uint32_t ForeignText = 16079;
constexpr std::uint32_t WaitingText = 17080;
constexpr std::uint32_t CanceledText = 10008;
constexpr std::uint32_t OpeningText = 18015;

// Waiting and releasing is all a run needs, and every run that changes the installation runs with
// administrator rights: only they (and the system, for the installer's modes) may hold it. Anyone
// else could hold it to block every install, update and uninstall.
constexpr DWORD LockAccess = SYNCHRONIZE | MUTEX_MODIFY_STATE | READ_CONTROL;
constexpr const wchar_t* LockSecurity = L"O:BAD:(A;;GA;;;SY)(A;;GA;;;BA)";

UniqueHandle CreateLock(const wchar_t* name)
{
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    ::ConvertStringSecurityDescriptorToSecurityDescriptorW(LockSecurity, SDDL_REVISION_1, &descriptor,
                                                           nullptr);
    UniqueLocal owner(descriptor);
    SECURITY_ATTRIBUTES attributes{sizeof(attributes), descriptor, FALSE};
    UniqueHandle mutex(::CreateMutexExW(descriptor ? &attributes : nullptr, name, 0, LockAccess));
    if (!mutex)
        mutex.Reset(::OpenMutexW(LockAccess, FALSE, name));
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
    UniqueHandle mutex = CreateLock(name);
    if (!mutex)
        return Fail(ErrorText(FormatText(OpeningText, name), ::GetLastError()));
    if (auto owner = ForeignOwner(mutex.Get(), false))
        return Fail(FormatText(ForeignText, name, *owner));
    if (Taken(::WaitForSingleObject(mutex.Get(), 0)))
        return RunLock(std::move(mutex));

    if (log)
        log(FormatText(WaitingText, (wait.count() + 999) / 1000));
    UniqueHandle stopped(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
    if (!stopped)
        return Fail(ErrorText(FormatText(OpeningText, name), ::GetLastError()));
    DWORD result = WAIT_FAILED;
    {
        std::stop_callback<SetEventOnStop> wake(stop, SetEventOnStop{stopped.Get()});
        const HANDLE handles[] = {mutex.Get(), stopped.Get()};
        result = ::WaitForMultipleObjects(2, handles, FALSE, static_cast<DWORD>(wait.count()));
    }
    if (Taken(result))
        return RunLock(std::move(mutex));
    if (result == WAIT_OBJECT_0 + 1)
        return Fail(Text(CanceledText));
    return Fail(Text(RefusedText));
}

bool RunLock::HeldElsewhere(const wchar_t* name)
{
    UniqueHandle mutex(::OpenMutexW(LockAccess, FALSE, name));
    if (!mutex)
        return ::GetLastError() == ERROR_ACCESS_DENIED; // it exists only while a run holds it
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
