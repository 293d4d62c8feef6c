// The one machine-wide lock that every run changing the installation holds from start to end
// (install and update, uninstall, self-update, the Magisk download, the installer's host stop),
// whatever session it runs in; only administrators and the system may take it. A second run waits for it,
// saying so, for a bounded time and then refuses; verify and status only look whether a run holds it.
//
// The lock is a file in Program Files, where only administrators and the system may create one,
// held open without sharing: the holder's handle is the lock, and it goes with its holder however
// that ends, while any number of others wait. Its access list lets only the Administrators and
// SYSTEM open it for anything sharing governs. Anyone who may list Program Files may still open it
// for its attributes alone, which sharing does not govern: such a handle takes nothing from the
// lock, and since the file stays (it is never deleted, nor pending deletion), it cannot keep the
// file's name from the next run either. A file left behind is therefore no sign of a run. (A mutex
// in a private namespace gives no such promise: once the run that created the namespace ends,
// later runs can no longer open it and make a new one beside the run that holds the old.)
//
// Earlier versions lock the "Global\" mutex of the same name (the previous one also a file named
// "<name>.lock", deleted on close, which the attributes-only handle above can keep pending deletion
// and so block), so each run takes that mutex too, after its file, and runs of every version
// exclude each other. That mutex may be created first by anyone: one whose owner is neither SYSTEM
// nor the Administrators is refused, naming the owner's account. It also tells a reader without
// administrator rights, who may open neither the lock file nor the run's mutex, that a run holds
// the lock: the mutex exists only while a run has it open.
#pragma once

#include "core/Handles.h"
#include "core/Result.h"
#include "release/base/Callbacks.h"

#include <chrono>
#include <stop_token>
#include <string>

#include <windows.h>

namespace Pd::Core
{

// The lock's name: the lock file's (with ".run.lock") and the earlier versions' mutex's.
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
    // its mutex; never waits. Only the holder's sharing or a run's mutex says so: a lock file left
    // behind does not, nor a mutex another account made.
    static bool HeldElsewhere(const wchar_t* name = RunLockName);

    // Where the lock file of a name lies.
    static std::wstring FilePath(const wchar_t* name = RunLockName);

    RunLock(RunLock&&) noexcept = default;
    RunLock& operator=(RunLock&&) = delete;
    ~RunLock();

private:
    RunLock(UniqueFile file, UniqueHandle mutex) : file_(std::move(file)), mutex_(std::move(mutex)) {}

    UniqueFile file_;    // the lock itself: released by closing; the file stays
    UniqueHandle mutex_; // the earlier versions' lock, owned by the calling thread
};

namespace Detail
{

// What a look at the "Global\" mutex found.
enum class MutexSeen
{
    Missing, // no run holds the lock (a mutex exists only while one has it open)
    Refused, // this process may not open it: a run's, whose access list lets only administrators in
    Foreign, // another account made it: no run's
    Free,    // a run's, not owned (that run is letting go)
    Owned,   // a run's, owned
};

// HeldElsewhere's answer from the Windows error of an open of the lock file for reading (sharing
// everything) and what the look at the mutex found.
bool RunHoldsLock(DWORD fileOpenError, MutexSeen mutex);

} // namespace Detail

} // namespace Pd::Core
