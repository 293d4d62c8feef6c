#include "platform/sim/FolderWatch.h"

#include <algorithm>
#include <condition_variable>
#include <mutex>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

namespace Pd::Platform::Sim
{

// The one thread of every watch in the process: waits for their folders' changes and their
// time-outs together, and runs the checks that are due one after the other.
class FolderWatcher
{
public:
    // Lives as long as the process, as watches may end at any moment of it.
    static FolderWatcher& Get()
    {
        static auto* watcher = new FolderWatcher;
        return *watcher;
    }

    bool Add(FolderWatch& watch, DWORD waitMs)
    {
        std::lock_guard guard(lock_);
        if (!changed_ || watches_.size() >= MAXIMUM_WAIT_OBJECTS - 1)
            return false;
        if (!thread_.joinable())
        {
            try
            {
                thread_ = std::thread([this] { Run(); });
            }
            catch (const std::system_error&)
            {
                return false;
            }
        }
        watch.due_ = DueAt(waitMs);
        watch.serial_ = ++serial_;
        watches_.push_back(&watch);
        ::SetEvent(changed_.Get());
        return true;
    }

    // Once it returns, no check of the watch runs and the thread waits no more on its folder.
    void Remove(FolderWatch& watch)
    {
        std::unique_lock guard(lock_);
        if (std::this_thread::get_id() == thread_.get_id())
        {
            std::erase(watches_, &watch); // from within a check: the thread waits afresh after it
            return;
        }
        settled_.wait(guard, [&] { return checking_ != &watch; });
        if (std::erase(watches_, &watch) == 0)
            return;
        const std::uint64_t generation = ++generation_;
        ::SetEvent(changed_.Get());
        settled_.wait(guard, [&] { return waitingGeneration_ >= generation; });
    }

private:
    FolderWatcher() : changed_(::CreateEventW(nullptr, FALSE, FALSE, nullptr)) {}

    static std::uint64_t DueAt(DWORD waitMs)
    {
        return waitMs == INFINITE ? UINT64_MAX : ::GetTickCount64() + waitMs;
    }

    void Run()
    {
        for (;;)
        {
            std::vector<HANDLE> handles{changed_.Get()};
            std::vector<FolderWatch*> owners{nullptr};
            std::uint64_t next = UINT64_MAX;
            {
                std::lock_guard guard(lock_);
                for (FolderWatch* watch : watches_)
                {
                    if (watch->changes_)
                    {
                        handles.push_back(watch->changes_.Get());
                        owners.push_back(watch);
                    }
                    next = std::min(next, watch->due_);
                }
                waitingGeneration_ = generation_;
            }
            settled_.notify_all();
            const std::uint64_t now = ::GetTickCount64();
            const DWORD timeout = next == UINT64_MAX ? INFINITE
                                  : next <= now
                                      ? 0
                                      : static_cast<DWORD>(std::min<std::uint64_t>(next - now, INFINITE - 1));
            const DWORD woken =
                ::WaitForMultipleObjects(static_cast<DWORD>(handles.size()), handles.data(), FALSE, timeout);
            if (woken == WAIT_OBJECT_0 || woken == WAIT_FAILED)
                continue;
            FolderWatch* changed = woken > WAIT_OBJECT_0 && woken < WAIT_OBJECT_0 + handles.size()
                                       ? owners[woken - WAIT_OBJECT_0]
                                       : nullptr;
            RunDueChecks(changed);
        }
    }

    // Whether the watch that had the serial is still on the list: a watch ended by a check may be
    // freed, and a new one started at its address meanwhile. Under the lock.
    bool Listed(FolderWatch* watch, std::uint64_t serial) const
    {
        return std::find(watches_.begin(), watches_.end(), watch) != watches_.end() &&
               watch->serial_ == serial;
    }

    void RunDueChecks(FolderWatch* changed)
    {
        const std::uint64_t now = ::GetTickCount64();
        std::vector<std::pair<FolderWatch*, std::uint64_t>> due;
        {
            std::lock_guard guard(lock_);
            for (FolderWatch* watch : watches_)
                if (watch == changed || watch->due_ <= now)
                    due.emplace_back(watch, watch->serial_);
        }
        for (const auto& [watch, serial] : due)
        {
            {
                std::lock_guard guard(lock_);
                if (!Listed(watch, serial))
                    continue; // ended by an earlier check
                checking_ = watch;
                watch->due_ = UINT64_MAX;
            }
            if (watch == changed)
                ::FindNextChangeNotification(watch->changes_.Get());
            // A copy runs: the check may end, and destroy, its watch with the original.
            const FolderWatch::Check check = watch->check_;
            const std::optional<DWORD> next = check();
            {
                std::lock_guard guard(lock_);
                checking_ = nullptr;
                if (Listed(watch, serial))
                {
                    if (next)
                        watch->due_ = DueAt(*next);
                    else
                        std::erase(watches_, watch);
                }
            }
            settled_.notify_all();
        }
    }

    std::mutex lock_;
    std::condition_variable settled_; // a check ended, or the thread waits on a new list
    std::vector<FolderWatch*> watches_;
    FolderWatch* checking_ = nullptr;
    std::uint64_t serial_ = 0;            // of the last watch started
    std::uint64_t generation_ = 0;        // of the list, counted at each removal
    std::uint64_t waitingGeneration_ = 0; // of the list the thread waits on
    UniqueHandle changed_;                // wakes the thread to wait on the list anew
    std::thread thread_;
};

FolderWatch::FolderWatch(const std::filesystem::path& folder, Check check)
    : changes_(::FindFirstChangeNotificationW(folder.c_str(), FALSE,
                                              FILE_NOTIFY_CHANGE_FILE_NAME | FILE_NOTIFY_CHANGE_LAST_WRITE)),
      changesError_(changes_ ? S_OK : HRESULT_FROM_WIN32(::GetLastError())), check_(std::move(check))
{
}

FolderWatch::~FolderWatch()
{
    FolderWatcher::Get().Remove(*this);
}

bool FolderWatch::Start(DWORD waitMs)
{
    return FolderWatcher::Get().Add(*this, waitMs);
}

} // namespace Pd::Platform::Sim
