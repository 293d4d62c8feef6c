#include "core/host/HostControl.h"

#include "core/ComApartment.h"
#include "core/DefaultInstallFolder.h"
#include "core/Elevation.h"
#include "core/ErrorText.h"
#include "core/Handles.h"
#include "core/host/HostObjects.h"
#include "core/host/ScheduledTask.h"
#include "core/ObjectSecurity.h"
#include "core/StartProgram.h"
#include "core/Text.h"

#include <windows.h>

#include <fmt/xchar.h>

#include <filesystem>

namespace Pd::Host
{
namespace
{

constexpr int HostStartWaitMs = 10000;

UniqueHandle OpenHostMutex()
{
    return UniqueHandle(Detail::OpenHostMutexFunction(SYNCHRONIZE, FALSE, HostMutexName));
}

// An unelevated host would take the mutex that the logon task's elevated host needs: a process
// without administrator rights only asks the Task Scheduler to run the task.
Pd::Result<> StartThroughTask()
{
    Core::ComApartment apartment(Core::Apartment::Multithreaded); // already entered is fine too
    if (auto ran = RunTask(); !ran)
        return ran;
    for (int waited = 0; waited < HostStartWaitMs && FindHost() == HostPresence::None; waited += 50)
        ::Sleep(50);
    return {};
}

} // namespace

HostPresence FindHost()
{
    if (OpenHostMutex())
        return HostPresence::Running;
    return ::GetLastError() == ERROR_ACCESS_DENIED ? HostPresence::Unreachable : HostPresence::None;
}

std::wstring UnreachableHostText()
{
    return Core::Text(TextId::HostRefusesAccess);
}

std::wstring InstalledHostExePath()
{
    return (std::filesystem::path(Core::DefaultInstallFolder()) / L"Peldra.exe").wstring();
}

bool HostInstalled()
{
    std::error_code error;
    return std::filesystem::is_regular_file(InstalledHostExePath(), error);
}

Pd::Result<> EnsureRunning()
{
    switch (FindHost())
    {
    case HostPresence::Running:
        return {};
    case HostPresence::Unreachable:
        return Pd::Fail(UnreachableHostText());
    case HostPresence::None:
        break;
    }
    const std::wstring path = InstalledHostExePath();
    if (!HostInstalled())
        return Pd::Fail(Core::FormatText(TextId::HostCopyMissing, path));
    const bool elevated = Detail::IsElevatedFunction ? Detail::IsElevatedFunction() : Core::IsElevated();
    if (!elevated)
        return StartThroughTask();
    std::wstring commandLine = fmt::format(L"\"{}\" host --background", path);
    auto host = Core::StartProgram(path, std::move(commandLine), CREATE_NO_WINDOW | DETACHED_PROCESS);
    if (!host)
        return Pd::Fail(Core::ErrorText(Core::Text(TextId::StartingBluetoothBridge), host.error()));
    // Until the host holds its mutex, a Stop cannot reach it: a caller that stops the host right
    // after starting it (an uninstall after an install) would leave it running. Wait, bounded,
    // until it holds the mutex or has ended.
    for (int waited = 0; waited < HostStartWaitMs && FindHost() == HostPresence::None; waited += 50)
        if (::WaitForSingleObject(host->Get(), 50) == WAIT_OBJECT_0)
            break;
    return {};
}

void Stop()
{
    UniqueHandle mutex = OpenHostMutex();
    if (!mutex)
        return;
    Core::SignalNamedEvent(StopEventName);
    // A host that ends without releasing its mutex leaves it abandoned: that counts as ended.
    DWORD waited = ::WaitForSingleObject(mutex.Get(), 10000);
    if (waited == WAIT_OBJECT_0 || waited == WAIT_ABANDONED)
        ::ReleaseMutex(mutex.Get());
}

bool NotifyHostReload()
{
    if (!OpenHostMutex())
        return false;
    Core::SignalNamedEvent(ReloadEventName);
    return true;
}

} // namespace Pd::Host
