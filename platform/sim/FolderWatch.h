// The simulator's watches of its folder (the scenario and the state a test changes): a check
// that runs on a thread of the process's thread pool each time a file in the folder changes, and
// when the time it asked for has passed. No thread of the watch's own waits, so that a simulated
// notification costs the host at rest what a system notification would: nothing.
#pragma once

#include "core/Handles.h"

#include <windows.h>

#include <atomic>
#include <filesystem>
#include <functional>
#include <mutex>
#include <optional>

namespace Pd::Platform::Sim
{

class FolderWatch
{
public:
    // The longest wait until the check runs again (INFINITE: until a change), or nothing when the
    // watch is over; a check that destroys its watch must return nothing, and touch nothing after.
    using Check = std::function<std::optional<DWORD>()>;

    FolderWatch(const std::filesystem::path& folder, Check check);
    // Ends the watch and waits for a check under way on another thread; from within the check it
    // only ends it.
    ~FolderWatch();
    FolderWatch(const FolderWatch&) = delete;
    FolderWatch& operator=(const FolderWatch&) = delete;

    // Whether changes in the folder wake the check; without, only its time-outs do, and
    // ChangesError tells why.
    bool SeesChanges() const { return static_cast<bool>(changes_); }
    HRESULT ChangesError() const { return changesError_; }
    // False when the thread pool refused the wait: no check ever runs.
    explicit operator bool() const { return wait_ != nullptr; }
    // Starts the watch: the first check runs after waitMs, or at the first change before.
    void Start(DWORD waitMs);

private:
    static void CALLBACK OnWake(PTP_CALLBACK_INSTANCE, void* context, PTP_WAIT, TP_WAIT_RESULT result);
    void Arm(DWORD waitMs);

    using UniqueChangeNotification = Unique<HANDLE, &::FindCloseChangeNotification, -1>;
    UniqueChangeNotification changes_;
    HRESULT changesError_ = S_OK;
    UniqueHandle never_; // waited on in place of the changes when the folder cannot be watched
    Check check_;
    std::mutex lock_; // orders arming against ending
    bool ending_ = false;
    std::atomic<DWORD> checkingThread_{0};
    PTP_WAIT wait_ = nullptr;
};

} // namespace Pd::Platform::Sim
