// The simulator's watches of its folder (the scenario and the state a test changes): a check that
// runs each time a file in the folder changes, and when the time it asked for has passed. All the
// watches of a process share one thread that sleeps while nothing changes, so that simulated
// notifications cost the host at rest about what the system's own would.
#pragma once

#include "core/Handles.h"

#include <windows.h>

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>

namespace Pd::Platform::Sim
{

class FolderWatch
{
public:
    // The longest wait until the check runs again (INFINITE: until a change), or nothing when the
    // watch is over; a check that destroys its watch returns nothing.
    using Check = std::function<std::optional<DWORD>()>;

    FolderWatch(const std::filesystem::path& folder, Check check);
    // Ends the watch, after a check under way on the shared thread (unless it is that check that
    // ends it).
    ~FolderWatch();
    FolderWatch(const FolderWatch&) = delete;
    FolderWatch& operator=(const FolderWatch&) = delete;

    // Whether changes in the folder wake the check; without, only its time-outs do, and
    // ChangesError tells why.
    bool SeesChanges() const { return static_cast<bool>(changes_); }
    HRESULT ChangesError() const { return changesError_; }
    // Starts the watch: the first check runs after waitMs, or at the first change before. False
    // when the shared thread cannot run (no check ever runs then).
    bool Start(DWORD waitMs);

private:
    friend class FolderWatcher;
    using UniqueChangeNotification = Unique<HANDLE, &::FindCloseChangeNotification, -1>;

    UniqueChangeNotification changes_;
    HRESULT changesError_ = S_OK;
    Check check_;
    std::uint64_t due_ = UINT64_MAX; // tick of the next timed check; guarded by the watcher's lock
    std::uint64_t serial_ = 0;       // tells this watch from one started later at its address; ditto
};

} // namespace Pd::Platform::Sim
