#include "release/base/RunLock.h"

#include "core/DefaultInstallFolder.h"
#include "core/ErrorText.h"
#include "core/ObjectSecurity.h"
#include "core/SetEventOnStop.h"
#include "core/Text.h"

#include <windows.h>

#include <sddl.h>

#include <algorithm>
#include <filesystem>

namespace Pd::Core
{
namespace
{

// Waiting and releasing is all a run needs of the mutex, and every run that changes the
// installation runs with administrator rights: only they (and the system, for the installer's
// modes) may hold the lock. Anyone else could hold it to block every install, update and
// uninstall.
constexpr DWORD MutexAccess = SYNCHRONIZE | MUTEX_MODIFY_STATE | READ_CONTROL;
constexpr const wchar_t* MutexSecurity = L"O:BAD:(A;;GA;;;SY)(A;;GA;;;BA)";
constexpr const wchar_t* FileSecurity = L"O:BAD:P(A;;FA;;;SY)(A;;FA;;;BA)";
// How often a waiting run tries the lock file again: no wait on a file's close exists.
constexpr DWORD RetryMs = 100;
// Opens of the lock file never lend this process's identity to a pipe server.
constexpr DWORD OpenQuality = SECURITY_SQOS_PRESENT | SECURITY_IDENTIFICATION;

class Security
{
public:
    explicit Security(const wchar_t* sddl)
    {
        PSECURITY_DESCRIPTOR made = nullptr;
        if (::ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl, SDDL_REVISION_1, &made, nullptr))
            descriptor_.Reset(made);
        attributes_.lpSecurityDescriptor = made;
    }
    SECURITY_ATTRIBUTES* Attributes() { return descriptor_ ? &attributes_ : nullptr; }

private:
    UniqueLocal descriptor_;
    SECURITY_ATTRIBUTES attributes_{sizeof(SECURITY_ATTRIBUTES), nullptr, FALSE};
};

// One try at the lock file: its handle, or none with the error, which is ERROR_SHARING_VIOLATION
// while another run holds it. Reading is access that sharing governs, so the holder's refusal to
// share keeps out every other run; the file is never deleted, so no handle another account keeps
// to it can leave its name pending deletion.
UniqueFile TryLockFile(const std::wstring& path, DWORD& error)
{
    Security security(FileSecurity);
    if (!security.Attributes())
    {
        error = ::GetLastError();
        return {};
    }
    UniqueFile file(::CreateFileW(path.c_str(), GENERIC_READ, 0, security.Attributes(), OPEN_ALWAYS,
                                  FILE_ATTRIBUTE_HIDDEN | FILE_FLAG_OPEN_REPARSE_POINT | OpenQuality,
                                  nullptr));
    error = file ? ERROR_SUCCESS : ::GetLastError();
    return file;
}

std::wstring MutexName(const wchar_t* name)
{
    return std::wstring(L"Global\\") + name;
}

UniqueHandle CreateLockMutex(const std::wstring& name)
{
    Security security(MutexSecurity);
    UniqueHandle mutex(::CreateMutexExW(security.Attributes(), name.c_str(), 0, MutexAccess));
    if (!mutex)
        mutex.Reset(::OpenMutexW(MutexAccess, FALSE, name.c_str()));
    return mutex;
}

bool Taken(DWORD wait)
{
    return wait == WAIT_OBJECT_0 || wait == WAIT_ABANDONED;
}

DWORD Remaining(std::chrono::steady_clock::time_point deadline)
{
    const auto left =
        std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    return static_cast<DWORD>(std::clamp<std::chrono::milliseconds::rep>(left.count(), 0, INFINITE - 1));
}

// Never waits: a mutex owned elsewhere is seen as owned, one that is free is let go at once.
Detail::MutexSeen LookAtMutex(const std::wstring& name)
{
    using enum Detail::MutexSeen;
    UniqueHandle mutex(::OpenMutexW(MutexAccess, FALSE, name.c_str()));
    if (!mutex)
        return ::GetLastError() == ERROR_ACCESS_DENIED ? Refused : Missing;
    if (ForeignOwner(mutex.Get(), false))
        return Foreign;
    if (!Taken(::WaitForSingleObject(mutex.Get(), 0)))
        return Owned;
    ::ReleaseMutex(mutex.Get());
    return Free;
}

} // namespace

