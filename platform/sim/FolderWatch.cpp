#include "platform/sim/FolderWatch.h"

namespace Pd::Platform::Sim
{

FolderWatch::FolderWatch(const std::filesystem::path& folder, Check check)
    : changes_(::FindFirstChangeNotificationW(folder.c_str(), FALSE,
                                              FILE_NOTIFY_CHANGE_FILE_NAME | FILE_NOTIFY_CHANGE_LAST_WRITE)),
      changesError_(changes_ ? S_OK : HRESULT_FROM_WIN32(::GetLastError())), check_(std::move(check)),
      wait_(::CreateThreadpoolWait(&OnWake, this, nullptr))
{
    if (!changes_)
        never_.Reset(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
}

FolderWatch::~FolderWatch()
{
    if (!wait_)
        return;
    {
        std::lock_guard guard(lock_);
        ending_ = true;
        ::SetThreadpoolWait(wait_, nullptr, nullptr);
    }
    if (checkingThread_.load() != ::GetCurrentThreadId())
        ::WaitForThreadpoolWaitCallbacks(wait_, TRUE);
    ::CloseThreadpoolWait(wait_); // from within the check: released once the check has returned
}

void FolderWatch::Start(DWORD waitMs)
{
    Arm(waitMs);
}

void FolderWatch::Arm(DWORD waitMs)
{
    std::lock_guard guard(lock_);
    HANDLE handle = changes_ ? changes_.Get() : never_.Get();
    if (ending_ || !wait_ || !handle)
        return;
    // A relative time-out: negative, in units of 100 ns.
    ULARGE_INTEGER relative{};
    relative.QuadPart = static_cast<ULONGLONG>(-static_cast<LONGLONG>(waitMs) * 10000);
    FILETIME timeout{relative.LowPart, relative.HighPart};
    ::SetThreadpoolWait(wait_, handle, waitMs == INFINITE ? nullptr : &timeout);
}

void CALLBACK FolderWatch::OnWake(PTP_CALLBACK_INSTANCE, void* context, PTP_WAIT, TP_WAIT_RESULT result)
{
    auto* watch = static_cast<FolderWatch*>(context);
    if (result == WAIT_OBJECT_0 && watch->changes_)
        ::FindNextChangeNotification(watch->changes_.Get());
    watch->checkingThread_.store(::GetCurrentThreadId());
    const std::optional<DWORD> next = watch->check_();
    if (!next)
        return; // over: the watch may be gone
    watch->checkingThread_.store(0);
    watch->Arm(*next);
}

} // namespace Pd::Platform::Sim
