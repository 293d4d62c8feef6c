// The one machine-wide lock that every run changing the installation holds from start to end
// (install and update, uninstall, self-update, the Magisk download, the installer's host stop),
// whatever session it runs in; only administrators and the system may take it. A second run waits for it,
// saying so, for a bounded time and then refuses; verify and status only look whether a run holds it.
//
// The lock's mutex lies in a private namespace whose boundary holds the Administrators group: only
// a process with that group in its token (an elevated one) can create the namespace, and its
// access list lets only the Administrators and SYSTEM open it, so no other program can make the
// mutex first and block every run. Wine has no private namespaces (it declares the functions but
// implements none of them), and there alone the lock is a "Global\" mutex whose owner is checked;
// Wine runs every process as the same elevated user, so nobody there could squat it anyway.
#pragma once

#include "core/Handles.h"
#include "core/Result.h"
#include "release/base/Callbacks.h"

#include <chrono>
#include <stop_token>

namespace Pd::Core
{

// The mutex's name in the namespace, which runs of every session share.
inline constexpr const wchar_t* RunLockName = L"Peldra.Installation";

class RunLock
{
public:
    static constexpr std::chrono::milliseconds DefaultWait = std::chrono::minutes(5);

    // Takes the lock; a lock left by a run that ended without releasing it (killed) counts as
    // taken. When another run holds it, one line goes to the log and the wait lasts at most
    // wait: then the result is "another Peldra run is changing the installation". A stop request
    // ends the wait with "Canceled.". A lock whose owner is neither SYSTEM nor the Administrators
    // was made by another program (possible only where the lock is a "Global\" mutex): refused
    // at once, naming it. The lock belongs to the calling
    // thread, which must also be the one that drops it.
    // (Tests name a lock of their own.)
    static Result<RunLock> Acquire(const LogText& log, std::stop_token stop,
                                   std::chrono::milliseconds wait = DefaultWait,
                                   const wchar_t* name = RunLockName);

    // Whether another run (or thread) holds the lock right now; never waits. A lock this process
    // may not open (it runs without administrator rights) counts as held: its namespace exists
    // only while a run holds it.
    static bool HeldElsewhere(const wchar_t* name = RunLockName);

    RunLock(RunLock&&) noexcept = default;
    RunLock& operator=(RunLock&&) = delete;
    ~RunLock();

private:
    RunLock(UniqueNamespace space, UniqueHandle mutex) : space_(std::move(space)), mutex_(std::move(mutex)) {}

    UniqueNamespace space_; // kept open while the lock is held, so that other runs meet its mutex
    UniqueHandle mutex_;
};

} // namespace Pd::Core
