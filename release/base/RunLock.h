// The one machine-wide lock that every run changing the installation holds from start to end
// (install and update, uninstall, self-update, the Magisk download, the installer's host stop),
// whatever session it runs in; only administrators and the system may take it. A second run waits for it,
// saying so, for a bounded time and then refuses; verify and status only look whether a run holds it.
//
// The lock is a file in Program Files, where only administrators and the system may create one,
// opened without sharing and deleted when closed: the holder's handle is the lock, and it goes
// with its holder however that ends, while any number of others wait. Its access list lets only
// the Administrators and SYSTEM open it, so no other program can hold it to block every run. (A
// mutex in a private namespace gives no such promise: once the run that created the namespace
// ends, later runs can no longer open it and make a new one beside the run that holds the old.)
//
// Earlier versions lock only the "Global\" mutex of the same name, so each run takes that too,
// after the file, and an old copy left running and a new one exclude each other. That mutex may
// be created first by anyone: one whose owner is neither SYSTEM nor the Administrators is refused.
#pragma once

#include "core/Handles.h"
#include "core/Result.h"
#include "release/base/Callbacks.h"

#include <chrono>
#include <stop_token>
#include <string>

namespace Pd::Core
{

// The lock's name: the lock file's (with ".lock") and the earlier versions' mutex's.
inline constexpr const wchar_t* RunLockName = L"Peldra.Installation";

class RunLock
{
public:
    static constexpr std::chrono::milliseconds DefaultWait = std::chrono::minutes(5);

    // Takes the lock; a lock left by a run that ended without releasing it (killed) is free.
    // When another run holds it, one line goes to the log and the wait lasts at most wait in
    // all: then the result is "another Peldra run is changing the installation". A stop request
    // ends the wait with "Canceled.". An earlier versions' mutex whose owner is neither SYSTEM
    // nor the Administrators was made by another program: refused at once, naming it. The lock
    // belongs to the calling thread, which must also be the one that drops it.
    // (Tests name a lock of their own.)
    static Result<RunLock> Acquire(const LogText& log, std::stop_token stop,
                                   std::chrono::milliseconds wait = DefaultWait,
                                   const wchar_t* name = RunLockName);

    // Whether another run (or thread) holds the lock right now, or an earlier version's run holds
    // its mutex; never waits. A lock this process may not open (it runs without administrator
    // rights) counts as held: the lock file and the mutex exist only while a run holds them.
    static bool HeldElsewhere(const wchar_t* name = RunLockName);

    // Where the lock file of a name lies.
    static std::wstring FilePath(const wchar_t* name = RunLockName);

    RunLock(RunLock&&) noexcept = default;
    RunLock& operator=(RunLock&&) = delete;
    ~RunLock();

private:
    RunLock(UniqueFile file, UniqueHandle mutex) : file_(std::move(file)), mutex_(std::move(mutex)) {}

    UniqueFile file_;    // the lock itself: released by closing, which deletes the file
    UniqueHandle mutex_; // the earlier versions' lock, owned by the calling thread
};

} // namespace Pd::Core