std::wstring RunLock::FilePath(const wchar_t* name)
{
    // Program Files itself: only administrators and the system create files there.
    return (std::filesystem::path(DefaultInstallFolder()).parent_path() / (std::wstring(name) + L".run.lock"))
        .wstring();
}

Result<RunLock> RunLock::Acquire(const LogText& log, std::stop_token stop, std::chrono::milliseconds wait,
                                 const wchar_t* name)
{
    const auto deadline = std::chrono::steady_clock::now() + wait;
    bool told = false;
    const auto tellWaiting = [&] {
        if (!told && log)
            log(FormatText(TextId::WaitingForOtherRun, (wait.count() + 999) / 1000));
        told = true;
    };
    UniqueHandle stopped(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
    if (!stopped)
        return Fail(ErrorText(FormatText(TextId::OpeningFile, name), ::GetLastError()));
    std::stop_callback<SetEventOnStop> wake(stop, SetEventOnStop{stopped.Get()});

    const std::wstring path = FilePath(name);
    UniqueFile file;
    for (DWORD error = ERROR_SUCCESS; !(file = TryLockFile(path, error));)
    {
        if (error != ERROR_SHARING_VIOLATION)
            return Fail(ErrorText(FormatText(TextId::OpeningFile, path), error));
        tellWaiting();
        const DWORD left = Remaining(deadline);
        if (left == 0)
            return Fail(Text(TextId::AnotherRunChangingInstallation));
        if (::WaitForSingleObject(stopped.Get(), std::min(left, RetryMs)) == WAIT_OBJECT_0)
            return Fail(Text(TextId::Canceled));
    }

    const std::wstring mutexName = MutexName(name);
    UniqueHandle mutex = CreateLockMutex(mutexName);
    if (!mutex)
        return Fail(ErrorText(FormatText(TextId::OpeningFile, mutexName), ::GetLastError()));
    if (auto owner = ForeignOwner(mutex.Get(), false))
        return Fail(FormatText(TextId::NameHeldByAnotherProgram, mutexName, *owner));
    DWORD result = ::WaitForSingleObject(mutex.Get(), 0);
    if (!Taken(result))
    {
        tellWaiting(); // a run of an earlier version
        const HANDLE handles[] = {mutex.Get(), stopped.Get()};
        result = ::WaitForMultipleObjects(2, handles, FALSE, Remaining(deadline));
        if (result == WAIT_OBJECT_0 + 1)
            return Fail(Text(TextId::Canceled));
    }
    if (!Taken(result))
        return Fail(Text(TextId::AnotherRunChangingInstallation));
    return RunLock(std::move(file), std::move(mutex));
}

bool RunLock::HeldElsewhere(const wchar_t* name)
{
    // Sharing everything, the open is refused for sharing only while a run holds the file.
    UniqueFile file(::CreateFileW(FilePath(name).c_str(), GENERIC_READ,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT | OpenQuality, nullptr));
    const DWORD fileError = file ? ERROR_SUCCESS : ::GetLastError();
    file.Reset();
    return Detail::RunHoldsLock(fileError, LookAtMutex(MutexName(name)));
}

namespace Detail
{

bool RunHoldsLock(DWORD fileOpenError, MutexSeen mutex)
{
    // "Access denied" is all a process without administrator rights learns of the file, whether a
    // run holds it or one left it behind: the mutex, which goes with the run, decides then.
    if (fileOpenError == ERROR_SHARING_VIOLATION)
        return true;
    return mutex == MutexSeen::Refused || mutex == MutexSeen::Owned;
}

} // namespace Detail

RunLock::~RunLock()
{
    if (mutex_)
        ::ReleaseMutex(mutex_.Get());
}

} // namespace Pd::Core
